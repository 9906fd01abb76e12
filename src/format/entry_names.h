// Entry names made safe to write below a destination folder: the rules the
// archive reader applies to stored names, shared with the bundle's unpacking
// so that both keep one copy. Pure functions, no system calls; inline, so
// that the bundle code uses them without linking the archive reader.
#pragma once

#include <cstring>

#include "platform/platform.h"

// Removes one drive prefix, one leading ".\" or "..\" and one leading
// separator from source into destination (both 260 bytes; may be the same).
inline void make_relative_name(char* destination, const char* source) {
    const char* p = source;
    if (p[0] != '\0' && p[1] == ':') p += 2;
    if (p[0] == '.' && platform::is_separator(p[1])) p += 1;
    if (p[0] == '.' && p[1] == '.' && platform::is_separator(p[2])) p += 2;
    if (platform::is_separator(p[0])) p += 1;
    char temporary[platform::MAX_PATH_CHARS + 1];
    size_t length = std::strlen(p);
    if (length > platform::MAX_PATH_CHARS) length = platform::MAX_PATH_CHARS;
    std::memcpy(temporary, p, length);
    temporary[length] = '\0';
    std::memcpy(destination, temporary, length + 1);
}

// True when some component of name is ".." or made only of dots and spaces
// with two dots or more (which the system may trim to "..").
inline bool has_parent_component(const char* name) {
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

// True when a name made relative can be written below the destination:
// not empty, not absolute, no drive prefix and no ".." component (nor one
// made only of dots and spaces, which the system may trim to "..").
inline bool is_safe_relative_name(const char* name) {
    if (name[0] == '\0' || platform::is_absolute_path(name) || platform::is_separator(name[0])) return false;
    if (name[1] == ':') return false;
    return !has_parent_component(name);
}
