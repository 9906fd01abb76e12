// Windows-1251 to UTF-8 and UTF-16 and UTF-8 back to Windows-1251, through the
// generated code point table.
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

namespace {

// Length of the valid UTF-8 sequence at p (1 to 4), or 0.
size_t utf8_sequence(const unsigned char* p) {
    size_t follow;
    uint32_t cp;
    if (p[0] >= 0xC2 && p[0] <= 0xDF) follow = 1, cp = p[0] & 0x1Fu;
    else if (p[0] >= 0xE0 && p[0] <= 0xEF) follow = 2, cp = p[0] & 0x0Fu;
    else if (p[0] >= 0xF0 && p[0] <= 0xF4) follow = 3, cp = p[0] & 0x07u;
    else return 0;
    for (size_t i = 1; i <= follow; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;  // also stops at the terminator
        cp = cp << 6 | (p[i] & 0x3Fu);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not text.
    static const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (cp < least[follow] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return 0;
    return follow + 1;
}

}  // namespace

size_t mask_control_chars(char* text, TextCoding coding, bool keep_line_breaks) {
    auto* p = reinterpret_cast<unsigned char*>(text);
    size_t in = 0, out = 0;
    while (p[in] != 0) {
        const unsigned char c = p[in];
        if (c < 0x20 || c == 0x7F) {
            p[out++] = (c == '\n' && keep_line_breaks) ? c : '?';
            ++in;
            continue;
        }
        if (c < 0x80 || coding == TextCoding::bytes) {
            p[out++] = c;
            ++in;
            continue;
        }
        size_t n = utf8_sequence(p + in);
        if (n == 0) {
            // Not UTF-8: a byte a terminal may take for a C1 control goes.
            p[out++] = c <= 0x9F ? '?' : c;
            ++in;
        } else if (n == 2 && c == 0xC2 && p[in + 1] <= 0x9F) {
            p[out++] = '?';
            in += 2;
        } else {
            for (size_t i = 0; i < n; ++i) p[out++] = p[in++];
        }
    }
    p[out] = 0;
    return out;
}

bool utf8_to_cp1251(const char* text, char* out, size_t out_size) {
    if (out_size == 0) return false;
    size_t n = 0;
    bool ok = true;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p && ok;) {
        unsigned char byte = 0;
        size_t length = *p < 0x80 ? 1 : utf8_sequence(p);
        if (length == 1) {
            byte = *p;
        } else if (length == 2 || length == 3) {
            // Every Windows-1251 character lies in the Basic Multilingual Plane.
            uint32_t cp = length == 2 ? (p[0] & 0x1Fu) << 6 | (p[1] & 0x3Fu)
                                      : (p[0] & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu);
            for (unsigned i = 0; i < 128 && byte == 0; ++i)
                if (CP1251_HIGH_TO_UNICODE[i] == cp && cp != 0xFFFD) byte = static_cast<unsigned char>(0x80 + i);
        }
        ok = byte != 0 && n + 1 < out_size;
        if (ok) out[n++] = static_cast<char>(byte);
        p += length ? length : 1;
    }
    out[ok ? n : 0] = '\0';
    return ok;
}

bool is_utf8(const char* text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != 0) {
        int follow = 0;
        if (*p < 0x80) follow = 0;
        else if ((*p & 0xE0) == 0xC0) follow = 1;
        else if ((*p & 0xF0) == 0xE0) follow = 2;
        else if ((*p & 0xF8) == 0xF0) follow = 3;
        else return false;
        ++p;
        for (int i = 0; i < follow; ++i, ++p) {
            if ((*p & 0xC0) != 0x80) return false;
        }
    }
    return true;
}

size_t utf8_columns(const char* text, size_t length) {
    size_t columns = 0;
    for (size_t i = 0; i < length; ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++columns;
    }
    return columns;
}

size_t fit_utf8_tail(const char* text, size_t columns, char* out, size_t out_size) {
    if (out_size == 0) return 0;
    size_t length = 0;
    while (text[length] != '\0') ++length;
    size_t start = 0;
    const bool whole = utf8_columns(text, length) <= columns && length < out_size;
    if (!whole) {
        // Room for "..." and the tail; with fewer than four columns only dots.
        const size_t dots = columns < 3 ? columns : 3;
        const size_t tail_columns = columns - dots;
        size_t tail_bytes_limit = out_size - 1 - dots;
        if (out_size - 1 < dots) tail_bytes_limit = 0;
        // Walk back from the end one whole character at a time.
        start = length;
        size_t taken = 0;
        while (start > 0) {
            size_t begin = start - 1;
            while (begin > 0 && (static_cast<unsigned char>(text[begin]) & 0xC0) == 0x80) --begin;
            if (taken + 1 > tail_columns || length - begin > tail_bytes_limit) break;
            ++taken;
            start = begin;
        }
        size_t used = 0;
        for (; used < dots && used < out_size - 1; ++used) out[used] = '.';
        const size_t tail = length - start;
        for (size_t i = 0; i < tail; ++i) out[used + i] = text[start + i];
        out[used + tail] = '\0';
        return used + tail;
    }
    for (size_t i = 0; i < length; ++i) out[i] = text[i];
    out[length] = '\0';
    return length;
}

}  // namespace platform
