// Round trips through the project's own 2.0 decoder: whatever the encoder
// writes must decode back to its input, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "pack/audio_model.h"
#include "pack/decode_helper.h"
#include "pack/huffman_builder.h"
#include "pack/table_lengths.h"
#include "pack/tree_helper.h"
#include "pack/v20_encoder.h"

using namespace pack;
using namespace pack_test;

namespace {

std::vector<uint8_t> encode_one(V20Encoder& enc, const std::vector<uint8_t>& data, bool solid,
                                const WavLayout* wav = nullptr, EntryCoding* coding = nullptr) {
    std::vector<uint8_t> out;
    EntryCoding c = encode_entry(enc, data.data(), data.size(), solid, wav, out);
    if (coding) *coding = c;
    return out;
}

void expect_round_trip(const std::vector<uint8_t>& data, int level) {
    V20Encoder enc;
    encoder_init(enc, settings_for_level(level));
    std::vector<uint8_t> packed = encode_one(enc, data, false);
    decode_reset();
    std::vector<uint8_t> back = decode_v20(packed, data.size(), false);
    ASSERT_EQ(back.size(), data.size());
    EXPECT_TRUE(back == data) << "level " << level << " size " << data.size();
}

}  // namespace

TEST(EncoderRoundTrip, SmallAndDegenerateInputs) {
    expect_round_trip({0x41}, 3);
    expect_round_trip({0x00, 0x00}, 3);
    expect_round_trip(std::vector<uint8_t>(5000, 0), 3);
    expect_round_trip(std::vector<uint8_t>(300000, 0xAB), 1);
    std::vector<uint8_t> ab;
    for (int i = 0; i < 10000; ++i) ab.push_back(static_cast<uint8_t>(i & 1 ? 'a' : 'b'));
    expect_round_trip(ab, 5);
}

TEST(EncoderRoundTrip, TextAndRandomAtEveryLevel) {
    std::vector<uint8_t> text = text_like(200000, 7);
    std::vector<uint8_t> noise = random_bytes(70000, 3);
    for (int level = 1; level <= 5; ++level) {
        expect_round_trip(text, level);
        expect_round_trip(noise, level);
    }
}

TEST(EncoderRoundTrip, TextCompressesWell) {
    std::vector<uint8_t> text = text_like(200000, 9);
    V20Encoder enc;
    encoder_init(enc, settings_for_level(3));
    std::vector<uint8_t> packed = encode_one(enc, text, false);
    EXPECT_LT(packed.size(), text.size() / 3);
}

TEST(EncoderRoundTrip, MixedDataWithFarRepeatsBeyondTheWindow) {
    // 3 MiB: random blocks repeated at distances from a few bytes to just under
    // 1 MiB, so long distances, all length adjustments and window wraps occur.
    std::vector<uint8_t> data;
    std::vector<uint8_t> block = random_bytes(4096, 11);
    uint32_t seed = 5;
    while (data.size() < 3 * 1024 * 1024) {
        seed = seed * 1103515245u + 12345u;
        size_t kind = (seed >> 16) % 5;
        if (kind == 0 || data.size() < 2000000) {
            std::vector<uint8_t> r = random_bytes(1000 + (seed >> 20) % 5000, seed);
            data.insert(data.end(), r.begin(), r.end());
        }
        if (data.size() > 10) {
            size_t back_options[] = {1, 7, 300, 9000, 0x40000 + 5, 0xFFF00};
            size_t back = back_options[(seed >> 8) % 6];
            if (back > data.size()) back = data.size();
            size_t len = 2 + (seed >> 4) % 400;
            size_t from = data.size() - back;
            for (size_t i = 0; i < len; ++i) data.push_back(data[from + i]);
        }
        data.insert(data.end(), block.begin(), block.begin() + (seed >> 12) % 64);
    }
    expect_round_trip(data, 3);
    expect_round_trip(data, 5);
}

