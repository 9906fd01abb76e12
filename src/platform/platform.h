// The one seam between the installer and the operating system.
// Everything that touches files, folders, drives, the screen or processes goes
// through these calls; win32/ implements them with the Windows API, linux/ maps
// each onto its nearest Linux meaning (it uses /proc and Linux-only calls such
// as pipe2, so it is no general POSIX side). The core never includes a system
// header. Calls that can fail are [[nodiscard]]: a caller that goes on whatever
// happened says so with a (void) cast and a reason.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// ---------------------------------------------------------------- paths
// Paths are 8-bit byte strings, handed to the system unchanged (the ANSI code
// page on Windows, raw bytes on Linux). Buffers hold at most MAX_PATH_CHARS
// characters plus the terminator.
inline constexpr int MAX_PATH_CHARS = 259;

// The separator the system's paths use: '\\' on Windows, '/' on Linux.
char path_separator();
// True for either slash.
inline bool is_separator(char c) { return c == '\\' || c == '/'; }
// True when the path names its own root (a drive "X:" / "\\" prefix on Windows,
// a leading '/' on Linux), i.e. it is not taken relative to the current folder.
bool is_absolute_path(const char* path);
// The root folder the installer steps into before it removes its extraction
// folder ("C:\\" on Windows, "/" on Linux).
const char* system_root();

// ---------------------------------------------------------------- files
struct File;  // opaque; one open file

enum class FileOpen {
    read,               // existing file, read only
    read_write_always,  // create or truncate, read and write (CREATE_ALWAYS / "w+b")
    read_write_append,  // open or create, keep content, read and write (OPEN_ALWAYS)
    read_write_existing // existing file, read and write
};
enum class FileShare {
    read_write,  // others may read and write
    read_only    // others may read, not write
};
enum class SeekFrom { start, current, end };

// Opens a file; null on failure.
[[nodiscard]] File* file_open(const char* path, FileOpen how, FileShare share = FileShare::read_write);
// Reads up to count bytes; returns the number read (0 at the end or on error).
[[nodiscard]] size_t file_read(File* f, void* buffer, size_t count);
// Writes count bytes; returns the number written (less on error).
[[nodiscard]] size_t file_write(File* f, const void* buffer, size_t count);
// Moves the position; false on failure.
[[nodiscard]] bool file_seek(File* f, int64_t offset, SeekFrom from);
// Current position, or -1.
[[nodiscard]] int64_t file_tell(File* f);
// Size of the open file, or -1.
[[nodiscard]] int64_t file_size(File* f);
// Passes buffered data to the system; false on failure.
[[nodiscard]] bool file_flush(File* f);
// True once a read or write on this file failed.
bool file_has_error(File* f);
// Closes the file; false when flushing or closing failed. A null file is a no-op returning true.
// Not [[nodiscard]]: closing a file that was only read loses nothing; whoever
// wrote the file checks the result.
bool file_close(File* f);
// True when the open file is a character device (CON, /dev/tty ...), not a disk file.
bool file_is_char_device(File* f);
// Sets the last-write time from an MS-DOS local date-time (date << 16 | time);
// false when the value cannot be converted or set. Flushes first.
[[nodiscard]] bool file_set_dos_time(File* f, uint32_t dos_date_time);

// ---------------------------------------------------------------- files and folders by path
inline constexpr uint32_t ATTR_READONLY = 0x01;
inline constexpr uint32_t ATTR_HIDDEN = 0x02;
inline constexpr uint32_t ATTR_SYSTEM = 0x04;
inline constexpr uint32_t ATTR_LABEL = 0x08;
inline constexpr uint32_t ATTR_DIRECTORY = 0x10;
inline constexpr uint32_t ATTR_ARCHIVE = 0x20;
inline constexpr uint32_t ATTR_NORMAL = 0x80;

enum class DirResult { ok, not_found, exists, other };

// Creates one folder (parents must exist).
[[nodiscard]] DirResult make_directory(const char* path);
// Removes an empty folder.
[[nodiscard]] bool remove_directory(const char* path);
// Deletes a file (never a folder).
[[nodiscard]] bool delete_file(const char* path);
// Reads MS-DOS style attributes; false when the path does not exist.
[[nodiscard]] bool get_attributes(const char* path, uint32_t* attributes);
// Applies MS-DOS style attributes (on Linux: read-only clears the write bits,
// the rest is ignored); false on failure.
[[nodiscard]] bool set_attributes(const char* path, uint32_t attributes);
// Current folder into buffer (no trailing separator except at a root);
// returns its length, or 0 on failure or when it does not fit.
[[nodiscard]] size_t get_current_directory(char* buffer, size_t size);
[[nodiscard]] bool set_current_directory(const char* path);

// ---------------------------------------------------------------- output below a trusted folder
// Extraction writes only below a folder it was given or made (base; empty for
// the current folder; it may end in a separator or, on Windows, be "X:").
// base is trusted as it stands; the relative name below it is not: these
// calls never follow a link (a symbolic link on Linux, a reparse point such
// as a junction on Windows) anywhere in it, neither its last component nor
// any folder between base and it, so nothing outside base is created,
// written, changed or removed through a link planted there. relative must
// not be absolute; empty and "." components are passed over; a ".."
// component (or one of dots and spaces only, which Windows may trim to "..")
// is refused. Either slash separates components on Windows, '/' on Linux.
enum class BelowResult {
    created,    // a new file or folder was made
    replaced,   // an existing file was opened and emptied
    exists,     // a folder (or a file where a folder was asked for) is already there
    not_found,  // a parent folder is missing (and was not to be made)
    link,       // a link stands in the name: refused
    refused,    // the name is not a relative one below base
    other       // anything else (no access, read-only file, a folder where a file was asked for, too long)
};

