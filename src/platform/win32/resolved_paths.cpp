// Paths as the system resolves them (links followed) and the test whether one
// path lies within another, for the pack tool's input checks. Kept apart from
// files.cpp: these use std::string, and the installer, which links files.cpp
// but never calls them, would otherwise take in the C++ runtime's string and
// exception code with it.
#include "platform/platform.h"
#include "platform/system_extra.h"

#include <windows.h>

#include <cstring>
#include <string>

namespace platform {

namespace {

// Length of the root of a full path: "C:\" or "\\server\share\".
size_t root_length(const std::string& full) {
    if (full.size() >= 3 && full[1] == ':') return 3;
    if (full.size() > 2 && full[0] == '\\' && full[1] == '\\') {
        size_t server = full.find('\\', 2);
        size_t share = server == std::string::npos ? server : full.find('\\', server + 1);
        return share == std::string::npos ? full.size() : share + 1;
    }
    return full.size();
}

// The path the system reaches through an open handle, links resolved
// (GetFinalPathNameByHandleA, looked up at run time: older systems lack it).
bool final_path_of(HANDLE h, std::string& path) {
    using FinalPathFn = DWORD(WINAPI*)(HANDLE, LPSTR, DWORD, DWORD);
    static FinalPathFn final_path = reinterpret_cast<FinalPathFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA")));
    char buffer[RESOLVED_PATH_BYTES];
    DWORD n = final_path ? final_path(h, buffer, sizeof buffer, 0) : 0;  // normalized, with drive letter
    if (n == 0 || n >= sizeof buffer) return false;
    path.assign(buffer, n);
    if (path.compare(0, 8, "\\\\?\\UNC\\") == 0) path.erase(2, 6);
    else if (path.compare(0, 4, "\\\\?\\") == 0) path.erase(0, 4);
    return true;
}

}  // namespace

size_t resolve_path(const char* path, char* out, size_t size) {
    if (!path || !*path || !out || size == 0) return 0;
    char full[RESOLVED_PATH_BYTES];
    DWORD n = GetFullPathNameA(path, sizeof full, full, nullptr);
    if (n == 0 || n >= sizeof full) return 0;
    // The longest leading part that exists is resolved by the system; the
    // rest, not there (yet), is kept as given.
    std::string head(full, n), tail;
    const size_t root = root_length(head);
    while (head.size() > root && head.back() == '\\') head.pop_back();
    for (;;) {
        HANDLE h = CreateFileA(head.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            std::string resolved;
            bool ok = final_path_of(h, resolved);
            CloseHandle(h);
            if (ok) head = resolved;
            break;
        }
        size_t cut = head.find_last_of('\\');
        if (head.size() <= root || cut == std::string::npos || cut + 1 < root) break;
        tail = head.substr(cut) + tail;
        head.erase(cut < root ? root : cut);
    }
    if (!head.empty() && head.back() == '\\' && !tail.empty()) head.pop_back();
    head += tail;
    if (head.size() >= size) return 0;
    std::memcpy(out, head.c_str(), head.size() + 1);
    return head.size();
}

bool path_within(const char* outer, const char* inner) {
    if (!outer || !inner) return false;
    std::string a = outer, b = inner;
    while (!a.empty() && is_separator(a.back())) a.pop_back();
    if (b.size() < a.size()) return false;
    // Letter case as the system folds it for names (the ANSI code page).
    if (!a.empty()) CharUpperBuffA(&a[0], static_cast<DWORD>(a.size()));
    if (!b.empty()) CharUpperBuffA(&b[0], static_cast<DWORD>(b.size()));
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && !(is_separator(a[i]) && is_separator(b[i]))) return false;
    return b.size() == a.size() || is_separator(b[a.size()]);
}

}  // namespace platform