// Solid entries go on with the window and tables before them. In a solid set
// an entry's last tables give every symbol a code, so that small entries
// after it can do without table blocks of their own: a run of small texts
// packs smaller so.
TEST(EncoderRoundTrip, SolidEntriesShareWindowAndTables) {
    std::vector<std::vector<uint8_t>> files = {random_bytes(30000, 1), text_like(17, 2), text_like(5000, 3),
                                               random_bytes(30000, 1), {0x55}, text_like(1500000, 4),
                                               text_like(100, 5)};
    const size_t small_from = files.size();
    for (uint32_t seed = 6; seed < 36; ++seed) files.push_back(text_like(200 + seed * 10, seed));
    size_t small_total[2] = {};
    for (bool set : {false, true}) {
        V20Encoder enc;
        encoder_init(enc, settings_for_level(3));
        enc.solid_set = set;
        std::vector<std::vector<uint8_t>> packed;
        for (size_t i = 0; i < files.size(); ++i) {
            packed.push_back(encode_one(enc, files[i], i != 0));
            if (i >= small_from) small_total[set] += packed[i].size();
        }
        // The repeated file costs almost nothing when it follows its twin.
        V20Encoder alone;
        encoder_init(alone, settings_for_level(3));
        EXPECT_LT(packed[3].size() * 10, encode_one(alone, files[3], false).size());
        decode_reset();
        for (size_t i = 0; i < files.size(); ++i) {
            std::vector<uint8_t> back = decode_v20(packed[i], files[i].size(), i != 0);
            EXPECT_TRUE(back == files[i]) << "entry " << i << (set ? " in a solid set" : "");
        }
    }
    EXPECT_LT(small_total[1] * 10, small_total[0] * 9);
    // A small text coded alone leaves codes for all symbols in a set only.
    for (bool set : {false, true}) {
        V20Encoder enc;
        encoder_init(enc, settings_for_level(3));
        enc.solid_set = set;
        encode_one(enc, files[small_from], false);
        const CoderState& st = enc.state;
        size_t uncoded = std::count(st.main_lengths, st.main_lengths + MAIN_SYMBOLS, 0) +
                         std::count(st.distance_lengths, st.distance_lengths + DISTANCE_SYMBOLS, 0) +
                         std::count(st.repeat_lengths, st.repeat_lengths + REPEAT_SYMBOLS, 0);
        EXPECT_EQ(uncoded == 0, set);
    }
}

// Entries are read in pieces behind a sliding history; the coding must not
// depend on where the pieces end or when the history slides.
TEST(EncoderRoundTrip, SmallReadPiecesCodeTheSameAsLargeOnes) {
    std::vector<uint8_t> wav = make_wav(2, 16, 40000, 3);
    WavLayout layout;
    ASSERT_TRUE(detect_wav(wav.data(), wav.size(), &layout));
    std::vector<std::vector<uint8_t>> files = {text_like(2600000, 1), wav, random_bytes(100000, 2),
                                               text_like(900000, 3)};
    for (bool solid : {false, true}) {
        V20Encoder small, large;
        encoder_init(small, settings_for_level(2));
        encoder_init(large, settings_for_level(2));
        small.lz.read_piece = 2 * LOOKAHEAD;
        for (size_t i = 0; i < files.size(); ++i) {
            const WavLayout* w = i == 1 ? &layout : nullptr;
            EntryCoding a, b;
            std::vector<uint8_t> x = encode_one(small, files[i], solid && i != 0, w, &a);
            std::vector<uint8_t> y = encode_one(large, files[i], solid && i != 0, w, &b);
            EXPECT_EQ(a, b) << "entry " << i;
            EXPECT_TRUE(x == y) << "entry " << i << (solid ? " solid" : "");
        }
        EXPECT_LT(small.lz.buffer.capacity(), size_t{5} << 20);
    }
}

