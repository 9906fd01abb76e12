// The portable entry of the installer, called by WinMain or main with the
// command-line tail (the words after the program's name).
#pragma once

// Runs the whole program: window, command line, mode, setup launch, message
// loop. The tail is cut in place. Returns the process exit value, one of
// shell/exit_codes.h (fatal extraction errors end the process from inside
// with the core's abort codes), or the setup program's own exit code when
// the launch waited for it.
int installer_main(char* tail);

// What a confirmed Cancel does: closes the file being written, steps out of
// the extraction folder, removes it with its content and ends the process
// with exit code 0. Never returns.
[[noreturn]] void cancel_installation();
