// The 2.0 method: decode tables, audio prediction, and crafted streams that
// exercise each kind of item, table blocks and their carry-over.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include "unpack/decoder_state.h"
#include "unpack/huff_table.h"
#include "unpack/unpack_support.h"
#include "unpack/v20_audio.h"

using namespace unpack_test;

namespace {

// Canonical codes for a set of lengths, as the decoder assigns them.
struct Code {
    std::vector<uint8_t> lengths;
    std::vector<uint32_t> codes;

    explicit Code(std::vector<uint8_t> l) : lengths(std::move(l)), codes(lengths.size()) {
        uint32_t count[16] = {};
        for (uint8_t x : lengths)
            ++count[x];
        count[0] = 0;
        uint32_t next[16] = {};
        uint32_t code = 0;
        for (int len = 1; len < 16; ++len) {
            code = (code + count[len - 1]) << 1;
            next[len] = code;
        }
        for (size_t s = 0; s < lengths.size(); ++s)
            if (lengths[s])
                codes[s] = next[lengths[s]]++;
    }
    void put(BitWriter& w, uint32_t symbol) const {
        ASSERT_NE(lengths[symbol], 0) << "symbol " << symbol << " has no code";
        w.put(codes[symbol], lengths[symbol]);
    }
};

// Writes a table block with the flat length code (symbols 0..15 four bits
// each). keep: bit 14 set, the lengths are written as deltas to previous.
void put_table_block(BitWriter& w, const std::vector<uint8_t>& lengths, bool audio, int channels, bool keep,
                     const std::vector<uint8_t>& previous = {}) {
    w.put(audio ? 1 : 0, 1);
    w.put(keep ? 1 : 0, 1);
    if (audio)
        w.put(uint32_t(channels - 1), 2);
    for (int i = 0; i < 19; ++i)
        w.put(i < 16 ? 4 : 0, 4);
    for (size_t i = 0; i < lengths.size(); ++i) {
        uint32_t prev = keep && i < previous.size() ? previous[i] : 0;
        w.put((lengths[i] - prev) & 15, 4);
    }
}

// Every symbol of each normal table gets a code: 298 main symbols of 9 bits,
// 48 distance symbols of 6 bits, 28 repeat symbols of 5 bits.
std::vector<uint8_t> plain_lengths() {
    std::vector<uint8_t> l(374, 9);
    std::fill(l.begin() + 298, l.begin() + 346, 6);
    std::fill(l.begin() + 346, l.end(), 5);
    return l;
}

struct Tables {
    Code main, distance, repeat;
    explicit Tables(const std::vector<uint8_t>& l)
        : main({l.begin(), l.begin() + 298}), distance({l.begin() + 298, l.begin() + 346}),
          repeat({l.begin() + 346, l.end()}) {}
};

// Helpers that write items with the plain tables.
struct Writer {
    BitWriter w;
    Tables t{plain_lengths()};
    Writer() { put_table_block(w, plain_lengths(), false, 0, false); }
    void literal(uint32_t b) { t.main.put(w, b); }
    // Long match; length before the distance adjustments (3..260).
    void long_match(uint32_t length, uint32_t distance) {
        static const uint32_t LB[28] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  10,  12,  14,  16,  20,
                                        24, 28, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224};
        static const int LX[28] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
        int j = 27;
        while (LB[j] + 3 > length)
            --j;
        t.main.put(w, 270 + uint32_t(j));
        w.put(length - 3 - LB[j], LX[j]);
        put_distance(distance);
    }
    void put_distance(uint32_t distance) {
        static const uint32_t DB[48] = {
            0,      1,      2,      3,      4,      6,      8,      12,     16,     24,     32,     48,
            64,     96,     128,    192,    256,    384,    512,    768,    1024,   1536,   2048,   3072,
            4096,   6144,   8192,   12288,  16384,  24576,  32768,  49152,  65536,  98304,  131072, 196608,
            262144, 327680, 393216, 458752, 524288, 589824, 655360, 720896, 786432, 851968, 917504, 983040};
        int d = 47;
        while (DB[d] + 1 > distance)
            --d;
        int bits = d < 4 ? 0 : (d < 34 ? d / 2 - 1 : 16);
        t.distance.put(w, uint32_t(d));
        w.put(distance - 1 - DB[d], bits);
    }
    void short_match(uint32_t j, uint32_t extra, int extra_bits) {
        t.main.put(w, 261 + j);
        w.put(extra, extra_bits);
    }
    std::vector<uint8_t> bytes() { return w.finish(); }
};

