// Launching the product's setup program on Linux, in the manner of
// ShellExecute's "open": the named file runs as a program with the parameter
// string split into words, detached so the installer can end while it runs.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

// True for the files a Linux system runs directly: an ELF image or a script
// with a "#!" line. Archives from DOS hosts carry no modes, so the execute
// bits are given here rather than expected from the file.
bool is_runnable_file(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    unsigned char head[4] = {};
    const ssize_t got = ::read(fd, head, sizeof head);
    ::close(fd);
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

intptr_t shell_execute_open(void* /*owner_window*/, const char* file, const char* parameters) {
    if (file == nullptr || file[0] == '\0') return LAUNCH_FILE_NOT_FOUND;

    // A name without a folder is looked for in the current folder, not on
    // PATH. Scripts written for Windows separate folders with backslashes,
    // which the extraction turned into slashes on disk.
    char path[MAX_PATH_CHARS + 3];
    const size_t file_length = std::strlen(file);
    if (file_length + 2 >= sizeof path) return LAUNCH_FILE_NOT_FOUND;
    const bool absolute = file[0] == '/' || file[0] == '\\';
    std::strcpy(path, absolute ? "" : "./");
    std::strcat(path, file);
    for (char* p = path; *p != '\0'; ++p) {
        if (*p == '\\') *p = '/';
    }
    if (::access(path, F_OK) != 0) return LAUNCH_FILE_NOT_FOUND;
    if (!is_runnable_file(path)) return LAUNCH_FILE_NOT_FOUND;
    if (!make_executable(path)) return LAUNCH_ACCESS_DENIED;

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
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(report[0]);
        ::close(report[1]);
        std::free(words);
        return LAUNCH_OUT_OF_MEMORY;
    }
    if (child == 0) {
        // Intermediate child: start a new session and fork the program so it
        // is adopted by init and never becomes our zombie.
        ::close(report[0]);
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild < 0) {
            const int e = errno;
            write_all(report[1], &e, sizeof e);
            ::_exit(1);
        }
        if (grandchild == 0) {
            ::execv(path, argv);
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
    return LAUNCH_OK;
}

}  // namespace platform
