// The command-line grammar: every mode, every refusal, the file list rules,
// and path splitting.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "shell/command_line.h"
#include "shell/shell_state.h"

namespace {

struct Parsed {
    int mode;
    std::string archive;  // "(null)" when unset
    std::vector<std::string> files;
};

Parsed parse(const std::string& line) {
    reset_shell_state();
    static char tail[1024];
    std::strncpy(tail, line.c_str(), sizeof tail - 1);
    Parsed p;
    p.mode = parse_command_line(tail);
    EXPECT_EQ(p.mode, shell_state.run_mode);
    p.archive = shell_state.archive_path ? shell_state.archive_path : "(null)";
    for (int k = 0; k <= shell_state.file_last; ++k) p.files.push_back(shell_state.file_list[k]);
    return p;
}

// The platform's form of a path written with backslashes.
std::string native(std::string path) {
    for (char& c : path)
        if (c == '\\') c = platform::path_separator();
    return path;
}

}  // namespace

TEST(CommandLine, EmptyLineInstallsFromTheProgramItself) {
    Parsed p = parse("");
    EXPECT_EQ(p.mode, RUN_INSTALL);
    char own[300];
    ASSERT_GT(platform::own_program_path(own, sizeof own), 0u);
    EXPECT_EQ(p.archive, own);
    EXPECT_TRUE(p.files.empty());
}

TEST(CommandLine, HelpAloneOrWithOneCharacterAfter) {
    EXPECT_EQ(parse("-?").mode, RUN_HELP);
    EXPECT_EQ(parse("-?").archive, "(null)");
    EXPECT_EQ(parse("-? x").mode, RUN_HELP);
    EXPECT_EQ(parse("-? xy").mode, RUN_NONE);
    EXPECT_EQ(parse("-?junk").mode, RUN_HELP);  // only the first two characters count
}

TEST(CommandLine, PackWithFilesInOrder) {
    Parsed p = parse("bundle.exe -i a.rar b.rar");
    EXPECT_EQ(p.mode, RUN_PACK);
    EXPECT_EQ(p.archive, "bundle.exe");
    EXPECT_EQ(p.files, (std::vector<std::string>{"a.rar", "b.rar"}));
}

TEST(CommandLine, PackWithoutFilesHasAnEmptyList) {
    Parsed p = parse("bundle.exe -i");
    EXPECT_EQ(p.mode, RUN_PACK);
    EXPECT_TRUE(p.files.empty());
    EXPECT_TRUE(parse("bundle.exe -i   ").files.empty());
}

TEST(CommandLine, OnlyTheFirstTwoKeyCharactersCount) {
    EXPECT_EQ(parse("b -ifoo").mode, RUN_PACK);
    EXPECT_EQ(parse("b -e2").mode, RUN_UNPACK);
    EXPECT_EQ(parse("b -I a").mode, RUN_NONE);
    EXPECT_EQ(parse("bundle.exe -x").mode, RUN_NONE);
    EXPECT_EQ(parse("b -? x").mode, RUN_NONE);  // help only as the first word
}

TEST(CommandLine, FirstFileMayFollowTheKeyDirectly) {
    Parsed p = parse("b.exe -ia.rar b.rar");
    EXPECT_EQ(p.mode, RUN_PACK);
    EXPECT_EQ(p.files, (std::vector<std::string>{"a.rar", "b.rar"}));
}

TEST(CommandLine, EverySpaceStartsAnArgument) {
    EXPECT_EQ(parse("b -i a.rar  b.rar").files, (std::vector<std::string>{"a.rar", "", "b.rar"}));
    EXPECT_EQ(parse("b -i a.rar ").files, (std::vector<std::string>{"a.rar", ""}));
    EXPECT_EQ(parse("b -i a,b").files, (std::vector<std::string>{"a,b"}));  // commas do not separate
    EXPECT_EQ(parse("b -i a\tb").files, (std::vector<std::string>{"a\tb"}));  // tabs are characters
    EXPECT_EQ(parse("b   -i    a").files, (std::vector<std::string>{"a"}));  // spaces before the first file
}

