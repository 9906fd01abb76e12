// Fuzz target: the command-line grammar on a copy of the input. Every file
// argument and the archive path must point into the tail (or the program's
// own path) and be terminated there; the file count stays within its limit.
#include <cstdint>
#include <cstring>
#include <vector>

#include "../common/fuzz_support.h"
#include "shell/command_line.h"
#include "shell/shell_state.h"

namespace {

bool inside(const char* p, const std::vector<char>& tail) {
    return p >= tail.data() && p < tail.data() + tail.size() &&
           std::memchr(p, 0, static_cast<size_t>(tail.data() + tail.size() - p)) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 400) return 0;
    std::vector<char> tail(data, data + size);
    tail.push_back('\0');
    reset_shell_state();
    int mode = parse_command_line(tail.data());
    ShellState& s = shell_state;
    if (mode != 0 && mode != RUN_PACK && mode != RUN_UNPACK && mode != RUN_HELP && mode != RUN_INSTALL)
        fuzz::finding("unknown mode", std::to_string(mode));
    if (s.file_last < -1 || s.file_last >= MAX_FILES) fuzz::finding("file count out of range");
    if (mode != 0) {
        for (int i = 0; i <= s.file_last; ++i)
            if (!inside(s.file_list[i], tail)) fuzz::finding("file argument outside the tail");
        if (s.archive_path && s.archive_path != s.own_path && !inside(s.archive_path, tail))
            fuzz::finding("archive path outside the tail");
    }
    return 0;
}
