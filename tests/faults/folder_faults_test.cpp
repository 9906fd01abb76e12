// Faults while the extraction folder is chosen: a temporary folder in which no
// folder can be made, a temporary folder the system cannot name, and nowhere
// writable at all. The choice moves on to the fixed drives and then to the
// user, and never reports a folder that was not made.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "archive/archive_support.h"
#include "bundle/extraction_folder.h"
#include "platform/fault_hooks.h"
#include "platform/platform.h"

using namespace archive_test;

namespace {

// The folders the fake system reports; filled per test.
struct FakeSystem {
    std::string temp;         // ends with a separator
    std::string drive_root;   // ends with a separator
    bool temp_query_fails = false;
    std::string refused_prefix;  // folders made below this fail
    bool refuse_everything = false;
    int asked = 0;
};
FakeSystem fake;

size_t fake_temp_path(char* buffer, size_t size) {
    if (fake.temp_query_fails || fake.temp.size() + 1 > size) return 0;
    std::memcpy(buffer, fake.temp.c_str(), fake.temp.size() + 1);
    return fake.temp.size();
}
int fake_drive_roots(char (*roots)[260], int max) {
    if (max < 1) return 0;
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
bool fake_ask(char*, size_t) {
    ++fake.asked;
    return false;
}
const FolderProbe fake_probe = {fake_temp_path, fake_drive_roots, fake_root_of, fake_type, fake_free_bytes, fake_ask};

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
