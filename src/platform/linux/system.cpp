// The system side of the seam on Linux: paths, "drives" (mounted file
// systems), the temporary folder, the program's own path, process end,
// signals, running a tool and message boxes on the terminal.
//
// A drive is the mounted file system that holds a path, found in
// /proc/self/mountinfo. Local block-device file systems (and overlay, which
// containers put over one) count as fixed; tmpfs and ramfs as RAM disks;
// media the kernel marks removable as removable; network file systems as remote.
#include "platform/platform.h"
#include "platform/fault_hooks.h"
#include "platform/system_extra.h"
#include "platform/dialogs.h"
#include "platform/text.h"
#include "platform/text_locale.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {

struct Mount {
    char point[260];
    char type[40];
    char source[160];
};

constexpr int MAX_MOUNTS = 256;
Mount mounts[MAX_MOUNTS];

// Undoes the octal escapes (\040 for a space ...) of a mountinfo field.
void unescape_field(const char* in, size_t length, char* out, size_t size) {
    size_t n = 0;
    for (size_t i = 0; i < length && n + 1 < size; ++i) {
        if (in[i] == '\\' && i + 3 < length &&
            in[i + 1] >= '0' && in[i + 1] <= '7' && in[i + 2] >= '0' && in[i + 2] <= '7' &&
            in[i + 3] >= '0' && in[i + 3] <= '7') {
            out[n++] = static_cast<char>((in[i + 1] - '0') * 64 + (in[i + 2] - '0') * 8 + (in[i + 3] - '0'));
            i += 3;
        } else {
            out[n++] = in[i];
        }
    }
    out[n] = '\0';
}

// Reads the mount table; returns the number of mounts (0 when unreadable).
int read_mounts() {
    std::FILE* table = std::fopen("/proc/self/mountinfo", "r");
    if (!table) return 0;
    int count = 0;
    char line[4096];
    while (count < MAX_MOUNTS && std::fgets(line, sizeof line, table)) {
        // id parent major:minor root mount-point options [optional...] - type source super-options
        const char* fields[16];
        size_t lengths[16];
        int n = 0;
        for (char* p = line; *p && n < 16;) {
            while (*p == ' ' || *p == '\n') ++p;
            if (!*p) break;
            fields[n] = p;
            while (*p && *p != ' ' && *p != '\n') ++p;
            lengths[n] = static_cast<size_t>(p - fields[n]);
            ++n;
        }
        int dash = -1;
        for (int i = 6; i < n; ++i)
            if (lengths[i] == 1 && fields[i][0] == '-') {
                dash = i;
                break;
            }
        if (n < 5 || dash < 0 || dash + 2 >= n) continue;
        Mount& m = mounts[count];
        unescape_field(fields[4], lengths[4], m.point, sizeof m.point);
        unescape_field(fields[dash + 1], lengths[dash + 1], m.type, sizeof m.type);
        unescape_field(fields[dash + 2], lengths[dash + 2], m.source, sizeof m.source);
        ++count;
    }
    std::fclose(table);
    return count;
}

bool type_is(const char* type, const char* const* names) {
    for (; *names; ++names)
        if (std::strcmp(type, *names) == 0) return true;
    return false;
}

// True when the kernel marks the block device behind source as removable.
bool removable_device(const char* source) {
    if (std::strncmp(source, "/dev/", 5) != 0) return false;
    char device[PATH_MAX];
    const char* name = source + 5;
    char resolved[PATH_MAX];
    if (::realpath(source, resolved) && std::strncmp(resolved, "/dev/", 5) == 0) name = resolved + 5;
    if (std::strchr(name, '/')) return false;  // mapper and friends: not a plain disk
    const char* candidates[] = {"/sys/class/block/%s/removable", "/sys/class/block/%s/../removable"};
    for (const char* form : candidates) {
        std::snprintf(device, sizeof device, form, name);
        std::FILE* flag = std::fopen(device, "r");
        if (!flag) continue;
        int c = std::fgetc(flag);
        std::fclose(flag);
        return c == '1';
    }
    return false;
}

