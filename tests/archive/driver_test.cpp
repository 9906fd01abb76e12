// The extraction driver end to end: the reference archives, crafted archives
// (hostile names, damaged data, odd entries) and the abort codes.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>

#include "archive/archive_state.h"
#include "archive/driver.h"
#include "archive/progress.h"
#include "archive_support.h"
#include "archive_writer.h"
#include "pack/v20_encoder.h"
#include "platform/fault_hooks.h"
#include "platform/platform.h"
#include "support/extracted_name.h"

using namespace archive_test;

namespace {

Bytes original(const std::string& name) { return read_file(corpus("originals/" + name)); }

}  // namespace

// ---------------------------------------------------------------- reference archives

// Stored and skipped entries: the status, the files and folders made and,
// where given, their original bytes or size.
TEST(Corpus, StoredAndSkippedEntries) {
    struct File {
        std::string name;
        const char* original;  // in originals/, or null
        uintmax_t size;        // checked when nonzero
    };
    struct Case {
        const char* archive;
        int status;
        bool only_these;  // no other file is made
        std::vector<File> files;
        std::vector<std::string> folders;
    };
    const Case cases[] = {
        {"Rar.none.rar", SUCCESS, false,
         {{"exe/test.exe", "test.exe", 0}, {"jpg/test.jpg", "test.jpg", 0},
          {"\xE2\xA5\xE1\xE2.txt", "test-cyrillic.txt", 0}},
         {"Empty"}},
        // One entry across three volumes; old format single and across four.
        {"rar3-old.rar", SUCCESS, false,
         {{"vols/bigfile.txt", nullptr, 205000}, {"vols/smallfile.txt", nullptr, 2050}}, {}},
        {"rar14.rar", SUCCESS, false, {{"RAR14.TXT", nullptr, 7}}, {}},
        {"r14volst.rar", SUCCESS, false, {{"BIG.TXT", nullptr, 79404}}, {}},
        // Sub-blocks and foreign blocks are stepped over.
        {"rar2-unix-owner.rar", SUCCESS, true, {{"file.txt", nullptr, 0}}, {}},
        // Version 2.9 entries are skipped, their folders made.
        {"Rar4.rar", WARNING, true, {}, {"exe", "jpg"}},
        {"seektest.rar", WARNING, true, {{"stest2.txt", nullptr, 2048}}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.archive);
        Scratch s;
        EXPECT_EQ(s.extract(corpus(c.archive)), c.status);
        std::vector<std::string> names;
        for (const File& f : c.files) {
            const std::string name = extracted_name(f.name);
            names.push_back(name);
            EXPECT_TRUE(fs::is_regular_file(s.out() / name)) << name;
            if (f.original) {
                EXPECT_EQ(read_file(s.out() / name), original(f.original)) << name;
            }
            if (f.size) {
                EXPECT_EQ(fs::file_size(s.out() / name), f.size) << name;
            }
        }
        for (const std::string& folder : c.folders) EXPECT_TRUE(fs::is_directory(s.out() / folder)) << folder;
        if (c.only_these) {
            EXPECT_EQ(files_below(s.out()), names);
        }
    }
}

TEST(Corpus, EncryptedEntriesFailTheirChecksumAndLeaveNothing) {
    for (const char* name : {"rar202-comment-psw.rar", "rar14-password-compressed.rar",
                             "rar15-password-compressed.rar", "rar20-password-compressed.rar"}) {
        Scratch s;
        EXPECT_EQ(s.extract(corpus(name)), CRC_ERROR) << name;
        EXPECT_TRUE(files_below(s.out()).empty()) << name;
    }
}

