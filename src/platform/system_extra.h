// System calls beyond the common seam that the bundle and shell code need:
// cutting a file back to a length, recognising links, and the unattended
// switch for message boxes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Cuts the file at path back to size bytes; false on failure.
[[nodiscard]] bool truncate_file(const char* path, uint64_t size);

// Lets a program file run: on Linux adds the owner's execute bit, and the
// group's and others' where they may read it (regular files only); on
// Windows nothing is needed. False on failure.
[[nodiscard]] bool make_executable(const char* path);

// True when path is a symbolic link (Linux) or a reparse point such as a
// junction (Windows). A folder tree removal deletes such an entry without
// entering it, so nothing outside the tree is touched.
bool is_symbolic_link(const char* path);

// True when message boxes must not wait for anyone: the environment variable
// KELVARIX_UNATTENDED is set to anything but "" or "0". Boxes then go to
// standard error and questions are answered with IDCANCEL.
bool unattended();

// When the environment variable KELVARIX_MESSAGE_LOG names a file, appends
// "caption: text" (UTF-8, one line break at the end) to it. Every message box
// does this first, so tests can read what a user would have seen.
void append_message_log(const char* text_cp1251, const char* caption_cp1251);

// Formats "caption: text" followed by a line break as UTF-8 into out (always
// terminated). Returns the length written.
size_t format_message_utf8(const char* text_cp1251, const char* caption_cp1251, char* out, size_t size);

}  // namespace platform