// Level 5 parses blocks by dynamic programming and keeps the lazy parse where
// that comes out smaller: it must decode back, from small read pieces and in
// a solid run too, and never be larger than level 3. Long runs of one
// pattern span many blocks, each of which must not cut the match running
// over its end.
TEST(EncoderRoundTrip, LevelFiveDecodesAndIsNeverLargerThanLevelThree) {
    std::vector<uint8_t> pattern(300000);
    for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<uint8_t>("record-of-12"[i % 12]);
    std::vector<std::vector<uint8_t>> files = {text_like(150000, 21), random_bytes(20000, 22), text_like(300, 23),
                                               std::vector<uint8_t>(300000, 0), pattern};
    for (const char* name : {"test.exe", "test-cyrillic.txt", "etalon.bin"}) {
        std::string bytes = read_bytes(std::string(KX_CORPUS_DIR) + "/originals/" + name);
        if (!bytes.empty()) files.emplace_back(bytes.begin(), bytes.end());
    }
    for (bool solid : {false, true}) {
        V20Encoder three, five;
        encoder_init(three, settings_for_level(3));
        encoder_init(five, settings_for_level(5));
        five.lz.read_piece = 2 * LOOKAHEAD;
        std::vector<std::vector<uint8_t>> packed;
        for (size_t i = 0; i < files.size(); ++i) {
            bool continues = solid && i != 0;
            packed.push_back(encode_one(five, files[i], continues));
            EXPECT_LE(packed[i].size(), encode_one(three, files[i], continues).size()) << "file " << i;
        }
        decode_reset();
        for (size_t i = 0; i < files.size(); ++i)
            EXPECT_TRUE(decode_v20(packed[i], files[i].size(), solid && i != 0) == files[i])
                << "file " << i << (solid ? " solid" : "");
    }
}

TEST(EncoderRoundTrip, AudioModeForPcmSound) {
    struct Case {
        int channels, bits, level = 3;
    } cases[] = {{1, 8}, {2, 8}, {4, 8}, {1, 16}, {2, 16}, {3, 8}, {4, 8, 5}};
    for (const Case& c : cases) {
        std::vector<uint8_t> wav = make_wav(c.channels, c.bits, 30000, 17);
        WavLayout layout;
        ASSERT_TRUE(detect_wav(wav.data(), wav.size(), &layout));
        EXPECT_EQ(layout.channels, c.channels * c.bits / 8);
        EXPECT_EQ(layout.data_offset, 44u);
        V20Encoder enc;
        encoder_init(enc, settings_for_level(c.level));
        EntryCoding coding;
        std::vector<uint8_t> packed = encode_one(enc, wav, false, &layout, &coding);
        EXPECT_EQ(coding, EntryCoding::audio) << c.channels << "x" << c.bits;
        // The same file without the audio trial packs larger.
        V20Encoder plain;
        encoder_init(plain, settings_for_level(3));
        EXPECT_LT(packed.size(), encode_one(plain, wav, false).size());
        decode_reset();
        std::vector<uint8_t> back = decode_v20(packed, wav.size(), false);
        EXPECT_TRUE(back == wav) << c.channels << "x" << c.bits;
    }
}

TEST(EncoderRoundTrip, SolidRunSwitchingBetweenAudioAndNormal) {
    V20Encoder enc;
    encoder_init(enc, settings_for_level(3));
    std::vector<uint8_t> wav1 = make_wav(2, 16, 20000, 1), wav2 = make_wav(1, 8, 20000, 2);
    std::vector<std::vector<uint8_t>> files = {text_like(5000, 1), wav1, wav2, text_like(8000, 2), wav1,
                                               random_bytes(300, 9)};
    std::vector<std::vector<uint8_t>> packed;
    for (size_t i = 0; i < files.size(); ++i) {
        WavLayout layout;
        bool is_wav = detect_wav(files[i].data(), files[i].size(), &layout);
        packed.push_back(encode_one(enc, files[i], i != 0, is_wav ? &layout : nullptr));
    }
    decode_reset();
    for (size_t i = 0; i < files.size(); ++i) {
        std::vector<uint8_t> back = decode_v20(packed[i], files[i].size(), i != 0);
        EXPECT_TRUE(back == files[i]) << "entry " << i;
    }
}

