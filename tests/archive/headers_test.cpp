// Recognising archives (also inside other files) and walking their headers,
// well-formed and hostile.
#include <gtest/gtest.h>

#include <cstring>

#include "archive/archive_state.h"
#include "archive/headers.h"
#include "archive/volumes.h"
#include "archive_support.h"
#include "archive_writer.h"
#include "platform/platform.h"

using namespace archive_test;

namespace {

// Opens path as the current archive; the caller closes it with close_archive.
void open_archive(const fs::path& path) {
    reset_archive_state();
    archive_state.archive_file = platform::file_open(path.string().c_str(), platform::FileOpen::read);
    ASSERT_NE(archive_state.archive_file, nullptr);
}
void close_archive() {
    platform::file_close(archive_state.archive_file);
    archive_state.archive_file = nullptr;
}

// Identifies path; on success steps to the first block and returns the name of
// the first file header ("" when there is none), else "<none>".
std::string first_entry(const fs::path& path) {
    open_archive(path);
    std::string name = "<none>";
    if (identify_archive()) {
        skip_rest_of_main_header();
        name = fetch_block(BLOCK_FILE, false) > 0 ? archive_state.file_name : "";
    }
    close_archive();
    return name;
}

// Steps to the block after the current one and reads it as fetch_block does.
int fetch_next_block(bool sub_blocks) {
    EXPECT_TRUE(platform::file_seek(archive_state.archive_file, archive_state.next_block, platform::SeekFrom::start));
    return fetch_block(BLOCK_FILE, sub_blocks);
}

Bytes simple_archive(const std::string& name, int main_extra = 0) {
    BlockArchive a;
    a.marker().main_header(0, main_extra).file({.name = name, .data = "payload"});
    return a.bytes;
}

Bytes junk(size_t n) {
    Bytes b = pattern(n, 7);
    for (char& c : b)
        if (c == 'R') c = 'r';  // no accidental marker
    return b;
}

}  // namespace

TEST(Identify, BothFormatsAtTheStart) {
    Scratch s;
    BlockArchive block;
    block.marker().main_header(0x08, 20).file({.name = "a.txt", .data = "x"});
    block.save(s / "b.rar");
    open_archive(s / "b.rar");
    EXPECT_EQ(identify_archive(), 1);
    EXPECT_EQ(archive_state.format, FORMAT_BLOCK);
    EXPECT_EQ(archive_state.main_header_bytes, 13);
    EXPECT_EQ(archive_state.main_header.header_size, 33);
    EXPECT_TRUE(archive_state.is_solid);
    close_archive();

    OldArchive old;
    old.main_header(0xC8).file("OLD.TXT", "abc");
    old.save(s / "o.rar");
    open_archive(s / "o.rar");
    EXPECT_EQ(identify_archive(), 1);
    EXPECT_EQ(archive_state.format, FORMAT_OLD);
    EXPECT_EQ(archive_state.main_header_bytes, 7);
    EXPECT_EQ(archive_state.main_header.flags, 0x08);  // stored flags AND 0x3F
    close_archive();
    EXPECT_EQ(first_entry(s / "o.rar"), "OLD.TXT");
}

// Where the first entry is found in crafted files ("<none>": no archive).
TEST(MarkerSearch, FirstEntryOfCraftedFiles) {
    const Bytes marker("Rar!\x1A\x07\x00", 7);
    const Bytes fake = marker + "\x00\x00\x75";  // type byte at +9 is not 0x73
    OldArchive old;
    old.main_header().file("OLD.TXT", "abc");
    const Bytes head = "MZ" + junk(26);  // offsets 0..27
    BlockArchive six, cut;
    six.marker().main_header().block(0x75, 0, 6).file({.name = "after.txt", .data = "x"});
    cut.marker().main_header().block(0x74, 0, 20);  // a file header too small for its fixed part
    struct Case {
        const char* what;
        Bytes file;
        std::string first;
    };
    const Case cases[] = {
        {"marker with a short main header", marker + "\x01\x02\x73\x00\x00", "<none>"},
        {"marker alone", "Rar!", "<none>"},
        {"inside an executable", "MZ" + junk(0x15000 - 2) + simple_archive("inside.txt", 9), "inside.txt"},
        // The search reads 0x1FFF0 bytes from offset 7; a candidate is taken only
        // when its marker and main-header type byte (marker + 9) lie in them.
        {"last place in the window", "MZ" + junk(0x1FFED - 2) + simple_archive("last.txt"), "last.txt"},
        {"type byte past the window", "MZ" + junk(0x1FFEE - 2) + simple_archive("cut.txt"), "<none>"},
        {"marker past the window", "MZ" + junk(0x1FFF7 - 2) + simple_archive("past.txt"), "<none>"},
        {"lowest marker wins, one without main header passed over",
         "MZ" + junk(100) + fake + junk(50) + simple_archive("first.txt") + junk(100) + simple_archive("second.txt"),
         "first.txt"},
        {"old marker without RSFX at offset 28", head + "XXXX" + junk(64) + old.bytes, "<none>"},
        {"old marker with RSFX at offset 28", head + "RSFX" + junk(64) + old.bytes, "OLD.TXT"},
        {"block of size 6 ends the walk", six.bytes, ""},
        {"file header cut short ends the walk", cut.bytes, ""},
    };
    Scratch s;
    for (const Case& c : cases) {
        write_file(s / "f.exe", c.file);
        EXPECT_EQ(first_entry(s / "f.exe"), c.first) << c.what;
    }
}