DriveType classify(const Mount& m) {
    static const char* const ram[] = {"tmpfs", "ramfs", nullptr};
    static const char* const remote[] = {"nfs", "nfs4", "cifs", "smb3", "smbfs", "ncpfs", "afs", "ceph",
                                         "glusterfs", "fuse.sshfs", "fuse.glusterfs", "9p", nullptr};
    static const char* const optical[] = {"iso9660", "udf", nullptr};
    static const char* const disk[] = {"ext2", "ext3", "ext4", "xfs", "btrfs", "zfs", "f2fs", "jfs",
                                       "reiserfs", "vfat", "msdos", "exfat", "ntfs", "ntfs3", "fuseblk",
                                       "hfs", "hfsplus", "nilfs2", "bcachefs", "overlay", "aufs", nullptr};
    if (type_is(m.type, ram)) return DriveType::ramdisk;
    if (type_is(m.type, remote)) return DriveType::remote;
    if (type_is(m.type, optical)) return DriveType::cdrom;
    if (type_is(m.type, disk)) return removable_device(m.source) ? DriveType::removable : DriveType::fixed;
    return DriveType::unknown;
}

// True when folder (a mount point) contains path, component-wise.
bool contains(const char* folder, const char* path) {
    size_t n = std::strlen(folder);
    if (std::strncmp(folder, path, n) != 0) return false;
    return n == 1 || path[n] == '\0' || path[n] == '/';
}

// The last mount whose point is exactly root (later mounts hide earlier ones).
const Mount* mount_at(int count, const char* root) {
    const Mount* found = nullptr;
    for (int i = 0; i < count; ++i)
        if (std::strcmp(mounts[i].point, root) == 0) found = &mounts[i];
    return found;
}

bool copy_text(const char* text, char* out, size_t size) {
    size_t n = std::strlen(text);
    if (n + 1 > size) return false;
    std::memcpy(out, text, n + 1);
    return true;
}

}  // namespace

char path_separator() { return '/'; }

bool is_absolute_path(const char* path) { return path && path[0] == '/'; }

const char* system_root() { return "/"; }

int list_drive_roots(char (*roots)[260], int max) {
    int count = read_mounts();
    int listed = 0;
    for (int i = 0; i < count && listed < max; ++i) {
        if (classify(mounts[i]) == DriveType::unknown || classify(mounts[i]) == DriveType::remote) continue;
        if (mount_at(count, mounts[i].point) != &mounts[i]) continue;  // hidden by a later mount
        if (!copy_text(mounts[i].point, roots[listed], 260)) continue;
        ++listed;
    }
    return listed;
}

int extraction_fallbacks(char (*places)[260], int max) {
    // The root is never a fallback: a home folder of "/" (system users) and
    // places that do not exist are passed over.
    const char* candidates[] = {"/var/tmp", std::getenv("HOME")};
    int count = 0;
    for (const char* candidate : candidates) {
        char resolved[PATH_MAX];
        if (count >= max || !candidate || candidate[0] != '/' || !::realpath(candidate, resolved)) continue;
        const size_t n = std::strlen(resolved);
        if (n <= 1 || n + 2 > 260) continue;
        std::memcpy(places[count], resolved, n);
        places[count][n] = '/';
        places[count][n + 1] = '\0';
        ++count;
    }
    return count;
}

bool drive_root_of(const char* path, char* root, size_t size) {
    char resolved[PATH_MAX];
    if (!path || !::realpath(path, resolved)) return false;
    int count = read_mounts();
    const char* best = nullptr;
    for (int i = 0; i < count; ++i)
        if (contains(mounts[i].point, resolved) && (!best || std::strlen(mounts[i].point) >= std::strlen(best)))
            best = mounts[i].point;
    return best && copy_text(best, root, size);
}