TEST(Corpus, EveryPackedEntryDecodes) {
    struct Case {
        const char* archive;
        std::vector<std::string> files;
    };
    const Case cases[] = {
        {"Rar15.rar", {"EXE/TEST.EXE", "JPG/TEST.JPG", "TECT.TXT"}},
        {"Rar2.rar", {"exe/test.exe", "jpg/test.jpg"}},
        {"Rar2.multi.rar", {"exe/test.exe", "jpg/test.jpg"}},
        {"test_v2.rar", {"p0.bin", "p1.bin", "p2.bin", "p3.bin", "p4.bin", "p5.bin", "pMM.bin"}},
        {"test_v2solid5.rar", {"p5.bin", "p5_solid.bin"}},
        {"rar14-solid.rar", {"BIG.TXT", "SECOND.TXT", "THIRD.TXT"}},
        {"r14volcm.rar", {"BIG.TXT"}},
        {"rar15-comment.rar", {"FILE1.TXT", "FILE2.TXT"}},
        {"rar202-comment-nopsw.rar", {"FILE1.TXT", "FILE2.TXT"}},
        {"BoatModernEnglish-audio-text-unpack20.rar", {"BoatModernEnglish.wav", "LICENSE.txt"}},
        {"BoatModernEnglish-regular-unpack20.rar", {"BoatModernEnglish.wav", "LICENSE.txt"}},
    };
    for (const Case& c : cases) {
        Scratch s;
        int status = s.extract(corpus(c.archive));
        std::vector<std::string> found = files_below(s.out());
        // The Cyrillic entry of the 2.0 archives carries '?' bytes that Windows
        // cannot use in a name; it is the one entry allowed to be missing there.
        bool has_question_name = std::string(c.archive).rfind("Rar2", 0) == 0;
        if (!has_question_name || platform::path_separator() == '/') {
            EXPECT_EQ(status, SUCCESS) << c.archive;
        }
        for (const std::string& f : c.files)
            EXPECT_TRUE(std::find(found.begin(), found.end(), f) != found.end()) << c.archive << ": " << f;
        const std::string archive = c.archive;
        if (archive.rfind("Rar", 0) == 0) {
            std::string exe = archive == "Rar15.rar" ? "EXE/TEST.EXE" : "exe/test.exe";
            EXPECT_EQ(read_file(s.out() / exe), original("test.exe")) << archive;
        } else if (archive.rfind("test_v2", 0) == 0) {
            EXPECT_EQ(read_file(s.out() / "p5.bin"), original("etalon.bin"));
        } else if (archive.rfind("Boat", 0) == 0) {
            EXPECT_EQ(read_file(s.out() / "BoatModernEnglish.wav"), original("BoatModernEnglish.wav"));
        }
    }
}

// ---------------------------------------------------------------- crafted archives

TEST(Driver, NamesLeadingOutsideTheDestinationAreRefused) {
    Scratch s;
    BlockArchive a;
    a.marker().main_header();
    a.file({.name = "..\\..\\escape1.txt", .data = "bad"});
    a.file({.name = "dir/../../escape2.txt", .data = "bad"});
    a.file({.name = "\\\\escape3.txt", .data = "bad"});
    a.file({.name = "C:D:escape4.txt", .data = "bad"});
    a.folder("../escape5");
    a.file({.name = "inside/ok.txt", .data = "good"});
    a.save(s / "evil.rar");
    fs::create_directories(s / "deep" / "out");
    std::string archive = (s / "evil.rar").string(), out = (s / "deep" / "out").string();
    EXPECT_EQ(extract_archive(archive.c_str(), out.c_str()), WARNING);
    EXPECT_EQ(files_below(s / "deep"), std::vector<std::string>{"out/inside/ok.txt"});
    for (const char* name : {"escape1.txt", "escape2.txt", "escape3.txt", "escape4.txt", "escape5"}) {
        EXPECT_FALSE(fs::exists(s / name)) << name;
        EXPECT_FALSE(fs::exists(s / "deep" / name)) << name;
    }
}

// Links already in the destination (a file link out, a folder link out) are
// never followed: entries through them are refused with a warning, nothing
// outside is written, made or chmodded (a read-only entry would chmod), and
// the other entries are extracted.
TEST(Driver, LinksInTheDestinationAreNeverFollowed) {
    Scratch s;
    fs::create_directories(s / "outside");
    write_file(s / "outside" / "victim", "keep");
    if (!make_link(s / "outside" / "victim", s.out() / "f.txt") || !make_link(s / "outside", s.out() / "sub"))
        GTEST_SKIP() << "this system does not let the test make symbolic links";
    const std::vector<std::string> before = snapshot(s / "outside");
    BlockArchive a;
    a.marker().main_header();
    a.file({.name = "f.txt", .data = "bad", .attributes = 0x21});
    a.file({.name = "sub/victim", .data = "bad", .attributes = 0x21});
    a.file({.name = "sub/new/x.txt", .data = "bad"});
    a.folder("sub/folder");
    a.file({.name = "ok/ok.txt", .data = "good", .attributes = 0x21});
    a.save(s / "links.rar");
    EXPECT_EQ(s.extract(s / "links.rar"), WARNING);
    EXPECT_EQ(snapshot(s / "outside"), before);
    EXPECT_EQ(read_file(s.out() / "ok" / "ok.txt"), "good");
}

