// Choosing the extraction folder against simulated drives, and removing a
// folder tree.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "bundle/extraction_folder.h"
#include "platform/platform.h"
#include "support/scratch.h"

namespace fs = std::filesystem;
using platform::DriveType;

namespace {

// The simulated system: a temporary folder on one drive, further drives, and
// the user's answer to the folder question.
struct FakeSystem {
    std::string temp;  // ends with a separator; empty: none
    std::string temp_root = "TEMPROOT";
    DriveType temp_type = DriveType::fixed;
    uint64_t temp_free = 1 << 20;
    bool temp_free_fails = false;
    std::vector<std::string> roots;  // other drives: all fixed with other_free bytes
    uint64_t other_free = 1 << 20;
    bool asked = false;
    std::string answer;  // empty: the user gives up
    int64_t told_no_room = -1;  // the need told before the question, -1: not told
} fake;

size_t fake_temp(char* buffer, size_t size) {
    if (fake.temp.empty() || fake.temp.size() + 1 > size) return 0;
    std::strcpy(buffer, fake.temp.c_str());
    return fake.temp.size();
}
int fake_roots(char (*roots)[260], int max) {
    int n = 0;
    for (const auto& r : fake.roots)
        if (n < max) std::strcpy(roots[n++], r.c_str());
    return n;
}
bool fake_root_of(const char*, char* root, size_t) {
    std::strcpy(root, fake.temp_root.c_str());
    return true;
}
DriveType fake_type(const char* root) { return root == fake.temp_root ? fake.temp_type : DriveType::fixed; }
bool fake_free(const char* root, uint64_t* bytes) {
    if (root == fake.temp_root) {
        if (fake.temp_free_fails) return false;
        *bytes = fake.temp_free;
    } else {
        *bytes = fake.other_free;
    }
    return true;
}
bool fake_ask(char* folder, size_t size) {
    fake.asked = true;
    if (fake.answer.empty() || fake.answer.size() + 1 > size) return false;
    std::strcpy(folder, fake.answer.c_str());
    return true;
}

void fake_no_room(uint64_t needed) { fake.told_no_room = static_cast<int64_t>(needed); }

const FolderProbe probe = {fake_temp, fake_roots, fake_root_of, fake_type, fake_free, fake_ask, fake_no_room};

std::string sep() { return std::string(1, platform::path_separator()); }

class ExtractionFolder : public ::testing::Test {
protected:
    void SetUp() override {
        fake = FakeSystem{};
        fs::create_directory("tmp");
        fake.temp = (folder_.path() / "tmp").string() + sep();
        // A bundle whose members take 100 bytes.
        scratch::write_file("inst.exe", "HEAD" + scratch::pattern(100, 3) + scratch::le32(4) + '\x01' + "m" +
                                             scratch::le32(6));
    }
    bool choose() { return choose_extraction_folder_with(probe, bundle_, 255, result_); }

    const char* bundle_ = "inst.exe";
    scratch::Folder folder_{"xfolder"};
    char result_[256] = "";
};

}  // namespace

TEST_F(ExtractionFolder, TemporaryFolderOnAFixedDriveWithRoom) {
    ASSERT_TRUE(choose());
    EXPECT_EQ(std::string(result_), fake.temp + "PTemp_a");
    EXPECT_TRUE(fs::is_directory(result_));
}

TEST_F(ExtractionFolder, TakenLettersArePassedOver) {
    fs::create_directory(fs::path("tmp") / "PTemp_a");
    fs::create_directory(fs::path("tmp") / "PTemp_b");
    ASSERT_TRUE(choose());
    EXPECT_EQ(std::string(result_), fake.temp + "PTemp_c");
}

TEST_F(ExtractionFolder, AllLettersTakenFallsBackToTheDrives) {
    for (char c = 'a'; c <= 'z'; ++c) fs::create_directory(fs::path("tmp") / (std::string("PTemp_") + c));
    fs::create_directory("d1");
    fake.roots = {(folder_.path() / "d1").string()};
    ASSERT_TRUE(choose());
    EXPECT_EQ(std::string(result_), fake.roots[0] + sep() + "PTemp_a");
}

TEST_F(ExtractionFolder, FreeSpaceEqualToTheNeedIsNotEnough) {
    fake.temp_free = 100;
    fs::create_directory("d1");
    fake.roots = {(folder_.path() / "d1").string() + sep()};
    ASSERT_TRUE(choose());
    EXPECT_EQ(std::string(result_), fake.roots[0] + "PTemp_a");
    EXPECT_TRUE(fs::is_empty("tmp"));

    fake.temp_free = 101;
    ASSERT_TRUE(choose());
    EXPECT_EQ(std::string(result_), fake.temp + "PTemp_a");
}

