// kelvarix1 on Linux: the arguments joined with single spaces make the
// command-line tail the installer's grammar reads.
#include <cstring>

#include "shell/command_line.h"
#include "shell/entry.h"

int main(int argc, char** argv) {
    // One character more than the grammar accepts, so a longer line stays
    // recognisably too long instead of being cut to a valid one.
    static char tail[MAX_TAIL_CHARS + 2];
    size_t n = 0;
    for (int k = 1; k < argc && n <= MAX_TAIL_CHARS; ++k) {
        if (k > 1) tail[n++] = ' ';
        for (const char* p = argv[k]; *p && n <= MAX_TAIL_CHARS; ++p) tail[n++] = *p;
    }
    tail[n] = '\0';
    return installer_main(tail);
}
