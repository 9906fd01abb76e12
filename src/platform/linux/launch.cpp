// Launching the product's setup program on Linux, in the manner of
// ShellExecute's "open": the named file runs as a program with the parameter
// string split into words, detached so the installer can end while it runs
// (or, with KELVARIX_WAIT, kept as the installer's child and waited for).
// Also finding that program in the extraction folder and letting it run.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/system_extra.h"

namespace platform {

namespace {

// ShellExecute's failure values, reused so callers read one rule (<= 32 fails).
constexpr intptr_t LAUNCH_FILE_NOT_FOUND = 2;
constexpr intptr_t LAUNCH_ACCESS_DENIED = 5;
constexpr intptr_t LAUNCH_OUT_OF_MEMORY = 8;
constexpr intptr_t LAUNCH_OK = 42;

constexpr int MAX_WORDS = 255;

// The latest waited-for launch: whether it ended, and its exit code.
bool waited = false;
int waited_code = 0;

// True when the caller wants the setup program's result (KELVARIX_WAIT).
bool wait_requested() {
    const char* value = std::getenv("KELVARIX_WAIT");
    return value && *value && std::strcmp(value, "0") != 0;
}

// The exit code a shell would report for a wait status.
int exit_code_of(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 1;
}

// True for the files a Linux system runs directly: an ELF image or a script
// with a "#!" line.
bool is_runnable_head(int fd) {
    unsigned char head[4] = {};
    const ssize_t got = ::pread(fd, head, sizeof head, 0);
    if (got >= 2 && head[0] == '#' && head[1] == '!') return true;
    return got == 4 && head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F';
}

// Writes every byte or gives up; used from the forked children only.
void write_all(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        p += n;
        size -= static_cast<size_t>(n);
    }
}

}  // namespace

bool find_program_in(const char* folder, const char* name, char* path_out, size_t size) {
    if (folder == nullptr || name == nullptr || folder[0] == '\0' || is_separator(name[0])) return false;
    // Scripts written for Windows separate folders with backslashes, which
    // the extraction turned into slashes on disk.
    char relative[MAX_PATH_CHARS + 1];
    const size_t name_length = std::strlen(name);
    if (name_length == 0 || name_length >= sizeof relative) return false;
    for (size_t i = 0; i <= name_length; ++i) relative[i] = name[i] == '\\' ? '/' : name[i];

    // Walk down from the folder one component at a time, never through a
    // link, so the file reached is really inside it.
    int dir = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return false;
    int file = -1;
    char* part = relative;
    for (;;) {
        char* slash = std::strchr(part, '/');
        if (slash) *slash = '\0';
        const bool last = slash == nullptr;
        if (std::strcmp(part, "..") == 0 || (last && (part[0] == '\0' || std::strcmp(part, ".") == 0))) break;
        if (part[0] != '\0' && std::strcmp(part, ".") != 0) {
            // O_NONBLOCK: a FIFO planted under the name must not hold the launch.
            const int flags = last ? O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC
                                   : O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
            int next = ::openat(dir, part, flags);
            // A program its owner may run but not read is still found.
            if (next < 0 && last && errno == EACCES) next = ::openat(dir, part, O_PATH | O_NOFOLLOW | O_CLOEXEC);
            if (next < 0) break;
            if (last) {
                file = next;
                break;
            }
            ::close(dir);
            dir = next;
        }
        if (slash) *slash = '/';
        part = slash + 1;
    }
    ::close(dir);
    if (file < 0) return false;

    struct stat st {};
    bool found = ::fstat(file, &st) == 0 && S_ISREG(st.st_mode);
    // Archives from DOS hosts carry no modes: a program arrives without its
    // execute bit. Only the owner's is added; data files are left alone.
    if (found && !(st.st_mode & S_IXUSR) && (st.st_mode & S_IRUSR) && is_runnable_head(file)) {
        found = ::fchmod(file, (st.st_mode | S_IXUSR) & 07777) == 0;
    }
    ::close(file);
    if (!found) return false;

    const size_t folder_length = std::strlen(folder);
    const bool add_separator = folder[folder_length - 1] != '/';
    if (folder_length + (add_separator ? 1 : 0) + name_length + 1 > size) return false;
    std::memcpy(path_out, folder, folder_length);
    size_t used = folder_length;
    if (add_separator) path_out[used++] = '/';
    for (size_t i = 0; i <= name_length; ++i) path_out[used + i] = name[i] == '\\' ? '/' : name[i];
    return true;
}

