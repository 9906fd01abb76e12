// Console queries on POSIX systems.
#include "platform/console.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace platform {

bool stderr_is_terminal() { return ::isatty(STDERR_FILENO) == 1; }

int terminal_columns() {
    winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

bool stderr_redraws() {
    if (!stderr_is_terminal()) return false;
    const char* term = std::getenv("TERM");
    return term == nullptr || std::strcmp(term, "dumb") != 0;
}

}  // namespace platform