// Small codes: the symbol and code length of every 16-bit window.
TEST(HuffTable, SmallCodes) {
    struct Span { uint32_t first, last, symbol, length; };  // length 0: not checked
    struct Case { std::vector<uint8_t> lengths; std::vector<Span> spans; };
    const Case cases[] = {
        {{1, 2, 2}, {{0x0000, 0x7FFF, 0, 1}, {0x8000, 0xBFFF, 1, 2}, {0xC000, 0xFFFF, 2, 2}}},
        // Two one-bit codes split on the top bit.
        {{0, 0, 0, 1, 0, 0, 0, 1, 0, 0}, {{0x0000, 0x7FFF, 3, 1}, {0x8000, 0xFFFF, 7, 1}}},
        // One code 00; the unassigned 01.. decodes as symbol 0.
        {{0, 0, 2, 0, 0}, {{0x0000, 0x3FFF, 2, 2}, {0x4000, 0x4000, 0, 0}}},
    };
    for (const Case& c : cases) {
        HuffTable t{};
        build_huff_table(c.lengths.data(), t, uint32_t(c.lengths.size()));
        for (const Span& s : c.spans)
            for (uint32_t h = s.first; h <= s.last; ++h) {
                uint32_t len = huff_code_length(t, h);
                if (s.length) {
                    ASSERT_EQ(len, s.length) << std::hex << h;
                }
                ASSERT_EQ(huff_symbol_at(t, h, len), s.symbol) << std::hex << h;
            }
    }
}

// The look-up must give the limit rule's symbol and length for every window,
// also for incomplete, overfull and empty length sets, in each of the
// decoder's table types (their first levels differ). One table is rebuilt
// round after round, as the decoders do, and must equal a fresh build. Every
// prefix gets its subtable (the room suffices for any length set), so the
// look-up that skips the rule gives the same entries.
template <class Table>
void check_lookup_against_the_rule(uint32_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    static Table t{}, fresh{};
    for (int round = 0; round < 48; ++round) {
        std::vector<uint8_t> lengths(n);
        int style = round % 8;
        // Styles 6 and 7: a complete code grown by splitting random leaves
        // (lengths up to 15), given to random symbols; style 7 then drops a
        // few codes, so that the codes end inside a prefix.
        std::vector<uint8_t> grown;
        if (style >= 6) {
            grown = {0};
            uint32_t m = n - rng() % (n / 4 + 1);
            while (grown.size() < m) {
                size_t k = rng() % grown.size();
                if (grown[k] < 15) {
                    grown[k] += 1;
                    grown.push_back(grown[k]);
                }
            }
            grown.resize(n, 0);
            std::shuffle(grown.begin(), grown.end(), rng);
            for (int drop = style == 7 ? 3 : 0; drop > 0; --drop)
                grown[rng() % n] = 0;
        }
        // Style 4: codes one bit longer than the first level, two under
        // each of its prefixes and one under the last with an odd count: the
        // most subtables a length set needs (149 in the main table). Every
        // other time a few short codes come first (140 there).
        const uint32_t short_codes = round / 8 % 2 == 0 ? 0 : std::min(18u, n / 3);
        for (uint32_t i = 0; i < n; ++i) {
            uint8_t& l = lengths[i];
            if (style == 0) l = uint8_t(rng() % 16);                        // anything, mostly overfull
            else if (style == 1) l = rng() % 4 ? 0 : uint8_t(1 + rng() % 15);  // sparse, incomplete
            else if (style == 2) l = uint8_t(8 + rng() % 8);                 // long codes
            else if (style == 3) l = rng() % 8 ? 0 : uint8_t(rng() % 16);
            else if (style == 4) l = i < short_codes ? 5 : uint8_t(Table::LOOKUP_BITS + 1);
            else if (style == 5) l = 0;                 // no codes at all
            else l = grown[i];
        }
        build_huff_table(lengths.data(), t, n);
        fresh = Table{};
        build_huff_table(lengths.data(), fresh, n);
        ASSERT_EQ(std::memcmp(t.entries, fresh.entries, sizeof t.entries), 0) << "round " << round;
        // The symbols in code order: by length, then symbol; the rest 0.
        std::vector<uint32_t> order(Table::MAX_SYMBOLS, 0);
        size_t placed = 0;
        for (uint32_t len = 1; len < 16; ++len)
            for (uint32_t i = 0; i < n; ++i)
                if ((lengths[i] & 15) == len)
                    order[placed++] = i;
        ASSERT_TRUE(std::equal(order.begin(), order.end(), t.symbols)) << "round " << round;
        BitInput& in = decoder_state.input;
        for (uint32_t h = 0; h < 0x10000; ++h) {
            in.in_buffer[0] = uint8_t(h >> 8);
            in.in_buffer[1] = uint8_t(h);
            in.in_buffer[2] = 0;
            in.in_pos = 0;
            in.in_bit = 0;
            uint32_t ref = decode_symbol_reference(t);
            int ref_bits = in.in_bit + 8 * in.in_pos;
            in.in_pos = 0;
            in.in_bit = 0;
            uint32_t fast = decode_symbol_fast(t);
            ASSERT_EQ(fast, ref) << "round " << round << " window " << h;
            ASSERT_EQ(in.in_bit + 8 * in.in_pos, ref_bits);
            ASSERT_LT(ref, n);
            ASSERT_EQ(huff_lookup_built(t, h), huff_lookup(t, h, nullptr)) << "round " << round;
        }
        ASSERT_EQ(t.by_rule, 0u) << "round " << round;
    }
}

