// System calls beyond the common seam that the bundle, shell and pack code
// need: cutting a file back to a length, recognising links and other kinds of
// entries, resolving paths, the system's reason for a failure, running a
// tool and waiting for it, and the unattended switch for message boxes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace platform {

// Cuts the file at path back to size bytes; false on failure.
[[nodiscard]] bool truncate_file(const char* path, uint64_t size);

// Creates one folder that only its owner can enter (Linux: mode 0700 whatever
// the umask, as mkdtemp makes it; Windows: the default protection of the
// location). The same results as make_directory.
[[nodiscard]] DirResult make_private_directory(const char* path);

// Looks for the program name inside folder and readies it to run. The name
// counts only when it stays inside folder (relative, no ".." component) and
// reaches a file there without passing through a link; on Windows a name
// without an extension also finds name.com, .exe, .bat or .cmd. On Linux an
// ELF image or a "#!" script found there gets its owner's execute bit
// (archives from DOS hosts carry no modes); nothing else is changed. True
// with the file's full path in path_out (size bytes) when it was found.
[[nodiscard]] bool find_program_in(const char* folder, const char* name, char* path_out, size_t size);

// Lets a program file run: on Linux adds the owner's execute bit, and the
// group's and others' where they may read it (regular files only); on
// Windows nothing is needed. False on failure.
[[nodiscard]] bool make_executable(const char* path);

// Puts the file from in the place of to (replacing a file there); false on
// failure.
[[nodiscard]] bool replace_file(const char* from, const char* to);

// True when path is a symbolic link (Linux) or a reparse point such as a
// junction (Windows). A folder tree removal deletes such an entry without
// entering it, so nothing outside the tree is touched.
bool is_symbolic_link(const char* path);

// What an entry on disk is. A link is a symbolic link (Linux) or a reparse
// point such as a junction (Windows); other is anything that is neither a
// regular file nor a folder (FIFO, device, socket).
enum class EntryKind { missing, file, folder, link, other };
struct EntryInfo {
    EntryKind kind = EntryKind::missing;
    uint32_t attributes = 0;     // MS-DOS style, as a listing reports them
    uint32_t dos_date_time = 0;  // last-write time, local, MS-DOS format
    uint64_t size = 0;           // 0 for anything but a file
};

// Describes the entry at path. With follow_links false a link is reported as
// link; with true the entry it leads to is described (a dangling link or a
// link loop gives missing). Only looks at the entry: never opens it for
// reading, so a FIFO cannot block the caller. info may be null.
EntryKind describe_entry(const char* path, bool follow_links, EntryInfo* info);

// Room for a resolved path (Linux paths may be longer than MAX_PATH_CHARS).
inline constexpr size_t RESOLVED_PATH_BYTES = 4096;

// Writes the absolute form of path into out with every link resolved and no
// "." or ".." left, so two resolved paths name the same place exactly when
// they compare equal under path_within. Components that do not exist (yet)
// are kept as given, and a dangling link is replaced by the place it names,
// so a file about to be created resolves to where it would be written.
// Returns the length, or 0 on failure (too long, link loop, no current
// folder).
size_t resolve_path(const char* path, char* out, size_t size);

// True when the resolved path inner equals outer or lies below it. Compares
// the way the system names files: bytes on Linux, ignoring letter case on
// Windows.
bool path_within(const char* outer, const char* inner);

// Forgets the reason of any earlier failure, so that system_error_text
// describes only failures after this call.
void clear_system_error();

// The system's own words for why the latest failed system call failed (the
// text of errno on Linux, of GetLastError on Windows, without a final full
// stop or line break) into out, always terminated; "" when nothing failed
// since clear_system_error or the system gave no reason. Returns the length.
size_t system_error_text(char* out, size_t size);

// Runs the program argv[0] (looked for on PATH when the name has no folder)
// with the words argv[1..] (argv ends with a null pointer) as its arguments,
// each passed as one word, with the standard streams and the current folder
// inherited, and waits for it to end. Returns its exit code, or -1 when it
// could not be started or did not end by itself (system_error_text then
// says why it could not be started).
int run_program_and_wait(const char* const* argv);

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