TEST_F(ExtractionFolder, RemovableAndRamDrivesAreNeverUsed) {
    for (DriveType type : {DriveType::removable, DriveType::ramdisk, DriveType::remote, DriveType::unknown}) {
        fake.temp_type = type;
        fake.answer = "";
        EXPECT_FALSE(choose());
        EXPECT_TRUE(fake.asked);
        EXPECT_TRUE(fs::is_empty("tmp"));
    }
}

#ifndef _WIN32
TEST_F(ExtractionFolder, TheFolderIsPrivateWhateverTheUmask) {
    for (mode_t mask : {mode_t(0), mode_t(022), mode_t(0700)}) {
        fs::current_path(folder_.path());  // a choice steps into the temporary folder
        const mode_t before = ::umask(mask);
        const bool chose = choose();
        ::umask(before);
        ASSERT_TRUE(chose) << std::oct << mask;
        EXPECT_EQ(fs::status(result_).permissions(), fs::perms::owner_all) << std::oct << mask;
        fs::remove(result_);
    }
}
#endif

TEST_F(ExtractionFolder, AFailedSpaceQueryDoesNotPass) {
    fake.temp_free_fails = true;
    EXPECT_FALSE(choose());
    EXPECT_TRUE(fs::is_empty("tmp"));
}

TEST_F(ExtractionFolder, AnEmptyBundleNeedsOneFreeByte) {
    scratch::write_file("inst.exe", "HEAD" + scratch::le32(0));
    fake.temp_free = 1;
    ASSERT_TRUE(choose());
    EXPECT_EQ(std::string(result_), fake.temp + "PTemp_a");
    fake.temp_free = 0;
    EXPECT_FALSE(choose());
}

TEST_F(ExtractionFolder, ABundleThatCannotBeSizedFails) {
    bundle_ = "missing.exe";
    EXPECT_FALSE(choose());
    EXPECT_FALSE(fake.asked);
    EXPECT_TRUE(fs::is_empty("tmp"));
}

TEST_F(ExtractionFolder, TheUsersFolderOnlyHoldsAFreshFolder) {
    // The folder named in the question keeps what it had; the extraction
    // goes into the first free PTemp_ folder made inside it.
    fake.temp.clear();
    fs::create_directories(fs::path("mine") / "PTemp_a");
    scratch::write_file(fs::path("mine") / "old.txt", "old");
    fake.answer = (folder_.path() / "mine").string();
    ASSERT_TRUE(choose());
    EXPECT_EQ(std::string(result_), fake.answer + sep() + "PTemp_b");
    EXPECT_TRUE(fs::is_directory(result_));
    EXPECT_TRUE(fs::is_empty(result_));
    EXPECT_EQ(scratch::read_file(fs::path("mine") / "old.txt"), "old");

    // A named folder in which nothing can be made is no choice.
    fake.answer = (folder_.path() / "absent").string();
    std::strcpy(result_, "previous");
    EXPECT_FALSE(choose());
    EXPECT_STREQ(result_, "previous");
    EXPECT_FALSE(fs::exists("absent"));
}

TEST_F(ExtractionFolder, NoAnswerIsAFailureAndLeavesTheBufferAlone) {
    fake.temp.clear();
    std::strcpy(result_, "previous");
    EXPECT_FALSE(choose());
    EXPECT_TRUE(fake.asked);
    EXPECT_STREQ(result_, "previous");
}

TEST_F(ExtractionFolder, TheNeedIsToldOnlyWhenNoPlaceHasRoom) {
    // The bundle's members take 100 bytes; places with room but no free
    // name do not count as "no room".
    struct Case {
        const char* what;
        uint64_t temp_free, other_free;
        bool temp_letters_taken, other_place;
        int64_t told;
    };
    const Case cases[] = {
        {"temporary folder has room", 101, 0, false, true, -1},
        {"further place has room", 100, 101, false, true, -1},
        {"room, but every name taken", 101, 0, true, false, -1},
        {"no place has room", 100, 100, false, true, 100},
        {"no further place at all", 50, 0, false, false, 100},
    };
    fs::create_directory("d1");
    for (const Case& c : cases) {
        fake = FakeSystem{};
        fake.temp = (folder_.path() / "tmp").string() + sep();
        fake.temp_free = c.temp_free;
        fake.other_free = c.other_free;
        if (c.other_place) fake.roots = {(folder_.path() / "d1").string() + sep()};
        for (char l = 'a'; c.temp_letters_taken && l <= 'z'; ++l)
            fs::create_directories(fs::path("tmp") / (std::string("PTemp_") + l));
        choose();
        EXPECT_EQ(fake.told_no_room, c.told) << c.what;
        fs::current_path(folder_.path());  // a choice steps into the temporary folder
        for (const char* place : {"tmp", "d1"}) {
            fs::remove_all(place);
            fs::create_directory(place);
        }
    }
}