TEST(HuffTable, LookupMatchesTheLimitRuleForEveryWindow) {
    check_lookup_against_the_rule<HuffTable>(298, 17);
    check_lookup_against_the_rule<HuffTable>(257, 18);
    check_lookup_against_the_rule<DistanceTable>(48, 19);
    check_lookup_against_the_rule<RepeatTable>(28, 20);
    check_lookup_against_the_rule<LengthCodeTable>(19, 21);
}

class Audio : public ::testing::Test {
protected:
    void SetUp() override { reset_decoder_state(); }
};

TEST_F(Audio, FreshChannelPredictsItsLastByte) {
    V20State& v = decoder_state.v20;
    EXPECT_EQ(predict_audio_byte(5), 251);
    EXPECT_EQ(v.channels[0].last_delta, -5);
    EXPECT_EQ(v.channel_delta, -5);
    for (uint32_t e : v.channels[0].errors)
        EXPECT_EQ(e, 40u);
    EXPECT_EQ(predict_audio_byte(0), 251);
}

TEST_F(Audio, WeightsStayWithinTheirRange) {
    AudioChannel& ch = decoder_state.v20.channels[0];
    auto adapt_towards = [&](uint32_t index) {
        for (uint32_t i = 0; i < 11; ++i)
            ch.errors[i] = i == index ? 0 : 100000;
        ch.byte_count = 31;
        ch.last_delta = 0;
        ch.deltas[0] = ch.deltas[1] = ch.deltas[2] = ch.deltas[3] = 0;
        decoder_state.v20.channel_delta = 0;
        predict_audio_byte(0);  // e = 0: every sum grows by 0
    };
    ch.weights[0] = -16;
    adapt_towards(1);
    EXPECT_EQ(ch.weights[0], -17);
    adapt_towards(1);
    EXPECT_EQ(ch.weights[0], -17);
    ch.weights[4] = 15;
    adapt_towards(10);
    EXPECT_EQ(ch.weights[4], 16);
    adapt_towards(10);
    EXPECT_EQ(ch.weights[4], 16);
    for (uint32_t e : ch.errors)
        EXPECT_EQ(e, 0u);
}

TEST_F(Audio, TiesGoToTheLowestIndex) {
    AudioChannel& ch = decoder_state.v20.channels[0];
    for (uint32_t i = 0; i < 11; ++i)
        ch.errors[i] = i == 3 || i == 4 ? 5 : 9;
    ch.byte_count = 31;
    predict_audio_byte(0);
    EXPECT_EQ(ch.weights[1], -1);  // index 3 lowers w2
}

