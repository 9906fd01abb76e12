// Volume chains: naming, reading across volumes, sibling folders, and what
// happens when the next volume is missing or broken.
#include <gtest/gtest.h>

#include <cstring>

#include "archive/archive_state.h"
#include "archive/driver.h"
#include "archive/headers.h"
#include "archive/packed_io.h"
#include "archive/volumes.h"
#include "archive_support.h"
#include "archive_writer.h"
#include "platform/platform.h"
#include "unpack/decoder.h"

using namespace archive_test;

namespace {

// x.rar, x.r00, x.r01 ... for volume i.
std::string volume_file(const std::string& stem, size_t i) {
    if (i == 0) return stem + ".rar";
    char ext[16];  // room for any unsigned, so no truncation warning
    std::snprintf(ext, sizeof ext, ".r%02u", static_cast<unsigned>(i - 1));
    return stem + ext;
}

// A stored entry split into parts of the given sizes, one part per volume;
// after_last is added behind the last part.
std::vector<BlockArchive> split_entry(const std::string& name, const Bytes& data, const std::vector<size_t>& parts,
                                      uint16_t main_flags = 0x01) {
    std::vector<BlockArchive> volumes;
    size_t at = 0;
    for (size_t i = 0; i < parts.size(); ++i) {
        BlockArchive v;
        v.marker().main_header(main_flags);
        Entry e{.name = name, .data = data.substr(at, parts[i])};
        e.flags = static_cast<uint16_t>(0x8000 | (i > 0 ? 0x01 : 0) | (i + 1 < parts.size() ? 0x02 : 0));
        e.unpacked_size = static_cast<int64_t>(data.size());
        e.crc = crc32_of(data);
        v.file(e);
        volumes.push_back(v);
        at += parts[i];
    }
    return volumes;
}

void save_volumes(const std::vector<BlockArchive>& volumes, const fs::path& folder, const std::string& stem) {
    for (size_t i = 0; i < volumes.size(); ++i) volumes[i].save(folder / volume_file(stem, i));
}

std::string utf8_of_cp1251(const char* text) {
    std::string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if (*p < 0x80) {
            out += static_cast<char>(*p);
            continue;
        }
        // Cyrillic letters 0xC0..0xFF are U+0410..U+044F.
        unsigned cp = 0x410u + (*p - 0xC0u);
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return out;
}

const char* const MISSING = "\xCD\xE5 \xEC\xEE\xE3\xF3 \xED\xE0\xE9\xF2\xE8 \xF1\xEB\xE5\xE4\xF3\xFE\xF9\xE8\xE9 "
                            "\xF4\xE0\xE9\xEB \xE0\xF0\xF5\xE8\xE2\xE0 !";
const char* const BAD = "\xCF\xEB\xEE\xF5\xEE\xE9 \xE0\xF0\xF5\xE8\xE2 !";

}  // namespace

TEST(Volumes, StoredEntryAcrossThreeVolumesComesOutWhole) {
    Scratch s;
    Bytes data = pattern(70000, 1);
    save_volumes(split_entry("big.bin", data, {30000, 30000, 10000}), s.path(), "x");
    EXPECT_EQ(s.extract(s / "x.rar"), SUCCESS);
    EXPECT_EQ(read_file(s.out() / "big.bin"), data);
    EXPECT_EQ(s.messages(), "");
}

TEST(Volumes, ReadsAcrossTheBoundaryInOneCallAndSwitchesAtAnExactEnd) {
    Scratch s;
    Bytes data = pattern(300, 2);
    save_volumes(split_entry("f", data, {100, 100, 100}), s.path(), "v");
    reset_archive_state();
    std::strcpy(archive_state.volume_name, (s / "v.rar").string().c_str());
    archive_state.archive_file = platform::file_open(archive_state.volume_name, platform::FileOpen::read);
    ASSERT_EQ(identify_archive(), 1);
    skip_rest_of_main_header();
    ASSERT_GT(fetch_block(BLOCK_FILE, false), 0);
    EXPECT_TRUE(platform::file_seek(archive_state.archive_file,
                                    archive_state.next_block - archive_state.file_header.packed_size,
                                    platform::SeekFrom::start));
    archive_state.packed_left = archive_state.file_header.packed_size;
    archive_state.packed_source = archive_state.archive_file;
    archive_state.continues_in_next = true;

    uint8_t buffer[300];
    EXPECT_EQ(read_packed_data(buffer, 150), 150);  // 100 from the first volume, 50 from the second
    EXPECT_EQ(Bytes(reinterpret_cast<char*>(buffer), 150), data.substr(0, 150));
    EXPECT_EQ(read_packed_data(buffer, 50), 50);  // ends exactly at the second part's end
    EXPECT_EQ(fs::path(archive_state.volume_name).filename().string(), "v.r01");  // switched already
    EXPECT_EQ(read_packed_data(buffer, 200), 100);  // the last part holds only 100
    EXPECT_EQ(Bytes(reinterpret_cast<char*>(buffer), 100), data.substr(200));
    EXPECT_EQ(read_packed_data(buffer, 10), 0);
    platform::file_close(archive_state.archive_file);
    archive_state.archive_file = nullptr;
}

