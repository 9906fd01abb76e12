// The reference archives: every packed entry decodes to its stored checksum
// (and to the original bytes where they are given), on the fast and the
// reference path, solid runs included.
#include <gtest/gtest.h>

#include "unpack/unpack_support.h"

using namespace unpack_test;

namespace {

struct Expect {
    std::string name;
    std::string original;  // file in originals/, or empty
};

// Decodes every packed entry of an archive in order, the way the extraction
// driver passes solid: the 2.0 method takes flag 0x10, the 1.5 method
// continues after the first decoded entry of a solid archive.
void check_archive(const std::vector<std::string>& volumes, size_t expected_packed,
                   const std::vector<Expect>& originals, bool reference) {
    std::vector<CorpusEntry> entries = read_archive(volumes);
    reset_decoder_state();
    size_t decoded = 0;
    for (const CorpusEntry& e : entries) {
        if (e.method == 0)
            continue;
        int solid;
        if (e.version > 15)
            solid = int(e.flags & 0x10);
        else
            solid = e.archive_solid && decoded > 0 ? 1 : 0;
        std::vector<uint8_t> out = decode(e.packed, int32_t(e.unpacked_size), e.version, solid, reference);
        ++decoded;
        SCOPED_TRACE(volumes[0] + ": " + e.name);
        ASSERT_EQ(out.size(), e.unpacked_size);
        EXPECT_EQ(entry_checksum(e, out), e.checksum);
        for (const Expect& x : originals)
            if (x.name == e.name) {
                std::vector<uint8_t> original = read_file(corpus_path("originals/" + x.original));
                ASSERT_FALSE(original.empty());
                EXPECT_TRUE(out == original);
            }
    }
    EXPECT_EQ(decoded, expected_packed) << volumes[0];
}

class Corpus : public ::testing::TestWithParam<bool> {};

TEST_P(Corpus, Rar15Method15) {
    check_archive({"Rar15.rar"}, 3,
                  {{"EXE\\TEST.EXE", "test.exe"}, {"JPG\\TEST.JPG", "test.jpg"}, {"TECT.TXT", "test-cyrillic.txt"}},
                  GetParam());
}

TEST_P(Corpus, Rar2Method20) {
    check_archive({"Rar2.rar"}, 3, {{"exe\\test.exe", "test.exe"}, {"jpg\\test.jpg", "test.jpg"}}, GetParam());
}

TEST_P(Corpus, Method20AtFiveSettings) {
    std::vector<Expect> all;
    for (const char* n : {"p1.bin", "p2.bin", "p3.bin", "p4.bin", "p5.bin", "pMM.bin"})
        all.push_back({n, "etalon.bin"});
    check_archive({"test_v2.rar"}, 6, all, GetParam());
}

TEST_P(Corpus, SolidMethod20) {
    check_archive({"test_v2solid5.rar"}, 2, {{"p5.bin", "etalon.bin"}, {"p5_solid.bin", "etalon.bin"}},
                  GetParam());
}

TEST_P(Corpus, AudioMode) {
    check_archive({"BoatModernEnglish-audio-text-unpack20.rar"}, 1,
                  {{"BoatModernEnglish.wav", "BoatModernEnglish.wav"}}, GetParam());
    check_archive({"BoatModernEnglish-regular-unpack20.rar"}, 1,
                  {{"BoatModernEnglish.wav", "BoatModernEnglish.wav"}}, GetParam());
}

TEST_P(Corpus, SmallEntries) {
    check_archive({"rar15-comment.rar"}, 1, {}, GetParam());
    check_archive({"rar2-unix-owner.rar"}, 1, {}, GetParam());
}

TEST_P(Corpus, OldFormatSolidMethod15) {
    check_archive({"rar14-solid.rar"}, 3, {}, GetParam());
}

TEST_P(Corpus, EntriesAcrossVolumes) {
    check_archive({"Rar2.multi.rar", "Rar2.multi.r00", "Rar2.multi.r01", "Rar2.multi.r02", "Rar2.multi.r03",
                   "Rar2.multi.r04", "Rar2.multi.r05"},
                  3, {{"exe\\test.exe", "test.exe"}, {"jpg\\test.jpg", "test.jpg"}}, GetParam());
    check_archive({"r14volcm.rar", "r14volcm.r00", "r14volcm.r01"}, 1, {}, GetParam());
}

INSTANTIATE_TEST_SUITE_P(Paths, Corpus, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("Reference") : std::string("Fast");
                         });

// Without the password the packed bytes are decoded as they stand: the
// decoder finishes, delivers the entry's size and the checksum differs.
TEST(CorpusEncrypted, DecodeAndFailTheirChecksum) {
    for (const char* name :
         {"rar14-password-compressed.rar", "rar15-password-compressed.rar", "rar20-password-compressed.rar"}) {
        std::vector<CorpusEntry> entries = read_archive({name});
        ASSERT_EQ(entries.size(), 1u) << name;
        const CorpusEntry& e = entries[0];
        reset_decoder_state();
        std::vector<uint8_t> out = decode(e.packed, int32_t(e.unpacked_size), e.version, 0);
        EXPECT_NE(entry_checksum(e, out), e.checksum) << name;
    }
}

}  // namespace