// A last match longer than the bytes still owed: only the entry's size is
// passed on; the window and positions go on behind the whole match, so a
// solid entry continues where the decoding really stands.
TEST(V20Stream, MatchPastTheEntrySizeDeliversOnlyTheSize) {
    Writer wr;
    wr.literal('a');
    wr.long_match(10, 1);
    reset_decoder_state();
    for (bool reference : {false, true}) {
        reset_decoder_state();
        std::vector<uint8_t> out = decode(wr.bytes(), 5, 20, 0, reference);
        EXPECT_EQ(std::string(out.begin(), out.end()), "aaaaa");
        EXPECT_EQ(decoder_state.out_pos, 11u);
        EXPECT_EQ(decoder_state.flushed_pos, 11u);
        EXPECT_EQ(decoder_state.bytes_left, -7);
    }
}

TEST(V20Stream, RepeatLastMatchStoresTheDistanceAgain) {
    Writer wr;
    std::vector<uint8_t> expected;
    for (int i = 0; i < 5000; ++i) {
        wr.literal(uint32_t(i * 7 % 251));
        expected.push_back(uint8_t(i * 7 % 251));
    }
    wr.long_match(10, 5000);
    wr.t.main.put(wr.w, 256);
    for (int k = 0; k < 20; ++k)
        expected.push_back(expected[expected.size() - 5000]);
    reset_decoder_state();
    std::vector<uint8_t> out = decode(wr.bytes(), int32_t(expected.size()), 20, 0);
    EXPECT_TRUE(out == expected);
    DecoderState& s = decoder_state;
    EXPECT_EQ(s.last_length, 10u);
    EXPECT_EQ(s.last_distance, 5000u);
    EXPECT_EQ(s.recent_index, 2u);
    EXPECT_EQ(s.recent_distances[0], 5000u);
    EXPECT_EQ(s.recent_distances[1], 5000u);
}

// Length bonuses by distance: repeated distances from 0x101, long matches from 0x2000.
TEST(V20Stream, LengthGrowsWithTheDistance) {
    struct Case { uint32_t distance; uint32_t repeat_length; uint32_t long_length; };
    for (Case c : {Case{0x100, 2, 3}, Case{0x101, 3, 3}, Case{0x1FFF, 3, 3}, Case{0x2000, 4, 4},
                   Case{0x3FFFF, 4, 4}, Case{0x40000, 5, 5}}) {
        Writer wr;
        wr.literal('x');
        wr.long_match(3, c.distance);
        wr.t.main.put(wr.w, 257);
        wr.t.repeat.put(wr.w, 0);  // base length 2
        reset_decoder_state();
        int32_t size = int32_t(1 + c.long_length + c.repeat_length);
        std::vector<uint8_t> out = decode(wr.bytes(), size, 20, 0);
        EXPECT_EQ(out.size(), size_t(size)) << std::hex << c.distance;
        EXPECT_EQ(decoder_state.last_length, c.repeat_length) << std::hex << c.distance;
        EXPECT_EQ(decoder_state.bytes_left, -1) << std::hex << c.distance;
    }
}

TEST(V20Stream, RepeatedDistancesCountBackFromTheNewest) {
    Writer wr;
    for (int i = 0; i < 300; ++i)
        wr.literal(uint32_t(i & 0xFF));
    // Short matches with distances 1+0, 4+1+1, 8+1+2, 16+1+3.
    wr.short_match(0, 0, 2);
    wr.short_match(1, 1, 2);
    wr.short_match(2, 2, 3);
    wr.short_match(3, 3, 4);
    wr.t.main.put(wr.w, 260);  // fourth most recent: 1
    wr.t.repeat.put(wr.w, 0);
    reset_decoder_state();
    decode(wr.bytes(), 300 + 8 + 2, 20, 0);
    EXPECT_EQ(decoder_state.last_distance, 1u);
    Writer wr2;
    wr2.literal('a');
    wr2.t.main.put(wr2.w, 260);  // fresh ring: distance 0 copies each byte onto itself
    wr2.t.repeat.put(wr2.w, 0);
    reset_decoder_state();
    std::vector<uint8_t> out = decode(wr2.bytes(), 3, 20, 0);
    EXPECT_EQ(out, (std::vector<uint8_t>{'a', 0, 0}));
    EXPECT_EQ(decoder_state.last_distance, 0u);
}

