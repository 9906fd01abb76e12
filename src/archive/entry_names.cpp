// Entry names made safe to write below a destination folder.
#include "archive/entry_names.h"

#include <cstring>

#include "archive/archive_state.h"
#include "platform/platform.h"

void make_relative_name(char* destination, const char* source) {
    const char* p = source;
    if (p[0] != '\0' && p[1] == ':') p += 2;
    if (p[0] == '.' && platform::is_separator(p[1])) p += 1;
    if (p[0] == '.' && p[1] == '.' && platform::is_separator(p[2])) p += 2;
    if (platform::is_separator(p[0])) p += 1;
    char temporary[ARCHIVE_PATH_CHARS + 1];
    size_t length = std::strlen(p);
    if (length > ARCHIVE_PATH_CHARS) length = ARCHIVE_PATH_CHARS;
    std::memcpy(temporary, p, length);
    temporary[length] = '\0';
    std::memcpy(destination, temporary, length + 1);
}

bool has_parent_component(const char* name) {
    // A component made only of dots and spaces with two dots or more ("..",
    // "...", ".. ") may reach the parent once the system trims its tail.
    int dots = 0;
    bool only_dots_and_spaces = true;
    for (const char* p = name;; ++p) {
        if (*p == '\0' || platform::is_separator(*p)) {
            if (only_dots_and_spaces && dots >= 2) return true;
            if (*p == '\0') return false;
            dots = 0;
            only_dots_and_spaces = true;
        } else if (*p == '.') {
            ++dots;
        } else if (*p != ' ') {
            only_dots_and_spaces = false;
        }
    }
}

bool is_safe_relative_name(const char* name) {
    if (name[0] == '\0' || platform::is_absolute_path(name) || platform::is_separator(name[0])) return false;
    if (name[1] == ':') return false;
    return !has_parent_component(name);
}