DriveType drive_type(const char* root) {
    int count = read_mounts();
    const Mount* m = root ? mount_at(count, root) : nullptr;
    if (!m) {
        char owner[260];
        if (!drive_root_of(root, owner, sizeof owner)) return DriveType::unknown;
        count = read_mounts();
        m = mount_at(count, owner);
        if (!m) return DriveType::unknown;
    }
    return classify(*m);
}

bool drive_free_bytes(const char* root, uint64_t* bytes) {
    struct statvfs info {};
    if (!root || ::statvfs(root, &info) != 0) return false;
    *bytes = static_cast<uint64_t>(info.f_bavail) * static_cast<uint64_t>(info.f_frsize);
    return true;
}

size_t get_temp_path(char* buffer, size_t size) {
    const char* folder = std::getenv("TMPDIR");
    if (!folder || !*folder) folder = "/tmp";
    size_t n = std::strlen(folder);
    bool slash = folder[n - 1] == '/';
    if (n + (slash ? 0 : 1) + 1 > size) return 0;
    std::memcpy(buffer, folder, n);
    if (!slash) buffer[n++] = '/';
    buffer[n] = '\0';
    return n;
}

size_t own_program_path(char* buffer, size_t size) {
    if (size == 0) return 0;
    ssize_t n = ::readlink("/proc/self/exe", buffer, size);
    if (n <= 0 || static_cast<size_t>(n) >= size) return 0;
    buffer[n] = '\0';
    return static_cast<size_t>(n);
}

void exit_process(int code) {
    fault_on_exit(code);
    std::exit(code);
}

void route_break_signals(void (*handler)(int)) {
    const int signals[] = {SIGINT, SIGTERM};
    for (int sig : signals) {
        struct sigaction old {};
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        std::signal(sig, handler);
    }
}

void clear_system_error() { errno = 0; }

size_t system_error_text(char* out, size_t size) {
    if (size == 0) return 0;
    const int error = errno;
    const char* text = error == 0 ? "" : std::strerror(error);
    std::snprintf(out, size, "%s", text);
    return std::strlen(out);
}