// A second block with bit 14 set adds deltas to the previous lengths; a third
// with it clear takes its values as they are.
TEST(V20Stream, TableBlocksWithAndWithoutPreviousLengths) {
    std::vector<uint8_t> first = plain_lengths();
    std::vector<uint8_t> second = first;
    // Literals 'a'..'p' one bit shorter, the same count of 9-bit codes removed.
    for (int c = 'a'; c < 'a' + 16; ++c)
        second[size_t(c)] = 8;
    for (int c = 0; c < 32; ++c)
        second[size_t(c)] = 0;
    Writer wr;
    wr.literal('q');
    wr.t.main.put(wr.w, 269);
    put_table_block(wr.w, second, false, 0, true, first);
    Tables t2(second);
    t2.main.put(wr.w, 'b');
    t2.main.put(wr.w, 269);
    put_table_block(wr.w, first, false, 0, false);
    wr.literal('z');
    reset_decoder_state();
    for (bool reference : {false, true}) {
        std::vector<uint8_t> out = decode(wr.bytes(), 3, 20, 0, reference);
        EXPECT_EQ(std::string(out.begin(), out.end()), "qbz");
    }
    EXPECT_EQ(decoder_state.v20.previous_lengths[size_t('b')], 9);
}

// Length symbol 16 at position 0 repeats the length 0; a run of 18 with
// field 127 (138 zeros) stops at the block's count.
TEST(V20Stream, LengthRunsAtTheBlockEdges) {
    BitWriter w;
    w.put(0, 2);
    // Length code: 0..15 four bits except 14 and 15; 16 and 18 four bits too.
    uint8_t lc[19] = {4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 0, 0, 4, 0, 4};
    for (uint8_t l : lc)
        w.put(l, 4);
    Code lcode(std::vector<uint8_t>(lc, lc + 19));
    lcode.put(w, 16);  // three zeros at 0..2
    w.put(0, 2);
    for (int i = 3; i < 256; ++i)
        lcode.put(w, i == 'A' ? 1 : 0);
    lcode.put(w, 18);  // 138 zeros, but only 374 - 256 = 118 remain
    w.put(127, 7);
    Code main(std::vector<uint8_t>(298, 0));
    // Only 'A' has a code (one bit, 0); write it twice.
    w.put(0, 1);
    w.put(0, 1);
    reset_decoder_state();
    std::vector<uint8_t> out = decode(w.finish(), 2, 20, 0);
    EXPECT_EQ(std::string(out.begin(), out.end()), "AA");
    EXPECT_EQ(decoder_state.v20.previous_lengths[0], 0);
    EXPECT_EQ(decoder_state.v20.previous_lengths['A'], 1);
    EXPECT_EQ(decoder_state.v20.previous_lengths[373], 0);
}

// Three channels take bytes in turn; a block that lowers the count below
// current_channel + 1 starts again at channel 0.
TEST(V20Stream, AudioChannelsInTurn) {
    std::vector<uint8_t> lengths(3 * 257, 9);
    BitWriter w;
    put_table_block(w, lengths, true, 3, false);
    Code ch(std::vector<uint8_t>(257, 9));
    for (uint32_t code : {5u, 10u, 1u, 0u, 0u})
        ch.put(w, code);
    ch.put(w, 256);  // current_channel is 2 here
    put_table_block(w, std::vector<uint8_t>(2 * 257, 9), true, 2, false);
    ch.put(w, 0);  // channel 0 again: its last byte
    ch.put(w, 0);  // channel 1
    reset_decoder_state();
    for (bool reference : {false, true}) {
        reset_decoder_state();
        std::vector<uint8_t> out = decode(w.finish(), 7, 20, 0, reference);
        EXPECT_EQ(out, (std::vector<uint8_t>{251, 246, 255, 251, 246, 251, 246}));
    }
    EXPECT_EQ(decoder_state.v20.channel_count, 2u);
    EXPECT_EQ(decoder_state.v20.current_channel, 0u);
}

// Audio streams for the runs below. Each channel's code gives short codes
// to small steps (symbols near 0 and 255) and codes of up to 15 bits to the
// rest, in an order of its own; symbol 256 has a 9-bit code.
struct AudioStream {
    std::mt19937 rng;
    BitWriter w;
    std::vector<Code> codes;
    std::vector<uint8_t> lengths;  // of the last block, for the next one's deltas
    uint32_t channel = 0;          // the decoder's current channel
    uint32_t size = 0;             // bytes the codes so far decode to

