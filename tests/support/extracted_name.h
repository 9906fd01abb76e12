// The name an entry of an MS-DOS or Windows host gets on disk: its
// Windows-1251 bytes as stored, or in UTF-8 where names are UTF-8 (Linux
// under a UTF-8 locale).
#pragma once

#include <string>

#include "platform/platform.h"
#include "platform/text.h"

inline std::string extracted_name(const std::string& stored) {
    if (!platform::names_are_utf8()) return stored;
    char out[1024];
    platform::cp1251_to_utf8(stored.c_str(), out, sizeof out);
    return out;
}
