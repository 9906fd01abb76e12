// The command-line grammar. Only the space separates words; tabs are ordinary
// characters. Positions follow the 8-bit design, so tails of 256 characters
// or more are refused instead of being misread.
#include "shell/command_line.h"

#include <cstring>

#include "platform/platform.h"
#include "shell/shell_state.h"

namespace {

int reject() {
    shell_state.run_mode = RUN_NONE;
    shell_state.file_last = -1;
    return RUN_NONE;
}

bool is_path_separator(char c) { return c == platform::path_separator() || c == '/'; }

}  // namespace

int parse_command_line(char* tail) {
    ShellState& s = shell_state;
    s.file_last = -1;
    const size_t length = std::strlen(tail);
    if (length > MAX_TAIL_CHARS) return reject();
    const int n = static_cast<int>(length);

    if (n == 0) {
        if (platform::own_program_path(s.own_path, sizeof s.own_path) == 0) s.own_path[0] = '\0';
        s.archive_path = s.own_path;
        s.run_mode = RUN_INSTALL;
        return RUN_INSTALL;
    }

    // The first word: leading spaces, then everything up to the next space.
    int i = 0;
    while (i < n && tail[i] == ' ') ++i;
    while (i < n && tail[i] != ' ') ++i;
    tail[i] = '\0';
    ++i;
    if (tail[0] != '-') s.archive_path = tail;

    // The key word: only its first two characters count.
    if (i < n)
        while (i < n && tail[i] == ' ') ++i;
    int mode = RUN_NONE;
    if (i + 1 < n) {
        if (tail[i] == '-' && tail[i + 1] == 'i') mode = RUN_PACK;
        else if (tail[i] == '-' && tail[i + 1] == 'e') mode = RUN_UNPACK;
        i += 2;
    } else {
        if (tail[0] == '-' && tail[1] == '?') mode = RUN_HELP;
        i += 1;
    }
    if (mode == RUN_NONE) return reject();

    // The files: the first after any spaces, then one more behind every space
    // (so two spaces or a trailing space give an empty name).
    if (i < n) {
        while (i < n && tail[i] == ' ') ++i;
        if (i < n) s.file_list[++s.file_last] = tail + i;
        for (int p = i; p <= n; ++p) {
            if (tail[p] != ' ') continue;
            tail[p] = '\0';
            if (p + 1 <= n) {
                if (s.file_last + 1 >= MAX_FILES) return reject();
                s.file_list[++s.file_last] = tail + p + 1;
            }
        }
    }
    s.run_mode = static_cast<int8_t>(mode);
    return mode;
}

size_t split_path(size_t size, const char* path, char* out, int part) {
    const size_t length = std::strlen(path);
    size_t cut = 0;  // position of the separator, 0 when there is none
    for (size_t p = length; p > 1; --p)
        if (is_path_separator(path[p - 1])) {
            cut = p - 1;
            break;
        }
    const char* begin = part == PATH_FOLDER_PART ? path : (cut ? path + cut + 1 : path);
    const size_t count = part == PATH_FOLDER_PART ? cut : length - static_cast<size_t>(begin - path);
    const size_t needed = part == PATH_FOLDER_PART ? (cut ? cut + 1 : 0) : count + 1;
    if (out && needed && size >= needed) {
        std::memcpy(out, begin, count);
        out[count] = '\0';
    }
    return needed;
}