    explicit AudioStream(uint32_t seed) : rng(seed) {}

    void block(uint32_t channels, bool keep) {
        static constexpr uint8_t PROFILE[][2] = {{3, 2}, {4, 4}, {5, 8}, {6, 8}, {8, 16},
                                                 {9, 16}, {12, 8}, {14, 8}, {15, 8}};
        std::vector<uint8_t> all(channels * 257, 0);
        codes.clear();
        for (uint32_t c = 0; c < channels; ++c) {
            std::vector<uint32_t> order(256);
            for (uint32_t i = 0; i < 256; ++i)
                order[i] = i;
            std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
                return std::abs(int8_t(a)) < std::abs(int8_t(b));
            });
            for (uint32_t i = 0; i + 1 < 40; ++i)  // some shuffling among the likely ones
                if (rng() % 3 == 0)
                    std::swap(order[i], order[i + 1]);
            uint8_t* l = &all[c * 257];
            size_t rank = 0;
            for (auto [len, count] : PROFILE)
                for (uint8_t k = 0; k < count; ++k)
                    l[order[rank++]] = len;
            l[order[rank - 20]] = 0;  // a 9-bit code goes to the table block symbol
            l[256] = 9;
            codes.emplace_back(std::vector<uint8_t>(l, l + 257));
        }
        put_table_block(w, all, true, int(channels), keep, lengths);
        lengths = all;
        if (channel >= channels)
            channel = 0;
    }
    // n codes drawn by their lengths, as a matching source would give them.
    void codes_drawn(uint32_t n) {
        for (uint32_t i = 0; i < n; ++i) {
            const Code& c = codes[channel];
            uint32_t pick = rng() % 32768;
            uint32_t symbol = 0;
            while (symbol < 255 && (c.lengths[symbol] == 0 || pick >= (32768u >> c.lengths[symbol]))) {
                pick -= c.lengths[symbol] ? 32768u >> c.lengths[symbol] : 0;
                ++symbol;
            }
            if (c.lengths[symbol] == 0)
                symbol = 0;  // the shortest codes' share left over
            c.put(w, symbol);
            channel = (channel + 1) % uint32_t(codes.size());
            ++size;
        }
    }
    // A table block follows; its code takes no turn.
    void end_block() { codes[channel].put(w, 256); }
    // Starts the packed data of the next solid entry.
    std::vector<uint8_t> next_entry() {
        std::vector<uint8_t> packed = w.finish();
        w = BitWriter();
        size = 0;
        return packed;
    }
};

// Both paths' output and predictor state after an entry.
struct AudioResult {
    std::vector<uint8_t> out;
    AudioChannel channels[MAX_CHANNELS];
    uint32_t current;
    int32_t delta;

    explicit AudioResult(std::vector<uint8_t> o) : out(std::move(o)) {
        const V20State& v = decoder_state.v20;
        std::memcpy(channels, v.channels, sizeof channels);
        current = v.current_channel;
        delta = v.channel_delta;
    }
    void expect_equal(const AudioResult& ref) const {
        EXPECT_TRUE(out == ref.out);
        EXPECT_EQ(std::memcmp(channels, ref.channels, sizeof channels), 0);
        EXPECT_EQ(current, ref.current);
        EXPECT_EQ(delta, ref.delta);
    }
};

