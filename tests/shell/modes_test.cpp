// Help, pack and unpack modes run through the command line, as the entry
// runs them, in a scratch folder.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "shell/command_line.h"
#include "shell/messages.h"
#include "shell/modes.h"
#include "shell/shell_state.h"
#include "support/scratch.h"

namespace fs = std::filesystem;

namespace {

// Parses line (kept alive in a static buffer) like the entry does.
int parse(const std::string& line) {
    reset_shell_state();
    static char tail[512];
    std::strncpy(tail, line.c_str(), sizeof tail - 1);
    return parse_command_line(tail);
}

std::string own_bytes() {
    char own[300];
    EXPECT_GT(platform::own_program_path(own, sizeof own), 0u);
    return scratch::read_file(own);
}

class Modes : public ::testing::Test {
protected:
    void SetUp() override {
        log_ = folder_.path() / "boxes.log";
        scratch::set_env("KELVARIX_UNATTENDED", "1");
        scratch::set_env("KELVARIX_MESSAGE_LOG", log_.string());
    }
    void TearDown() override {
        scratch::unset_env("KELVARIX_MESSAGE_LOG");
        scratch::unset_env("KELVARIX_UNATTENDED");
    }
    std::string boxes() { return scratch::read_file(log_); }

    scratch::Folder folder_{"modes"};
    fs::path log_;
};

}  // namespace

TEST_F(Modes, HelpShowsTheHelpTextExactly) {
    ASSERT_EQ(parse("-?"), RUN_HELP);
    EXPECT_TRUE(run_help_mode());
    EXPECT_EQ(boxes(),
              "HELP: Version 'General'\nCommand line:\nkelvarix1.exe arch_name [-Key] [file1[,file2...]]\n"
              "to install simply type: arch_name.exe\nKeys\n -i add files to archive\n"
              "-e extract files from archive\n\ne.g. c:\\kelvarix1.exe arch_name -e (to extract files from arch_name)\n");
}

TEST_F(Modes, PackWritesProgramMembersDirectoryAndSize) {
    scratch::write_file("a", "first member");
    scratch::write_file("b", "second");
    ASSERT_EQ(parse("out.exe -i a b"), RUN_PACK);
    ASSERT_TRUE(run_pack_mode());
    const std::string program = own_bytes();
    const uint32_t s = static_cast<uint32_t>(program.size());
    const std::string expected = program + "first member" + "second" + scratch::le32(s) + '\x01' + "a" +
                                 scratch::le32(s + 12) + '\x01' + "b" + scratch::le32(12);
    EXPECT_TRUE(scratch::read_file("out.exe") == expected);
    EXPECT_EQ(boxes(), "");
}

TEST_F(Modes, PackWritesTheBundleInTheCurrentFolderOnly) {
    fs::create_directory("elsewhere");
    scratch::write_file("a", "x");
    std::string line = (fs::path("elsewhere") / "b.exe").string() + " -i a";
    ASSERT_EQ(parse(line), RUN_PACK);
    ASSERT_TRUE(run_pack_mode());
    EXPECT_TRUE(fs::exists("b.exe"));
    EXPECT_FALSE(fs::exists(fs::path("elsewhere") / "b.exe"));
}

TEST_F(Modes, PackWithoutFilesTouchesNothing) {
    ASSERT_EQ(parse("out.exe -i"), RUN_PACK);
    EXPECT_TRUE(run_pack_mode());
    EXPECT_FALSE(fs::exists("out.exe"));
}

TEST_F(Modes, PackWithAnEmptyNameFailsAndLeavesNoBundle) {
    scratch::write_file("a.rar", "A");
    scratch::write_file("b.rar", "B");
    ASSERT_EQ(parse("out.exe -i a.rar  b.rar"), RUN_PACK);
    EXPECT_FALSE(run_pack_mode());
    EXPECT_FALSE(fs::exists("out.exe"));
}

TEST_F(Modes, PackAndUnpackWithoutArchiveNameFail) {
    scratch::write_file("a", "A");
    ASSERT_EQ(parse("-i -i a"), RUN_PACK);
    EXPECT_FALSE(run_pack_mode());
    ASSERT_EQ(parse("-e -e"), RUN_UNPACK);
    EXPECT_FALSE(run_unpack_mode());
}

TEST_F(Modes, UnpackWritesMembersIntoAFreshTemporaryFolder) {
    scratch::write_file("a", "alpha");
    scratch::write_file("b", "");
    ASSERT_EQ(parse("inst.exe -i a b"), RUN_PACK);
    ASSERT_TRUE(run_pack_mode());

    fs::create_directory("tmp");
    fs::create_directory(fs::path("tmp") / "PTemp_a");
#ifdef _WIN32
    const char* variable = "TMP";
#else
    const char* variable = "TMPDIR";
#endif
    const char* old = std::getenv(variable);
    const std::string saved = old ? old : "";
    scratch::set_env(variable, (folder_.path() / "tmp").string());
    ASSERT_EQ(parse("inst.exe -e"), RUN_UNPACK);
    const bool ok = run_unpack_mode();
    if (old) scratch::set_env(variable, saved);
    else scratch::unset_env(variable);
    ASSERT_TRUE(ok);

    const fs::path made = folder_.path() / "tmp" / "PTemp_b";
    EXPECT_EQ(fs::path(shell_state.extraction_folder), made);
    EXPECT_EQ(scratch::read_file(made / "a"), "alpha");
    EXPECT_TRUE(fs::exists(made / "b"));
    EXPECT_EQ(fs::file_size(made / "b"), 0u);
}

TEST_F(Modes, UnpackOfAMissingBundleFails) {
    ASSERT_EQ(parse("nothing.exe -e"), RUN_UNPACK);
    EXPECT_FALSE(run_unpack_mode());
}