TEST(CommandLine, ALoneWordIsInvalid) {
    EXPECT_EQ(parse("bundle.exe").mode, RUN_NONE);
    EXPECT_EQ(parse("x").mode, RUN_NONE);
}

TEST(CommandLine, UnpackParsesButKeepsTheFileList) {
    Parsed p = parse("inst.exe -e z");
    EXPECT_EQ(p.mode, RUN_UNPACK);
    EXPECT_EQ(p.archive, "inst.exe");
    EXPECT_EQ(p.files, (std::vector<std::string>{"z"}));
}

TEST(CommandLine, AKeyAsFirstWordLeavesTheArchiveUnset) {
    Parsed p = parse("-i -i a");
    EXPECT_EQ(p.mode, RUN_PACK);
    EXPECT_EQ(p.archive, "(null)");
    EXPECT_EQ(parse("-e -e").archive, "(null)");
}

TEST(CommandLine, LinesOf256CharactersAreRefused) {
    std::string name(255 - 5, 'n');
    EXPECT_EQ(parse(name + " -i a").mode, RUN_PACK);  // 255 characters
    Parsed p = parse(name + " -i ab");                 // 256 characters
    EXPECT_EQ(p.mode, RUN_NONE);
    EXPECT_TRUE(p.files.empty());
    EXPECT_EQ(parse(std::string(255, 'x')).mode, RUN_NONE);
}

TEST(CommandLine, MoreThanFiftyFilesAreRefused) {
    std::string line = "b -i";
    for (int k = 0; k < 50; ++k) line += " f";
    Parsed p = parse(line);
    EXPECT_EQ(p.mode, RUN_PACK);
    EXPECT_EQ(p.files.size(), 50u);
    p = parse(line + " g");
    EXPECT_EQ(p.mode, RUN_NONE);
    EXPECT_TRUE(p.files.empty());
    EXPECT_EQ(parse(line + " ").mode, RUN_NONE);  // the trailing space is a 51st, empty, name
}

TEST(SplitPath, FolderAndNameParts) {
    char out[64];
    std::string path = native("C:\\dir\\x.exe");
    EXPECT_EQ(split_path(sizeof out, path.c_str(), out, PATH_FOLDER_PART), 7u);
    EXPECT_EQ(std::string(out), native("C:\\dir"));
    EXPECT_EQ(split_path(sizeof out, path.c_str(), out, PATH_NAME_PART), 6u);
    EXPECT_STREQ(out, "x.exe");

    path = native("C:\\x.exe");
    EXPECT_EQ(split_path(sizeof out, path.c_str(), out, PATH_FOLDER_PART), 3u);
    EXPECT_STREQ(out, "C:");
}

TEST(SplitPath, ASeparatorAtTheStartDoesNotCount) {
    char out[64] = "untouched";
    std::string path = native("\\b.exe");
    EXPECT_EQ(split_path(sizeof out, path.c_str(), out, PATH_FOLDER_PART), 0u);
    EXPECT_STREQ(out, "untouched");
    EXPECT_EQ(split_path(sizeof out, path.c_str(), out, PATH_NAME_PART), path.size() + 1);
    EXPECT_EQ(std::string(out), path);
    EXPECT_EQ(split_path(sizeof out, "b.exe", out, PATH_FOLDER_PART), 0u);
    EXPECT_EQ(split_path(sizeof out, "b.exe", out, PATH_NAME_PART), 6u);
    EXPECT_STREQ(out, "b.exe");
}

TEST(SplitPath, SizeQueryAndTooSmallBuffers) {
    std::string path = native("folder\\name.bin");
    EXPECT_EQ(split_path(0, path.c_str(), nullptr, PATH_NAME_PART), 9u);
    char small[4] = "abc";
    EXPECT_EQ(split_path(sizeof small, path.c_str(), small, PATH_FOLDER_PART), 7u);
    EXPECT_STREQ(small, "abc");  // too small: left alone
}
