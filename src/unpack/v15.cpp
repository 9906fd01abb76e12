// The 1.5 method: fixed codes whose meaning follows adaptive state (rank
// tables, running averages, flag weights, literal mode). One template serves
// the reference decoder (scanned codes, byte-wise copies) and the fast one
// (look-ups, word-wise copies).
#include <type_traits>

#include "unpack/decoder_state.h"
#include "unpack/register_input.h"
#include "unpack/v15_codes.h"
#include "unpack/v15_ranks.h"

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

// The fixed codes' look-ups, by Code. Built on the first run instead of
// stored: the seven 8 KiB tables would be a third of the installer's file.
FixedLookup fixed_lookups[FIXED_CODES];
bool fixed_lookups_built = false;

void build_fixed_lookups() {
    if (fixed_lookups_built)
        return;
    for (int c = 0; c < FIXED_CODES; ++c)
        fixed_lookups[c] = make_fixed_lookup(code_definition(static_cast<Code>(c)));
    fixed_lookups_built = true;
}

inline const FixedLookup& code_lookup(Code c) { return fixed_lookups[static_cast<int>(c)]; }

struct ReferencePath {
    template <class In>
    static uint32_t fixed(Code c, In& in) {
        FixedValue v = fixed_code_scan(code_definition(c), in.peek());
        in.consume(v.bits);
        return v.value;
    }
    static ShortCode short_code(int set, uint32_t toggle, uint32_t byte) {
        return short_code_scan(set, toggle, byte);
    }
    static void copy(uint32_t length, uint32_t distance) { copy_match_bytewise(length, distance); }
};

struct FastPath {
    template <class In>
    static uint32_t fixed(Code c, In& in) {
        uint32_t e = code_lookup(c)[in.peek() >> 4];
        in.consume(e >> 12);
        return e & 0xFFF;
    }
    static ShortCode short_code(int set, uint32_t toggle, uint32_t byte) {
        uint32_t e = SHORT_LOOKUP[set - 1][toggle & 1][byte & 0xFF];
        return {e & 15, e >> 4};
    }
    static void copy(uint32_t length, uint32_t distance) { copy_match_fast(length, distance); }
};

// The place codes can give 256, one past the last place of every table. In
// literal mode that is place 255 by the format's rule; elsewhere it is read
// as place 255 as well, so damaged data never indexes past a table.
inline uint32_t clamp_place(uint32_t p) { return p > 255 ? 255 : p; }

inline void record_distance(uint32_t length, uint32_t distance) {
    DecoderState& s = decoder_state;
    s.recent_distances[s.recent_index & 3] = distance;
    s.recent_index = (s.recent_index + 1) & 3;
    s.last_length = length;
    s.last_distance = distance;
}

template <class Path, class In>
[[gnu::always_inline]] inline void read_flag_byte(In& in) {
    V15State& v = decoder_state.v15;
    uint32_t p = clamp_place(Path::fixed(Code::PLACE_5B, in));
    v.flag_byte = use_rank(v.flag_ranks, p, RANK_LIMIT_WRAP) >> 8;
}