TEST(MarkerSearch, ArchiveAppendedToLargeInstallerIsFoundThroughItsBundleDirectory) {
    Scratch s;
    Bytes program = "MZ" + junk(0x30000);
    Bytes archive = simple_archive("member.txt");
    Bytes name = "product.rar";
    Bytes directory;
    put32(directory, static_cast<uint32_t>(program.size()));
    directory += static_cast<char>(name.size());
    directory += name;
    Bytes trailer;
    put32(trailer, static_cast<uint32_t>(directory.size()));
    write_file(s / "bundle.exe", program + archive + directory + trailer);
    EXPECT_EQ(first_entry(s / "bundle.exe"), "member.txt");
    // The same bytes without a bundle directory stay out of reach.
    write_file(s / "plain.exe", program + archive);
    EXPECT_EQ(first_entry(s / "plain.exe"), "<none>");
}

TEST(FetchBlock, StepsOverForeignBlocksAndReturnsSubBlocksOnlyWhenAsked) {
    Scratch s;
    BlockArchive a;
    a.marker().main_header();
    a.file({.name = "one.txt", .data = "1"});
    a.block(0x75, 0x8000, 11, "data of a foreign block");
    a.block(0x77, 0x8000, 18, "subdata!");
    a.block(0x78, 0xC000, 26, Bytes(514, 's'));
    a.file({.name = "two.txt", .data = "22"});
    a.save(s / "a.rar");

    open_archive(s / "a.rar");
    ASSERT_EQ(identify_archive(), 1);
    skip_rest_of_main_header();
    ASSERT_GT(fetch_block(BLOCK_FILE, true), 0);
    EXPECT_STREQ(archive_state.file_name, "one.txt");
    int n = fetch_next_block(true);
    EXPECT_EQ(n, 32);  // the fixed part read for the sub-block
    EXPECT_EQ(archive_state.block_header.header_type, BLOCK_SUB);
    EXPECT_STREQ(archive_state.file_name, "one.txt");  // previous entry kept
    EXPECT_EQ(archive_state.file_header.unpacked_size, 1u);
    EXPECT_EQ(platform::file_tell(archive_state.archive_file), archive_state.block_start);
    EXPECT_GT(fetch_next_block(true), 0);
    EXPECT_STREQ(archive_state.file_name, "two.txt");
    close_archive();

    // Without the flag the sub-block is stepped over like any other block.
    open_archive(s / "a.rar");
    ASSERT_EQ(identify_archive(), 1);
    skip_rest_of_main_header();
    ASSERT_GT(fetch_block(BLOCK_FILE, false), 0);
    EXPECT_GT(fetch_next_block(false), 0);
    EXPECT_STREQ(archive_state.file_name, "two.txt");
    EXPECT_EQ(fetch_block(BLOCK_FILE, false), 0);  // no further block: the end
    EXPECT_EQ(archive_state.block_header.header_type, 0);
    close_archive();
}

TEST(FetchBlock, NameRules) {
    Scratch s;
    BlockArchive a;
    a.marker().main_header();
    a.file({.name = std::string(300, 'n'), .data = "long"});
    a.file({.name = "dir/sub\\f.txt", .data = "x", .bad_header_crc = true});
    a.file({.name = "unix", .data = "", .flags = 0x80E0, .host = 5, .attributes = 0x41ED});
    a.file({.name = "plain", .data = "", .flags = 0x8020, .host = 5, .attributes = 0x81A4});
    a.save(s / "names.rar");

    open_archive(s / "names.rar");
    ASSERT_EQ(identify_archive(), 1);
    skip_rest_of_main_header();
    ASSERT_GT(fetch_block(BLOCK_FILE, false), 0);
    EXPECT_EQ(std::strlen(archive_state.file_name), 259u);
    ASSERT_GT(fetch_next_block(false), 0);
    const char sep = platform::path_separator();
    EXPECT_EQ(std::string(archive_state.file_name), std::string("dir") + sep + "sub" + sep + "f.txt");
    ASSERT_GT(fetch_next_block(false), 0);
    EXPECT_EQ(archive_state.file_header.host_os, 0);
    EXPECT_EQ(archive_state.file_header.attributes, 0x10u);
    ASSERT_GT(fetch_next_block(false), 0);
    EXPECT_EQ(archive_state.file_header.attributes, 0x20u);
    close_archive();
}

