// The decoder core: bit peeks and skips, fills and refills, the window
// flush, the match copies and the per-entry reset.
#include <gtest/gtest.h>

#include <random>

#include "unpack/decoder_state.h"
#include "unpack/unpack_support.h"

using namespace unpack_test;

namespace {

class Core : public ::testing::Test {
protected:
    void SetUp() override {
        reset_decoder_state();
        decoder_state.window = test_window();
        std::memset(test_window(), 0, WINDOW_SIZE);
    }
};

TEST_F(Core, SkipAndFieldReads) {
    BitInput& in = decoder_state.input;
    in.in_buffer[0] = 0xB4;  // 1011 0100
    in.in_buffer[1] = 0xFF;
    EXPECT_EQ(peek_bits(), 0xB4FFu);
    EXPECT_EQ(read_bits(0), 0u);
    EXPECT_EQ(read_bits(1), 1u);
    EXPECT_EQ(peek_bits(), 0x69FEu);  // three bytes joined big-endian, shifted by the bit position
    EXPECT_EQ(read_bits(3), 0b011u);
    EXPECT_EQ(read_bits(6), 0b010011u);
    EXPECT_EQ(in.in_pos, 1);
    EXPECT_EQ(in.in_bit, 2);
    skip_bits(16);
    EXPECT_EQ(in.in_pos, 3);
    EXPECT_EQ(in.in_bit, 2);
}

TEST_F(Core, FirstFillAndRefillKeepTheLastThirtyTwoBytes) {
    std::vector<uint8_t> src(20000);
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = uint8_t(i * 7 + i / 256);
    use_memory_io(src);
    BitInput& in = decoder_state.input;
    fill_input(1);
    EXPECT_EQ(in.in_end, 8192);
    EXPECT_EQ(in.in_pos, 0);
    in.in_pos = 8170;
    in.in_bit = 5;
    uint32_t before = peek_bits();
    fill_input(0);
    EXPECT_EQ(in.in_pos, 10);
    EXPECT_EQ(in.in_bit, 5);
    EXPECT_EQ(peek_bits(), before);
    EXPECT_EQ(in.in_end, 8192);
    EXPECT_EQ(in.in_buffer[32], src[8192]);
    EXPECT_EQ(in.in_buffer[8191], src[8192 + 8159]);

    // Input used up: the refill keeps the buffer and sets in_end to in_pos.
    in.in_pos = 8163;
    fill_input(0);  // reads the last 20000 - 16352 bytes
    EXPECT_EQ(in.in_end, 32 + int32_t(src.size() - 16352));
    in.in_pos = 8165;
    fill_input(0);
    EXPECT_EQ(in.in_pos, 5);
    EXPECT_EQ(in.in_end, 5);
    EXPECT_GE(decoder_state.bytes_left, 0) << "a single empty fill is normal at the end of the data";
}

TEST_F(Core, SecondEmptyFillEndsTheEntry) {
    use_memory_io({});
    decoder_state.bytes_left = 1000;
    fill_input(1);
    EXPECT_EQ(decoder_state.input.in_end, 0);
    EXPECT_EQ(decoder_state.bytes_left, 1000);
    decoder_state.input.in_pos = 8163;
    fill_input(0);
    EXPECT_EQ(decoder_state.bytes_left, -1);
}

TEST_F(Core, FlushAfterWrapMakesTwoCalls) {
    use_memory_io({});
    uint8_t* w = test_window();
    w[WINDOW_SIZE - 2] = 'a';
    w[WINDOW_SIZE - 1] = 'b';
    w[0] = 'c';
    decoder_state.flushed_pos = WINDOW_SIZE - 2;
    decoder_state.out_pos = 1;
    flush_window();
    ASSERT_EQ(memory_io.write_sizes.size(), 2u);
    EXPECT_EQ(memory_io.write_sizes[0], 2);
    EXPECT_EQ(memory_io.write_sizes[1], 1);
    EXPECT_EQ(std::string(memory_io.output.begin(), memory_io.output.end()), "abc");
    EXPECT_EQ(decoder_state.flushed_pos, 1u);
    flush_window();
    EXPECT_EQ(memory_io.write_sizes.back(), 0);
}

// The word-wise copy against the byte-wise one, near both window ends and at
// every short distance, including distances of a whole window, with the
// window full and with only a few bytes written since the fresh start.
TEST_F(Core, FastCopyMatchesBytewiseCopy) {
    std::mt19937 rng(5);
    std::vector<uint8_t> base(WINDOW_SIZE), a(WINDOW_SIZE), b(WINDOW_SIZE);
    for (auto& x : base)
        x = uint8_t(rng());
    a = base;
    b = base;
    const uint32_t starts[] = {0, 1, 7, 300, WINDOW_SIZE - 300, WINDOW_SIZE - 9, WINDOW_SIZE - 1};
    const uint32_t distances[] = {0, 1, 2, 3, 5, 7, 8, 9, 15, 16, 17, 100, 299, 0xFFFFF, WINDOW_SIZE, 983040,
                                  WINDOW_SIZE - 5};
    decoder_state.entry_left = 1000;
    for (uint32_t filled : {WINDOW_SIZE, 5u, 100u})
    for (uint32_t start : starts)
        for (uint32_t distance : distances)
            for (uint32_t length : {0u, 1u, 2u, 7u, 8u, 9u, 31u, 258u, 267u}) {
                decoder_state.fill_base = filled;
                decoder_state.window = a.data();
                decoder_state.out_pos = start;
                decoder_state.bytes_left = 1000;
                copy_match_bytewise(length, distance);
                uint32_t out_ref = decoder_state.out_pos;
                decoder_state.window = b.data();
                decoder_state.out_pos = start;
                decoder_state.bytes_left = 1000;
                copy_match_fast(length, distance);
                ASSERT_EQ(decoder_state.out_pos, out_ref);
                ASSERT_EQ(decoder_state.bytes_left, 1000 - int32_t(length));
                ASSERT_EQ(std::memcmp(a.data(), b.data(), WINDOW_SIZE), 0)
                    << "filled " << filled << " start " << start << " distance " << distance << " length "
                    << length;
                // Put the written stretch back for the next case.
                for (uint32_t i = 0; i < length; ++i) {
                    uint32_t at = (start + i) & WINDOW_MASK;
                    a[at] = b[at] = base[at];
                }
            }
}

TEST_F(Core, SolidResetKeepsEverythingButTheBitInput) {
    DecoderState& s = decoder_state;
    test_window()[5] = 9;
    s.out_pos = s.flushed_pos = 77;
    s.recent_distances[2] = 40;
    s.last_length = 3;
    s.v20.previous_lengths[10] = 4;
    s.v20.channels[1].weights[2] = 5;
    s.input.in_pos = 100;
    s.input.in_bit = 3;
    reset_decoder(1);
    EXPECT_EQ(s.input.in_pos, 0);
    EXPECT_EQ(s.input.in_bit, 0);
    EXPECT_EQ(test_window()[5], 9);
    EXPECT_EQ(s.out_pos, 77u);
    EXPECT_EQ(s.recent_distances[2], 40u);
    EXPECT_EQ(s.v20.previous_lengths[10], 4);
    EXPECT_EQ(s.v20.channels[1].weights[2], 5);
    reset_decoder(0);
    EXPECT_EQ(s.fill_base, 0u);
    EXPECT_EQ(s.out_pos, 0u);
    EXPECT_EQ(s.flushed_pos, 0u);
    EXPECT_EQ(s.recent_distances[2], 0u);
    EXPECT_EQ(s.last_length, 0u);
    EXPECT_EQ(s.v20.previous_lengths[10], 0);
    EXPECT_EQ(s.v20.channels[1].weights[2], 0);
}

// A fresh start does not clear the window, but every byte a match takes from
// before the entry's first byte reads as 0, as from a cleared window; bytes
// the entry wrote read as they are.
TEST_F(Core, MatchBeforeTheFirstByteReadsZeros) {
    uint8_t* w = test_window();
    std::memset(w, 0xEE, WINDOW_SIZE);
    DecoderState& s = decoder_state;
    s.bytes_left = 100;
    reset_decoder(0);
    s.entry_left = s.bytes_left;
    w[0] = 'a';
    w[1] = 'b';
    s.out_pos = 2;
    s.bytes_left -= 2;
    copy_match_fast(6, 4);  // two unwritten bytes, then "ab" "00" "ab"... byte by byte
    EXPECT_EQ(std::string(w, w + 8), std::string("ab\0\0ab\0\0", 8));
    copy_match_bytewise(3, 0);  // the position being written: a whole window back, unwritten
    EXPECT_EQ(w[8], 0);
    EXPECT_EQ(w[10], 0);
    EXPECT_EQ(w[11], 0xEE);
    s.bytes_left -= 1;  // as if one literal had been written at 11
    w[11] = 'z';
    s.out_pos = 12;
    copy_match_fast(1, 1);
    EXPECT_EQ(w[12], 'z');
}

// Size 0: no item is decoded and the final flush passes 0 bytes.
TEST_F(Core, ZeroSizeEntryWritesNothing) {
    for (int method : {15, 20}) {
        reset_decoder_state();
        std::vector<uint8_t> out = decode(std::vector<uint8_t>(64, 0xA5), 0, method, 0);
        EXPECT_TRUE(out.empty());
        ASSERT_EQ(memory_io.write_sizes.size(), 1u) << method;
        EXPECT_EQ(memory_io.write_sizes[0], 0);
    }
}

// The fast rounds' copy (blocks from far back, a stored pattern from near)
// against a byte-by-byte copy, at every distance up to 70 and every length
// a match can have; the 32 bytes behind the match stay as they were.
TEST_F(Core, CopyWithinMatchesByteCopyAndKeepsTheBytesBehind) {
    std::mt19937 rng(9);
    std::vector<uint8_t> base(1024), a, b;
    for (auto& x : base)
        x = uint8_t(rng());
    const uint32_t at = 96;
    for (uint32_t distance = 1; distance <= 70; ++distance)
        for (uint32_t length = 1; length <= FLUSH_MARGIN; ++length) {
            a = base;
            b = base;
            for (uint32_t i = 0; i < length; ++i)
                a[at + i] = a[at + i - distance];
            copy_within(b.data() + at, distance, length);
            ASSERT_EQ(a, b) << "distance " << distance << " length " << length;
            b = base;
            copy_within<false>(b.data() + at, distance, length);
            ASSERT_EQ(a, b) << "without far patterns, distance " << distance << " length " << length;
        }
}

}  // namespace
