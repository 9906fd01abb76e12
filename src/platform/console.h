// The console side of the command-line tools.
#pragma once

namespace platform {

// True when standard error is an interactive terminal (a progress line is
// worth drawing there).
bool stderr_is_terminal();

}  // namespace platform
