// Windows-1251 to UTF-8 and UTF-16, through the generated code point table.
#include "platform/text.h"

namespace platform {

namespace {

// UTF-8 length of a code point of the Basic Multilingual Plane.
size_t utf8_units(uint32_t cp) { return cp < 0x80 ? 1 : cp < 0x800 ? 2 : 3; }

}  // namespace

size_t cp1251_utf8_length(const char* text) {
    size_t length = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
        length += utf8_units(cp1251_code_point(*p));
    return length;
}

size_t cp1251_to_utf8(const char* text, char* out, size_t out_size) {
    if (out_size == 0) return 0;
    size_t n = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        uint32_t cp = cp1251_code_point(*p);
        size_t units = utf8_units(cp);
        if (n + units >= out_size) break;  // keep room for the terminator
        if (units == 1) {
            out[n++] = static_cast<char>(cp);
        } else if (units == 2) {
            out[n++] = static_cast<char>(0xC0 | (cp >> 6));
            out[n++] = static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out[n++] = static_cast<char>(0xE0 | (cp >> 12));
            out[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out[n++] = static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    out[n] = '\0';
    return n;
}

size_t cp1251_to_utf16(const char* text, char16_t* out, size_t out_count) {
    if (out_count == 0) return 0;
    size_t n = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p && n + 1 < out_count; ++p)
        out[n++] = static_cast<char16_t>(cp1251_code_point(*p));
    out[n] = u'\0';
    return n;
}

}  // namespace platform