int run_program_and_wait(const char* const* argv) {
    if (argv == nullptr || argv[0] == nullptr) return -1;
    pid_t child = 0;
    // posix_spawnp reports a program that cannot be started (not found, not
    // runnable) as its own result, so the reason reaches the caller.
    const int failure = ::posix_spawnp(&child, argv[0], nullptr, nullptr, const_cast<char* const*>(argv), environ);
    if (failure != 0) {
        errno = failure;
        return -1;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool replace_file(const char* from, const char* to) { return from && to && ::rename(from, to) == 0; }

bool truncate_file(const char* path, uint64_t size) {
    return path && ::truncate(path, static_cast<off_t>(size)) == 0;
}

DirResult make_private_directory(const char* path) {
    if (fault_on_make_directory(path)) return DirResult::other;
    if (::mkdir(path, 0700) != 0) {
        if (errno == EEXIST) return DirResult::exists;
        return errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG ? DirResult::not_found : DirResult::other;
    }
    // A umask can only take bits away; put the owner's back through the
    // folder itself, never through a link someone swapped in by now.
    const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return DirResult::other;
    struct stat st {};
    const bool ok = ::fstat(fd, &st) == 0 && ((st.st_mode & 07777) == 0700 || ::fchmod(fd, 0700) == 0);
    ::close(fd);
    if (!ok) {
        ::rmdir(path);
        return DirResult::other;
    }
    return DirResult::ok;
}

bool make_executable(const char* path) {
    struct stat st {};
    if (!path || ::stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    mode_t mode = st.st_mode | S_IXUSR;
    if (mode & S_IRGRP) mode |= S_IXGRP;
    if (mode & S_IROTH) mode |= S_IXOTH;
    return mode == st.st_mode || ::chmod(path, mode & 07777) == 0;
}

bool is_symbolic_link(const char* path) {
    struct stat st {};
    return path && ::lstat(path, &st) == 0 && S_ISLNK(st.st_mode);
}

namespace {

// True when the terminal's locale wants Windows-1251 bytes as they are.
bool terminal_wants_cp1251() {
    const char* names[] = {"LC_ALL", "LC_CTYPE", "LANG"};
    for (const char* name : names) {
        const char* value = std::getenv(name);
        if (!value || !*value) continue;
        return std::strstr(value, "1251") != nullptr;
    }
    return false;
}

void write_message(const char* text_cp1251, const char* caption_cp1251) {
    if (terminal_wants_cp1251()) {
        char caption[1024], text[4096];
        std::snprintf(caption, sizeof caption, "%s", caption_cp1251 ? caption_cp1251 : "");
        std::snprintf(text, sizeof text, "%s", text_cp1251 ? text_cp1251 : "");
        mask_control_chars(caption, TextCoding::bytes);
        mask_control_chars(text, TextCoding::bytes, true);
        std::fprintf(stderr, "%s: %s\n", caption, text);
    } else {
        char line[4096];
        size_t n = format_message_utf8(text_cp1251, caption_cp1251, line, sizeof line);
        std::fwrite(line, 1, n, stderr);
    }
    std::fflush(stderr);
}

// Writes a text of the Linux side in the terminal's encoding.
void write_local(const char* text_cp1251) {
    if (terminal_wants_cp1251()) {
        std::fputs(text_cp1251, stderr);
    } else {
        char text[1024];
        cp1251_to_utf8(text_cp1251, text, sizeof text);
        std::fputs(text, stderr);
    }
}

// Reads one answer from the terminal: OK for an empty line, "o" or "ok";
// Cancel for "c", "cancel" or the end of input. Asks again otherwise; the
// prompt names the keys.
int ask_ok_cancel(MessageLanguage language) {
    char answer[64];
    for (;;) {
        write_local(PROMPT_OK_CANCEL.in(language));
        std::fflush(stderr);
        if (!std::fgets(answer, sizeof answer, stdin)) return IDCANCEL;
        answer[std::strcspn(answer, "\r\n")] = '\0';
        if (!answer[0] || !::strcasecmp(answer, "o") || !::strcasecmp(answer, "ok")) return IDOK;
        if (!::strcasecmp(answer, "c") || !::strcasecmp(answer, "cancel")) return IDCANCEL;
    }
}

}  // namespace

int message_box(const char* text_cp1251, const char* caption_cp1251, unsigned style) {
    // The log keeps the program's own texts whatever the locale; the
    // terminal shows them in the user's language.
    append_message_log(text_cp1251, caption_cp1251);
    const MessageLanguage language = message_language();
    write_message(localized_text(text_cp1251, language), localized_text(caption_cp1251, language));
    if ((style & 0xF) != MB_OKCANCEL) return IDOK;
    if (unattended() || !::isatty(0) || !::isatty(2)) {
        write_local(TEXT_NO_TERMINAL.in(language));
        std::fputs("\n", stderr);
        return IDCANCEL;
    }
    return ask_ok_cancel(language);
}

void tell_no_room(uint64_t needed) {
    const unsigned long long bytes = needed;
    const unsigned long long megabytes = (bytes + 999999) / 1000000;
    char english[512];
    std::snprintf(english, sizeof english, TEXT_NO_ROOM.english, bytes, megabytes);
    append_message_log(english, "Warning");
    const MessageLanguage language = message_language();
    char shown[512];
    std::snprintf(shown, sizeof shown, TEXT_NO_ROOM.in(language), bytes, megabytes);
    write_message(shown, localized_text("\xCF\xF0\xE5\xE4\xF3\xEF\xF0\xE5\xE6\xE4\xE5\xED\xE8\xE5", language));
}

}  // namespace platform
