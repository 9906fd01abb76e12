// A confirmed Cancel closes the file being written, removes the extraction
// folder with everything in it and ends the process with exit code 0.
// (On Windows a death test runs the test body again in a child process up to
// the statement, so the set-up before it must be repeatable.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "archive/progress.h"
#include "platform/platform.h"
#include "shell/entry.h"
#include "shell/shell_state.h"
#include "support/scratch.h"

namespace fs = std::filesystem;

TEST(Cancel, RemovesTheExtractionFolderAndExitsWithZero) {
    const fs::path top = fs::temp_directory_path() / "kx_cancel_test";
    const fs::path extraction = top / "PTemp_a";
    fs::remove_all(top);
    fs::create_directories(extraction / "sub");
    scratch::write_file(extraction / "sub" / "done.txt", "done");
    const std::string partial = (extraction / "partial.bin").string();

    EXPECT_EXIT(
        {
            reset_shell_state();
            std::strcpy(shell_state.extraction_folder, extraction.string().c_str());
            fs::current_path(extraction);  // the folder being extracted into is current
            progress_file = platform::file_open(partial.c_str(), platform::FileOpen::read_write_always);
            if (platform::file_write(progress_file, "half", 4) != 4) std::abort();
            cancel_installation();
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_FALSE(fs::exists(extraction));
    EXPECT_TRUE(fs::exists(top));
    fs::remove_all(top);
}

TEST(Cancel, WithoutAnExtractionFolderNothingIsRemoved) {
    const fs::path top = fs::temp_directory_path() / "kx_cancel_none_test";
    fs::remove_all(top);
    fs::create_directories(top);
    scratch::write_file(top / "keep", "k");
    EXPECT_EXIT(
        {
            reset_shell_state();
            fs::current_path(top);
            progress_file = nullptr;
            cancel_installation();
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_TRUE(fs::exists(top / "keep"));
    fs::remove_all(top);
}
