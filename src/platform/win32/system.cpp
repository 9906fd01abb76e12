// The system side of the seam on Windows: paths, drives and their free
// space, the temporary folder, the program's own path, process end, signals
// and message boxes (shown through the wide API so the Windows-1251 texts
// read correctly whatever the system's code page).
#include "platform/platform.h"
#include "platform/fault_hooks.h"
#include "platform/system_extra.h"
#include "platform/text.h"

#include <windows.h>

#include <csignal>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

bool copy_text(const char* text, char* out, size_t size) {
    size_t n = std::strlen(text);
    if (n + 1 > size) return false;
    std::memcpy(out, text, n + 1);
    return true;
}

}  // namespace

char path_separator() { return '\\'; }

bool is_absolute_path(const char* path) {
    if (!path) return false;
    if (is_separator(path[0])) return true;
    return ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) && path[1] == ':';
}

const char* system_root() { return "C:\\"; }

int list_drive_roots(char (*roots)[260], int max) {
    // 26 letters of "X:\" plus terminators fit; the list ends with an empty string.
    char list[26 * 4 + 2];
    DWORD n = GetLogicalDriveStringsA(sizeof list, list);
    if (n == 0 || n >= sizeof list) return 0;
    int count = 0;
    for (const char* p = list; *p && count < max; p += std::strlen(p) + 1)
        if (copy_text(p, roots[count], 260)) ++count;
    return count;
}

int extraction_fallbacks(char (*places)[260], int max) { return list_drive_roots(places, max); }

bool drive_root_of(const char* path, char* root, size_t size) {
    if (!path || !*path) return false;
    char full[MAX_PATH + 1];
    DWORD n = GetFullPathNameA(path, sizeof full, full, nullptr);
    if (n == 0 || n >= sizeof full) return false;
    if (full[1] == ':') {
        char drive[4] = {full[0], ':', '\\', '\0'};
        return copy_text(drive, root, size);
    }
    if (is_separator(full[0]) && is_separator(full[1])) {
        // \\server\share\ ...
        const char* p = full + 2;
        int parts = 0;
        while (*p && parts < 2) {
            if (is_separator(*p)) ++parts;
            if (parts < 2) ++p;
        }
        size_t length = static_cast<size_t>(p - full);
        if (length + 2 > size) return false;
        std::memcpy(root, full, length);
        root[length] = '\\';
        root[length + 1] = '\0';
        return true;
    }
    return false;
}

DriveType drive_type(const char* root) {
    switch (GetDriveTypeA(root)) {
    case DRIVE_FIXED: return DriveType::fixed;
    case DRIVE_REMOVABLE: return DriveType::removable;
    case DRIVE_REMOTE: return DriveType::remote;
    case DRIVE_CDROM: return DriveType::cdrom;
    case DRIVE_RAMDISK: return DriveType::ramdisk;
    default: return DriveType::unknown;
    }
}

bool drive_free_bytes(const char* root, uint64_t* bytes) {
    ULARGE_INTEGER available, total, free;
    if (!GetDiskFreeSpaceExA(root, &available, &total, &free)) return false;
    *bytes = available.QuadPart;
    return true;
}

size_t get_temp_path(char* buffer, size_t size) {
    if (size == 0) return 0;
    if (size > 0xFFFF) size = 0xFFFF;
    DWORD n = GetTempPathA(static_cast<DWORD>(size), buffer);
    if (n == 0 || n >= size) return 0;  // none, or it needs a larger buffer than given
    return n;
}

size_t own_program_path(char* buffer, size_t size) {
    if (size == 0) return 0;
    DWORD n = GetModuleFileNameA(nullptr, buffer, static_cast<DWORD>(size));
    if (n == 0 || n >= size) return 0;  // failure or truncated
    buffer[n] = '\0';
    return n;
}

void exit_process(int code) {
    fault_on_exit(code);
    std::exit(code);
}

void route_break_signals(void (*handler)(int)) {
    const int signals[] = {SIGINT, SIGTERM, SIGBREAK};
    for (int sig : signals) {
        auto previous = std::signal(sig, handler);
        if (previous == SIG_IGN) std::signal(sig, SIG_IGN);
    }
}

bool truncate_file(const char* path, uint64_t size) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(size);
    bool ok = SetFilePointerEx(file, position, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    return CloseHandle(file) && ok;
}

// Folders made in the temporary folder or a user's folder inherit the
// location's protection, which is the owner's alone for a profile's temp.
DirResult make_private_directory(const char* path) { return make_directory(path); }

bool make_executable(const char*) { return true; }

bool replace_file(const char* from, const char* to) {
    return from && to && MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != 0;
}

bool is_symbolic_link(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

int message_box(const char* text_cp1251, const char* caption_cp1251, unsigned style) {
    append_message_log(text_cp1251, caption_cp1251);
    if (unattended()) {
        // Tests and scripted runs: say it on standard error, never wait.
        char line[4096];
        size_t n = format_message_utf8(text_cp1251, caption_cp1251, line, sizeof line);
        HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
        DWORD written = 0;
        if (err && err != INVALID_HANDLE_VALUE) WriteFile(err, line, static_cast<DWORD>(n), &written, nullptr);
        return (style & 0xF) == MB_OKCANCEL ? IDCANCEL : IDOK;
    }
    static wchar_t text[2048], caption[256];
    cp1251_to_utf16(text_cp1251, reinterpret_cast<char16_t*>(text), 2048);
    cp1251_to_utf16(caption_cp1251, reinterpret_cast<char16_t*>(caption), 256);
    int answer = MessageBoxW(nullptr, text, caption, style);
    if ((style & 0xF) != MB_OKCANCEL) return IDOK;
    return answer == IDOK ? IDOK : IDCANCEL;  // the system's values equal ours
}

}  // namespace platform
