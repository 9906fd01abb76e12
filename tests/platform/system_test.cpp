// The system side of the seam: paths, drives, the temporary folder, the
// program's own path, message boxes in unattended runs.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "platform/dialogs.h"
#include "platform/platform.h"
#include "platform/system_extra.h"
#include "support/scratch.h"

namespace fs = std::filesystem;
using namespace platform;

TEST(Paths, SeparatorAndAbsolutePaths) {
#ifdef _WIN32
    EXPECT_EQ(path_separator(), '\\');
    EXPECT_TRUE(is_absolute_path("C:\\x"));
    EXPECT_TRUE(is_absolute_path("c:x"));
    EXPECT_TRUE(is_absolute_path("\\\\server\\share"));
    EXPECT_FALSE(is_absolute_path("dir\\x"));
    EXPECT_STREQ(system_root(), "C:\\");
#else
    EXPECT_EQ(path_separator(), '/');
    EXPECT_TRUE(is_absolute_path("/x"));
    EXPECT_FALSE(is_absolute_path("C:\\x"));
    EXPECT_FALSE(is_absolute_path("dir/x"));
    EXPECT_STREQ(system_root(), "/");
#endif
    EXPECT_FALSE(is_absolute_path(""));
}

TEST(Program, OwnPathNamesThisRunningFile) {
    char path[MAX_PATH_CHARS + 1];
    size_t n = own_program_path(path, sizeof path);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(n, std::strlen(path));
    EXPECT_TRUE(is_absolute_path(path));
    EXPECT_TRUE(fs::is_regular_file(path));
    EXPECT_NE(std::string(path).find("platform_tests"), std::string::npos);
    char tiny[4];
    EXPECT_EQ(own_program_path(tiny, sizeof tiny), 0u);  // cut paths are refused
}

TEST(TempPath, EndsWithSeparatorAndHonoursTheEnvironment) {
    scratch::Folder folder("temp");
#ifdef _WIN32
    const char* variable = "TMP";
#else
    const char* variable = "TMPDIR";
#endif
    const char* old = std::getenv(variable);
    std::string saved = old ? old : "";
    scratch::set_env(variable, folder.str());
    char temp[MAX_PATH_CHARS + 1];
    size_t n = get_temp_path(temp, sizeof temp);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(temp[n - 1], path_separator());
    EXPECT_EQ(fs::canonical(temp), folder.path());
    char tiny[3];
    EXPECT_EQ(get_temp_path(tiny, sizeof tiny), 0u);
    if (old) scratch::set_env(variable, saved);
    else scratch::unset_env(variable);
}

TEST(Drives, TheTemporaryFolderLiesOnAFixedDriveWithFreeSpace) {
    char temp[MAX_PATH_CHARS + 1];
    ASSERT_GT(get_temp_path(temp, sizeof temp), 0u);
    char root[260];
    ASSERT_TRUE(drive_root_of(temp, root, sizeof root));
    EXPECT_EQ(drive_type(root), DriveType::fixed) << root;
    uint64_t free = 0;
    EXPECT_TRUE(drive_free_bytes(root, &free));
    EXPECT_GT(free, 0u);
    char roots[32][260];
    int count = list_drive_roots(roots, 32);
    ASSERT_GT(count, 0);
    bool listed = false;
    for (int k = 0; k < count; ++k) listed = listed || std::strcmp(roots[k], root) == 0;
    EXPECT_TRUE(listed) << root;
}

TEST(Drives, AFailedQueryNeverReportsSpace) {
    uint64_t free = 12345;
#ifdef _WIN32
    EXPECT_FALSE(drive_free_bytes("Q:\\no\\such\\folder\\", &free));
#else
    EXPECT_FALSE(drive_free_bytes("/no/such/folder/", &free));
#endif
    EXPECT_EQ(free, 12345u);
    char root[260];
    EXPECT_FALSE(drive_root_of("", root, sizeof root));
}

#ifndef _WIN32
TEST(Drives, RamDisksAreNotFixed) {
    // /dev/shm is a tmpfs on every Linux system that has it.
    if (!fs::is_directory("/dev/shm")) GTEST_SKIP() << "no /dev/shm";
    char root[260];
    ASSERT_TRUE(drive_root_of("/dev/shm", root, sizeof root));
    EXPECT_EQ(drive_type(root), DriveType::ramdisk);
}
#endif

TEST(Files, TruncateCutsBackAndLinksAreRecognised) {
    scratch::Folder folder("trunc");
    scratch::write_file("f", "0123456789");
    EXPECT_TRUE(truncate_file("f", 4));
    EXPECT_EQ(scratch::read_file("f"), "0123");
    EXPECT_FALSE(truncate_file("missing", 0));
    EXPECT_FALSE(is_symbolic_link("f"));
#ifndef _WIN32
    fs::create_directory_symlink(folder.path(), "link");
    EXPECT_TRUE(is_symbolic_link("link"));
#endif
}

TEST(MessageBox, UnattendedBoxesAreLoggedAndQuestionsCancelled) {
    scratch::Folder folder("box");
    scratch::set_env("KELVARIX_UNATTENDED", "1");
    scratch::set_env("KELVARIX_MESSAGE_LOG", (folder.path() / "log.txt").string());
    EXPECT_EQ(message_box("Error 2. Can't Distribute.", "ERROR", MB_ICONERROR), IDOK);
    EXPECT_EQ(message_box("\xD3\xF1\xF2\xE0\xED\xEE\xE2\xEA\xE0 !", "\xCF\xF0\xE5\xE4", MB_OKCANCEL), IDCANCEL);
    scratch::unset_env("KELVARIX_MESSAGE_LOG");
    scratch::unset_env("KELVARIX_UNATTENDED");
    EXPECT_EQ(scratch::read_file(folder.path() / "log.txt"),
              "ERROR: Error 2. Can't Distribute.\nПред: Установка !\n");
}

TEST(MessageBox, UnattendedSwitch) {
    scratch::set_env("KELVARIX_UNATTENDED", "0");
    EXPECT_FALSE(unattended());
    scratch::set_env("KELVARIX_UNATTENDED", "yes");
    EXPECT_TRUE(unattended());
    scratch::unset_env("KELVARIX_UNATTENDED");
    EXPECT_FALSE(unattended());
}

TEST(FolderQuestion, NobodyToAskMeansNoFolder) {
    scratch::set_env("KELVARIX_UNATTENDED", "1");
    char folder[16] = "keep";
    EXPECT_FALSE(ask_for_folder("\xD3\xEA\xE0\xE6\xE8\xF2\xE5", folder, sizeof folder));
    EXPECT_STREQ(folder, "keep");
    scratch::unset_env("KELVARIX_UNATTENDED");
}
