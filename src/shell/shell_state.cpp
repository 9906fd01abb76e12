// The shell's process-wide values: the mode, the archive path, the file list
// and the extraction folder, shared with the bundle, setup and archive code.
#include "shell/shell_state.h"

ShellState shell_state;

void reset_shell_state() { shell_state = ShellState{}; }
