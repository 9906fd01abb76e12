// Fuzz target: the wildcard matcher and the name helpers beside it. Input:
// mask, a zero byte, then the name (both at most 259 bytes). A name without
// wildcards matches itself; splitting and extension changes stay inside
// their 260-byte buffers; a name taken as safe has no root and no parent step.
#include <cstdint>
#include <cstring>
#include <string>

#include "../common/fuzz_support.h"
#include "archive/headers.h"
#include "archive/names.h"

namespace {

void check_safe(const char* name) {
    if (!is_safe_relative_name(name)) return;
    if (name[0] == '\0' || name[0] == '/' || name[0] == '\\' || (name[0] && name[1] == ':'))
        fuzz::finding("rooted name taken as safe", name);
    for (const char* p = name; (p = std::strstr(p, "..")) != nullptr; p += 2) {
        bool starts = p == name || p[-1] == '/' || p[-1] == '\\';
        bool ends = p[2] == '\0' || p[2] == '/' || p[2] == '\\';
        if (starts && ends) fuzz::finding("parent step taken as safe", name);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint8_t* zero = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    std::string mask(reinterpret_cast<const char*>(data), zero ? static_cast<size_t>(zero - data) : size);
    std::string name = zero ? std::string(reinterpret_cast<const char*>(zero + 1), data + size - (zero + 1)) : "";
    name = name.c_str();
    if (mask.size() > 259 || name.size() > 259) return 0;

    bool matched = wildcard_match(mask.c_str(), name.c_str());
    if (name.find_first_of("*?") == std::string::npos && !name.empty() && !wildcard_match(name.c_str(), name.c_str()))
        fuzz::finding("name does not match itself", name);
    (void)matched;

    char folder[260], part[260];
    std::memset(folder, 0x55, sizeof folder);
    std::memset(part, 0x55, sizeof part);
    split_folder_and_name(mask.c_str(), folder, part, (data[0] & 1) != 0);
    if (!std::memchr(folder, 0, sizeof folder) || !std::memchr(part, 0, sizeof part))
        fuzz::finding("split result not terminated");

    char path[260];
    std::memcpy(path, name.c_str(), name.size() + 1);
    std::string extension = mask.substr(0, mask.size() % 8);
    extension = extension.c_str();
    std::string before = path;
    if (!set_extension(path, extension.c_str()) && before != path) fuzz::finding("failed extension change altered the path");
    if (!std::memchr(path, 0, sizeof path)) fuzz::finding("extension result not terminated");

    char relative[260];
    make_relative_name(relative, name.c_str());
    check_safe(relative);
    check_safe(name.c_str());
    return 0;
}
