// Masks, the wildcard matcher, archive name completion and search.
#include <gtest/gtest.h>

#include <cstring>

#include "archive/archive_state.h"
#include "archive/names.h"
#include "archive_support.h"
#include "platform/platform.h"

using namespace archive_test;

TEST(WildcardMatch, DosRules) {
    EXPECT_TRUE(wildcard_match("*.*", "README"));
    EXPECT_TRUE(wildcard_match("*", "any.thing"));
    EXPECT_FALSE(wildcard_match("*.txt", "README"));
    EXPECT_FALSE(wildcard_match("*.txt", "a.b.txt"));
    EXPECT_FALSE(wildcard_match("*.gz", "x.tar.gz"));
    EXPECT_TRUE(wildcard_match("*.", "README"));
    EXPECT_TRUE(wildcard_match("*.", "abc."));
    EXPECT_FALSE(wildcard_match("*.", "a.b"));
    EXPECT_TRUE(wildcard_match("a*b.txt", "axx.txt"));  // like a*.txt
    EXPECT_TRUE(wildcard_match("?", ""));
    EXPECT_FALSE(wildcard_match("a?.txt", "a.txt"));
    EXPECT_TRUE(wildcard_match("abc?", "abc"));
    EXPECT_TRUE(wildcard_match("SETUP.EXE", "setup.exe"));
    EXPECT_TRUE(wildcard_match("dir\\*.rar", "other/x.rar"));  // folders play no part
    EXPECT_FALSE(wildcard_match("\xC0\xC1.txt", "\xE0\xE1.txt"));  // Cyrillic case is not folded
}

namespace {

bool selected(const char* name) {
    std::strcpy(archive_state.file_name, name);
    return is_entry_selected();
}

}  // namespace

TEST(NameMasks, SelectionByFolderAndName) {
    reset_archive_state();
    release_name_masks();
    add_name_mask("*.*");
    EXPECT_TRUE(selected("sub\\deeper\\x.dat"));
    release_name_masks();

    add_name_mask("sub\\x.dat");
    EXPECT_TRUE(selected("sub\\x.dat"));
    EXPECT_TRUE(selected("SUB\\X.DAT"));
    EXPECT_FALSE(selected("other\\x.dat"));
    EXPECT_FALSE(selected("sub\\deeper\\x.dat"));
    release_name_masks();

    add_name_mask("sub\\*.dat");
    EXPECT_TRUE(selected("sub\\deeper\\x.dat"));
    EXPECT_FALSE(selected("x.dat"));
    release_name_masks();
}

TEST(NameMasks, AllNamesDoneOnlyForPlainNames) {
    release_name_masks();
    add_name_mask("a");
    add_name_mask("b");
    EXPECT_FALSE(all_names_done());
    EXPECT_TRUE(all_names_done());
    release_name_masks();
    add_name_mask("*.*");
    for (int i = 0; i < 5; ++i) EXPECT_FALSE(all_names_done());
    release_name_masks();
}

TEST(PathHelpers, SetExtensionAndNamePart) {
    char path[260] = "C:\\my.dir\\arch";
    EXPECT_TRUE(set_extension(path, "rar"));
    EXPECT_STREQ(path, "C:\\my.rar");
    char plain[260] = "setup";
    EXPECT_TRUE(set_extension(plain, "exe"));
    EXPECT_STREQ(plain, "setup.exe");
    char full[260];
    std::memset(full, 'x', 258);
    full[258] = '\0';
    EXPECT_FALSE(set_extension(full, "rar"));  // would not fit: left as it is
    EXPECT_EQ(std::strlen(full), 258u);
    EXPECT_STREQ(name_part("a/b\\c.txt"), "c.txt");
    EXPECT_STREQ(name_part("C:x.txt"), "x.txt");
}

TEST(ArchiveName, CompletionAddsRarOnlyWhenNeeded) {
    Scratch s;
    reset_archive_state();
    std::string base = (s / "setup").string();
    std::strcpy(archive_state.volume_name, base.c_str());
    EXPECT_TRUE(complete_archive_name());
    EXPECT_EQ(std::string(archive_state.volume_name), base + ".rar");

    std::string exe = (s / "setup.exe").string();
    std::strcpy(archive_state.volume_name, exe.c_str());
    EXPECT_TRUE(complete_archive_name());
    EXPECT_EQ(std::string(archive_state.volume_name), exe);

    fs::create_directories(s / "my.dir");
    std::string dotted = (s / "my.dir" / "arch").string();
    std::strcpy(archive_state.volume_name, dotted.c_str());
    EXPECT_TRUE(complete_archive_name());
    EXPECT_EQ(std::string(archive_state.volume_name), dotted + ".rar");

    std::memset(archive_state.volume_name, 'n', 257);
    archive_state.volume_name[257] = '\0';
    EXPECT_FALSE(complete_archive_name());  // ".rar" would not fit

    std::strcpy(archive_state.volume_name, "c:\\x.rar");
    complete_archive_name();
    EXPECT_EQ(archive_state.drive_index, 2);
}

TEST(ArchiveName, FindArchivesCollectsMatchingFilesOfOneFolder) {
    Scratch s;
    write_file(s / "a.rar", "1");
    write_file(s / "b.rar", "2");
    write_file(s / "c.txt", "3");
    fs::create_directories(s / "d.rar");
    fs::create_directories(s / "sub");
    write_file(s / "sub" / "e.rar", "4");
    reset_archive_state();
    std::string mask = (s / "*.rar").string();
    std::strcpy(archive_state.volume_name, mask.c_str());
    find_archives();
    EXPECT_EQ(archive_list.collected, 2);
    std::vector<std::string> found;
    while (next_archive()) found.push_back(fs::path(archive_state.volume_name).filename().string());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::string>{"a.rar", "b.rar"}));
    release_archive_list();

    // A name part that names a folder finds nothing.
    std::string folder = (s / "sub").string();
    std::strcpy(archive_state.volume_name, folder.c_str());
    find_archives();
    EXPECT_EQ(archive_list.collected, 0);
    release_archive_list();
}