TEST(WavDetection, RejectsWhatAudioModeCannotModel) {
    std::vector<uint8_t> wav = make_wav(2, 16, 100, 1);
    WavLayout layout;
    EXPECT_TRUE(detect_wav(wav.data(), wav.size(), &layout));
    std::vector<uint8_t> float_wav = wav;
    float_wav[20] = 3;  // IEEE float samples
    EXPECT_FALSE(detect_wav(float_wav.data(), float_wav.size(), &layout));
    std::vector<uint8_t> wide = make_wav(3, 16, 100, 1);  // 6-byte frames
    EXPECT_FALSE(detect_wav(wide.data(), wide.size(), &layout));
    EXPECT_FALSE(detect_wav(wav.data(), 40, &layout));
    std::vector<uint8_t> not_riff = wav;
    not_riff[0] = 'X';
    EXPECT_FALSE(detect_wav(not_riff.data(), not_riff.size(), &layout));
}

TEST(Huffman, LengthsAreLimitedAndComplete) {
    // Fibonacci frequencies force a plain Huffman code deeper than 15 bits.
    uint32_t freq[40];
    freq[0] = freq[1] = 1;
    for (int i = 2; i < 40; ++i) freq[i] = freq[i - 1] + freq[i - 2];
    uint8_t lengths[40];
    build_code_lengths(freq, 40, 15, lengths);
    double kraft = 0;
    for (int i = 0; i < 40; ++i) {
        EXPECT_GE(lengths[i], 1);
        EXPECT_LE(lengths[i], 15);
        kraft += std::ldexp(1.0, -lengths[i]);
    }
    EXPECT_LE(kraft, 1.0);
    uint32_t one[5] = {0, 0, 9, 0, 0};
    build_code_lengths(one, 5, 15, lengths);
    EXPECT_EQ(lengths[2], 1);
    EXPECT_EQ(lengths[0] + lengths[1] + lengths[3] + lengths[4], 0);
}

