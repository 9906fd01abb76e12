// The platform's file side as the archive reader relies on it: open modes,
// listings in the manner of FindFirstFile, attributes, folders and DOS times.
#include <gtest/gtest.h>

#include <set>

#include "archive_support.h"
#include "platform/platform.h"

using namespace archive_test;

namespace {

std::set<std::string> listing(const std::string& pattern) {
    std::set<std::string> names;
    platform::DirEntry entry;
    platform::DirList* list = platform::dir_first(pattern.c_str(), &entry);
    for (bool more = list != nullptr; more; more = platform::dir_next(list, &entry)) names.insert(entry.name);
    platform::dir_close(list);
    return names;
}

uint32_t listed_time(const fs::path& path) {
    platform::DirEntry entry{};
    platform::DirList* list = platform::dir_first(path.string().c_str(), &entry);
    platform::dir_close(list);
    return list ? entry.dos_date_time : 0;
}

}  // namespace

TEST(PlatformFiles, OpenModes) {
    Scratch s;
    std::string path = (s / "f.bin").string();
    EXPECT_EQ(platform::file_open(path.c_str(), platform::FileOpen::read), nullptr);
    EXPECT_EQ(platform::file_open(path.c_str(), platform::FileOpen::read_write_existing), nullptr);
    platform::File* f = platform::file_open(path.c_str(), platform::FileOpen::read_write_always);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(platform::file_write(f, "hello", 5), 5u);
    EXPECT_FALSE(platform::file_is_char_device(f));
    EXPECT_EQ(platform::file_size(f), 5);
    EXPECT_TRUE(platform::file_close(f));
    f = platform::file_open(path.c_str(), platform::FileOpen::read_write_append);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(platform::file_size(f), 5);  // content kept
    EXPECT_TRUE(platform::file_seek(f, 0, platform::SeekFrom::end));
    EXPECT_EQ(platform::file_write(f, "!", 1), 1u);
    EXPECT_TRUE(platform::file_close(f));
    EXPECT_EQ(read_file(s / "f.bin"), "hello!");
    f = platform::file_open(path.c_str(), platform::FileOpen::read, platform::FileShare::read_only);
    ASSERT_NE(f, nullptr);
    char buffer[16] = {};
    EXPECT_TRUE(platform::file_seek(f, 1, platform::SeekFrom::start));
    EXPECT_EQ(platform::file_read(f, buffer, sizeof buffer), 5u);
    EXPECT_STREQ(buffer, "ello!");
    EXPECT_EQ(platform::file_tell(f), 6);
    EXPECT_TRUE(platform::file_close(f));
}

TEST(PlatformFiles, ListingsLikeFindFirstFile) {
    Scratch s;
    write_file(s / "a.txt", "1");
    write_file(s / "b.dat", "22");
    fs::create_directories(s / "sub");
    const std::string folder = s.path().string();
    std::set<std::string> all = listing(folder + "\\*.*");  // either separator is accepted
    for (const char* name : {".", "..", "a.txt", "b.dat", "sub", "out"}) EXPECT_TRUE(all.count(name)) << name;
    EXPECT_EQ(listing(folder + "/*.txt"), std::set<std::string>{"a.txt"});
    EXPECT_EQ(listing(folder + "/?.DAT"), std::set<std::string>{"b.dat"});
    EXPECT_EQ(listing(folder + "/b.dat"), std::set<std::string>{"b.dat"});
    EXPECT_TRUE(listing(folder + "/missing.txt").empty());
    EXPECT_TRUE(listing(folder + "/nowhere/*.*").empty());

    platform::DirEntry entry;
    platform::DirList* list = platform::dir_first((s / "sub").string().c_str(), &entry);
    ASSERT_NE(list, nullptr);
    EXPECT_TRUE(entry.attributes & platform::ATTR_DIRECTORY);
    platform::dir_close(list);
    list = platform::dir_first((s / "b.dat").string().c_str(), &entry);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(entry.size, 2u);
    EXPECT_FALSE(entry.attributes & platform::ATTR_DIRECTORY);
    platform::dir_close(list);
}

TEST(PlatformFiles, AttributesAndFolders) {
    Scratch s;
    write_file(s / "r.txt", "r");
    std::string file = (s / "r.txt").string();
    uint32_t attributes = 0;
    ASSERT_TRUE(platform::get_attributes(file.c_str(), &attributes));
    EXPECT_FALSE(attributes & platform::ATTR_READONLY);
    EXPECT_TRUE(platform::set_attributes(file.c_str(), platform::ATTR_READONLY | platform::ATTR_ARCHIVE));
    ASSERT_TRUE(platform::get_attributes(file.c_str(), &attributes));
    EXPECT_TRUE(attributes & platform::ATTR_READONLY);
    EXPECT_TRUE(platform::set_attributes(file.c_str(), platform::ATTR_ARCHIVE));
    ASSERT_TRUE(platform::get_attributes(file.c_str(), &attributes));
    EXPECT_FALSE(attributes & platform::ATTR_READONLY);
    EXPECT_FALSE(platform::get_attributes((s / "none").string().c_str(), &attributes));

    std::string folder = (s / "d").string();
    EXPECT_EQ(platform::make_directory(folder.c_str()), platform::DirResult::ok);
    EXPECT_EQ(platform::make_directory(folder.c_str()), platform::DirResult::exists);
    EXPECT_EQ(platform::make_directory((s / "x" / "y").string().c_str()), platform::DirResult::not_found);
    ASSERT_TRUE(platform::get_attributes(folder.c_str(), &attributes));
    EXPECT_TRUE(attributes & platform::ATTR_DIRECTORY);
    EXPECT_FALSE(platform::delete_file(folder.c_str()));  // never a folder
    EXPECT_TRUE(platform::remove_directory(folder.c_str()));
    EXPECT_TRUE(platform::delete_file(file.c_str()));
}

TEST(PlatformFiles, DosTimes) {
    Scratch s;
    std::string path = (s / "t.bin").string();
    platform::File* f = platform::file_open(path.c_str(), platform::FileOpen::read_write_always);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(platform::file_write(f, "data", 4), 4u);
    EXPECT_TRUE(platform::file_set_dos_time(f, 0x2A43645C));  // 2001-02-03 12:34:56
    EXPECT_TRUE(platform::file_close(f));
    EXPECT_EQ(listed_time(s / "t.bin"), 0x2A43645Cu);

    f = platform::file_open(path.c_str(), platform::FileOpen::read_write_existing);
    ASSERT_NE(f, nullptr);
    EXPECT_FALSE(platform::file_set_dos_time(f, 0x2A03645C));  // month 0: not a date
    EXPECT_FALSE(platform::file_set_dos_time(f, 0x2A5D645C));  // 29 February 2001
    EXPECT_TRUE(platform::file_close(f));
    EXPECT_EQ(listed_time(s / "t.bin"), 0x2A43645Cu);  // unchanged
}

TEST(PlatformFiles, CurrentFolder) {
    Scratch s;
    char before[4096];
    ASSERT_GT(platform::get_current_directory(before, sizeof before), 0u);
    ASSERT_TRUE(platform::set_current_directory(s.out().string().c_str()));
    char here[4096];
    ASSERT_GT(platform::get_current_directory(here, sizeof here), 0u);
    EXPECT_EQ(fs::path(here), s.out());
    EXPECT_EQ(platform::get_current_directory(here, 3), 0u);  // does not fit
    EXPECT_FALSE(platform::set_current_directory((s / "missing").string().c_str()));
    EXPECT_TRUE(platform::set_current_directory(before));
}