TEST(Driver, OverlongOutputPathIsRefused) {
    Scratch s;
    BlockArchive::of({{.name = std::string(250, 'L') + ".txt", .data = "long"},
                      {.name = "short.txt", .data = "short"}})
        .save(s / "long.rar");
    EXPECT_EQ(s.extract(s / "long.rar"), WARNING);
    EXPECT_EQ(files_below(s.out()), std::vector<std::string>{"short.txt"});
}

TEST(Driver, DamagedFileIsRemovedEvenWhenReadOnlyAndTheNextIsExtracted) {
    Scratch s;
    BlockArchive::of({{.name = "bad.txt", .data = "damaged", .attributes = 0x21, .crc = 0x12345678},
                      {.name = "good.txt", .data = "fine", .attributes = 0x21}})
        .save(s / "crc.rar");
    EXPECT_EQ(s.extract(s / "crc.rar"), CRC_ERROR);
    EXPECT_FALSE(fs::exists(s.out() / "bad.txt"));
    EXPECT_EQ(read_file(s.out() / "good.txt"), "fine");
    uint32_t attributes = 0;
    ASSERT_TRUE(platform::get_attributes((s.out() / "good.txt").string().c_str(), &attributes));
    EXPECT_TRUE(attributes & platform::ATTR_READONLY);
}

TEST(Driver, StoredEntryWritesOnlyItsUnpackedSizeAndGetsItsTime) {
    Scratch s;
    BlockArchive a;
    a.marker().main_header();
    Bytes packed = pattern(32, 11);
    a.file({.name = "twenty.bin", .data = packed, .unpacked_size = 20, .crc = crc32_of(packed.substr(0, 20))});
    a.save(s / "t.rar");
    EXPECT_EQ(s.extract(s / "t.rar"), SUCCESS);
    EXPECT_EQ(read_file(s.out() / "twenty.bin"), packed.substr(0, 20));
    platform::DirEntry entry;
    platform::DirList* list = platform::dir_first((s.out() / "twenty.bin").string().c_str(), &entry);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(entry.dos_date_time, 0x2A43645Cu);  // 2001-02-03 12:34:56 local
    platform::dir_close(list);
}

// A solid archive may hold a stored file between packed ones: the next
// packed file still copies from the window as the one before it left it.
TEST(Driver, StoredFileInASolidArchiveLeavesTheWindowToTheNextPackedOne) {
    const Bytes text = pattern(200000, 13), stored = pattern(150000, 12), again = text.substr(1000, 120000);
    pack::V20Encoder enc;
    pack::encoder_init(enc, pack::settings_for_level(3));
    auto packed = [&](const Bytes& data, bool solid) {
        std::vector<uint8_t> out;
        pack::encode_entry(enc, reinterpret_cast<const uint8_t*>(data.data()), data.size(), solid, nullptr, out);
        return Bytes(out.begin(), out.end());
    };
    const Bytes first = packed(text, false), last = packed(again, true);
    ASSERT_LT(last.size(), again.size() / 20);  // it copies from the first file
    Scratch s;
    BlockArchive a;
    a.marker().main_header(0x08);  // solid
    a.file({.name = "first.txt", .data = first, .method = '3', .unpacked_size = int64_t(text.size()),
            .crc = crc32_of(text)});
    a.file({.name = "stored.bin", .data = stored, .flags = 0x8010});
    a.file({.name = "last.txt", .data = last, .flags = 0x8010, .method = '3',
            .unpacked_size = int64_t(again.size()), .crc = crc32_of(again)});
    a.save(s / "solid.rar");
    EXPECT_EQ(s.extract(s / "solid.rar"), SUCCESS);
    EXPECT_TRUE(read_file(s.out() / "stored.bin") == stored);
    EXPECT_TRUE(read_file(s.out() / "last.txt") == again);
}

