// Fuzz target: the whole extraction of one archive file (marker search, both
// header formats, volumes, stored and packed entries, output files) into a
// scratch destination. Nothing may crash, hang, or appear outside the
// destination, and the current folder must be the same afterwards.
#include <cstdint>
#include <cstring>

#include "../common/fuzz_support.h"
#include "archive/driver.h"
#include "unpack/decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace fuzz;
    static const fs::path work = scratch_root() / "w";
    static const fs::path archive = work / "in.rar";
    static const fs::path dest = work / "out";
    // Plain strings made once: leaving the core by longjmp skips destructors.
    static const std::string archive_arg = archive.string();
    static const std::string dest_arg = dest.string() + "/";
    static const fs::path cwd = fs::current_path();

    fs::create_directories(dest);
    write_whole(archive, data, size);
    reset_decoder_state();
    platform::fault_hooks.exit = on_exit_hook;
    exit_code_seen = -1;
    if (setjmp(exit_jump) == 0) {
        int status = extract_archive(archive_arg.c_str(), dest_arg.c_str());
        if (status != 0 && status != 1 && status != 3) finding("unexpected status", std::to_string(status));
    } else if (exit_code_seen != 2 && exit_code_seen != 5 && exit_code_seen != 8 && exit_code_seen != 255) {
        finding("unexpected exit code", std::to_string(exit_code_seen));
    }
    platform::fault_hooks.exit = nullptr;
    if (fs::current_path() != cwd) finding("current folder changed", fs::current_path().string());
    check_contained(scratch_root(), dest, {work, archive});
    remove_tree(dest);
    return 0;
}
