// The platform's file side as the archive reader relies on it: open modes,
// listings in the manner of FindFirstFile, attributes, folders, DOS times,
// and output below a destination that never follows a link.
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

// Small transfers go through the file's buffer, large ones straight to the
// system; reads, writes, seeks and positions must agree whichever way.
TEST(PlatformFiles, BufferedAndDirectTransfersAgree) {
    Scratch s;
    std::string path = (s / "mixed.bin").string();
    std::string big(600 * 1024, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
    platform::File* f = platform::file_open(path.c_str(), platform::FileOpen::read_write_always);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(platform::file_write(f, "head", 4), 4u);
    EXPECT_EQ(platform::file_write(f, big.data(), big.size()), big.size());
    EXPECT_EQ(platform::file_write(f, "tail", 4), 4u);
    EXPECT_EQ(platform::file_tell(f), static_cast<int64_t>(big.size() + 8));
    EXPECT_EQ(platform::file_size(f), static_cast<int64_t>(big.size() + 8));
    // A small read fills the read-ahead; a write after it lands where the
    // read stopped, not behind the bytes read ahead.
    ASSERT_TRUE(platform::file_seek(f, 0, platform::SeekFrom::start));
    char head[4];
    EXPECT_EQ(platform::file_read(f, head, 2), 2u);
    EXPECT_EQ(platform::file_write(f, "AD", 2), 2u);
    EXPECT_EQ(platform::file_tell(f), 4);
    // Seeks inside and outside what was read ahead, forwards and back.
    ASSERT_TRUE(platform::file_seek(f, 0, platform::SeekFrom::start));
    EXPECT_EQ(platform::file_read(f, head, 4), 4u);
    EXPECT_EQ(std::string(head, 4), "heAD");
    ASSERT_TRUE(platform::file_seek(f, 100, platform::SeekFrom::current));
    EXPECT_EQ(platform::file_tell(f), 104);
    EXPECT_EQ(platform::file_read(f, head, 1), 1u);
    EXPECT_EQ(head[0], big[100]);
    ASSERT_TRUE(platform::file_seek(f, -4, platform::SeekFrom::end));
    EXPECT_EQ(platform::file_read(f, head, 4), 4u);
    EXPECT_EQ(std::string(head, 4), "tail");
    EXPECT_EQ(platform::file_read(f, head, 4), 0u);
    EXPECT_FALSE(platform::file_seek(f, -1, platform::SeekFrom::start));
    ASSERT_TRUE(platform::file_seek(f, 4, platform::SeekFrom::start));
    std::string back(big.size(), '\0');
    EXPECT_EQ(platform::file_read(f, back.data(), back.size()), back.size());
    EXPECT_TRUE(back == big);
    EXPECT_FALSE(platform::file_has_error(f));
    EXPECT_TRUE(platform::file_close(f));
    EXPECT_EQ(read_file(s / "mixed.bin"), "heAD" + big + "tail");
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

// Links planted in a destination: to a file outside, dangling, to a folder
// outside (as the last component, as a parent, deeper down). Whatever is
// asked below the destination, each such name is refused as a link and
// nothing outside is created, written, chmodded or removed; plain names work.
TEST(PlatformFiles, OutputBelowADestinationNeverFollowsALink) {
    Scratch s;
    const fs::path out = s.out(), outside = s / "outside";
    fs::create_directories(outside);
    fs::create_directories(out / "real");
    write_file(outside / "victim", "keep");
    write_file(out / "real" / "old", "old");
    if (!make_link(outside / "victim", out / "file_link") || !make_link(outside / "new", out / "dangling") ||
        !make_link(outside, out / "dir_link") || !make_link(outside, out / "real" / "deep_link"))
        GTEST_SKIP() << "this system does not let the test make symbolic links";
    const std::vector<std::string> before = snapshot(outside);
    const std::string base = out.string();
    using R = platform::BelowResult;
    enum Op { create, folder };
    const struct {
        Op op;
        const char* relative;
        R expected;
    } cases[] = {
        {create, "file_link", R::link},
        {create, "dangling", R::link},
        {create, "dir_link/victim", R::link},
        {create, "dir_link/made/f", R::link},
        {create, "real/deep_link/new", R::link},
        {create, "real/../../outside/victim", R::refused},
        {create, "real/.. /x", R::refused},
        {folder, "dir_link", R::link},
        {folder, "dir_link/made", R::link},
        {folder, "real/deep_link/made/deeper", R::link},
        {create, "real/old", R::replaced},
        {create, "./real//new/f", R::created},
        {folder, "real/new", R::exists},
        {folder, "real/made/deeper", R::created},
    };
    for (const auto& c : cases) {
        R result = R::other;
        if (c.op == create) {
            platform::File* f = platform::file_create_below(base.c_str(), c.relative, true, &result);
            EXPECT_EQ(f != nullptr, result == R::created || result == R::replaced) << c.relative;
            if (f) {
                EXPECT_EQ(platform::file_write(f, "new", 3), 3u);
                EXPECT_TRUE(platform::file_set_attributes(f, platform::ATTR_READONLY));
            }
            EXPECT_TRUE(platform::file_close(f));
        } else {
            result = platform::make_directory_below(base.c_str(), c.relative, true, platform::ATTR_DIRECTORY);
        }
        EXPECT_EQ(static_cast<int>(result), static_cast<int>(c.expected)) << c.relative;
    }
    EXPECT_FALSE(platform::file_create_below(base.c_str(), (outside / "victim").string().c_str(), true, nullptr));
    EXPECT_FALSE(platform::delete_file_below(base.c_str(), "dir_link/victim"));
    EXPECT_EQ(snapshot(outside), before);

    // Files made or emptied below it are written and take attributes through
    // the open file; a link as the last component is removed, not its target.
    EXPECT_EQ(read_file(out / "real" / "old"), "new");
    EXPECT_EQ(read_file(out / "real" / "new" / "f"), "new");
    uint32_t attributes = 0;
    ASSERT_TRUE(platform::get_attributes((out / "real" / "old").string().c_str(), &attributes));
    EXPECT_TRUE(attributes & platform::ATTR_READONLY);
    EXPECT_TRUE(fs::is_directory(out / "real" / "made" / "deeper"));
    EXPECT_TRUE(platform::delete_file_below(base.c_str(), "file_link"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(out / "file_link")));
    EXPECT_FALSE(platform::delete_file_below(base.c_str(), "real/made"));  // never a folder
    EXPECT_EQ(snapshot(outside), before);
}

// A destination removed and made again between two files is written afresh,
// not into the removed folder.
TEST(PlatformFiles, OutputBelowADestinationMadeAgain) {
    Scratch s;
    std::string base = fs::absolute(s / "dest").string();
    for (int round = 0; round < 2; ++round) {
        fs::create_directories(fs::path(base) / "sub");
        platform::BelowResult result = platform::BelowResult::other;
        platform::File* f = platform::file_create_below(base.c_str(), "sub/a.txt", true, &result);
        ASSERT_NE(f, nullptr) << round;
        EXPECT_EQ(result, platform::BelowResult::created);
        EXPECT_EQ(platform::file_write(f, "x", 1), 1u);
        EXPECT_TRUE(platform::file_close(f));
        EXPECT_EQ(read_file(fs::path(base) / "sub" / "a.txt"), "x");
        fs::remove_all(base);
    }
}
