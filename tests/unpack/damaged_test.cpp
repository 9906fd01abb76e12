// Damaged packed data: bit flips, truncations, garbage and sizes that lie.
// Every variant must end, stay inside its buffers (run these under the
// sanitizers too), and give the same output and the same decoder state on the
// fast path as on the reference path.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "unpack/decoder_state.h"
#include "unpack/unpack_support.h"

using namespace unpack_test;

namespace {

struct Outcome {
    std::vector<uint8_t> output;
    std::vector<uint8_t> state;
    std::vector<uint8_t> window;
};

// Fills o (kept between calls, so the large buffers are not allocated anew).
void run_path(Outcome& o, const std::vector<uint8_t>& packed, int32_t size, int method, bool reference,
              const std::vector<uint8_t>* solid_lead, int32_t lead_size) {
    // The same bytes in the window before each path: a stray write past
    // the output position then shows in the window, and a read of a byte
    // not written since the fresh start in the output.
    std::memset(test_window(), 0xA5, WINDOW_SIZE);
    reset_decoder_state();
    if (solid_lead)
        decode(*solid_lead, lead_size, method, 0, reference);
    int solid = solid_lead ? (method >= 20 ? 0x10 : 1) : 0;
    o.output = decode(packed, size, method, solid, reference);
    const uint8_t* raw = reinterpret_cast<const uint8_t*>(&decoder_state);
    o.state.assign(raw, raw + sizeof decoder_state);
    o.window.assign(test_window(), test_window() + WINDOW_SIZE);
}

void expect_same_paths(const std::vector<uint8_t>& packed, int32_t size, int method, const std::string& what,
                       const std::vector<uint8_t>* solid_lead = nullptr, int32_t lead_size = 0) {
    static Outcome fast, ref;
    run_path(fast, packed, size, method, false, solid_lead, lead_size);
    run_path(ref, packed, size, method, true, solid_lead, lead_size);
    ASSERT_TRUE(fast.output == ref.output) << what;
    ASSERT_TRUE(fast.state == ref.state) << what;
    ASSERT_TRUE(fast.window == ref.window) << what;
    // A damaged entry may end early but never delivers more than its size.
    ASSERT_LE(fast.output.size(), size_t(size)) << what;
}

struct Sample {
    std::string archive;
    size_t index;  // among the archive's packed entries
};

std::vector<CorpusEntry> packed_entries(const std::string& archive) {
    std::vector<CorpusEntry> out;
    for (CorpusEntry& e : read_archive({archive}))
        if (e.method != 0)
            out.push_back(std::move(e));
    return out;
}

class Damaged : public ::testing::TestWithParam<Sample> {};

TEST_P(Damaged, FlipsAndTruncationsDecodeAlikeOnBothPaths) {
    std::vector<CorpusEntry> entries = packed_entries(GetParam().archive);
    ASSERT_GT(entries.size(), GetParam().index);
    const CorpusEntry& e = entries[GetParam().index];
    std::mt19937 rng(uint32_t(e.packed.size()));
    int32_t size = int32_t(e.unpacked_size);
    for (int variant = 0; variant < 40; ++variant) {
        std::vector<uint8_t> p = e.packed;
        int flips = 1 + variant % 4;
        for (int f = 0; f < flips; ++f) {
            // Half the flips hit the first bytes, where the tables and the first flags are.
            size_t at = variant % 2 ? rng() % std::min<size_t>(p.size(), 64) : rng() % p.size();
            p[at] ^= uint8_t(1u << (rng() % 8));
        }
        expect_same_paths(p, size, e.version, e.name + " flips #" + std::to_string(variant));
    }
    for (size_t cut : {size_t(0), size_t(1), size_t(2), size_t(5), size_t(31), e.packed.size() / 3,
                       e.packed.size() / 2, e.packed.size() - 1}) {
        std::vector<uint8_t> p(e.packed.begin(), e.packed.begin() + long(std::min(cut, e.packed.size())));
        expect_same_paths(p, size, e.version, e.name + " cut at " + std::to_string(cut));
    }
    // Sizes that lie: far more than the data holds, and less.
    expect_same_paths(e.packed, size * 8 + 100000, e.version, e.name + " size too large");
    expect_same_paths(e.packed, size / 2, e.version, e.name + " size too small");
    // Sizes anywhere short of the real one: both paths stop after the same
    // item, wherever it falls in a run of literals or a match.
    for (int variant = 0; variant < 16; ++variant) {
        int32_t shorter = int32_t(rng() % uint32_t(size));
        expect_same_paths(e.packed, shorter, e.version, e.name + " size " + std::to_string(shorter));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Corpus, Damaged,
    ::testing::Values(Sample{"Rar2.rar", 0}, Sample{"Rar2.rar", 2}, Sample{"test_v2.rar", 5},
                      Sample{"BoatModernEnglish-audio-text-unpack20.rar", 0}, Sample{"Rar15.rar", 0},
                      Sample{"Rar15.rar", 1}, Sample{"Rar15.rar", 2}, Sample{"rar14-solid.rar", 0}),
    [](const ::testing::TestParamInfo<Sample>& info) {
        std::string n = info.param.archive.substr(0, info.param.archive.find('.')) + "_" +
                        std::to_string(info.param.index);
        for (char& c : n)
            if (!isalnum(uint8_t(c)))
                c = '_';
        return n;
    });

TEST(DamagedSolid, DamagedSecondEntryAfterAGoodOne) {
    for (const char* archive : {"rar14-solid.rar", "test_v2solid5.rar"}) {
        std::vector<CorpusEntry> entries = packed_entries(archive);
        ASSERT_GE(entries.size(), 2u);
        std::mt19937 rng(9);
        for (int variant = 0; variant < 20; ++variant) {
            std::vector<uint8_t> p = entries[1].packed;
            p[rng() % p.size()] ^= uint8_t(1u << (rng() % 8));
            if (variant % 5 == 4)
                p.resize(p.size() / 2);
            expect_same_paths(p, int32_t(entries[1].unpacked_size), entries[1].version,
                              std::string(archive) + " #" + std::to_string(variant), &entries[0].packed,
                              int32_t(entries[0].unpacked_size));
        }
    }
}

TEST(DamagedGarbage, RandomBytesDecodeAlikeOnBothPaths) {
    std::mt19937 rng(23);
    for (int variant = 0; variant < 60; ++variant) {
        std::vector<uint8_t> p(size_t(rng() % 30000));
        for (auto& b : p)
            b = variant % 3 == 0 ? uint8_t(rng() & rng()) : uint8_t(rng());
        int32_t size = int32_t(rng() % 200000);
        std::string what = "garbage #";
        what += std::to_string(variant);
        expect_same_paths(p, size, variant % 2 ? 20 : 15, what);
    }
}

// Sizes far beyond the data, up to the largest a header holds: decoding
// ends where the packed data does, so the output is the entry's own bytes
// (cut where the data was cut) plus at most what its last bits decode to,
// and no count overflows on the way (run under the sanitizers). The solid
// rows start with tables no block has built.
TEST(DamagedSize, DecodingEndsWhereThePackedDataEnds) {
    struct Case {
        const char* archive;  // nullptr: 109 bytes of garbage
        size_t cut;           // packed bytes kept, 0 = all
        uint32_t size;
        int method;
        int solid;
    };
    const Case cases[] = {
        {"Rar2.rar", 0, 0x80000000u, 0, 0},    {"Rar2.rar", 0, 0xFFFFFFFFu, 0, 0},
        {"Rar2.rar", 3000, 0x7FFFFFF0u, 0, 0}, {"Rar15.rar", 0, 0x80000000u, 0, 0},
        {"Rar15.rar", 0, 0xFFFFFFFFu, 0, 0},   {"Rar15.rar", 3000, 0xFFFFFFFFu, 0, 0},
        {"BoatModernEnglish-audio-text-unpack20.rar", 2000, 0xFFFFFFFFu, 0, 0},
        {nullptr, 0, 0x60000000u, 20, 0x10},   {nullptr, 0, 0xFFFFFFFFu, 15, 1},
    };
    // No item takes less than one bit or gives more than 300 bytes.
    constexpr size_t MOST_PER_BIT = 300;
    for (const Case& c : cases) {
        std::vector<uint8_t> packed, real;
        int method = c.method;
        if (c.archive) {
            CorpusEntry e = packed_entries(c.archive).at(0);
            reset_decoder_state();
            real = decode(e.packed, e.unpacked_size, e.version, 0);
            ASSERT_EQ(entry_checksum(e, real), e.checksum) << c.archive;
            packed = e.packed;
            if (c.cut)
                packed.resize(c.cut);
            method = e.version;
        } else {
            std::mt19937 rng(c.size);
            packed.resize(109);
            for (auto& b : packed)
                b = uint8_t(rng());
        }
        std::string what = std::string(c.archive ? c.archive : "garbage") + " size " + std::to_string(c.size);
        for (bool reference : {false, true}) {
            reset_decoder_state();
            std::vector<uint8_t> out = decode(packed, c.size, method, c.solid, reference);
            EXPECT_LT(decoder_state.bytes_left, 0) << what;
            EXPECT_LE(out.size(), packed.size() * 8 * MOST_PER_BIT) << what;
            if (!c.archive)
                continue;
            if (!c.cut) {
                ASSERT_GE(out.size(), real.size()) << what;
                EXPECT_LE(out.size(), real.size() + MOST_PER_BIT) << what;
            } else {
                ASSERT_GT(out.size(), MOST_PER_BIT) << what;
                ASSERT_LT(out.size(), real.size()) << what;
            }
            size_t same = c.cut ? out.size() - MOST_PER_BIT : real.size();
            EXPECT_TRUE(std::equal(real.begin(), real.begin() + long(same), out.begin())) << what;
        }
    }
}

}  // namespace
