// Faults while the extraction folder is chosen: a temporary folder in which no
// folder can be made, a temporary folder the system cannot name, and nowhere
// writable at all. The choice moves on to the fixed drives and then to the
// user, and never reports a folder that was not made. A folder the user names
// keeps everything it held through Cancel and a failed launch.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "archive/archive_support.h"
#include "bundle/extraction_folder.h"
#include "platform/fault_hooks.h"
#include "platform/platform.h"
#include "setup/setup_script.h"
#include "shell/entry.h"
#include "shell/shell_state.h"

using namespace archive_test;

namespace {

// The folders the fake system reports; filled per test.
struct FakeSystem {
    std::string temp;         // ends with a separator
    std::string drive_root;   // ends with a separator
    bool temp_query_fails = false;
    std::string refused_prefix;  // folders made below this fail
    bool refuse_everything = false;
    bool no_drives = false;
    std::string answer;  // the folder the user names; empty: none
    int asked = 0;
};
FakeSystem fake;

size_t fake_temp_path(char* buffer, size_t size) {
    if (fake.temp_query_fails || fake.temp.size() + 1 > size) return 0;
    std::memcpy(buffer, fake.temp.c_str(), fake.temp.size() + 1);
    return fake.temp.size();
}
int fake_drive_roots(char (*roots)[260], int max) {
    if (max < 1 || fake.no_drives) return 0;
    std::strcpy(roots[0], fake.drive_root.c_str());
    return 1;
}
bool fake_root_of(const char*, char* root, size_t size) {
    if (fake.drive_root.size() + 1 > size) return false;
    std::strcpy(root, fake.drive_root.c_str());
    return true;
}
platform::DriveType fake_type(const char*) { return platform::DriveType::fixed; }
bool fake_free_bytes(const char*, uint64_t* bytes) {
    *bytes = uint64_t(1) << 40;
    return true;
}
bool fake_ask(char* folder, size_t size) {
    ++fake.asked;
    if (fake.answer.empty() || fake.answer.size() + 1 > size) return false;
    std::strcpy(folder, fake.answer.c_str());
    return true;
}
const FolderProbe fake_probe = {fake_temp_path, fake_drive_roots, fake_root_of, fake_type, fake_free_bytes, fake_ask,
                                 nullptr};

bool refuse_folder(const char* path) {
    if (fake.refuse_everything) return true;
    return !fake.refused_prefix.empty() && std::strncmp(path, fake.refused_prefix.c_str(), fake.refused_prefix.size()) == 0;
}

std::string with_separator(const fs::path& p) { return p.string() + platform::path_separator(); }

// Every folder named PTemp_? below root.
std::vector<std::string> ptemp_folders(const fs::path& root) {
    std::vector<std::string> out;
    for (auto& e : fs::recursive_directory_iterator(root))
        if (e.is_directory() && e.path().filename().string().rfind("PTemp_", 0) == 0)
            out.push_back(fs::relative(e.path(), root).generic_string());
    return out;
}

class FolderFaults : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(s.path() / "tmp");
        fs::create_directories(s.path() / "drive");
        // A bundle with an empty directory: its members take no room.
        write_bytes(s.path() / "setup.exe", std::string("MZ\0\0\0\0", 6));
        bundle_path = (s.path() / "setup.exe").string();
        fake = FakeSystem{};
        fake.temp = with_separator(s.path() / "tmp");
        fake.drive_root = with_separator(s.path() / "drive");
        platform::reset_fault_hooks();
        platform::fault_hooks.make_directory = refuse_folder;
        fs::current_path(s.path());
    }
    void TearDown() override { platform::reset_fault_hooks(); }
    Scratch s;
    std::string bundle_path;
    char folder[EXTRACTION_PATH_CHARS + 1] = {};
};

}  // namespace

TEST_F(FolderFaults, TemporaryFolderThatRefusesNewFoldersFallsBackToAFixedDrive) {
    fake.refused_prefix = fake.temp;
    ASSERT_TRUE(choose_extraction_folder_with(fake_probe, bundle_path.c_str(), EXTRACTION_PATH_CHARS, folder));
    EXPECT_EQ(std::string(folder), fake.drive_root + "PTemp_a");
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(ptemp_folders(s.path()), std::vector<std::string>{"drive/PTemp_a"});
    EXPECT_EQ(fake.asked, 0);
}

TEST_F(FolderFaults, TemporaryFolderTheSystemCannotNameFallsBackToAFixedDrive) {
    fake.temp_query_fails = true;
    ASSERT_TRUE(choose_extraction_folder_with(fake_probe, bundle_path.c_str(), EXTRACTION_PATH_CHARS, folder));
    EXPECT_EQ(std::string(folder), fake.drive_root + "PTemp_a");
    EXPECT_TRUE(fs::is_directory(folder));
}

TEST_F(FolderFaults, NowhereWritableAndNoFolderConfirmedIsAFailureWithNothingMade) {
    fake.refuse_everything = true;
    EXPECT_FALSE(choose_extraction_folder_with(fake_probe, bundle_path.c_str(), EXTRACTION_PATH_CHARS, folder));
    EXPECT_EQ(fake.asked, 1);
    EXPECT_TRUE(ptemp_folders(s.path()).empty());
}

// ---------------------------------------------------------------- the user's folder

namespace {

// Nowhere to go but the folder the user names, which already holds files.
class UsersFolder : public FolderFaults {
protected:
    void SetUp() override {
        FolderFaults::SetUp();
        fake.temp_query_fails = true;
        fake.no_drives = true;
        users = s.path() / "mine";
        fs::create_directories(users / "docs");
        write_bytes(users / "old.txt", "old");
        write_bytes(users / "docs" / "letter.txt", "letter");
        fake.answer = users.string();
    }
    // Chooses the folder, as install mode does, and half fills it; false
    // when the choice is not the fresh folder inside the user's.
    bool choose_and_extract() {
        if (!choose_extraction_folder_with(fake_probe, bundle_path.c_str(), EXTRACTION_PATH_CHARS,
                                           shell_state.extraction_folder) ||
            fs::path(shell_state.extraction_folder) != users / "PTemp_a")
            return false;
        fs::current_path(shell_state.extraction_folder);
        write_bytes(fs::path(shell_state.extraction_folder) / "setup.spt", "[Values]\r\n");
        return true;
    }
    void expect_only_the_fresh_folder_gone() {
        EXPECT_FALSE(fs::exists(users / "PTemp_a"));
        EXPECT_EQ(read_bytes(users / "old.txt"), "old");
        EXPECT_EQ(read_bytes(users / "docs" / "letter.txt"), "letter");
    }
    fs::path users;
};

}  // namespace

TEST_F(UsersFolder, CancelRemovesOnlyTheFreshFolder) {
    // On Windows the child process sets the scratch folder up again, which
    // it cannot while this process is in it.
    fs::current_path(fs::temp_directory_path());
    EXPECT_EXIT(
        {
            if (!choose_and_extract()) std::exit(3);
            cancel_installation();
        },
        ::testing::ExitedWithCode(0), "");
    expect_only_the_fresh_folder_gone();
}

TEST_F(UsersFolder, AFailedLaunchRemovesOnlyTheFreshFolder) {
    ASSERT_TRUE(choose_and_extract());
    ASSERT_FALSE(run_setup_script("setup.spt", SetupPaths{"", "", shell_state.extraction_folder}));
    setup_failure_cleanup(shell_state.extraction_folder);
    expect_only_the_fresh_folder_gone();
}
