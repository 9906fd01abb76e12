// kelvarix1 on Windows: the GUI entry. The tail is the command line after the
// program's name and the blanks that follow it, as the start-up code hands it
// to WinMain.
#include <windows.h>

#include <cstring>

#include "shell/command_line.h"
#include "shell/entry.h"

namespace {

const char* command_line_tail(const char* line) {
    if (*line == '"') {
        ++line;
        while (*line && *line != '"') ++line;
        if (*line == '"') ++line;
    } else {
        while (*line && *line != ' ' && *line != '\t') ++line;
    }
    while (*line == ' ' || *line == '\t') ++line;
    return line;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // One character more than the grammar accepts, so a longer line stays
    // recognisably too long instead of being cut to a valid one.
    static char tail[MAX_TAIL_CHARS + 2];
    const char* line = command_line_tail(GetCommandLineA());
    size_t n = std::strlen(line);
    if (n > MAX_TAIL_CHARS + 1) n = MAX_TAIL_CHARS + 1;
    std::memcpy(tail, line, n);
    tail[n] = '\0';
    return installer_main(tail);
}
