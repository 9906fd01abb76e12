// The installer's command line: a tail of at most 255 characters parsed into
// a mode, the archive path and the file list (all kept in shell_state).
#pragma once

#include <cstddef>

// Longest tail the grammar handles (its positions are 8-bit counters).
inline constexpr size_t MAX_TAIL_CHARS = 255;

// Parses the tail in place (it writes terminators into it) and sets
// shell_state.run_mode, archive_path and the file list. Returns the mode,
// 0 when the command line is invalid: a bad key, a lone word other than
// "-?", a tail of 256 or more characters, or more than 50 file arguments.
int parse_command_line(char* tail);

inline constexpr int PATH_FOLDER_PART = 0;
inline constexpr int PATH_NAME_PART = 1;

// Splits path at its last separator found after the first character.
// Returns the buffer size (terminator included) the requested part needs:
// for the folder part the separator's position + 1, or 0 when there is no
// separator (the caller then uses the current folder); for the name part its
// length + 1 (the whole path when there is no separator). Copies the part into
// out when out is given and size is large enough.
size_t split_path(size_t size, const char* path, char* out, int part);