// Long audio runs decode alike on both paths, in bytes and in every
// predictor's state: one to four channels, blocks that change the channel
// count mid-stream (with and without the previous lengths), input refills,
// and a solid entry that goes on with the state where the first left it.
TEST(V20Stream, LongAudioRunsMatchTheReference) {
    struct Case {
        std::vector<uint32_t> channels;  // per table block
        uint32_t codes_per_block;
    };
    const Case cases[] = {
        {{1}, 40000},
        {{2}, 40000},
        {{3, 4, 2, 1, 4}, 9000},
        {{4, 1, 3}, 12000},
        {{2, 2, 3, 3}, 7001},
        {{4, 4, 3, 1}, 9003},  // table blocks read on channels 3 and 2
    };
    uint32_t seed = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE("case " + std::to_string(seed));
        AudioStream a(++seed);
        for (size_t b = 0; b < c.channels.size(); ++b) {
            if (b > 0)
                a.end_block();
            a.block(c.channels[b], b % 2 == 1);
            a.codes_drawn(c.codes_per_block);
        }
        uint32_t first_size = a.size;
        std::vector<uint8_t> first = a.next_entry();
        a.codes_drawn(5000);
        uint32_t second_size = a.size;
        std::vector<uint8_t> second = a.next_entry();

        std::vector<AudioResult> results[2];
        for (int reference : {0, 1}) {
            reset_decoder_state();
            results[reference].emplace_back(decode(first, first_size, 20, 0, reference));
            results[reference].emplace_back(decode(second, second_size, 20, 1, reference));
        }
        EXPECT_EQ(results[0][0].out.size(), size_t(first_size));
        EXPECT_EQ(results[0][1].out.size(), size_t(second_size));
        results[0][0].expect_equal(results[1][0]);
        results[0][1].expect_equal(results[1][1]);
    }
}

// A weight at or next to its limit (-17 or 16), and error sums that make the
// closing window move it outwards, when a solid entry of two channels goes
// on: each channel holds one such case for the weight under test. The
// window closes right before a table block.
TEST(V20Stream, AudioWeightLimitsMatchTheReference) {
    struct Limit {
        int32_t weight;
        int32_t expected;
        bool lower;  // the odd trial of the weight wins, else the even one
    };
    const Limit limits[][2] = {{{-16, -17, true}, {-17, -17, true}}, {{15, 16, false}, {16, 16, false}}};
    for (uint32_t k = 0; k < 5; ++k) {
        for (const auto& pair : limits) {
            SCOPED_TRACE("weight " + std::to_string(k) + " from " + std::to_string(pair[0].weight));
            AudioStream a(k + 100);
            a.block(2, false);
            a.codes_drawn(200);
            uint32_t first_size = a.size;
            std::vector<uint8_t> first = a.next_entry();
            // 12 bytes per channel close the window; a table block right
            // behind them ends the fast decoder's run before it closes it.
            a.codes_drawn(2 * 12);
            a.end_block();
            a.block(2, true);
            a.codes_drawn(2 * 10);
            uint32_t second_size = a.size;
            std::vector<uint8_t> second = a.next_entry();

            std::vector<AudioResult> results[2];
            for (int reference : {0, 1}) {
                reset_decoder_state();
                decode(first, first_size, 20, 0, reference);
                for (uint32_t c = 0; c < 2; ++c) {
                    AudioChannel& ch = decoder_state.v20.channels[c];
                    ch.weights[k] = pair[c].weight;
                    uint32_t winner = 1 + 2 * k + (pair[c].lower ? 0 : 1);
                    for (uint32_t i = 0; i < 11; ++i)
                        ch.errors[i] = i == winner ? 0 : 100000;
                    ch.byte_count = 32 * 7 + 20;  // the window closes after 12 more bytes
                }
                results[reference].emplace_back(decode(second, second_size, 20, 1, reference));
            }
            results[0][0].expect_equal(results[1][0]);
            for (uint32_t c = 0; c < 2; ++c)
                EXPECT_EQ(results[1][0].channels[c].weights[k], pair[c].expected) << "channel " << c;
        }
    }
}

// A table block right after the last item is read at the end of the entry
// and used by the next solid entry.
TEST(V20Stream, TrailingTablesCarryIntoTheNextSolidEntry) {
    std::vector<uint8_t> second(374, 0);
    second['k'] = 1;
    second['m'] = 1;
    Writer wr;
    wr.literal('a');
    wr.t.main.put(wr.w, 269);
    put_table_block(wr.w, second, false, 0, false);
    reset_decoder_state();
    std::vector<uint8_t> out = decode(wr.bytes(), 1, 20, 0);
    EXPECT_EQ(out, std::vector<uint8_t>{'a'});
    BitWriter next;
    next.put(0b101, 3);  // 'm', 'k', 'm'
    out = decode(next.finish(), 3, 20, 0x10);
    EXPECT_EQ(std::string(out.begin(), out.end()), "mkm");
}

