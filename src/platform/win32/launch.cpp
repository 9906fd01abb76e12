// Launching the product's setup program: ShellExecuteA with the verb "open".
// Also running a tool and waiting for its exit code.
#include "platform/platform.h"
#include "platform/system_extra.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

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

intptr_t shell_execute_open(void* owner_window, const char* file, const char* parameters) {
    const HINSTANCE result = ShellExecuteA(static_cast<HWND>(owner_window), "open", file, parameters, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<intptr_t>(result);
}

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

}  // namespace platform