intptr_t shell_execute_open(void* /*owner_window*/, const char* file, const char* parameters) {
    waited = false;
    if (file == nullptr || file[0] == '\0') return LAUNCH_FILE_NOT_FOUND;

    // The name is taken as it stands: with a folder part relative to the
    // current folder, without one looked up on PATH like a system program.
    // Nothing is changed on the file; find_program_in readies the files of
    // the extraction folder.
    char path[MAX_PATH_CHARS + 1];
    const size_t file_length = std::strlen(file);
    if (file_length >= sizeof path) return LAUNCH_FILE_NOT_FOUND;
    bool has_folder = false;
    for (size_t i = 0; i <= file_length; ++i) {
        path[i] = file[i] == '\\' ? '/' : file[i];
        has_folder = has_folder || path[i] == '/';
    }

    // Words of the parameter string: runs of spaces separate, as the Windows
    // start-up code of a launched program would split them.
    const size_t params_length = parameters ? std::strlen(parameters) : 0;
    char* words = static_cast<char*>(std::malloc(params_length + 1));
    if (words == nullptr) return LAUNCH_OUT_OF_MEMORY;
    std::memcpy(words, parameters ? parameters : "", params_length + 1);
    char* argv[MAX_WORDS + 2] = {};
    int argc = 0;
    argv[argc++] = path;
    for (char* p = words; *p != '\0';) {
        while (*p == ' ') *p++ = '\0';
        if (*p == '\0') break;
        if (argc > MAX_WORDS) break;
        argv[argc++] = p;
        while (*p != '\0' && *p != ' ') ++p;
    }
    argv[argc] = nullptr;

    // The exec result travels back through a close-on-exec pipe: end of file
    // means the program started, an errno value means it did not.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        std::free(words);
        return LAUNCH_OUT_OF_MEMORY;
    }
    const bool wait = wait_requested();
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(report[0]);
        ::close(report[1]);
        std::free(words);
        return LAUNCH_OUT_OF_MEMORY;
    }
    if (child == 0) {
        ::close(report[0]);
        // Waited for: the program is this child itself, in our session, so
        // the terminal's keys reach it.
        // Otherwise an intermediate child starts a new session and forks the
        // program so it is adopted by init and never becomes our zombie.
        if (!wait) ::setsid();
        // The progress line may have left the keyboard in single-key mode;
        // a program that shares the terminal gets it back line by line with
        // echo (the installer restores its own saved mode when it ends).
        termios keys {};
        if (wait && ::isatty(0) && ::tcgetattr(0, &keys) == 0) {
            keys.c_lflag |= ICANON | ECHO;
            keys.c_cc[VMIN] = 1;
            keys.c_cc[VTIME] = 0;
            ::tcsetattr(0, TCSANOW, &keys);
        }
        const pid_t grandchild = wait ? 0 : ::fork();
        if (grandchild < 0) {
            const int e = errno;
            write_all(report[1], &e, sizeof e);
            ::_exit(1);
        }
        if (grandchild == 0) {
            if (has_folder) {
                ::execv(path, argv);
            } else {
                ::execvp(path, argv);
            }
            const int e = errno;
            write_all(report[1], &e, sizeof e);
            ::_exit(127);
        }
        ::_exit(0);
    }
    ::close(report[1]);
    int failure = 0;
    ssize_t got;
    do {
        got = ::read(report[0], &failure, sizeof failure);
    } while (got < 0 && errno == EINTR);
    ::close(report[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    std::free(words);
    if (got > 0) return failure == ENOENT ? LAUNCH_FILE_NOT_FOUND : LAUNCH_ACCESS_DENIED;
    if (wait) {
        waited = true;
        waited_code = exit_code_of(status);
    }
    return LAUNCH_OK;
}

bool launched_program_exit_code(int* code) {
    if (!waited) return false;
    *code = waited_code;
    return true;
}

}  // namespace platform
