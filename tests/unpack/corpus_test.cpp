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

struct Case {
    std::vector<std::string> volumes;
    size_t packed_entries;
    std::vector<Expect> originals;
};

const std::vector<Expect> ETALONS = {{"p1.bin", "etalon.bin"}, {"p2.bin", "etalon.bin"}, {"p3.bin", "etalon.bin"},
                                     {"p4.bin", "etalon.bin"}, {"p5.bin", "etalon.bin"}, {"pMM.bin", "etalon.bin"}};
const std::vector<Expect> RAR2_ORIGINALS = {{"exe\\test.exe", "test.exe"}, {"jpg\\test.jpg", "test.jpg"}};
const std::vector<Expect> WAV = {{"BoatModernEnglish.wav", "BoatModernEnglish.wav"}};

class Corpus : public ::testing::TestWithParam<bool> {};

TEST_P(Corpus, EveryPackedEntryDecodes) {
    const Case cases[] = {
        {{"Rar15.rar"},
         3,
         {{"EXE\\TEST.EXE", "test.exe"}, {"JPG\\TEST.JPG", "test.jpg"}, {"TECT.TXT", "test-cyrillic.txt"}}},
        {{"Rar2.rar"}, 3, RAR2_ORIGINALS},
        {{"test_v2.rar"}, 6, ETALONS},  // the 2.0 method at five settings
        {{"test_v2solid5.rar"}, 2, {{"p5.bin", "etalon.bin"}, {"p5_solid.bin", "etalon.bin"}}},
        {{"BoatModernEnglish-audio-text-unpack20.rar"}, 1, WAV},
        {{"BoatModernEnglish-regular-unpack20.rar"}, 1, WAV},
        {{"rar15-comment.rar"}, 1, {}},
        {{"rar2-unix-owner.rar"}, 1, {}},
        {{"rar14-solid.rar"}, 3, {}},  // old format, solid 1.5 method
        {{"Rar2.multi.rar", "Rar2.multi.r00", "Rar2.multi.r01", "Rar2.multi.r02", "Rar2.multi.r03",
          "Rar2.multi.r04", "Rar2.multi.r05"},
         3,
         RAR2_ORIGINALS},
        {{"r14volcm.rar", "r14volcm.r00", "r14volcm.r01"}, 1, {}},
    };
    for (const Case& c : cases)
        check_archive(c.volumes, c.packed_entries, c.originals, GetParam());
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
