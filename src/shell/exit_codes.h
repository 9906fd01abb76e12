// The installer's exit codes. Every path that shows an error ends with a
// non-zero code; the extraction core's own abort codes (2, 5, 8, 255) keep
// their meaning, so the shell's codes are chosen around them.
#pragma once

inline constexpr int EXIT_DONE = 0;             // mode done, help shown, or cancelled by the user
inline constexpr int EXIT_BAD_COMMAND_LINE = 1; // "Error 1 in split parameters"
inline constexpr int EXIT_MODE_FAILED = 3;      // "Error 2": packing or unpacking failed
inline constexpr int EXIT_SETUP_FAILED = 4;     // "Error 4": the setup program could not be started
inline constexpr int EXIT_INSTALL_FAILED = 6;   // integrity error: no extraction folder, damaged or incomplete archive
inline constexpr int EXIT_NO_WINDOW = 7;        // the progress window could not be made; nothing was done
