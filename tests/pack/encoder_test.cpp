// Round trips through the project's own 2.0 decoder: whatever the encoder
// writes must decode back to its input, byte for byte.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "pack/audio_model.h"
#include "pack/decode_helper.h"
#include "pack/huffman_builder.h"
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

TEST(EncoderRoundTrip, SolidEntriesShareWindowAndTables) {
    V20Encoder enc;
    encoder_init(enc, settings_for_level(3));
    std::vector<std::vector<uint8_t>> files = {random_bytes(30000, 1), text_like(17, 2), text_like(5000, 3),
                                               random_bytes(30000, 1), {0x55}, text_like(1500000, 4),
                                               text_like(100, 5)};
    std::vector<std::vector<uint8_t>> packed;
    for (size_t i = 0; i < files.size(); ++i) packed.push_back(encode_one(enc, files[i], i != 0));
    // The repeated file costs almost nothing when it follows its twin.
    V20Encoder alone;
    encoder_init(alone, settings_for_level(3));
    EXPECT_LT(packed[3].size() * 10, encode_one(alone, files[3], false).size());
    decode_reset();
    for (size_t i = 0; i < files.size(); ++i) {
        std::vector<uint8_t> back = decode_v20(packed[i], files[i].size(), i != 0);
        EXPECT_TRUE(back == files[i]) << "entry " << i;
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
// a solid run too, and never be larger than level 3.
TEST(EncoderRoundTrip, LevelFiveDecodesAndIsNeverLargerThanLevelThree) {
    std::vector<std::vector<uint8_t>> files = {text_like(150000, 21), random_bytes(20000, 22), text_like(300, 23)};
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
        int channels, bits;
    } cases[] = {{1, 8}, {2, 8}, {4, 8}, {1, 16}, {2, 16}, {3, 8}};
    for (const Case& c : cases) {
        std::vector<uint8_t> wav = make_wav(c.channels, c.bits, 30000, 17);
        WavLayout layout;
        ASSERT_TRUE(detect_wav(wav.data(), wav.size(), &layout));
        EXPECT_EQ(layout.channels, c.channels * c.bits / 8);
        EXPECT_EQ(layout.data_offset, 44u);
        V20Encoder enc;
        encoder_init(enc, settings_for_level(3));
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
