// kelvarix-x: extracts an archive (also one carried inside an installer, or a
// volume chain) into a folder with the installer's own extraction core.
// Exit code: the extraction status (0, 1, 3) or the core's abort code.
#include "archive/driver.h"
#include "archive/progress.h"
#include "platform/console.h"
#include "platform/text.h"

#include <cstdio>
#include <cstring>

namespace {

void print_usage(FILE* out) {
    std::fputs("Usage: kelvarix-x ARCHIVE [DEST]\n"
               "Extracts every entry of ARCHIVE (following its volumes) into DEST,\n"
               "an existing folder (default: the current folder).\n"
               "Exit code: 0 all extracted, 1 something not extracted, 3 damaged data;\n"
               "2, 5, 8 and 255 when the extraction was aborted.\n",
               out);
}

// A one-line progress display on the terminal: the file name and its
// percentage. Control characters in the name are shown as '?'.
void terminal_progress(long lparam) {
    const char* name = progress_file_name ? progress_file_name : "";
    size_t length = std::strlen(name);
    // Keep the tail of long names so the line stays on one row.
    if (length > 60) name += length - 60;
    char shown[64];
    std::snprintf(shown, sizeof shown, "%s", name);
    platform::mask_control_chars(shown, platform::TextCoding::utf8);
    std::fprintf(stderr, "\r%-60s %3ld%%", shown, lparam);
    std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        print_usage(stdout);
        return 0;
    }
    if (argc < 2 || argc > 3) {
        print_usage(stderr);
        return 1;
    }
    bool terminal = platform::stderr_is_terminal();
    if (terminal) set_progress_sink(terminal_progress);
    int status = extract_archive(argv[1], argc == 3 ? argv[2] : nullptr);
    if (terminal) std::fputs("\n", stderr);
    return status;
}