// Opens base/relative for reading and writing, emptying an existing file or
// creating a new one (new files get the usual mode; on Linux folders made
// along the way are private, 0700). With make_parents, missing folders along
// relative are made. A character device (Windows "NUL", Linux "/dev/null") is
// opened as it is. Null on failure; *result, when given, says what happened.
File* file_create_below(const char* base, const char* relative, bool make_parents, BelowResult* result);
// Makes the folder base/relative (missing parents too with make_parents) and
// gives a new folder the MS-DOS attributes (on Linux folders keep their mode).
// created, or the reason it was not made; exists also when a folder of that
// name is already there (its attributes are left alone).
BelowResult make_directory_below(const char* base, const char* relative, bool make_parents, uint32_t attributes);
// Deletes the file base/relative (never a folder, never through a link in a
// parent; a link as the last component is removed itself, not its target).
bool delete_file_below(const char* base, const char* relative);
// Applies MS-DOS style attributes to the open file (on Linux: read-only
// clears the write bits, the rest is ignored); flushes first; false on failure.
bool file_set_attributes(File* f, uint32_t attributes);
// Applies the permission bits of a Unix mode to the open regular file, as tar
// does: set-user-id, set-group-id and sticky bits are never set, and for
// anyone but root the process's umask is taken away. Flushes first. Windows
// has no modes: true there, nothing changed. False on failure.
bool file_set_unix_mode(File* f, uint32_t mode);
// Permission bits (mode & 07777) of the file or folder at path, a link
// followed; false on failure and on Windows, which has none.
[[nodiscard]] bool get_unix_mode(const char* path, uint32_t* mode);
// True when names of files are UTF-8 text to the user (Linux under a UTF-8
// locale), so that names stored in Windows-1251 are better shown and made in
// UTF-8. False on Windows, whose ANSI calls take the stored bytes.
bool names_are_utf8();

// Folder listing in the manner of FindFirstFile: the pattern is a path whose
// last component may hold '*' and '?' ("dir\\*.*" lists every entry of dir,
// "." and ".." included; a pattern without wildcards finds that one entry).
struct DirEntry {
    char name[260];
    uint32_t attributes;     // MS-DOS style
    uint32_t dos_date_time;  // last-write time, local, MS-DOS format (0 when not representable)
    uint64_t size;
};
struct DirList;  // opaque
// Starts a listing and fills the first entry; null when nothing matches.
[[nodiscard]] DirList* dir_first(const char* pattern, DirEntry* entry);
// Next entry; false at the end.
bool dir_next(DirList* list, DirEntry* entry);
void dir_close(DirList* list);

// ---------------------------------------------------------------- drives and space
enum class DriveType { unknown, removable, fixed, remote, cdrom, ramdisk };

// Roots of the mounted drives, in the system's order (Windows: "C:\\" ...;
// Linux: mount points of local file systems). Writes up to max roots into
// roots[i] (each MAX_PATH_CHARS+1 bytes); returns the count.
int list_drive_roots(char (*roots)[260], int max);
// The places an extraction folder may go when the temporary folder does not
// qualify, in the order they are tried, each ending in a separator; written
// like list_drive_roots. Windows: the drive roots (list_drive_roots). Linux:
// /var/tmp, then the home folder ($HOME); never the file-system root.
int extraction_fallbacks(char (*places)[260], int max);
// Root of the drive that holds path (Windows: "X:\\"; Linux: its mount point).
[[nodiscard]] bool drive_root_of(const char* path, char* root, size_t size);
DriveType drive_type(const char* root);
// Free bytes available on the drive; false when the query fails.
[[nodiscard]] bool drive_free_bytes(const char* root, uint64_t* bytes);
// The system's temporary folder, ending in a separator; returns its length, 0 on failure.
[[nodiscard]] size_t get_temp_path(char* buffer, size_t size);

// ---------------------------------------------------------------- the program itself
// Full path of the running executable; returns its length, 0 on failure.
[[nodiscard]] size_t own_program_path(char* buffer, size_t size);
// Ends the process at once (the standard library's exit handlers run).
[[noreturn]] void exit_process(int code);
// Routes the interrupt, terminate and (on Windows) break signals to handler,
// leaving a signal ignored when it was ignored before.
void route_break_signals(void (*handler)(int));

// Launches file with the verb "open", parameters as one string, the current
// folder inherited. Returns a value above 32 on success (ShellExecute's rule).
[[nodiscard]] intptr_t shell_execute_open(void* owner_window, const char* file, const char* parameters);
// True when the latest shell_execute_open waited for the program it started
// and that program has ended; its exit code is then in *code (128 plus the
// signal's number when a signal ended it). Linux waits when the environment
// variable KELVARIX_WAIT is set to anything but "" or "0" (the program then
// keeps the installer's session and terminal); Windows never waits.
bool launched_program_exit_code(int* code);

// ---------------------------------------------------------------- user interaction
// Texts given to these calls are Windows-1251 byte strings; each side shows
// them correctly whatever the system's code page or terminal encoding.
inline constexpr unsigned MB_OK = 0x0;
inline constexpr unsigned MB_OKCANCEL = 0x1;
inline constexpr unsigned MB_ICONHAND = 0x10;
inline constexpr unsigned MB_ICONERROR = 0x10;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// A modal box without owner. Returns IDOK or IDCANCEL. On Linux the box goes to
// standard error; a question is asked on the terminal when there is one and
// otherwise answered with IDCANCEL (documented default), never waiting.
int message_box(const char* text_cp1251, const char* caption_cp1251, unsigned style);

}  // namespace platform