TEST(Driver, FoldersWithMissingParentsAndFolderOnlyArchive) {
    Scratch s;
    BlockArchive a;
    a.marker().main_header();
    a.folder("a\\b\\c");
    a.folder("a");  // exists by now: not an error
    a.save(s / "folders.rar");
    EXPECT_EQ(s.extract(s / "folders.rar"), SUCCESS);
    EXPECT_TRUE(fs::is_directory(s.out() / "a" / "b" / "c"));
}

TEST(Driver, NothingExtractedGivesWarning) {
    Scratch s;
    EXPECT_EQ(s.extract(s / "no-such-archive.rar"), WARNING);
    write_file(s / "plain.rar", "just text, no marker here");
    EXPECT_EQ(s.extract(s / "plain.rar"), WARNING);
    BlockArchive label;
    label.marker().main_header().file({.name = "VOLUME", .data = "", .attributes = 0x08});
    label.save(s / "label.rar");
    EXPECT_EQ(s.extract(s / "label.rar"), WARNING);
    EXPECT_TRUE(files_below(s.out()).empty());
    // A destination that is no folder becomes a name mask: nothing selected.
    BlockArchive one;
    one.marker().main_header().file({.name = "a.txt", .data = "a"});
    one.save(s / "one.rar");
    std::string archive = (s / "one.rar").string(), missing = (s / "missing").string();
    EXPECT_EQ(extract_archive(archive.c_str(), missing.c_str()), WARNING);
}

TEST(Driver, UnsupportedVersionIsSkippedAndLaterEntriesExtracted) {
    Scratch s;
    BlockArchive::of({{.name = "new.bin", .data = "xxxx", .version = 26, .method = '3'},
                      {.name = "old.bin", .data = "yyyy"}})
        .save(s / "v.rar");
    EXPECT_EQ(s.extract(s / "v.rar"), WARNING);
    EXPECT_EQ(files_below(s.out()), std::vector<std::string>{"old.bin"});
}

TEST(Driver, HostileHeadersNeverHangOrEscape) {
    Scratch s;
    BlockArchive base;
    base.marker().main_header();
    base.file({.name = "a.txt", .data = "alpha"});
    base.block(0x77, 0x8000, 18, "subdata!");
    base.file({.name = "b/c.txt", .data = pattern(600, 3)});
    // Every truncation, and a flipped byte at every header position.
    for (size_t cut = 0; cut < base.bytes.size(); cut += 3) {
        write_file(s / "t.rar", base.bytes.substr(0, cut));
        int status = s.extract(s / "t.rar");
        EXPECT_TRUE(status == SUCCESS || status == WARNING || status == CRC_ERROR) << cut;
    }
    for (size_t at = 7; at < 90; ++at) {
        Bytes flipped = base.bytes;
        flipped[at] = static_cast<char>(flipped[at] ^ 0xFF);
        write_file(s / "f.rar", flipped);
        int status = s.extract(s / "f.rar");
        EXPECT_TRUE(status == SUCCESS || status == WARNING || status == CRC_ERROR) << at;
    }
    for (const auto& entry : fs::directory_iterator(s.path())) {
        std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "out" || name == "t.rar" || name == "f.rar" || name == "messages.log") << name;
    }
}

TEST(Progress, AnnouncesEveryFileAndEndsAt100) {
    static std::vector<long> seen;
    static std::vector<std::string> names;
    seen.clear();
    names.clear();
    set_progress_sink([](long lparam) {
        seen.push_back(lparam);
        if (lparam == 0) names.push_back(progress_file_name ? progress_file_name : "");
    });
    Scratch s;
    BlockArchive::of({{.name = "one.bin", .data = pattern(3000000, 1)},
                      {.name = "two.bin", .data = "2"}})
        .save(s / "p.rar");
    EXPECT_EQ(s.extract(s / "p.rar"), SUCCESS);
    set_progress_sink(nullptr);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_NE(names[0].find("one.bin"), std::string::npos);
    EXPECT_EQ(seen.front(), 0);
    EXPECT_EQ(seen.back(), 100);
    EXPECT_GT(std::count_if(seen.begin(), seen.end(), [](long v) { return v > 0 && v < 100; }), 0);
    EXPECT_EQ(progress_file, nullptr);  // never left pointing at a closed stream
}