TEST(FetchBlock, TruncationAtEveryOffsetEndsCleanly) {
    Scratch s;
    BlockArchive a;
    a.marker().main_header(0, 4);
    a.file({.name = "a.txt", .data = "alpha"});
    a.block(0x77, 0x8000, 18, "subdata!");
    a.file({.name = "b.txt", .data = "beta"});
    a.block(0x7B, 0x4000, 7);
    for (size_t cut = 0; cut <= a.bytes.size(); ++cut) {
        write_file(s / "t.rar", a.bytes.substr(0, cut));
        open_archive(s / "t.rar");
        int files = 0;
        if (identify_archive()) {
            skip_rest_of_main_header();
            for (int guard = 0; guard < 10; ++guard) {
                if (fetch_block(BLOCK_FILE, true) <= 0) break;
                if (archive_state.block_header.header_type == BLOCK_FILE) ++files;
                // A seek that fails shows as the next fetch failing.
                (void)platform::file_seek(archive_state.archive_file, archive_state.next_block,
                                          platform::SeekFrom::start);
            }
        }
        close_archive();
        EXPECT_LE(files, 2) << cut;
        if (cut == a.bytes.size()) {
            EXPECT_EQ(files, 2);
        }
    }
}

TEST(OldFormat, HeaderChecks) {
    Scratch s;
    auto entry_of = [&](const OldArchive& a) {
        a.save(s / "old.rar");
        return first_entry(s / "old.rar");
    };
    EXPECT_EQ(entry_of(OldArchive().main_header().file("GOOD.TXT", "x")), "GOOD.TXT");
    EXPECT_EQ(entry_of(OldArchive().main_header().file("A", "x", 0, 2, 0, -1, -1, 0)), "");
    EXPECT_EQ(entry_of(OldArchive().main_header().file(std::string(81, 'n'), "x")), "");
    EXPECT_EQ(entry_of(OldArchive().main_header().file("M.TXT", "x", 0, 2, 8)), "");
    EXPECT_EQ(entry_of(OldArchive().main_header().file("V.TXT", "x", 0, 0)), "");
    EXPECT_EQ(entry_of(OldArchive().main_header().file("V.TXT", "x", 0, 21)), "");
    EXPECT_EQ(entry_of(OldArchive().main_header().file("H.TXT", "x", 0, 2, 0, 21)), "");
    EXPECT_EQ(entry_of(OldArchive().main_header().file("C.TXT", "x", 0x08, 2, 0, 21 + 5 + 12)), "C.TXT");
}

TEST(OldFormat, ConvertsToFileHeader) {
    Scratch s;
    OldArchive().main_header().file("F.TXT", "hello", 0x04, 2, 3).save(s / "old.rar");
    open_archive(s / "old.rar");
    ASSERT_EQ(identify_archive(), 1);
    skip_rest_of_main_header();
    EXPECT_EQ(fetch_block(BLOCK_FILE, false), 21 + 5);
    const FileHeader& h = archive_state.file_header;
    EXPECT_EQ(h.flags, 0x8004);
    EXPECT_EQ(h.version_needed, 13);
    EXPECT_EQ(h.method, '3');
    EXPECT_EQ(h.file_crc, old_sum_of("hello"));
    EXPECT_EQ(archive_state.next_block, 7 + 26 + 5);
    close_archive();
}

TEST(RelativeNames, OnePrefixOfEachKindIsRemoved) {
    auto relative = [](const char* in) {
        char buffer[260];
        std::strcpy(buffer, in);
        make_relative_name(buffer, buffer);
        return std::string(buffer);
    };
    EXPECT_EQ(relative("C:\\dir\\f"), "dir\\f");
    EXPECT_EQ(relative(".\\dir\\f"), "dir\\f");
    EXPECT_EQ(relative("..\\dir\\f"), "dir\\f");
    EXPECT_EQ(relative("/dir/f"), "dir/f");
    EXPECT_EQ(relative("..\\..\\x"), "..\\x");
}

TEST(RelativeNames, NamesLeadingOutsideTheDestinationAreUnsafe) {
    EXPECT_TRUE(is_safe_relative_name("dir/f.txt"));
    EXPECT_TRUE(is_safe_relative_name("a..b/..c"));
    EXPECT_FALSE(is_safe_relative_name(""));
    EXPECT_FALSE(is_safe_relative_name("../x"));
    EXPECT_FALSE(is_safe_relative_name("..\\x"));
    EXPECT_FALSE(is_safe_relative_name("dir/../../x"));
    EXPECT_FALSE(is_safe_relative_name("dir\\.."));
    EXPECT_FALSE(is_safe_relative_name("/etc/x"));
    EXPECT_FALSE(is_safe_relative_name("\\x"));
    EXPECT_FALSE(is_safe_relative_name("D:x"));
    EXPECT_FALSE(is_safe_relative_name("dir/.. /x"));
    EXPECT_FALSE(is_safe_relative_name(".../x"));
    EXPECT_TRUE(is_safe_relative_name("./x"));
    EXPECT_TRUE(is_safe_relative_name(".hidden/x"));
}
