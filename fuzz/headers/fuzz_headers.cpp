// Fuzz target: recognising an archive (marker search included) and walking
// its headers the way the extraction driver does. The walk must end, every
// block must move the position forward, and names must stay terminated.
#include <cstdint>
#include <cstring>

#include "../common/fuzz_support.h"
#include "archive/archive_state.h"
#include "archive/headers.h"
#include "archive/packed_io.h"
#include "archive/volumes.h"
#include "platform/platform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace fuzz;
    static const fs::path archive = scratch_root() / "headers.rar";
    write_whole(archive, data, size);

    ArchiveState& a = archive_state;
    reset_archive_state();
    a.archive_file = platform::file_open(archive.string().c_str(), platform::FileOpen::read);
    if (!a.archive_file) finding("cannot open scratch file");
    platform::fault_hooks.exit = on_exit_hook;
    if (setjmp(exit_jump) == 0 && identify_archive()) {
        skip_rest_of_main_header();
        // Every header takes at least 7 bytes, so a walk longer than this loops.
        const size_t limit = size / 7 + 2;
        size_t blocks = 0;
        for (;;) {
            int n = fetch_block(BLOCK_FILE, true);
            if (n <= 0) break;
            if (std::memchr(a.file_name, 0, sizeof a.file_name) == nullptr) finding("name not terminated");
            if (a.next_block <= a.block_start) finding("block does not move forward");
            char relative[ARCHIVE_PATH_CHARS + 1];
            make_relative_name(relative, a.file_name);
            if (is_safe_relative_name(relative)) {
                if (relative[0] == '/' || relative[0] == '\\') finding("absolute name taken as safe", relative);
                for (const char* p = relative; (p = std::strstr(p, "..")) != nullptr; p += 2) {
                    bool starts = p == relative || p[-1] == '/' || p[-1] == '\\';
                    bool ends = p[2] == '\0' || p[2] == '/' || p[2] == '\\';
                    if (starts && ends) finding("parent step taken as safe", relative);
                }
            }
            if (++blocks > limit) finding("header walk does not end");
            stream_seek(a.archive_file, a.next_block, platform::SeekFrom::start);
        }
    }
    platform::fault_hooks.exit = nullptr;
    platform::file_close(a.archive_file);
    a.archive_file = nullptr;
    std::free(a.search_buffer);
    a.search_buffer = nullptr;
    return 0;
}
