// Process-wide values set by the command line and read by the other subsystems.
#pragma once

#include <cstdint>

inline constexpr int RUN_NONE = 0;
inline constexpr int RUN_PACK = 1;
inline constexpr int RUN_UNPACK = 3;
inline constexpr int RUN_HELP = 4;
inline constexpr int RUN_INSTALL = 10;

inline constexpr int MAX_FILES = 50;
inline constexpr int SHELL_PATH_CHARS = 255;

struct ShellState {
    int8_t run_mode = RUN_NONE;
    char* archive_path = nullptr;         // points into the command line or own_path
    char* file_list[MAX_FILES] = {};      // point into the command line
    int file_last = -1;                   // index of the last file, -1 when empty
    char own_path[SHELL_PATH_CHARS + 1] = {};
    char extraction_folder[SHELL_PATH_CHARS + 1] = {};
};

extern ShellState shell_state;

// Puts every process-wide shell value back to its start-up state (tests run
// several command lines in one process).
void reset_shell_state();