// A stream that does nothing but read table blocks. Its blocks are 16 bytes
// long, so once the data is used up the stale buffer, which repeats the data
// every 8160 bytes, goes on with the same blocks; the entry must still end.
TEST(V20Stream, EndlessTableBlocksEnd) {
    // Length code: 0 -> 00, 1 -> 01, 17 -> 10, 18 -> 11.
    auto put_block = [](BitWriter& w) {
        w.put(0, 2);
        for (int i = 0; i < 19; ++i)
            w.put(i == 0 || i == 1 || i == 17 || i == 18 ? 2 : 0, 4);
        for (int i = 0; i < 10; ++i)
            w.put(0b00, 2);  // ten single zeros
        w.put(0b11, 2), w.put(127, 7);  // 138 zeros
        w.put(0b11, 2), w.put(110, 7);  // 121 zeros: up to 268
        w.put(0b01, 2);                 // 269 gets length 1: the only main code
        w.put(0b11, 2), w.put(93, 7);   // 104 zeros
    };
    BitWriter w;
    put_block(w);
    ASSERT_EQ(w.bit_count(), 127u);
    while (w.bit_count() < 8 * 20000) {
        w.put(0, 1);  // symbol 269
        put_block(w);
    }
    for (bool reference : {false, true}) {
        reset_decoder_state();
        std::vector<uint8_t> out = decode(w.finish(0), 1000, 20, 0, reference);
        EXPECT_TRUE(out.empty());
        EXPECT_LT(decoder_state.bytes_left, 0);
        EXPECT_EQ(decoder_state.v20.previous_lengths[269], 1);
    }
}

// A main code with a long tail (280 codes of 12 bits, 140 long prefixes)
// gets every subtable, so the fast loop takes it; the items after it, and
// after the next table block, come out as written on both paths.
TEST(V20Stream, TableWithALongTailDecodesAsWritten) {
    std::vector<uint8_t> crowded = plain_lengths();
    std::fill(crowded.begin(), crowded.begin() + 280, 12);
    std::fill(crowded.begin() + 280, crowded.begin() + 298, 5);
    Writer wr;
    std::string expect;
    auto items = [&](int count) {
        for (int i = 0; i < count; ++i) {
            char c = char('a' + (i * 7 + count) % 26);
            wr.literal(uint8_t(c));
            expect += c;
            if (i % 5 == 4) {
                uint32_t length = 3 + uint32_t(i) % 40, distance = 1 + uint32_t(i) % 9;
                wr.long_match(length, distance);
                for (uint32_t k = 0; k < length; ++k)
                    expect += expect[expect.size() - distance];
            }
        }
    };
    items(30);
    wr.t.main.put(wr.w, 269);
    put_table_block(wr.w, crowded, false, 0, false);
    wr.t = Tables(crowded);
    items(400);
    wr.t.main.put(wr.w, 269);
    put_table_block(wr.w, plain_lengths(), false, 0, false);
    wr.t = Tables(plain_lengths());
    items(400);
    std::vector<uint8_t> packed = wr.bytes();
    for (bool reference : {true, false}) {
        reset_decoder_state();
        std::vector<uint8_t> out = decode(packed, int64_t(expect.size()), 20, 0, reference);
        ASSERT_EQ(std::string(out.begin(), out.end()), expect) << (reference ? "reference" : "fast");
    }
    static HuffTable crowded_table;
    build_huff_table(crowded.data(), crowded_table, 298);
    EXPECT_EQ(crowded_table.by_rule, 0u);
}

// A solid entry that comes first has no tables to continue with: every code
// then reads as 15 bits of symbol 0, a zero literal, on both paths.
TEST(V20Stream, SolidEntryWithoutTablesDecodesAlikeOnBothPaths) {
    std::mt19937 rng(23);
    for (int round = 0; round < 50; ++round) {
        std::vector<uint8_t> packed(20 + rng() % 200);
        for (auto& b : packed)
            b = uint8_t(rng());
        std::vector<uint8_t> out[2];
        for (bool reference : {false, true}) {
            reset_decoder_state();
            out[reference] = decode(packed, 3000, 20, 0x10, reference);
        }
        ASSERT_EQ(out[0], out[1]) << "round " << round;
        ASSERT_FALSE(out[0].empty());
        ASSERT_EQ(out[0][0], 0);
    }
}

}  // namespace