// Lengths tuned for the table block too: whatever the shape of the counts,
// each table stays a prefix code with a length for every used symbol, the
// symbols cost hardly more than under a plain code, and counts that differ
// only a little get lengths that repeat (which the table block sends as runs).
TEST(Huffman, TunedLengthsStayPrefixCodesAndRepeatMore) {
    struct Shape {
        const char* name;
        std::vector<int> ends;
        std::vector<uint32_t> freq;
        std::vector<uint8_t> previous;  // empty: none
    };
    std::vector<Shape> shapes;
    std::vector<uint32_t> fib(40);
    fib[0] = fib[1] = 1;
    for (int i = 2; i < 40; ++i) fib[i] = fib[i - 1] + fib[i - 2];
    shapes.push_back({"deeper than 15 bits", {40}, fib, {}});
    std::vector<uint8_t> noise = random_bytes(1024, 5);
    std::vector<uint32_t> three(374, 0);  // main, an empty table, one used symbol
    for (int i = 0; i < 298; ++i) three[i] = (i / 7) % 3 == 0 ? 0 : 1 + noise[i] % 40 + (i < 128 ? 400 : 0);
    three[370] = 9;
    shapes.push_back({"three tables", {298, 346, 374}, three, {}});
    std::vector<uint32_t> slope(256), other(256);  // falling slowly, with noise at every step
    for (int i = 0; i < 256; ++i) {
        slope[i] = 6000 / (8 + i / 4) + noise[300 + i] % 64;
        other[i] = 6000 / (8 + i / 4) + noise[600 + i] % 64;
    }
    shapes.push_back({"noisy slope", {256}, slope, {}});
    std::vector<uint8_t> other_lengths(256);
    build_code_lengths(other.data(), 256, 15, other_lengths.data());
    shapes.push_back({"noisy slope after a table for a like one", {256}, slope, other_lengths});
    for (const Shape& sh : shapes) {
        const int n = static_cast<int>(sh.freq.size());
        const bool delta = !sh.previous.empty();
        std::vector<uint8_t> previous = delta ? sh.previous : std::vector<uint8_t>(n, 0);
        std::vector<uint8_t> code(19, 5), tuned(n), plain(n);
        if (delta) code[0] = 1;  // an unchanged length is cheap
        double multipliers[3] = {};
        tune_table_lengths(sh.freq.data(), n, sh.ends.data(), static_cast<int>(sh.ends.size()), previous.data(),
                           code.data(), 15, tuned.data(), multipliers);
        for (size_t t = 0, b = 0; t < sh.ends.size(); b = sh.ends[t++]) {
            build_code_lengths(sh.freq.data() + b, sh.ends[t] - static_cast<int>(b), 15, plain.data() + b);
            uint64_t space = 0;
            for (int i = static_cast<int>(b); i < sh.ends[t]; ++i) {
                EXPECT_TRUE(sh.freq[i] == 0 || (tuned[i] >= 1 && tuned[i] <= 15)) << sh.name << " symbol " << i;
                if (tuned[i]) space += uint64_t{1} << (15 - tuned[i]);
            }
            EXPECT_LE(space, uint64_t{1} << 15) << sh.name << " table " << t;
        }
        uint64_t tuned_bits = 0, plain_bits = 0;
        int tuned_moves = 0, plain_moves = 0;  // lengths unlike the one before (or the previous table's)
        for (int i = 0; i < n; ++i) {
            tuned_bits += uint64_t{sh.freq[i]} * tuned[i];
            plain_bits += uint64_t{sh.freq[i]} * plain[i];
            tuned_moves += i > 0 && tuned[i] != (delta ? previous[i] : tuned[i - 1]);
            plain_moves += i > 0 && plain[i] != (delta ? previous[i] : plain[i - 1]);
        }
        EXPECT_LE(tuned_bits, plain_bits + plain_bits / 50) << sh.name;
        if (sh.name[0] == 'n') {
            EXPECT_LT(tuned_moves * (delta ? 1 : 3), plain_moves * (delta ? 1 : 2))
                << sh.name << ": " << tuned_moves << " against " << plain_moves;
        }
    }
}

TEST(Huffman, CanonicalCodesOrderedByLengthThenSymbol) {
    uint8_t lengths[4] = {2, 1, 3, 3};
    uint16_t codes[4];
    assign_codes(lengths, 4, codes);
    EXPECT_EQ(codes[1], 0b0);
    EXPECT_EQ(codes[0], 0b10);
    EXPECT_EQ(codes[2], 0b110);
    EXPECT_EQ(codes[3], 0b111);
}

TEST(EncoderRoundTrip, RealPcmRecordingFromTheCorpus) {
    std::string path = std::string(KX_CORPUS_DIR) + "/originals/BoatModernEnglish.wav";
    FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr) << path;
    std::vector<uint8_t> wav(1 << 20);
    wav.resize(std::fread(wav.data(), 1, wav.size(), f));
    std::fclose(f);
    WavLayout layout;
    ASSERT_TRUE(detect_wav(wav.data(), wav.size(), &layout));
    V20Encoder enc;
    encoder_init(enc, settings_for_level(5));
    EntryCoding coding;
    std::vector<uint8_t> packed = encode_one(enc, wav, false, &layout, &coding);
    V20Encoder plain;
    encoder_init(plain, settings_for_level(5));
    std::vector<uint8_t> normal = encode_one(plain, wav, false);
    // The archiver that made the corpus packed it to 27902 bytes in its
    // multimedia mode and 42551 bytes without.
    EXPECT_EQ(coding, EntryCoding::audio);
    EXPECT_LT(packed.size(), normal.size());
    EXPECT_LT(packed.size(), 30000u);
    decode_reset();
    EXPECT_TRUE(decode_v20(packed, wav.size(), false) == wav);
}
