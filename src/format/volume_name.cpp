// The next-volume naming rule.
#include "format/volume_name.h"

#include <cstring>

#include "platform/platform.h"

namespace {

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool next_volume_name(char* name) {
    const size_t length = std::strlen(name);
    // Only a dot in the file name starts an extension: a dot in a folder name
    // (x.d/setup) would otherwise turn the next volume into x.d00.
    char* name_part = name;
    for (char* p = name; *p; ++p)
        if (platform::is_separator(*p)) name_part = p + 1;
    char* dot = std::strrchr(name_part, '.');
    if (!dot) {
        if (length + 4 > platform::MAX_PATH_CHARS) return false;
        std::memcpy(name + length, ".rar", 5);
        dot = name + length;
    }
    char* ext = dot + 1;
    if (ext[0] == '\0') {
        if (length + 3 > platform::MAX_PATH_CHARS) return false;
        std::memcpy(ext, "rar", 4);
    } else if (upper(ext[0]) == 'E' && upper(ext[1]) == 'X' && upper(ext[2]) == 'E' && ext[3] == '\0') {
        std::memcpy(ext, "rar", 4);
    }
    if (!(is_digit(ext[1]) && is_digit(ext[2]))) {
        if (static_cast<size_t>(ext + 3 - name) > platform::MAX_PATH_CHARS) return false;
        ext[1] = '0';
        ext[2] = '0';
        ext[3] = '\0';
        return true;
    }
    char* p = ext + 2;
    ++*p;
    while (*p == '9' + 1) {
        if (p[-1] == '.') {
            *p = 'A';
            break;
        }
        *p = '0';
        --p;
        ++*p;
    }
    return true;
}