template <class Path, class In>
[[gnu::always_inline]] inline void decode_literal_v15(In& in) {
    DecoderState& s = decoder_state;
    V15State& v = s.v15;
    uint32_t avg = v.literal_average;
    Code code = avg > 0x75FF ? Code::PLACE_8
              : avg > 0x5DFF ? Code::PLACE_6
              : avg > 0x35FF ? Code::PLACE_5B
              : avg > 0xDFF  ? Code::PLACE_5A
                             : Code::PLACE_4;
    uint32_t p = Path::fixed(code, in);
    if (v.literal_mode) {
        if (p == 0) {
            if (in.bits(1)) {
                v.literal_mode = 0;
                v.literal_run = 0;
                return;
            }
            uint32_t length = in.bits(1) ? 4 : 3;
            uint32_t w = Path::fixed(Code::PLACE_5B, in);
            uint32_t distance = w * 32 + in.bits(5);
            Path::copy(length, distance);
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

template <class Path, class In>
[[gnu::always_inline]] inline void decode_short_match(In& in) {
    DecoderState& s = decoder_state;
    V15State& v = s.v15;
    v.literal_run = 0;
    uint32_t h = in.peek();
    if (v.repeat_count == 2) {
        in.consume(1);
        if (h >= 0x8000) {
            Path::copy(s.last_length, s.last_distance);
            return;
        }
        v.repeat_count = 0;
        h <<= 1;
    }
    int set = v.short_length_average < 37 ? 1 : 2;
    ShortCode sc = Path::short_code(set, v.short_code_toggle, (h >> 8) & 0xFF);
    in.consume(sc.bits);
    uint32_t j = sc.code;

    if (j == 9) {
        v.repeat_count += 1;
        Path::copy(s.last_length, s.last_distance);
        return;
    }
    v.repeat_count = 0;
    if (j == 14) {
        uint32_t length = Path::fixed(Code::LENGTH_3, in) + 5;
        uint32_t distance = 0x8000 + in.bits(15);
        s.last_length = length;
        s.last_distance = distance;
        Path::copy(length, distance);
        return;
    }
    uint32_t length;
    uint32_t distance;
    if (j >= 10) {
        distance = s.recent_distances[(s.recent_index - (j - 9)) & 3];
        length = Path::fixed(Code::LENGTH_2, in) + 2;
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
        uint32_t p = clamp_place(Path::fixed(Code::PLACE_5B, in));
        uint32_t d = v.short_distance_order[p];
        if (p > 0) {
            v.short_distance_order[p] = v.short_distance_order[p - 1];
            v.short_distance_order[p - 1] = d;
        }
        distance = d + 1;
        length = j + 2;
    }
    record_distance(length, distance);
    Path::copy(length, distance);
}

template <class Path, class In>
[[gnu::always_inline]] inline void decode_long_match(In& in) {
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
        n = Path::fixed(Code::LENGTH_3, in);
    } else if (a >= 64) {
        n = Path::fixed(Code::LENGTH_2, in);
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
    uint32_t p = clamp_place(Path::fixed(code, in));
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
    Path::copy(length, distance);
}

// Takes the next flag bit (bit 7 of the flag byte), reading a fresh flag
// byte when the current one is used up.
template <class Path, class In>
[[gnu::always_inline]] inline bool next_flag_bit(In& in) {
    V15State& v = decoder_state.v15;
    if (--v.flag_bits_left < 0) {
        read_flag_byte<Path>(in);
        v.flag_bits_left = 7;
    }
    bool bit = (v.flag_byte & 0x80) != 0;
    v.flag_byte = (v.flag_byte << 1) & 0xFF;
    return bit;
}

template <class Path, class In>
[[gnu::always_inline]] inline void decode_item_v15(In& in) {
    V15State& v = decoder_state.v15;
    if (v.literal_mode) {
        decode_literal_v15<Path>(in);
        return;
    }
    // Flag bits 1 and 01 mean a literal or a long match, their meanings
    // swapped by which weight is larger; 00 means a short item.
    if (next_flag_bit<Path>(in)) {
        if (v.match_weight > v.literal_weight)
            decode_long_match<Path>(in);
        else
            decode_literal_v15<Path>(in);
    } else if (next_flag_bit<Path>(in)) {
        if (v.match_weight > v.literal_weight)
            decode_literal_v15<Path>(in);
        else
            decode_long_match<Path>(in);
    } else {
        decode_short_match<Path>(in);
    }
}

// Items with the bit input in registers. Runs the frame's per-item checks
// itself and returns, with the input written back, when the frame has work
// to do before the next item (a refill, a flush, the end of the entry).
void items_v15_fast() {
    DecoderState& s = decoder_state;
    RegisterInput in;
    for (;;) {
        decode_item_v15<FastPath>(in);
        if (s.bytes_left < 0)
            break;
        s.out_pos &= WINDOW_MASK;
        if (in.refill_due() || flush_due(s.out_pos))
            break;
    }
    in.write_back();
}

template <class Path>
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
        read_flag_byte<Path>(state_input);
        s.v15.flag_bits_left = 8;
    }
    while (s.bytes_left >= 0) {
        s.out_pos &= WINDOW_MASK;
        if (!frame_input())
            break;
        if (flush_due(s.out_pos))
            flush_window();
        if constexpr (std::is_same_v<Path, FastPath>)
            items_v15_fast();
        else
            decode_item_v15<Path>(state_input);
    }
    end_window_count();
    flush_entry_end();
}

}  // namespace

void decompress_v15(uint8_t* window, int solid) { run_v15<FastPath>(window, solid); }

void decompress_v15_reference(uint8_t* window, int solid) { run_v15<ReferencePath>(window, solid); }