TEST(Progress, PercentRule) {
    EXPECT_EQ(percent_of(5000, 10000), 50);
    EXPECT_EQ(percent_of(20000, 40000), 50);
    EXPECT_EQ(percent_of(7, 0), 0);
    EXPECT_EQ(percent_of(11, 10), 100);
    EXPECT_EQ(percent_of(10001, 50), 0);
}

// ---------------------------------------------------------------- abort codes

TEST(DriverDeathTest, FailedWriteEndsWithWriteErrorAndDeletesThePartialFile) {
    Scratch s;
    BlockArchive::of({{.name = "first.txt", .data = "kept"},
                      {.name = "partial.bin", .data = pattern(200000, 2)}})
        .save(s / "w.rar");
    std::string archive = (s / "w.rar").string(), out = s.out().string();
    EXPECT_EXIT(
        {
            static int writes = 0;
            platform::fault_hooks.write = [](size_t) { return ++writes > 1; };
            extract_archive(archive.c_str(), out.c_str());
        },
        ::testing::ExitedWithCode(WRITE_ERROR), "");
    EXPECT_EQ(files_below(s.out()), std::vector<std::string>{"first.txt"});
}

TEST(DriverDeathTest, CharacterDeviceOutputEndsWithWriteError) {
    Scratch s;
    BlockArchive a;
    a.marker().main_header();
    bool windows = platform::path_separator() == '\\';
    a.file({.name = windows ? "NUL" : "null", .data = "device"});
    a.save(s / "dev.rar");
    std::string archive = (s / "dev.rar").string();
    std::string out = windows ? s.out().string() : "/dev/";
    EXPECT_EXIT(extract_archive(archive.c_str(), out.c_str()), ::testing::ExitedWithCode(WRITE_ERROR), "");
}

TEST(DriverDeathTest, FailedCloseOfOutputEndsWithFatalError) {
    Scratch s;
    BlockArchive::of({{.name = "c.txt", .data = "close me"}}).save(s / "c.rar");
    std::string archive = (s / "c.rar").string(), out = s.out().string();
    EXPECT_EXIT(
        {
            platform::fault_hooks.close = [] { return true; };
            extract_archive(archive.c_str(), out.c_str());
        },
        ::testing::ExitedWithCode(FATAL_ERROR), "");
}

TEST(DriverDeathTest, BreakSignalEndsWithUserBreakAndDeletesOnlyThePartialFile) {
    Scratch s;
    BlockArchive::of({{.name = "done.txt", .data = "kept"},
                      {.name = "partial.bin", .data = pattern(3000000, 4)}})
        .save(s / "b.rar");
    std::string archive = (s / "b.rar").string(), out = s.out().string();
    EXPECT_EXIT(
        {
            set_progress_sink([](long lparam) {
                if (lparam > 0 && lparam < 100) std::raise(SIGINT);
            });
            extract_archive(archive.c_str(), out.c_str());
        },
        ::testing::ExitedWithCode(USER_BREAK), "");
    EXPECT_EQ(files_below(s.out()), std::vector<std::string>{"done.txt"});
}

// The first pieces of a large entry report 0 %: that is a percentage, not a
// new entry, so the count of bytes written must go on (the bar once stayed
// empty for the whole of a 200 MB file).
TEST(Progress, AZeroPercentReportKeepsTheCountOfTheEntry) {
    reset_archive_state();
    std::vector<long> sent;
    static std::vector<long>* seen;
    seen = &sent;
    set_progress_sink([](long lparam) { seen->push_back(lparam); });
    archive_state.file_header.unpacked_size = 200000000;
    reset_overall_progress(200000000);
    announce_entry();
    for (int piece = 1; piece <= 4; ++piece) {
        archive_state.unpacked_done += 1 << 20;
        report_progress();
    }
    set_progress_sink(nullptr);
    EXPECT_EQ(archive_state.unpacked_done, 4u << 20);
    EXPECT_EQ(progress_done_bytes(), 4u << 20);
    EXPECT_EQ(sent, (std::vector<long>{0, 0, 1, 1, 2}));
}