TEST(Volumes, MissingVolumeOnFixedDiskGivesOneMessageAndWarning) {
    Scratch s;
    Bytes data = pattern(5000, 3);
    save_volumes(split_entry("gone.bin", data, {2000, 2000, 1000}), s.path(), "m");
    fs::remove(s / "m.r00");
    EXPECT_EQ(s.extract(s / "m.rar"), WARNING);
    EXPECT_FALSE(fs::exists(s.out() / "gone.bin"));  // nothing half-written remains
    std::string log = s.messages();
    EXPECT_NE(log.find(utf8_of_cp1251(MISSING)), std::string::npos) << log;
    EXPECT_NE(log.find("m.r00"), std::string::npos) << log;
    EXPECT_EQ(log.find(utf8_of_cp1251(MISSING)), log.rfind(utf8_of_cp1251(MISSING)));  // only once
}

TEST(Volumes, NextVolumeFoundInSiblingFolder) {
    Scratch s;
    Bytes data = pattern(9000, 4);
    auto volumes = split_entry("disk.bin", data, {4000, 3000, 2000});
    fs::create_directories(s / "disk1");
    fs::create_directories(s / "disk2");
    fs::create_directories(s / "disk3");
    volumes[0].save(s / "disk1" / "d.rar");
    volumes[1].save(s / "disk2" / "d.r00");
    volumes[2].save(s / "disk3" / "d.r01");
    fs::path before = fs::current_path();
    EXPECT_EQ(s.extract(s / "disk1" / "d.rar"), SUCCESS);
    EXPECT_EQ(read_file(s.out() / "disk.bin"), data);
    EXPECT_EQ(fs::current_path(), before);
    EXPECT_EQ(s.messages(), "");
}

TEST(Volumes, NextVolumeThatIsNoArchiveOrHoldsNoFileHeaderFailsTheSwitch) {
    Scratch s;
    Bytes data = pattern(3000, 5);
    auto volumes = split_entry("part.bin", data, {1000, 1000, 1000});
    save_volumes(volumes, s.path(), "b");
    write_file(s / "b.r00", "this is not an archive at all");
    EXPECT_EQ(s.extract(s / "b.rar"), WARNING);
    EXPECT_FALSE(fs::exists(s.out() / "part.bin"));
    EXPECT_NE(s.messages().find(utf8_of_cp1251(BAD)), std::string::npos);

    Scratch t;
    save_volumes(volumes, t.path(), "h");
    BlockArchive empty;
    empty.marker().main_header(0x01);
    empty.save(t / "h.r00");
    EXPECT_EQ(t.extract(t / "h.rar"), WARNING);
    EXPECT_FALSE(fs::exists(t.out() / "part.bin"));
    EXPECT_NE(t.messages().find(utf8_of_cp1251(BAD)), std::string::npos);
}

TEST(Volumes, WalkStartedAtSecondVolumePassesOverTheContinuedPart) {
    Scratch s;
    Bytes first = pattern(3000, 6), second = pattern(500, 7);
    auto volumes = split_entry("first.bin", first, {2000, 1000});
    volumes[1].file({.name = "second.bin", .data = second});
    save_volumes(volumes, s.path(), "w");
    EXPECT_EQ(s.extract(s / "w.r00"), SUCCESS);
    EXPECT_FALSE(fs::exists(s.out() / "first.bin"));
    EXPECT_EQ(read_file(s.out() / "second.bin"), second);
}

TEST(Volumes, SolidSetStartedLaterStartsOverFromItsFirstVolume) {
    Scratch s;
    Bytes first = pattern(3000, 8), second = pattern(400, 9);
    auto volumes = split_entry("first.bin", first, {2000, 1000}, 0x09);
    volumes[1].file({.name = "second.bin", .data = second});
    save_volumes(volumes, s.path(), "solid");
    EXPECT_EQ(s.extract(s / "solid.r00"), SUCCESS);
    EXPECT_EQ(read_file(s.out() / "first.bin"), first);
    EXPECT_EQ(read_file(s.out() / "second.bin"), second);
}

TEST(VolumesDeathTest, SolidSetWithoutFirstVolumeEndsWithFatalError) {
    Scratch s;
    auto volumes = split_entry("first.bin", pattern(3000, 8), {2000, 1000}, 0x09);
    volumes[1].save(s / "lone.rar");  // named .rar, begins with a continued entry
    std::string archive = (s / "lone.rar").string(), out = s.out().string();
    EXPECT_EXIT(extract_archive(archive.c_str(), out.c_str()), ::testing::ExitedWithCode(FATAL_ERROR), "");
}

TEST(VolumesDeathTest, CancelledDiskPromptEndsWithUserBreak) {
    Scratch s;  // unattended: the prompt is answered with Cancel
    reset_archive_state();
    std::strcpy(archive_state.volume_name, "A:\\setup.r00");
    EXPECT_EXIT(ask_for_next_disk(), ::testing::ExitedWithCode(USER_BREAK), "");
}
