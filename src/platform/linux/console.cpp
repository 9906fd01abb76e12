// Console queries on POSIX systems.
#include "platform/console.h"

#include <unistd.h>

namespace platform {

bool stderr_is_terminal() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace platform
