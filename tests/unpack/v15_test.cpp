// The 1.5 method: the fixed codes against their value ranges, the short code
// tables, rank tables, and crafted streams for flags, weights, literal mode,
// short and long matches.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "unpack/decoder_state.h"
#include "unpack/unpack_support.h"
#include "unpack/v15_codes.h"
#include "unpack/v15_ranks.h"

using namespace unpack_test;

namespace {

// Writes value with a fixed code (its shortest bit pattern).
void put_fixed(BitWriter& w, const FixedCode& code, uint32_t value) {
    // By code: each value's first window, found once.
    static std::map<const FixedCode*, std::map<uint32_t, uint32_t>> first_windows;
    std::map<uint32_t, uint32_t>& first = first_windows[&code];
    if (first.empty())
        for (uint32_t n = 4096; n-- > 0;)
            first[fixed_code_scan(code, n << 4).value] = n;
    auto it = first.find(value);
    if (it == first.end()) {
        FAIL() << "value " << value << " has no code";
        return;
    }
    uint32_t bits = fixed_code_scan(code, it->second << 4).bits;
    w.put(it->second >> (12 - bits), int(bits));
}

struct Range { uint32_t bits, low, high; };

void check_ranges(const FixedCode& code, const std::vector<Range>& expected) {
    std::map<uint32_t, std::pair<uint32_t, uint32_t>> seen;  // bits -> (low, high)
    FixedLookup lookup = make_fixed_lookup(code);
    for (uint32_t n = 0; n < 4096; ++n) {
        FixedValue v = fixed_code_scan(code, n << 4);
        auto it = seen.find(v.bits);
        if (it == seen.end())
            seen[v.bits] = {v.value, v.value};
        else
            it->second = {std::min(it->second.first, v.value), std::max(it->second.second, v.value)};
        // A prefix code: every window with the same leading bits gives the same value.
        uint32_t first = (n >> (12 - v.bits)) << (12 - v.bits);
        ASSERT_EQ(fixed_code_scan(code, first << 4).value, v.value);
        // The look-up agrees.
        ASSERT_EQ(lookup[n] & 0xFFFu, v.value);
        ASSERT_EQ(uint32_t(lookup[n] >> 12), v.bits);
    }
    ASSERT_EQ(seen.size(), expected.size());
    for (const Range& r : expected) {
        ASSERT_TRUE(seen.count(r.bits)) << r.bits;
        EXPECT_EQ(seen[r.bits].first, r.low) << "bits " << r.bits;
        EXPECT_EQ(seen[r.bits].second, r.high) << "bits " << r.bits;
    }
}

TEST(FixedCodes, ValuesByBitCount) {
    check_ranges(LENGTH_CODE_2, {{2, 0, 1}, {3, 2, 2}, {4, 3, 4}, {5, 5, 6}, {6, 7, 10}, {7, 11, 15},
                                 {8, 16, 19}, {9, 20, 23}, {10, 24, 31}, {12, 32, 255}});
    check_ranges(LENGTH_CODE_3, {{3, 0, 4}, {4, 5, 6}, {5, 7, 8}, {6, 9, 12}, {7, 13, 17}, {8, 18, 21},
                                 {9, 22, 25}, {10, 26, 33}, {11, 34, 35}, {12, 36, 255}});
    check_ranges(PLACE_CODE_4, {{4, 0, 7}, {5, 8, 15}, {6, 16, 23}, {7, 24, 32}, {12, 33, 256}});
    check_ranges(PLACE_CODE_5A, {{5, 0, 3}, {6, 4, 43}, {7, 44, 59}, {8, 60, 75}, {9, 76, 79}, {11, 80, 126},
                                 {12, 127, 256}});
    check_ranges(PLACE_CODE_5B, {{5, 0, 1}, {6, 2, 6}, {7, 7, 52}, {8, 53, 116}, {9, 117, 232}, {10, 233, 256}});
    check_ranges(PLACE_CODE_6, {{6, 0, 1}, {7, 2, 15}, {8, 16, 217}, {9, 218, 250}, {10, 251, 256}});
    check_ranges(PLACE_CODE_8, {{8, 0, 254}, {9, 255, 256}});
    FixedLookup place8 = make_fixed_lookup(PLACE_CODE_8);
    for (uint32_t h = 0; h < 0x10000; ++h)
        ASSERT_EQ(place8_entry(h), place8[h >> 4]) << h;
}

TEST(ShortCodes, EveryByteFindsItsPattern) {
    ShortLookup lookup = make_short_lookup();
    for (int set = 1; set <= 2; ++set)
        for (uint32_t toggle = 0; toggle < 2; ++toggle) {
            bool code14_seen = false;
            for (uint32_t byte = 0; byte < 256; ++byte) {
                ShortCode c = short_code_scan(set, toggle, byte);
                ShortPattern p = short_pattern(set, toggle, c.code);
                ASSERT_EQ(c.bits, p.bits);
                ASSERT_EQ(byte >> (8 - p.bits), p.pattern) << "set " << set << " byte " << byte;
                ASSERT_EQ(lookup[set - 1][toggle][byte], c.code | c.bits << 4);
                code14_seen |= c.code == 14;
            }
            EXPECT_EQ(code14_seen, toggle == 1) << "set " << set;
        }
    EXPECT_EQ(short_code_scan(1, 0, 0b10110000).code, 1u);
    EXPECT_EQ(short_code_scan(2, 0, 0b10110000).code, 3u);
    EXPECT_EQ(short_code_scan(1, 1, 0b10100000).code, 1u);
    EXPECT_EQ(short_code_scan(1, 1, 0b10100000).bits, 4u);
}

class Ranks : public ::testing::Test {
protected:
    void SetUp() override {
        reset_decoder_state();
        reset_v15(0);
        init_rank_tables();
    }
    V15State& v = decoder_state.v15;
};

TEST_F(Ranks, UsedFlagMovesToTheFront) {
    EXPECT_EQ(use_rank(v.flag_ranks, 1, RANK_LIMIT_WRAP) >> 8, 0xFFu);
    EXPECT_EQ(v.flag_ranks.entries[0], 0xFF01u);
    EXPECT_EQ(v.flag_ranks.entries[1], 0x0000u);
    EXPECT_EQ(v.flag_ranks.next_place[0], 1u);
}

TEST_F(Ranks, LiteralCounterRescalesAtOneSixtyTwo) {
    for (int i = 0; i < 161; ++i)
        use_rank(v.literal_ranks, 0, RANK_LIMIT_LITERAL);
    EXPECT_EQ(v.literal_ranks.entries[0], 161u);
    EXPECT_EQ(use_rank(v.literal_ranks, 0, RANK_LIMIT_LITERAL) >> 8, 0u);
    EXPECT_EQ(v.literal_ranks.entries[0], 8u);  // rescaled to 7, then raised
    EXPECT_EQ(v.literal_ranks.entries[40], (40u << 8) | 6);
    EXPECT_EQ(v.literal_ranks.next_place[7], 1u);
}

TEST_F(Ranks, FlagCounterRescalesOnlyWhenItWouldPassTwoFiftyFive) {
    for (int i = 0; i < 255; ++i)
        use_rank(v.flag_ranks, 0, RANK_LIMIT_WRAP);
    EXPECT_EQ(v.flag_ranks.entries[0], 255u);
    use_rank(v.flag_ranks, 0, RANK_LIMIT_WRAP);
    EXPECT_EQ(v.flag_ranks.entries[0], 8u);
    EXPECT_EQ(v.flag_ranks.entries[1], (0xFFu << 8) | 7);
}

// Any sequence of uses keeps every table a permutation of its values.
TEST_F(Ranks, UsesKeepAPermutation) {
    uint32_t seed = 1;
    for (int i = 0; i < 200000; ++i) {
        seed = seed * 1103515245 + 12345;
        uint32_t place = (seed >> 16) % (i % 3 == 0 ? 256 : 16);
        use_rank(i & 1 ? v.literal_ranks : v.distance_ranks, place, i & 1 ? RANK_LIMIT_LITERAL : RANK_LIMIT_WRAP);
    }
    for (RankTable* t : {&v.literal_ranks, &v.distance_ranks}) {
        bool seen[256] = {};
        for (uint32_t e : t->entries) {
            ASSERT_LT(e, 0x10000u);
            seen[e >> 8] = true;
        }
        for (bool s : seen)
            EXPECT_TRUE(s);
        for (uint32_t q : t->next_place)
            EXPECT_LE(q, 256u);
    }
}

// ---- crafted streams (all start non-solid)

// The literal code the decoder picks for a literal average.
const FixedCode& literal_code(uint32_t average) {
    return average > 0x75FF ? PLACE_CODE_8
         : average > 0x5DFF ? PLACE_CODE_6
         : average > 0x35FF ? PLACE_CODE_5B
         : average > 0xDFF  ? PLACE_CODE_5A
                            : PLACE_CODE_4;
}

std::vector<uint8_t> run(BitWriter& w, int32_t size, bool reference = false, size_t padding = 8) {
    reset_decoder_state();
    return decode(w.finish(padding), size, 15, 0, reference);
}

TEST(V15Stream, LiteralPlacesAndTheirRanks) {
    BitWriter w;
    put_fixed(w, PLACE_CODE_5B, 1);  // flag byte 0xFF: every flag bit 1 = a literal
    for (uint32_t p : {65u, 0u, 65u})
        put_fixed(w, PLACE_CODE_5A, p);
    for (bool reference : {false, true}) {
        std::vector<uint8_t> out = run(w, 3, reference);
        EXPECT_EQ(out, (std::vector<uint8_t>{'A', 'A', 0}));
    }
    EXPECT_EQ(decoder_state.v15.literal_weight, 0x80u + 48);
}

// Literal place 256 outside literal mode is read as place 255.
TEST(V15Stream, PlaceBeyondTheLastReadsAsTheLast) {
    BitWriter w;
    put_fixed(w, PLACE_CODE_5B, 1);
    put_fixed(w, PLACE_CODE_5A, 256);
    std::vector<uint8_t> out = run(w, 1);
    EXPECT_EQ(out, std::vector<uint8_t>{255});
}

// A long match with length value 0 (one bit), place 0 and a 7-bit field.
void put_near_long_match(BitWriter& w, uint32_t field) {
    w.put(1, 1);
    put_fixed(w, PLACE_CODE_4, 0);
    w.put(field, 7);
}

TEST(V15Stream, EightLongMatchesResetTheMatchWeight) {
    BitWriter w;
    // Flag byte 0x7F: 01 (weights equal: a long match), then six times 1
    // (match weight ahead: a long match); then 0xFF.
    put_fixed(w, PLACE_CODE_5B, 129);
    for (int i = 0; i < 7; ++i)
        put_near_long_match(w, 1);
    put_fixed(w, PLACE_CODE_5B, 1);
    put_near_long_match(w, 1);
    std::vector<uint8_t> out = run(w, 8 * 11);  // distance 1 <= 256: length 3 + 8
    EXPECT_EQ(out.size(), 88u);
    V15State& v = decoder_state.v15;
    EXPECT_EQ(v.match_weight, 0x90u);
    EXPECT_EQ(v.literal_weight, 0x40u);
    EXPECT_EQ(decoder_state.last_length, 11u);
    EXPECT_EQ(decoder_state.last_distance, 1u);
}

TEST(V15Stream, LongMatchAtTheThresholdGetsOneMore) {
    BitWriter w;
    put_fixed(w, PLACE_CODE_5B, 129);  // flag bits 01: a long match
    w.put(1, 1);                       // length value 0
    put_fixed(w, PLACE_CODE_4, 64);    // distance rank value 64: bits 14..7 = 0x40
    w.put(1, 7);                       // distance 0x2001
    run(w, 4);
    EXPECT_EQ(decoder_state.last_distance, 0x2001u);
    EXPECT_EQ(decoder_state.last_length, 4u);
    EXPECT_EQ(decoder_state.bytes_left, -1);
}

// The 24th literal in a row is the first to use up a flag byte after the
// 16th: literal mode starts there. In literal mode place 0 is an escape.
TEST(V15Stream, LiteralModeAndItsEscapes) {
    BitWriter w;
    put_fixed(w, PLACE_CODE_5B, 1);  // 0xFF; it moves to place 0
    for (int i = 0; i < 24; ++i) {
        if (i == 8 || i == 16)
            put_fixed(w, PLACE_CODE_5B, 0);
        put_fixed(w, PLACE_CODE_5A, 0);  // byte 0, which stays at place 0
    }
    put_fixed(w, PLACE_CODE_5A, 66);  // literal mode: place 66 - 1 = 65, 'A'
    put_fixed(w, PLACE_CODE_5A, 0);  // escape
    w.put(0b01, 2);                  // copy of length 4
    put_fixed(w, PLACE_CODE_5B, 0);
    w.put(1, 5);                     // distance 0 * 32 + 1
    put_fixed(w, PLACE_CODE_5A, 0);  // escape
    w.put(1, 1);                     // leave literal mode
    put_fixed(w, PLACE_CODE_5B, 0);  // a fresh flag byte: 0xFF
    put_fixed(w, PLACE_CODE_5A, 66);  // 'B'
    for (int32_t size : {17, 24, 29, 30})
        for (bool reference : {false, true}) {
            std::vector<uint8_t> out = run(w, size, reference);
            ASSERT_EQ(out.size(), size_t(size));
            V15State& v = decoder_state.v15;
            EXPECT_EQ(v.literal_mode, size == 24 || size == 29 ? 1u : 0u) << size;
            EXPECT_EQ(v.literal_run, size == 30 ? 1u : (size == 29 ? 24u : uint32_t(size))) << size;
            if (size == 30) {
                EXPECT_EQ(std::string(out.begin() + 24, out.end()), "AAAAAB");
            }
        }
}

// Over a window's worth of literal-mode literals, with an escaped copy now
// and then (from distance 1 mostly, from up to 256 * 32 + 1 now and then):
// the fast decoder's literal rounds meet the input refills, the
// flushes and the window's end; both paths give the same output and leave
// the same state and window. Small places keep the literal average low; the
// spread ones take it past 0x75FF to the 8-bit place code (places 254 and
// 255 taking nine bits) and, every 8192 literals, back below it for a while.
TEST(V15Stream, LiteralModeAcrossTheWindowEnd) {
    uint32_t (*const place_sets[])(uint32_t) = {
        [](uint32_t i) { return i % 7; },
        [](uint32_t i) { return i & 0x1000 ? i % 97 : (i * 37) & 0xFF; },
    };
    for (auto place_of : place_sets) {
        BitWriter w;
        uint32_t average = 0x3500;
        auto literal = [&](uint32_t place, bool literal_mode) {
            put_fixed(w, literal_code(average), literal_mode ? place + 1 : place);
            average += place;
            average -= average >> 8;
        };
        // Literal mode as in LiteralModeAndItsEscapes.
        put_fixed(w, PLACE_CODE_5B, 1);
        for (int i = 0; i < 24; ++i) {
            if (i == 8 || i == 16)
                put_fixed(w, PLACE_CODE_5B, 0);
            literal(0, false);
        }
        const uint32_t size = WINDOW_SIZE + 300000;
        uint32_t written = 24;
        for (uint32_t i = 0; written < size; ++i) {
            if (i % 997 == 996) {
                // Escape: a copy of length 4 from distance high * 32 + 1,
                // high 0 mostly, now and then one of the extremes.
                static constexpr uint32_t HIGHS[] = {0, 0, 1, 0, 255, 0, 256};
                put_fixed(w, literal_code(average), 0);
                w.put(0b01, 2);
                put_fixed(w, PLACE_CODE_5B, HIGHS[i / 997 % 7]);
                w.put(1, 5);
                written += 4;
            } else {
                literal(place_of(i), true);
                written += 1;
            }
        }
        std::vector<uint8_t> packed = w.finish();
        std::vector<uint8_t> out[2], state[2], window[2];
        for (int reference : {0, 1}) {
            reset_decoder_state();
            out[reference] = decode(packed, size, 15, 0, reference);
            const uint8_t* raw = reinterpret_cast<const uint8_t*>(&decoder_state);
            state[reference].assign(raw, raw + sizeof decoder_state);
            window[reference].assign(test_window(), test_window() + WINDOW_SIZE);
            EXPECT_EQ(decoder_state.v15.literal_mode, 1u);
        }
        ASSERT_EQ(out[0].size(), size_t(size));
        EXPECT_TRUE(out[0] == out[1]);
        EXPECT_TRUE(state[0] == state[1]);
        EXPECT_TRUE(window[0] == window[1]);
    }
}

TEST(V15Stream, ToggleMakesCodeFourteenReachable) {
    BitWriter w;
    put_fixed(w, PLACE_CODE_5B, 0);  // flag byte 0x00: short items
    w.put(0b1000, 4);  // short code 10
    put_fixed(w, LENGTH_CODE_2, 255);  // length 257: toggle, no output
    w.put(0b1011, 4);  // now code 14
    put_fixed(w, LENGTH_CODE_3, 0);
    w.put(0, 15);      // distance 0x8000, length 5
    w.put(0b1000, 4);  // code 10 again: the ring's newest, not 0x8000
    put_fixed(w, LENGTH_CODE_2, 0);
    std::vector<uint8_t> out = run(w, 7);
    EXPECT_EQ(out.size(), 7u);
    EXPECT_EQ(decoder_state.v15.short_code_toggle, 1u);
    EXPECT_EQ(decoder_state.last_distance, 0u);
    EXPECT_EQ(decoder_state.last_length, 2u);
    EXPECT_EQ(decoder_state.recent_index, 1u);
}

TEST(V15Stream, TwoRepeatsThenASingleBit) {
    BitWriter w;
    put_fixed(w, PLACE_CODE_5B, 0);  // flag byte 0x00
    w.put(0, 1);                     // short code 0: length 2
    put_fixed(w, PLACE_CODE_5B, 0);  // distance order place 0: distance 1
    w.put(0b1100, 4);  // code 9: repeat
    w.put(0b1100, 4);  // code 9: repeat_count 2
    w.put(1, 1);       // single bit 1: repeat again
    std::vector<uint8_t> out = run(w, 8);
    EXPECT_EQ(out.size(), 8u);
    EXPECT_EQ(decoder_state.v15.repeat_count, 2u);
    EXPECT_EQ(decoder_state.last_distance, 1u);
}

// Items that produce nothing: toggles (short code 10 with length 257) and
// repeats of a last match of length 0. The data repeats every 10 bytes, so
// once it is used up the stale buffer (which repeats the data every 8160
// bytes) goes on with the same items; the entry must still end.
TEST(V15Stream, EndlessEmptyItemsEnd) {
    auto flag = [](BitWriter& w) { put_fixed(w, PLACE_CODE_5B, 0); };  // 0x00: four short items
    auto repeat9 = [](BitWriter& w) { w.put(0b1100, 4); };
    auto single = [](BitWriter& w) { w.put(1, 1); };  // after two repeats: repeat again
    auto toggle = [](BitWriter& w) {                  // after two repeats: leading bit 0
        w.put(0, 1);
        w.put(0b1000, 4);
        put_fixed(w, LENGTH_CODE_2, 255);
    };
    BitWriter w;
    flag(w), repeat9(w), repeat9(w), single(w), single(w);
    flag(w), single(w), single(w), single(w), single(w);
    ASSERT_EQ(w.bit_count(), 24u);  // whole bytes, so the data needs no padding
    while (w.bit_count() < 8 * 30000) {
        for (int g = 0; g < 2; ++g)
            flag(w), toggle(w), repeat9(w), repeat9(w), single(w);  // 31 bits
        for (int g = 0; g < 2; ++g)
            flag(w), single(w), single(w), single(w), single(w);  // 9 bits
    }
    ASSERT_EQ((w.bit_count() - 24) % 80, 0u);
    for (bool reference : {false, true}) {
        std::vector<uint8_t> out = run(w, 500, reference, 0);
        EXPECT_TRUE(out.empty());
        EXPECT_LT(decoder_state.bytes_left, 0);
        EXPECT_EQ(decoder_state.v15.repeat_count, 2u);
    }
}

// A short match copied in a fast round, then items that write nothing, up
// to the end of the packed data: the window past the output keeps its bytes
// (the fast copies may move more than a match and put the rest back).
TEST(V15Stream, WindowPastTheLastMatchKeepsItsBytes) {
    BitWriter w;
    RankTable flags;  // the decoder's flag ranks, to find each flag byte's place
    for (uint32_t i = 0; i < 256; ++i) {
        flags.entries[i] = ((256 - i) & 0xFF) << 8;
        flags.next_place[i] = 0;
    }
    auto flag_byte = [&](uint32_t byte) {
        uint32_t place = 0;
        while (flags.entries[place] >> 8 != byte)
            ++place;
        put_fixed(w, PLACE_CODE_5B, place);
        use_rank(flags, place, RANK_LIMIT_WRAP);
    };
    auto toggle = [&] {  // short code 10 with length 257
        w.put(0b1000, 4);
        put_fixed(w, LENGTH_CODE_2, 255);
    };
    uint32_t average = 0x3500;
    for (uint32_t i = 0; i < 16; ++i) {  // 16 literals: not yet literal mode
        if (i % 8 == 0)
            flag_byte(0xFF);
        uint32_t place = 30 + i;
        put_fixed(w, literal_code(average), place);
        average += place;
        average -= average >> 8;
    }
    flag_byte(0x00);
    w.put(0, 1);                      // short code 0: length 2
    put_fixed(w, PLACE_CODE_5B, 15);  // distance 16
    for (int i = 0; i < 3; ++i)
        toggle();
    for (int i = 0; i < 3; ++i) {
        flag_byte(0x00);
        for (int j = 0; j < 4; ++j)
            toggle();
    }
    ASSERT_EQ(w.bit_count() % 8, 0u);  // no padding bits to read as one more item
    std::vector<uint8_t> packed = w.finish(0);
    std::vector<uint8_t> out[2], window[2];
    for (int reference : {0, 1}) {
        std::memset(test_window(), 0xA5, WINDOW_SIZE);
        reset_decoder_state();
        out[reference] = decode(packed, 2000, 15, 0, reference);
        window[reference].assign(test_window(), test_window() + WINDOW_SIZE);
    }
    ASSERT_EQ(out[0].size(), 18u);
    EXPECT_TRUE(out[0] == out[1]);
    EXPECT_TRUE(window[0] == window[1]);
    EXPECT_EQ(window[0][18], 0xA5);
}

}  // namespace
