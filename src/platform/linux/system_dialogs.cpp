// The folder question on Linux: asked on the terminal when standard input and
// standard error are terminals; without one there is no choice to make.
#include "platform/dialogs.h"
#include "platform/system_extra.h"
#include "platform/text.h"
#include "platform/text_locale.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool ask_for_folder(const char* title_cp1251, char* folder_out, size_t size) {
    if (unattended() || !::isatty(0) || !::isatty(2)) return false;
    const MessageLanguage language = message_language();
    char title[512];
    cp1251_to_utf8(localized_text(title_cp1251, language), title, sizeof title);
    char prompt[256];
    cp1251_to_utf8(PROMPT_FOLDER.in(language), prompt, sizeof prompt);
    char not_a_folder[128];
    cp1251_to_utf8(TEXT_NOT_A_FOLDER.in(language), not_a_folder, sizeof not_a_folder);
    char too_long[128];
    cp1251_to_utf8(TEXT_PATH_TOO_LONG.in(language), too_long, sizeof too_long);
    char answer[PATH_MAX];
    for (;;) {
        std::fprintf(stderr, "%s%s", title, prompt);
        std::fflush(stderr);
        if (!std::fgets(answer, sizeof answer, stdin)) return false;
        answer[std::strcspn(answer, "\r\n")] = '\0';
        if (!answer[0]) return false;
        char resolved[PATH_MAX];
        struct stat st {};
        if (!::realpath(answer, resolved) || ::stat(resolved, &st) != 0 || !S_ISDIR(st.st_mode)) {
            std::fprintf(stderr, "%s\n", not_a_folder);
            continue;
        }
        size_t n = std::strlen(resolved);
        if (n + 1 > size) {
            std::fprintf(stderr, "%s\n", too_long);
            continue;
        }
        std::memcpy(folder_out, resolved, n + 1);
        return true;
    }
}

}  // namespace platform
