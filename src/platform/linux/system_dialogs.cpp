// The folder question on Linux: asked on the terminal when standard input and
// standard error are terminals; without one there is no choice to make.
#include "platform/dialogs.h"
#include "platform/system_extra.h"
#include "platform/text.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool ask_for_folder(const char* title_cp1251, char* folder_out, size_t size) {
    if (unattended() || !::isatty(0) || !::isatty(2)) return false;
    char title[512];
    cp1251_to_utf8(title_cp1251, title, sizeof title);
    char answer[PATH_MAX];
    for (;;) {
        std::fprintf(stderr, "%s (empty line to give up): ", title);
        std::fflush(stderr);
        if (!std::fgets(answer, sizeof answer, stdin)) return false;
        answer[std::strcspn(answer, "\r\n")] = '\0';
        if (!answer[0]) return false;
        char resolved[PATH_MAX];
        struct stat st {};
        if (!::realpath(answer, resolved) || ::stat(resolved, &st) != 0 || !S_ISDIR(st.st_mode)) {
            std::fputs("Not a folder.\n", stderr);
            continue;
        }
        size_t n = std::strlen(resolved);
        if (n + 1 > size) {
            std::fputs("Path too long.\n", stderr);
            continue;
        }
        std::memcpy(folder_out, resolved, n + 1);
        return true;
    }
}

}  // namespace platform
