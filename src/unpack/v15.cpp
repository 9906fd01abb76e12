// The 1.5 method: fixed codes whose meaning follows adaptive state (rank
// tables, running averages, flag weights, literal mode). run_v15 is the frame
// of both decoders. The reference decoder's items (decode_item_v15 and what
// it calls) follow the rules step by step on the state itself: scanned
// codes, byte-wise copies. The fast decoder hands the frame's work to
// items_v15_fast, written out by hand: the bit buffer, positions and the
// adaptive scalars in locals, look-ups, word-wise copies, and runs of
// literal-mode literals in literal_mode_rounds.
#include <bit>
#include <cstring>

#include "unpack/decoder_state.h"
#include "unpack/register_input.h"
#include "unpack/v15_codes.h"
#include "unpack/v15_ranks.h"

// The fast loop's helpers are lambdas over its locals; each must be inlined,
// or the locals they capture would live in memory.
#define KX_LAMBDA_INLINE __attribute__((always_inline))

namespace {

constexpr ShortLookup SHORT_LOOKUP = make_short_lookup();

// A fixed code by name, in both forms.
enum class Code { LENGTH_2, LENGTH_3, PLACE_4, PLACE_5A, PLACE_5B, PLACE_6, PLACE_8 };
constexpr int FIXED_CODES = 7;

constexpr const FixedCode& code_definition(Code c) {
    switch (c) {
    case Code::LENGTH_2: return LENGTH_CODE_2;
    case Code::LENGTH_3: return LENGTH_CODE_3;
    case Code::PLACE_4: return PLACE_CODE_4;
    case Code::PLACE_5A: return PLACE_CODE_5A;
    case Code::PLACE_5B: return PLACE_CODE_5B;
    case Code::PLACE_6: return PLACE_CODE_6;
    default: return PLACE_CODE_8;
    }
}

// The place codes can give 256, one past the last place of every table. In
// literal mode that is place 255 by the format's rule; elsewhere it is read
// as place 255 as well, so damaged data never indexes past a table.
inline uint32_t clamp_place(uint32_t p) { return p > 255 ? 255 : p; }

// The largest value a code gives.
constexpr uint32_t largest_value(const FixedCode& code) {
    uint32_t largest = 0;
    for (uint32_t h = 0; h < 0x10000; h += 0x10) {
        uint32_t v = fixed_code_scan(code, h).value;
        largest = v > largest ? v : largest;
    }
    return largest;
}

// The place codes as literal mode reads them, by Code - PLACE_4: value 0
// (the escape) as LITERAL_MODE_ESCAPE, others as the place value - 1
// (0..255), so a literal takes its place without adjusting it; bits << 12
// as in the fixed look-ups.
constexpr uint32_t LITERAL_MODE_ESCAPE = 0x100;
constexpr int LITERAL_MODE_CODES = 5;
static_assert(static_cast<int>(Code::PLACE_8) - static_cast<int>(Code::PLACE_4) == LITERAL_MODE_CODES - 1);
static_assert(largest_value(PLACE_CODE_4) <= 256 && largest_value(PLACE_CODE_5A) <= 256 &&
              largest_value(PLACE_CODE_5B) <= 256 && largest_value(PLACE_CODE_6) <= 256 &&
              largest_value(PLACE_CODE_8) <= 256);
FixedLookup literal_mode_lookups[LITERAL_MODE_CODES];

inline const FixedLookup& literal_mode_lookup(Code c) {
    return literal_mode_lookups[static_cast<int>(c) - static_cast<int>(Code::PLACE_4)];
}

// The fixed codes' look-ups, by Code. Built on the first run instead of
// stored: the seven 8 KiB tables would be a third of the installer's file.
// literal_mode_lookups are built from them alongside; then the place codes'
// values are clamped (see clamp_place), as outside literal mode every place
// they give is read that way.
FixedLookup fixed_lookups[FIXED_CODES];
bool fixed_lookups_built = false;

void build_fixed_lookups() {
    if (fixed_lookups_built)
        return;
    for (int c = 0; c < FIXED_CODES; ++c)
        fixed_lookups[c] = make_fixed_lookup(code_definition(static_cast<Code>(c)));
    for (int c = 0; c < LITERAL_MODE_CODES; ++c) {
        const FixedLookup& from = fixed_lookups[c + static_cast<int>(Code::PLACE_4)];
        for (uint32_t i = 0; i < from.size(); ++i) {
            uint32_t value = from[i] & 0xFFF;
            uint32_t place = value == 0 ? LITERAL_MODE_ESCAPE : value - 1;
            literal_mode_lookups[c][i] = uint16_t((from[i] & 0xF000) | place);
        }
    }
    for (int c = static_cast<int>(Code::PLACE_4); c < FIXED_CODES; ++c)
        for (uint16_t& e : fixed_lookups[c])
            e = uint16_t((e & 0xF000) | clamp_place(e & 0xFFF));
    fixed_lookups_built = true;
}

inline const FixedLookup& code_lookup(Code c) { return fixed_lookups[static_cast<int>(c)]; }

// The reference decoder's steps: scanned codes, byte-wise copies.
uint32_t fixed(Code c, StateInput& in) {
    FixedValue v = fixed_code_scan(code_definition(c), in.peek());
    in.consume(v.bits);
    return v.value;
}


inline void record_distance(uint32_t length, uint32_t distance) {
    DecoderState& s = decoder_state;
    s.recent_distances[s.recent_index & 3] = distance;
    s.recent_index = (s.recent_index + 1) & 3;
    s.last_length = length;
    s.last_distance = distance;
}

void read_flag_byte(StateInput& in) {
    V15State& v = decoder_state.v15;
    uint32_t p = clamp_place(fixed(Code::PLACE_5B, in));
    v.flag_byte = use_rank(v.flag_ranks, p, RANK_LIMIT_WRAP) >> 8;
}

void decode_literal_v15(StateInput& in) {
    DecoderState& s = decoder_state;
    V15State& v = s.v15;
    uint32_t avg = v.literal_average;
    Code code = avg > 0x75FF ? Code::PLACE_8
              : avg > 0x5DFF ? Code::PLACE_6
              : avg > 0x35FF ? Code::PLACE_5B
              : avg > 0xDFF  ? Code::PLACE_5A
                             : Code::PLACE_4;
    uint32_t p = fixed(code, in);
    if (v.literal_mode) {
        if (p == 0) {
            if (in.bits(1)) {
                v.literal_mode = 0;
                v.literal_run = 0;
                return;
            }
            uint32_t length = in.bits(1) ? 4 : 3;
            uint32_t w = fixed(Code::PLACE_5B, in);
            uint32_t distance = w * 32 + in.bits(5);
            copy_match_bytewise(length, distance);
            return;
        }
        p -= 1;
    } else {
        if (v.literal_run++ >= 16 && v.flag_bits_left == 0)
            v.literal_mode = 1;
        p = clamp_place(p);
    }
    v.literal_average += p;
    v.literal_average -= v.literal_average >> 8;
    v.literal_weight += 16;
    if (v.literal_weight > 0xFF) {
        v.literal_weight = 0x90;
        v.match_weight >>= 1;
    }
    s.window[s.out_pos++] = uint8_t(use_rank(v.literal_ranks, p, RANK_LIMIT_LITERAL) >> 8);
    s.bytes_left -= 1;
}

void decode_short_match(StateInput& in) {
    DecoderState& s = decoder_state;
    V15State& v = s.v15;
    v.literal_run = 0;
    uint32_t h = in.peek();
    if (v.repeat_count == 2) {
        in.consume(1);
        if (h >= 0x8000) {
            copy_match_bytewise(s.last_length, s.last_distance);
            return;
        }
        v.repeat_count = 0;
        h <<= 1;
    }
    int set = v.short_length_average < 37 ? 1 : 2;
    ShortCode sc = short_code_scan(set, v.short_code_toggle, (h >> 8) & 0xFF);
    in.consume(sc.bits);
    uint32_t j = sc.code;

    if (j == 9) {
        v.repeat_count += 1;
        copy_match_bytewise(s.last_length, s.last_distance);
        return;
    }
    v.repeat_count = 0;
    if (j == 14) {
        uint32_t length = fixed(Code::LENGTH_3, in) + 5;
        uint32_t distance = 0x8000 + in.bits(15);
        s.last_length = length;
        s.last_distance = distance;
        copy_match_bytewise(length, distance);
        return;
    }
    uint32_t length;
    uint32_t distance;
    if (j >= 10) {
        distance = s.recent_distances[(s.recent_index - (j - 9)) & 3];
        length = fixed(Code::LENGTH_2, in) + 2;
        if (length == 257 && j == 10) {
            v.short_code_toggle ^= 1;
            return;
        }
        if (distance > 256)
            ++length;
        if (distance >= v.distance_threshold)
            ++length;
    } else {
        v.short_length_average += j;
        v.short_length_average -= v.short_length_average >> 4;
        uint32_t p = clamp_place(fixed(Code::PLACE_5B, in));
        uint32_t d = v.short_distance_order[p];
        if (p > 0) {
            v.short_distance_order[p] = v.short_distance_order[p - 1];
            v.short_distance_order[p - 1] = d;
        }
        distance = d + 1;
        length = j + 2;
    }
    record_distance(length, distance);
    copy_match_bytewise(length, distance);
}

void decode_long_match(StateInput& in) {
    DecoderState& s = decoder_state;
    V15State& v = s.v15;
    v.literal_run = 0;
    v.match_weight += 16;
    if (v.match_weight > 0xFF) {
        v.match_weight = 0x90;
        v.literal_weight >>= 1;
    }
    uint32_t a = v.long_length_average;
    uint32_t n;
    if (a >= 122) {
        n = fixed(Code::LENGTH_3, in);
    } else if (a >= 64) {
        n = fixed(Code::LENGTH_2, in);
    } else {
        uint32_t h = in.peek();
        if (h < 0x100) {
            n = h;
            in.consume(16);
        } else {
            n = 0;
            while ((h & (0x8000u >> n)) == 0)
                ++n;
            in.consume(n + 1);
        }
    }
    v.long_length_average += n;
    v.long_length_average -= v.long_length_average >> 5;

    uint32_t dpa = v.distance_place_average;
    Code code = dpa > 0x28FF ? Code::PLACE_5B : dpa > 0x6FF ? Code::PLACE_5A : Code::PLACE_4;
    uint32_t p = clamp_place(fixed(code, in));
    v.distance_place_average += p;
    v.distance_place_average -= v.distance_place_average >> 8;

    uint32_t raised = use_rank_raised(v.distance_ranks, p, RANK_LIMIT_WRAP);
    uint32_t distance = ((raised & 0xFF00) | (in.peek() >> 8)) >> 1;
    in.consume(7);

    uint32_t b = v.near_match_average;
    if (n == 1 || n == 4) {
        // unchanged
    } else if (n == 0 && distance <= v.distance_threshold) {
        v.near_match_average += 1;
        v.near_match_average -= v.near_match_average >> 8;
    } else if (v.near_match_average > 0) {
        v.near_match_average -= 1;
    }

    uint32_t length = n + 3;
    if (distance >= v.distance_threshold)
        ++length;
    if (distance <= 256)
        length += 8;
    v.distance_threshold = (b > 0xB0 || (v.literal_average >= 0x2A00 && a < 0x40)) ? 0x7F00 : 0x2001;
    record_distance(length, distance);
    copy_match_bytewise(length, distance);
}

// Takes the next flag bit (bit 7 of the flag byte), reading a fresh flag
// byte when the current one is used up.
bool next_flag_bit(StateInput& in) {
    V15State& v = decoder_state.v15;
    if (--v.flag_bits_left < 0) {
        read_flag_byte(in);
        v.flag_bits_left = 7;
    }
    bool bit = (v.flag_byte & 0x80) != 0;
    v.flag_byte = (v.flag_byte << 1) & 0xFF;
    return bit;
}

void decode_item_v15(StateInput& in) {
    V15State& v = decoder_state.v15;
    if (v.literal_mode) {
        decode_literal_v15(in);
        return;
    }
    // Flag bits 1 and 01 mean a literal or a long match, their meanings
    // swapped by which weight is larger; 00 means a short item.
    if (next_flag_bit(in)) {
        if (v.match_weight > v.literal_weight)
            decode_long_match(in);
        else
            decode_literal_v15(in);
    } else if (next_flag_bit(in)) {
        if (v.match_weight > v.literal_weight)
            decode_literal_v15(in);
        else
            decode_long_match(in);
    } else {
        decode_short_match(in);
    }
}

// The longest match of the method (a long match: 255 + 3 + 1 + 8); the fast
// loop's margins rest on it. A repeat of the last match may copy what a 2.0
// entry before it in a solid run left as last_length; that is checked.
constexpr uint32_t MAX_MATCH = FLUSH_MARGIN;
static_assert(255 + 3 + 1 + 8 <= MAX_MATCH);

// What a run of literal-mode literals reads and moves: the fast loop's
// bit buffer, output position and the literal scalars.
struct LiteralRun {
    uint64_t bits;
    uint32_t avail;
    uint32_t next_byte;
    uint32_t out;
    uint32_t literal_average;
    uint32_t literal_weight;
    uint32_t match_weight;
};

// The literal codes are at most 12 bits long, the 8-bit place code's at
// most 9: a refill (56 bits or more) holds six of those or four of the
// others, and a round of literal mode takes that many.
constexpr uint32_t PLACE8_ROUND = 6;
constexpr uint32_t LITERAL_ROUND = 4;
static_assert(PLACE8_ROUND * 9 <= 56 && LITERAL_ROUND * 12 <= 56);
constexpr uint32_t ROUND_LITERALS = PLACE8_ROUND > LITERAL_ROUND ? PLACE8_ROUND : LITERAL_ROUND;

// The literal weight after n more literals, each adding 16 and starting over
// at 0x90 (halving the match weight) when it would pass 0xFF. From 0x90 it
// takes seven literals to come round again.
inline void add_literal_weights(uint32_t n, uint32_t& literal_weight, uint32_t& match_weight) {
    uint32_t before_wrap = literal_weight > 0xFF ? 0 : (0xFF - literal_weight) >> 4;
    if (n <= before_wrap) {
        literal_weight += 16 * n;
        return;
    }
    uint32_t after = n - before_wrap - 1;
    uint32_t wraps = 1 + after / 7;
    literal_weight = 0x90 + 16 * (after % 7);
    match_weight = wraps > 31 ? 0 : match_weight >> wraps;
}

// The fast loop's general copy, kept out of its way (every item would
// otherwise carry a copy of it): unwritten bytes (the window holds filled
// bytes written since the fresh start) read as zeros, and either end may
// wrap. Returns the output position after it.
[[gnu::noinline]] uint32_t copy_general_at(uint8_t* w, uint32_t out, uint32_t length, uint32_t distance,
                                           uint32_t filled) {
    uint32_t zeros = unwritten_prefix(length, distance, filled);
    out &= WINDOW_MASK;
    if (zeros == 0 && distance != 0 && distance <= out && out + length <= WINDOW_SIZE) {
        copy_linear(w + out, distance, length);
        return out + length;
    }
    for (uint32_t i = 0; i < length; ++i) {
        w[out] = i < zeros ? 0 : w[(out - distance) & WINDOW_MASK];
        out = (out + 1) & WINDOW_MASK;
    }
    return out;
}

// Rounds of literal-mode literals, one refill each, while the bit buffer
// ends before byte in_end and the output position is below out_end; returns
// at an escape (place 0), not taking it. A function of its own, so that its
// few values stay in registers. The weights only count literals, so they
// are brought up to date once at the end.
[[gnu::noinline]] void literal_mode_rounds(LiteralRun& r, const uint8_t* buf, uint8_t* w, uint32_t in_end,
                                           uint32_t out_end) {
    RankTable& ranks = decoder_state.v15.literal_ranks;
    uint64_t bits = r.bits;
    uint32_t avail = r.avail;
    uint32_t next_byte = r.next_byte;
    uint32_t out = r.out;
    const uint32_t start = out;
    uint32_t average = r.literal_average;
    // A literal's rank is taken (use_rank), and its byte written, only once
    // the places of the two literals after it are decoded: the loads of the
    // rank table wait for the stores of the rank taken before them, and the
    // decoding goes on meanwhile. (On incompressible data a sixteenth faster
    // than taking each rank at once; with one literal in between, a
    // thirtieth; three in between gain no more than two.) The two waiting
    // places, older first, are NONE until there are such literals; the
    // literal written k bytes past out waits two literals back, at k - 2.
    constexpr uint32_t NONE = 0x100;
    uint32_t waiting_older = NONE;
    uint32_t waiting_newer = NONE;
    auto take_rank = [&](uint32_t place, uint8_t* at) KX_LAMBDA_INLINE {
        if (place != NONE)
            *at = uint8_t(use_rank(ranks, place, RANK_LIMIT_LITERAL) >> 8);
    };
    while (next_byte < in_end && out < out_end) {
        bits |= load_bits(buf, next_byte * 8) >> avail;
        next_byte += (63 - avail) >> 3;
        avail |= 56;
        uint8_t* const round_out = w + out;
        auto put = [&](uint32_t p, uint32_t k) KX_LAMBDA_INLINE {
            average += p;
            average -= average >> 8;
            take_rank(waiting_older, round_out + k - 2);
            waiting_older = waiting_newer;
            waiting_newer = p;
        };
        // A fixed count per round, so that its end is predicted; a round
        // ends early where the literal average changes the code.
        bool escaped = false;
        if (average > 0x75FF) {
            // The round written out, literal k of it in place8(k): false
            // where the round ends (after it: out moved past the literals).
            auto place8 = [&](uint32_t k) KX_LAMBDA_INLINE {
                if (average <= 0x75FF) {
                    out += k;
                    return false;
                }
                // Places 1-254 in eight bits; 0 is the escape, 11111111
                // takes a ninth bit.
                uint32_t n = uint32_t(bits >> 56);
                if (n - 1 < 0xFE) [[likely]] {
                    bits <<= 8;
                    avail -= 8;
                    put(n - 1, k);
                } else {
                    uint32_t e = place8_entry(uint32_t(bits >> 48));
                    if ((e & 0xFFF) == 0) {
                        out += k;
                        escaped = true;
                        return false;
                    }
                    bits <<= e >> 12;
                    avail -= e >> 12;
                    put((e & 0xFFF) - 1, k);
                }
                return true;
            };
            static_assert(PLACE8_ROUND == 6);
            if (place8(0) && place8(1) && place8(2) && place8(3) && place8(4) && place8(5))
                out += 6;
        } else {
            // The same for the other codes.
            auto other = [&](uint32_t k) KX_LAMBDA_INLINE {
                if (average > 0x75FF) {
                    out += k;
                    return false;
                }
                Code code = average > 0x5DFF ? Code::PLACE_6
                          : average > 0x35FF ? Code::PLACE_5B
                          : average > 0xDFF  ? Code::PLACE_5A
                                             : Code::PLACE_4;
                uint32_t e = literal_mode_lookup(code)[bits >> 52];
                if (e & LITERAL_MODE_ESCAPE) [[unlikely]] {
                    out += k;
                    escaped = true;
                    return false;
                }
                bits <<= e >> 12;
                avail -= e >> 12;
                put(e & 0xFF, k);
                return true;
            };
            static_assert(LITERAL_ROUND == 4);
            if (other(0) && other(1) && other(2) && other(3))
                out += 4;
        }
        if (escaped)
            break;
    }
    take_rank(waiting_older, w + out - 2);
    take_rank(waiting_newer, w + out - 1);
    uint32_t literal_weight = r.literal_weight;
    uint32_t match_weight = r.match_weight;
    add_literal_weights(out - start, literal_weight, match_weight);
    r = {bits, avail, next_byte, out, average, literal_weight, match_weight};
}

// Items with everything in registers (or the stack): the bit buffer,
// positions, the recent distances and every scalar of the adaptive state;
// only the rank tables and the short distance order stay in the state.
// Returns, with all of it written back, when the frame has work to do
// before the next item (a refill, a flush, the end of the entry). Decodes
// exactly what decode_item_v15 would, item by item.
//
// While the input position, the window position and the bytes still owed
// are all far from the points where the frame steps in (checked once per
// item against ends computed up front), items copy matches by words and
// check nothing else. Near those points each item is followed by the
// frame's own checks and copies by the general rule (wrapping, unwritten
// bytes).
void items_v15_fast() {
    DecoderState& s = decoder_state;
    V15State& v = s.v15;
    uint8_t* const w = s.window;
    const uint8_t* const buf = s.input.in_buffer;
    // The bit buffer: avail bits at the top of bits that end where byte
    // next_byte begins (any bits below them are the input's next bits or
    // zero). A refill adds whole bytes behind them, to at least 56 bits:
    // more than any item takes with its widest peek (a long match: flag
    // byte 10, length 16, place 12, distance field 8 for the peek).
    const uint32_t start_bit = input_bit_position();
    uint64_t bits = load_bits(buf, start_bit & ~7u) >> 8 << 8 << (start_bit & 7);
    uint32_t avail = 56 - (start_bit & 7);
    uint32_t next_byte = (start_bit >> 3) + 7;
    auto bit_position = [&]() KX_LAMBDA_INLINE { return next_byte * 8 - avail; };
    uint32_t out = s.out_pos;
    int64_t left = s.bytes_left;
    const uint32_t flushed = s.flushed_pos;  // only the frame's flush moves it
    // Bytes written since the fresh start, before any item: written - left.
    const int64_t written = int64_t(s.fill_base) + s.entry_left;
    uint32_t recent[4];
    std::memcpy(recent, s.recent_distances, sizeof recent);
    uint32_t recent_index = s.recent_index;
    uint32_t last_distance = s.last_distance;
    uint32_t last_length = s.last_length;

    uint32_t literal_average = v.literal_average;
    uint32_t distance_place_average = v.distance_place_average;
    uint32_t short_length_average = v.short_length_average;
    uint32_t long_length_average = v.long_length_average;
    uint32_t near_match_average = v.near_match_average;
    uint32_t literal_run = v.literal_run;
    uint32_t literal_weight = v.literal_weight;
    uint32_t match_weight = v.match_weight;
    uint32_t distance_threshold = v.distance_threshold;
    uint32_t short_code_toggle = v.short_code_toggle;
    uint32_t literal_mode = v.literal_mode;
    // The flag bits still to take, first at the top, and below them a
    // single 1: flags == FLAGS_EMPTY when none is left. (A flag byte always
    // has its used bits shifted out and 0 to 8 bits left.)
    constexpr uint32_t FLAGS_EMPTY = 0x80000000u;
    uint32_t flags = v.flag_byte << 24 | FLAGS_EMPTY >> (v.flag_bits_left & 15);
    uint32_t repeat_count = v.repeat_count;

    // An item may start while in_pos <= MAIN_REFILL_LIMIT, and only before
    // the end of the packed data once that has been read (frame_bit is the
    // nearer of the two). A refill reads eight bytes below in_pos + 16.
    const uint32_t in_end = s.input.frame_bit;
    static_assert(MAIN_REFILL_LIMIT + 16 <= IN_BUFFER_SIZE + IN_BUFFER_SPARE, "refills stay in the array");
    // A fast round starts only this far from every end: its items take at
    // most the refill's 63 bits and write at most MAX_MATCH bytes.
    static_assert(ROUND_LITERALS <= MAX_MATCH);
    // Checked on next_byte: the bit position lies at most 63 bits below
    // next_byte * 8, so a round starts below in_end - 63 when next_byte is
    // below fast_in_byte.
    constexpr uint32_t FAST_IN_MARGIN = 63;
    const uint32_t fast_in_byte = in_end > FAST_IN_MARGIN ? (in_end - FAST_IN_MARGIN) / 8 : 0;
    // The frame starts an item while left >= 0, however many bytes it then
    // writes, so a round may start with left >= FAST_LEFT_MIN: each of up to
    // ROUND_LITERALS literals then starts there too, and a match that runs
    // past the entry's end is one the frame would have copied whole as well.
    constexpr int64_t FAST_LEFT_MIN = ROUND_LITERALS - 1;
    // Window positions where a flush falls due, or the window's end.
    auto fast_out_end = [&]() KX_LAMBDA_INLINE -> uint32_t {
        uint32_t limit = flushed > out ? flushed : WINDOW_SIZE;
        return limit > 2 * MAX_MATCH ? limit - 2 * MAX_MATCH : 0;
    };
    uint32_t out_end = fast_out_end();
    uint32_t out_limit = 0;  // the current stretch's (see below)

    auto write_back = [&]() KX_LAMBDA_INLINE {
        uint32_t bitpos = bit_position();
        s.input.in_pos = int32_t(bitpos >> 3);
        s.input.in_bit = int32_t(bitpos & 7);
        s.out_pos = out;
        s.bytes_left = decltype(s.bytes_left)(left);
        std::memcpy(s.recent_distances, recent, sizeof recent);
        s.recent_index = recent_index;
        s.last_distance = last_distance;
        s.last_length = last_length;
        v.literal_average = literal_average;
        v.distance_place_average = distance_place_average;
        v.short_length_average = short_length_average;
        v.long_length_average = long_length_average;
        v.near_match_average = near_match_average;
        v.literal_run = literal_run;
        v.literal_weight = literal_weight;
        v.match_weight = match_weight;
        v.distance_threshold = distance_threshold;
        v.short_code_toggle = short_code_toggle;
        v.literal_mode = literal_mode;
        v.flag_byte = (flags & (flags - 1)) >> 24;
        v.flag_bits_left = 31 - std::countr_zero(flags);
        v.repeat_count = repeat_count;
    };

    auto take = [&](uint32_t n) KX_LAMBDA_INLINE {
        bits <<= n;
        avail -= n;
    };
    auto peek16 = [&]() KX_LAMBDA_INLINE { return uint32_t(bits >> 48); };
    // A field of n bits, n from 1 to 16.
    auto field = [&](uint32_t n) KX_LAMBDA_INLINE {
        uint32_t x = uint32_t(bits >> (64 - n));
        take(n);
        return x;
    };
    auto fixed_code = [&](Code c) KX_LAMBDA_INLINE {
        uint32_t e = code_lookup(c)[bits >> 52];
        take(e >> 12);
        return e & 0xFFFu;
    };

    // The general copy (see copy_general_at).
    auto copy_general = [&](uint32_t length, uint32_t distance) KX_LAMBDA_INLINE {
        uint32_t filled = written - left <= 0 ? 0 : written - left >= WINDOW_SIZE ? WINDOW_SIZE
                                                                                    : uint32_t(written - left);
        left -= length;
        out = copy_general_at(w, out, length, distance, filled);
    };

    // Branch-free refill; the bytes it reads lie below in_pos + 16.
    auto refill = [&]() KX_LAMBDA_INLINE {
        bits |= load_bits(buf, next_byte * 8) >> avail;
        next_byte += (63 - avail) >> 3;
        avail |= 56;
    };

    // The literal code, chosen by the running literal average.
    auto literal_code = [&]() KX_LAMBDA_INLINE {
        uint32_t avg = literal_average;
        Code code = avg > 0x75FF ? Code::PLACE_8
                  : avg > 0x5DFF ? Code::PLACE_6
                  : avg > 0x35FF ? Code::PLACE_5B
                  : avg > 0xDFF  ? Code::PLACE_5A
                                 : Code::PLACE_4;
        return code;
    };
    // Within a stretch of fast rounds (below) left is brought up to date
    // from out only where the stretch ends or copies by the general rule:
    // out - stretch_out bytes are not yet taken off it.
    uint32_t stretch_out = out;
    // The literal at rank place p (0..255) and what it moves.
    auto put_literal = [&](uint32_t p, bool fast) KX_LAMBDA_INLINE {
        literal_average += p;
        literal_average -= literal_average >> 8;
        literal_weight += 16;
        if (literal_weight > 0xFF) {
            literal_weight = 0x90;
            match_weight >>= 1;
        }
        w[out++] = uint8_t(use_rank(v.literal_ranks, p, RANK_LIMIT_LITERAL) >> 8);
        if (!fast)
            left -= 1;
    };
    // One item; fast: in a fast round (see the stretch below).
    auto item = [&](bool fast) KX_LAMBDA_INLINE {
        // In a fast round out + MAX_MATCH stays inside the window, and
        // every byte behind out has been written since the fresh start. Any
        // other copy ends the stretch. Far copies go by blocks: this loop
        // measured slower with copy_pattern_far's call in it.
        auto copy = [&](uint32_t length, uint32_t distance) KX_LAMBDA_INLINE {
            if (fast && distance - 1 < out && length <= MAX_MATCH) {
                copy_within<false>(w + out, distance, length);
                out += length;
            } else {
                if (fast)
                    left -= out - stretch_out;
                copy_general(length, distance);
                stretch_out = out;
                out_limit = 0;
            }
        };
        auto record_and_copy = [&](uint32_t length, uint32_t distance) KX_LAMBDA_INLINE {
            recent[recent_index & 3] = distance;
            recent_index = (recent_index + 1) & 3;
            last_length = length;
            last_distance = distance;
            copy(length, distance);
        };
        auto next_flag_bit = [&]() KX_LAMBDA_INLINE {
            if (flags == FLAGS_EMPTY) {
                uint32_t p = fixed_code(Code::PLACE_5B);
                flags = (use_rank(v.flag_ranks, p, RANK_LIMIT_WRAP) >> 8) << 24 | FLAGS_EMPTY >> 8;
            }
            bool bit = flags >> 31;
            flags <<= 1;
            return bit;
        };

        auto literal = [&]() KX_LAMBDA_INLINE {
            if (literal_mode) {
                uint32_t e = literal_mode_lookup(literal_code())[bits >> 52];
                take(e >> 12);
                if (e & LITERAL_MODE_ESCAPE) [[unlikely]] {
                    if (field(1)) {
                        literal_mode = 0;
                        literal_run = 0;
                        return;
                    }
                    uint32_t length = field(1) ? 4 : 3;
                    // The distance's high part: a place code's value, 256
                    // included.
                    uint32_t h = literal_mode_lookup(Code::PLACE_5B)[bits >> 52];
                    take(h >> 12);
                    uint32_t high = h & LITERAL_MODE_ESCAPE ? 0 : (h & 0xFF) + 1;
                    copy(length, high * 32 + field(5));
                    return;
                }
                put_literal(e & 0xFF, fast);
                return;
            }
            uint32_t e = code_lookup(literal_code())[bits >> 52];
            take(e >> 12);
            // A branch, not worked out: runs of 16 literals are rare outside
            // literal mode.
            if (literal_run >= 16) [[unlikely]] {
                if (flags == FLAGS_EMPTY)
                    literal_mode = 1;
            }
            literal_run += 1;
            put_literal(e & 0xFFF, fast);
        };

        auto long_match = [&]() KX_LAMBDA_INLINE {
            literal_run = 0;
            match_weight += 16;
            if (match_weight > 0xFF) {
                match_weight = 0x90;
                literal_weight >>= 1;
            }
            uint32_t a = long_length_average;
            uint32_t n;
            if (a >= 122) {
                n = fixed_code(Code::LENGTH_3);
            } else if (a >= 64) {
                n = fixed_code(Code::LENGTH_2);
            } else {
                uint32_t h = peek16();
                if (h < 0x100) {
                    n = h;
                    take(16);
                } else {
                    n = uint32_t(std::countl_zero(h)) - 16;
                    take(n + 1);
                }
            }
            long_length_average += n;
            long_length_average -= long_length_average >> 5;

            uint32_t dpa = distance_place_average;
            Code code = dpa > 0x28FF ? Code::PLACE_5B : dpa > 0x6FF ? Code::PLACE_5A : Code::PLACE_4;
            uint32_t p = fixed_code(code);
            distance_place_average += p;
            distance_place_average -= distance_place_average >> 8;

            uint32_t raised = use_rank_raised(v.distance_ranks, p, RANK_LIMIT_WRAP);
            uint32_t distance = ((raised & 0xFF00) | (peek16() >> 8)) >> 1;
            take(7);

            uint32_t b = near_match_average;
            if (n == 1 || n == 4) {
                // unchanged
            } else if (n == 0 && distance <= distance_threshold) {
                near_match_average += 1;
                near_match_average -= near_match_average >> 8;
            } else if (near_match_average > 0) {
                near_match_average -= 1;
            }

            uint32_t length = n + 3;
            if (distance >= distance_threshold)
                ++length;
            if (distance <= 256)
                length += 8;
            distance_threshold = (b > 0xB0 || (literal_average >= 0x2A00 && a < 0x40)) ? 0x7F00 : 0x2001;
            record_and_copy(length, distance);
        };

        auto short_match = [&]() KX_LAMBDA_INLINE {
            literal_run = 0;
            if (repeat_count == 2) {
                if (field(1)) {
                    copy(last_length, last_distance);
                    return;
                }
                repeat_count = 0;
            }
            uint32_t e = SHORT_LOOKUP[short_length_average >= 37][short_code_toggle & 1][bits >> 56];
            take(e >> 4);
            uint32_t j = e & 15;
            if (j == 9) {
                repeat_count += 1;
                copy(last_length, last_distance);
                return;
            }
            repeat_count = 0;
            if (j == 14) {
                uint32_t length = fixed_code(Code::LENGTH_3) + 5;
                uint32_t distance = 0x8000 + field(15);
                last_length = length;
                last_distance = distance;
                copy(length, distance);
                return;
            }
            uint32_t length;
            uint32_t distance;
            if (j >= 10) {
                distance = recent[(recent_index - (j - 9)) & 3];
                length = fixed_code(Code::LENGTH_2) + 2;
                if (length == 257 && j == 10) {
                    short_code_toggle ^= 1;
                    return;
                }
                length += (distance > 256) + (distance >= distance_threshold);
            } else {
                short_length_average += j;
                short_length_average -= short_length_average >> 4;
                uint32_t p = fixed_code(Code::PLACE_5B);
                // The distance moves one place forward; at place 0 the
                // stores leave it where it is.
                uint32_t* order = v.short_distance_order;
                uint32_t d = order[p];
                uint32_t before = p - (p > 0);
                order[p] = order[before];
                order[before] = d;
                distance = d + 1;
                length = j + 2;
            }
            record_and_copy(length, distance);
        };

        if (literal_mode) {
            literal();
        } else if (next_flag_bit()) {
            // Flag bits 1 and 01 mean a literal or a long match, their
            // meanings swapped by which weight is larger; 00 means a short item.
            if (match_weight > literal_weight)
                long_match();
            else
                literal();
        } else if (next_flag_bit()) {
            if (match_weight > literal_weight)
                literal();
            else
                long_match();
        } else {
            short_match();
        }
    };

    // Before each item either the current stretch of fast rounds goes on,
    // or a new one starts, or the frame's own checks run. The stretch has a
    // loop of its own, with its items compiled for it. Within a stretch
    // out and left move together (out does not wrap), so one limit on out
    // keeps both a round's MAX_MATCH bytes from the flush point and the
    // window's end and left at FAST_LEFT_MIN or more when a round starts;
    // and every byte behind out stays written since the fresh start, as it
    // is when the stretch begins.
    for (;;) {
        if (next_byte < fast_in_byte && out < out_end && left >= FAST_LEFT_MIN && written - left >= out) {
            out_limit = left - FAST_LEFT_MIN < int64_t(out_end - out) ? out + uint32_t(left - FAST_LEFT_MIN) + 1
                                                                      : out_end;
            // The stretch: fast rounds only, checked on next_byte and out.
            stretch_out = out;
            while (next_byte < fast_in_byte && out < out_limit) {
                if (literal_mode) [[unlikely]] {
                    // Rounds of literals up to an escape or the stretch's end.
                    LiteralRun r{bits, avail, next_byte, out, literal_average, literal_weight, match_weight};
                    literal_mode_rounds(r, buf, w, fast_in_byte, out_limit);
                    bits = r.bits;
                    avail = r.avail;
                    next_byte = r.next_byte;
                    out = r.out;
                    literal_average = r.literal_average;
                    literal_weight = r.literal_weight;
                    match_weight = r.match_weight;
                    if (!(next_byte < fast_in_byte && out < out_limit))
                        break;
                }
                refill();
                item(true);
            }
            left -= out - stretch_out;
            continue;
        }
        if (left < 0)
            break;
        out &= WINDOW_MASK;
        if (bit_position() >= in_end || flush_due(out, flushed))
            break;
        refill();
        item(false);
        out_end = fast_out_end();
    }
    write_back();
}

template <bool FAST>
void run_v15(uint8_t* window, int solid) {
    DecoderState& s = decoder_state;
    build_fixed_lookups();
    s.window = window;
    reset_decoder(solid);
    reset_v15(solid);
    fill_input(1);
    if (!solid)
        init_rank_tables();
    s.out_pos = s.flushed_pos;
    s.bytes_left -= 1;
    begin_window_count();
    StateInput state_input;
    if (s.bytes_left >= 0) {
        read_flag_byte(state_input);
        s.v15.flag_bits_left = 8;
    }
    while (s.bytes_left >= 0) {
        s.out_pos &= WINDOW_MASK;
        if (!frame_input())
            break;
        if (flush_due(s.out_pos))
            flush_window();
        if constexpr (FAST)
            items_v15_fast();
        else
            decode_item_v15(state_input);
    }
    end_window_count();
    flush_entry_end();
}

}  // namespace

void decompress_v15(uint8_t* window, int solid) { run_v15<true>(window, solid); }

void decompress_v15_reference(uint8_t* window, int solid) { run_v15<false>(window, solid); }
