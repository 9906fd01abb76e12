// Launching the product's setup program: ShellExecuteA with the verb "open",
// and finding that program in the extraction folder first, so a bare name is
// never matched by a file of the same name beside the installer. Also running
// a tool and waiting for its exit code.
#include "platform/platform.h"
#include "platform/system_extra.h"

#include <cstring>

#include <windows.h>
#include <shellapi.h>


namespace platform {

namespace {

// True when path names an existing file that is neither a folder nor a
// reparse point (a link could lead out of the folder).
bool is_plain_file(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

// True when some folder between folder and the end of path (the part from
// start on) is a reparse point.
bool passes_reparse_point(char* path, size_t start) {
    for (size_t i = start; path[i] != '\0'; ++i) {
        if (path[i] != '\\') continue;
        path[i] = '\0';
        const DWORD attributes = GetFileAttributesA(path);
        path[i] = '\\';
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
    }
    return false;
}

}  // namespace

bool find_program_in(const char* folder, const char* name, char* path_out, size_t size) {
    if (folder == nullptr || name == nullptr || folder[0] == '\0' || name[0] == '\0') return false;
    // Only names that stay inside the folder: no root, no drive, no "..".
    if (is_separator(name[0]) || std::strchr(name, ':') != nullptr) return false;
    const size_t name_length = std::strlen(name);
    const char* last_part = name;
    for (size_t i = 0; i <= name_length; ++i) {
        if (name[i] != '\0' && !is_separator(name[i])) continue;
        if (name + i - last_part == 2 && last_part[0] == '.' && last_part[1] == '.') return false;
        if (name[i] != '\0') last_part = name + i + 1;
    }
    if (last_part[0] == '\0') return false;

    char path[MAX_PATH_CHARS + 1];
    const size_t folder_length = std::strlen(folder);
    const bool add_separator = !is_separator(folder[folder_length - 1]);
    const size_t base = folder_length + (add_separator ? 1 : 0);
    if (base + name_length + 4 > MAX_PATH_CHARS) return false;  // room for an extension too
    std::memcpy(path, folder, folder_length);
    if (add_separator) path[folder_length] = '\\';
    for (size_t i = 0; i <= name_length; ++i) path[base + i] = name[i] == '/' ? '\\' : name[i];
    if (passes_reparse_point(path, base)) return false;

    // A name without an extension is completed the way the system completes
    // a program's name.
    bool found = is_plain_file(path);
    if (!found && std::strchr(last_part, '.') == nullptr) {
        static const char* const extensions[] = {".com", ".exe", ".bat", ".cmd"};
        for (const char* extension : extensions) {
            std::memcpy(path + base + name_length, extension, 5);
            if ((found = is_plain_file(path))) break;
        }
    }
    if (!found || std::strlen(path) + 1 > size) return false;
    std::memcpy(path_out, path, std::strlen(path) + 1);
    return true;
}

intptr_t shell_execute_open(void* owner_window, const char* file, const char* parameters) {
    const HINSTANCE result = ShellExecuteA(static_cast<HWND>(owner_window), "open", file, parameters, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<intptr_t>(result);
}

bool launched_program_exit_code(int* /*code*/) { return false; }

}  // namespace platform