TEST_F(ExtractionFolder, AFailedRunRemovesItsFolderOnlyWhenEmpty) {
    ASSERT_TRUE(choose());
    const std::string made = result_;
    remove_extraction_folder_if_empty(result_);
    EXPECT_FALSE(fs::exists(made));
    EXPECT_STREQ(result_, "");
    remove_extraction_folder_if_empty(result_);  // nothing to do

    fs::current_path(folder_.path());
    ASSERT_TRUE(choose());
    scratch::write_file(fs::path(result_) / "extracted", "x");
    const std::string kept = result_;
    remove_extraction_folder_if_empty(result_);
    EXPECT_EQ(scratch::read_file(fs::path(kept) / "extracted"), "x");
    EXPECT_EQ(std::string(result_), kept);
}

TEST_F(ExtractionFolder, ATemporaryPathTooLongToRecordIsSkipped) {
    std::string deep = folder_.str();
    while (deep.size() < 250) {
        deep += sep() + "dddddddddd";
        fs::create_directory(deep);
    }
    fake.temp = deep + sep();
    fs::create_directory("chosen");
    fake.answer = (folder_.path() / "chosen").string();
    ASSERT_TRUE(choose());
    EXPECT_EQ(std::string(result_), fake.answer + sep() + "PTemp_a");
    EXPECT_TRUE(fs::is_empty(deep));  // no folder was left behind there
}

// ---------------------------------------------------------------- removal

namespace {

class RemoveTree : public ::testing::Test {
protected:
    scratch::Folder folder_{"rmtree"};
};

}  // namespace

TEST_F(RemoveTree, NestedFoldersAreEmptiedBottomUpAndTheTopStays) {
    fs::create_directories(fs::path("top") / "a" / "b" / "c");
    scratch::write_file(fs::path("top") / "f", "1");
    scratch::write_file(fs::path("top") / "a" / "g", "2");
    scratch::write_file(fs::path("top") / "a" / "b" / "c" / "h", "3");
    fs::create_directories(fs::path("top") / ".hidden" / "x");
    scratch::write_file(fs::path("top") / ".dotfile", "4");
    const std::string top = (folder_.path() / "top").string();
    EXPECT_TRUE(remove_folder_tree(top.c_str()));
    EXPECT_TRUE(fs::is_directory(top));
    EXPECT_TRUE(fs::is_empty(top));
    EXPECT_TRUE(remove_folder_tree((top + sep()).c_str()));  // a trailing separator is fine
}

TEST_F(RemoveTree, ReadOnlyFilesGoToo) {
    fs::create_directory("top");
    const fs::path file = fs::path("top") / "ro";
    scratch::write_file(file, "r");
    ASSERT_TRUE(platform::set_attributes(file.string().c_str(), platform::ATTR_READONLY));
    const std::string top = (folder_.path() / "top").string();
    EXPECT_TRUE(remove_folder_tree(top.c_str()));
    EXPECT_TRUE(fs::is_empty(top));
}

TEST_F(RemoveTree, EmptyPathDeletesNothingAndAMissingFolderFails) {
    scratch::write_file("keep", "k");
    EXPECT_TRUE(remove_folder_tree(""));
    EXPECT_TRUE(fs::exists("keep"));
    EXPECT_FALSE(remove_folder_tree((folder_.path() / "missing").string().c_str()));
}

#ifndef _WIN32
TEST_F(RemoveTree, LinksAreRemovedWithoutEnteringThem) {
    fs::create_directory("outside");
    scratch::write_file(fs::path("outside") / "precious", "p");
    fs::create_directory("top");
    fs::create_directory_symlink(folder_.path() / "outside", fs::path("top") / "link");
    const std::string top = (folder_.path() / "top").string();
    EXPECT_TRUE(remove_folder_tree(top.c_str()));
    EXPECT_TRUE(fs::is_empty(top));
    EXPECT_EQ(scratch::read_file(fs::path("outside") / "precious"), "p");
}
#endif
