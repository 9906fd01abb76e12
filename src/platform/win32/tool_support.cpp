// Running a tool and waiting for its exit code, and the system's reason for
// the latest failure: what the pack tool needs. Kept apart from the files the
// installer links, so the string and formatting code they use stays out of it.
#include "platform/system_extra.h"

#include <cstdio>
#include <string>

#include <windows.h>

namespace platform {

namespace {

// One word of a command line, quoted so that the C runtime's splitting gives
// it back unchanged: backslashes double only before a quote or the closing quote.
void append_word(std::string& line, const char* word) {
    if (!line.empty()) line += ' ';
    if (*word != '\0' && std::string(word).find_first_of(" \t\n\v\"") == std::string::npos) {
        line += word;
        return;
    }
    line += '"';
    size_t backslashes = 0;
    for (const char* p = word;; ++p) {
        if (*p == '\\') {
            ++backslashes;
            continue;
        }
        if (*p == '\0') {
            line.append(backslashes * 2, '\\');
            break;
        }
        line.append(*p == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        line += *p;
        backslashes = 0;
    }
    line += '"';
}

}  // namespace

int run_program_and_wait(const char* const* argv) {
    if (argv == nullptr || argv[0] == nullptr) return -1;
    std::string line;
    for (const char* const* word = argv; *word; ++word) append_word(line, *word);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // CreateProcessA may write into the command line.
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    CloseHandle(process.hThread);
    DWORD code = 0;
    const bool ended = WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                       GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    return ended ? static_cast<int>(code) : -1;
}

void clear_system_error() { SetLastError(ERROR_SUCCESS); }

size_t system_error_text(char* out, size_t size) {
    if (size == 0) return 0;
    const DWORD error = GetLastError();
    out[0] = '\0';
    if (error == ERROR_SUCCESS) return 0;
    const DWORD capacity = size > 0xFFFF ? 0xFFFF : static_cast<DWORD>(size);
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, out,
                             capacity, nullptr);
    if (n == 0) n = static_cast<DWORD>(std::snprintf(out, size, "system error %lu", static_cast<unsigned long>(error)));
    if (n >= size) n = static_cast<DWORD>(size - 1);
    while (n > 0 && (out[n - 1] == '\r' || out[n - 1] == '\n' || out[n - 1] == ' ' || out[n - 1] == '.')) --n;
    out[n] = '\0';
    return n;
}

}  // namespace platform
