// The console side of the command-line tools.
#pragma once

namespace platform {

// True when standard error is an interactive terminal (a progress line is
// worth drawing there).
bool stderr_is_terminal();
// Width of the terminal on standard error in columns; 80 when it cannot be asked.
int terminal_columns();
// True when standard error is a terminal that takes cursor controls ("\r"
// redraws of one line); false for TERM=dumb and when it is no terminal.
bool stderr_redraws();

}  // namespace platform
