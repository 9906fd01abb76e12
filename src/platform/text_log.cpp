// Message texts as the log and the terminals see them: "caption: text" in
// UTF-8, control characters shown as '?'.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/system_extra.h"
#include "platform/text.h"

namespace platform {

bool unattended() {
    const char* value = std::getenv("KELVARIX_UNATTENDED");
    return value && *value && std::strcmp(value, "0") != 0;
}

size_t format_message_utf8(const char* text_cp1251, const char* caption_cp1251, char* out, size_t size) {
    if (size == 0) return 0;
    // The caption is often a path and the text may hold names: controls in
    // them are shown as '?', the text's own line breaks stay.
    cp1251_to_utf8(caption_cp1251 ? caption_cp1251 : "", out, size);
    size_t n = mask_control_chars(out, TextCoding::utf8);
    if (n + 2 < size) {
        out[n++] = ':';
        out[n++] = ' ';
        out[n] = '\0';
    }
    cp1251_to_utf8(text_cp1251 ? text_cp1251 : "", out + n, size - n);
    n += mask_control_chars(out + n, TextCoding::utf8, true);
    if (n + 1 < size) {
        out[n++] = '\n';
        out[n] = '\0';
    }
    return n;
}

void append_message_log(const char* text_cp1251, const char* caption_cp1251) {
    const char* path = std::getenv("KELVARIX_MESSAGE_LOG");
    if (!path || !*path) return;
    std::FILE* log = std::fopen(path, "ab");
    if (!log) return;
    char line[2048];
    size_t n = format_message_utf8(text_cp1251, caption_cp1251, line, sizeof line);
    std::fwrite(line, 1, n, log);
    std::fclose(log);
}

}  // namespace platform
