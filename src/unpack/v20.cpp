// The 2.0 method: LZ77 over the 1 MiB window with transmitted prefix codes,
// and its audio mode. One template serves the reference decoder (limit search,
// byte-wise copies) and the fast one (table look-up, word-wise copies).
#include <bit>
#include <cstring>
#include <type_traits>

#include "format/v20_tables.h"
#include "unpack/decoder_state.h"
#include "unpack/huff_table.h"
#include "unpack/register_input.h"
#include "unpack/v20_audio.h"

namespace {

using v20::DISTANCE_BASES;
using v20::DISTANCE_EXTRA_BITS;
using v20::LENGTH_BASES;
using v20::LENGTH_EXTRA_BITS;
using v20::SHORT_DISTANCE_BASES;
using v20::SHORT_DISTANCE_EXTRA_BITS;

constexpr uint32_t SYMBOL_REPEAT_LAST = v20::SYM_REPEAT_LAST;
constexpr uint32_t SYMBOL_TABLE_BLOCK = v20::SYM_TABLES;
constexpr uint32_t AUDIO_TABLE_BLOCK = v20::AUDIO_SYM_TABLES;

struct ReferencePath {
    static uint32_t decode(const HuffTable& t) { return decode_symbol_reference(t); }
    static void copy(uint32_t length, uint32_t distance) { copy_match_bytewise(length, distance); }
};

struct FastPath {
    static uint32_t decode(const HuffTable& t) { return decode_symbol_fast(t); }
    static void copy(uint32_t length, uint32_t distance) { copy_match_fast(length, distance); }
};

// The 2.0 form of the copy: the distance goes into the ring first.
template <class Path>
inline void copy_match_v20(uint32_t length, uint32_t distance) {
    DecoderState& s = decoder_state;
    s.recent_distances[s.recent_index & 3] = distance;
    s.last_distance = distance;
    s.recent_index = (s.recent_index + 1) & 3;
    s.last_length = length;
    Path::copy(length, distance);
}

// Reads one table block and rebuilds the tables. Positions of the new length
// set beyond the block's count are 0; a repeat (symbol 16) at position 0
// repeats the length 0. When a refill ends the entry the block is dropped and
// the previous tables stay.
template <class Path>
void read_code_tables() {
    DecoderState& s = decoder_state;
    V20State& v = s.v20;
    if (s.input.in_pos > TABLE_REFILL_LIMIT) {
        fill_input(0);
        if (s.bytes_left < 0)
            return;
    }
    uint32_t h = peek_bits();
    v.audio_mode = (h >> 15) & 1;
    if ((h & 0x4000) == 0)
        std::memset(v.previous_lengths, 0, sizeof v.previous_lengths);
    skip_bits(2);

    uint32_t count;
    if (v.audio_mode) {
        v.channel_count = ((h >> 12) & 3) + 1;
        if (v.current_channel >= v.channel_count)
            v.current_channel = 0;
        skip_bits(2);
        count = v.channel_count * AUDIO_SYMBOLS;
    } else {
        count = NORMAL_TABLE_LENGTHS;
    }

    uint8_t code_lengths[LENGTH_CODE_SYMBOLS];
    for (uint32_t i = 0; i < LENGTH_CODE_SYMBOLS; ++i)
        code_lengths[i] = uint8_t(read_bits(4));
    build_huff_table(code_lengths, v.length_code_table, LENGTH_CODE_SYMBOLS);

    uint8_t lengths[ALL_TABLE_LENGTHS] = {};
    uint32_t i = 0;
    while (i < count) {
        if (s.input.in_pos > LENGTH_REFILL_LIMIT) {
            fill_input(0);
            if (s.bytes_left < 0)
                return;
        }
        uint32_t sym = Path::decode(v.length_code_table);
        if (sym < 16) {
            lengths[i] = uint8_t((v.previous_lengths[i] + sym) & 15);
            ++i;
            continue;
        }
        uint32_t run;
        uint8_t value = 0;
        if (sym == 16) {
            run = read_bits(2) + 3;
            value = i > 0 ? lengths[i - 1] : 0;
        } else if (sym == 17) {
            run = read_bits(3) + 3;
        } else {
            run = read_bits(7) + 11;
        }
        for (; run > 0 && i < count; --run)
            lengths[i++] = value;
    }

    if (v.audio_mode) {
        for (uint32_t ch = 0; ch < v.channel_count; ++ch)
            build_huff_table(lengths + ch * AUDIO_SYMBOLS, v.audio_tables[ch], AUDIO_SYMBOLS);
    } else {
        build_huff_table(lengths, v.main_table, MAIN_SYMBOLS);
        build_huff_table(lengths + MAIN_SYMBOLS, v.distance_table, DISTANCE_SYMBOLS);
        build_huff_table(lengths + MAIN_SYMBOLS + DISTANCE_SYMBOLS, v.repeat_table, REPEAT_SYMBOLS);
    }
    std::memcpy(v.previous_lengths, lengths, sizeof v.previous_lengths);
}

template <class Path>
inline void decode_audio_item() {
    DecoderState& s = decoder_state;
    V20State& v = s.v20;
    uint32_t sym = Path::decode(v.audio_tables[v.current_channel & 3]);
    if (sym == AUDIO_TABLE_BLOCK) {
        read_code_tables<Path>();
        return;
    }
    s.window[s.out_pos++] = predict_audio_byte(sym);
    if (++v.current_channel >= v.channel_count)
        v.current_channel = 0;
    s.bytes_left -= 1;
}

template <class Path>
inline void decode_item() {
    DecoderState& s = decoder_state;
    V20State& v = s.v20;
    uint32_t sym = Path::decode(v.main_table);
    if (sym < 256) {
        s.window[s.out_pos++] = uint8_t(sym);
        s.bytes_left -= 1;
    } else if (sym >= 270) {
        uint32_t j = sym - 270;
        uint32_t length = LENGTH_BASES[j] + 3 + read_bits(LENGTH_EXTRA_BITS[j]);
        uint32_t d = Path::decode(v.distance_table);
        uint32_t distance = DISTANCE_BASES[d] + 1 + read_bits(DISTANCE_EXTRA_BITS[d]);
        if (distance >= 0x2000) {
            ++length;
            if (distance >= 0x40000)
                ++length;
        }
        copy_match_v20<Path>(length, distance);
    } else if (sym == SYMBOL_REPEAT_LAST) {
        copy_match_v20<Path>(s.last_length, s.last_distance);
    } else if (sym < 261) {
        uint32_t distance = s.recent_distances[(s.recent_index - (sym - 256)) & 3];
        uint32_t r = Path::decode(v.repeat_table);
        uint32_t length = LENGTH_BASES[r] + 2 + read_bits(LENGTH_EXTRA_BITS[r]);
        if (distance >= 0x101) {
            ++length;
            if (distance >= 0x2000) {
                ++length;
                if (distance >= 0x40000)
                    ++length;
            }
        }
        copy_match_v20<Path>(length, distance);
    } else if (sym < SYMBOL_TABLE_BLOCK) {
        uint32_t j = sym - 261;
        uint32_t distance = SHORT_DISTANCE_BASES[j] + 1 + read_bits(SHORT_DISTANCE_EXTRA_BITS[j]);
        copy_match_v20<Path>(2, distance);
    } else {
        read_code_tables<Path>();
    }
}

// The end step: a table block right behind the last item belongs to the next
// solid entry.
template <class Path>
void check_trailing_tables() {
    DecoderState& s = decoder_state;
    V20State& v = s.v20;
    if (s.input.in_pos + 5 > s.input.in_end)
        return;
    if (v.audio_mode) {
        if (Path::decode(v.audio_tables[v.current_channel & 3]) == AUDIO_TABLE_BLOCK)
            read_code_tables<Path>();
    } else {
        if (Path::decode(v.main_table) == SYMBOL_TABLE_BLOCK)
            read_code_tables<Path>();
    }
}


// Audio items in registers; returns to the frame like normal_items_fast.
// Decodes exactly what decode_audio_item<FastPath> would, item by item.
void audio_items_fast() {
    DecoderState& s = decoder_state;
    V20State& v = s.v20;
    uint8_t* const w = s.window;
    RegisterInput in;
    uint32_t out = s.out_pos;
    int32_t left = s.bytes_left;
    const uint32_t flushed = s.flushed_pos;  // only the frame's flush moves it
    for (;;) {
        uint32_t sym = in.decode(v.audio_tables[v.current_channel & 3]);
        if (sym == AUDIO_TABLE_BLOCK) {
            in.write_back();
            s.out_pos = out;
            s.bytes_left = left;
            read_code_tables<FastPath>();
            return;
        }
        w[out++] = predict_audio_byte(sym);
        if (++v.current_channel >= v.channel_count)
            v.current_channel = 0;
        left -= 1;
        if (left < 0)
            break;
        out &= WINDOW_MASK;
        if (in.refill_due() || flush_due(out, flushed))
            break;
    }
    in.write_back();
    s.out_pos = out;
    s.bytes_left = left;
}

// Normal-mode items in registers. Runs the frame's per-item checks itself
// and returns, with the state written back, when the frame has work to do
// before the next item (a refill, a flush, the end of the entry) or after a
// table block. Decodes exactly what decode_item<FastPath> would, item by item.
void normal_items_fast() {
    DecoderState& s = decoder_state;
    V20State& v = s.v20;
    uint8_t* const w = s.window;
    RegisterInput in;
    uint32_t out = s.out_pos;
    int32_t left = s.bytes_left;
    const uint32_t flushed = s.flushed_pos;  // only the frame's flush moves it
    const HuffTable& main_table = v.main_table;
    const HuffTable& distance_table = v.distance_table;
    const HuffTable& repeat_table = v.repeat_table;
    auto bits = [&](uint32_t n) { return in.bits(n); };
    auto decode = [&](const HuffTable& t) { return in.decode(t); };
    auto copy = [&](uint32_t length, uint32_t distance) {
        s.recent_distances[s.recent_index & 3] = distance;
        s.last_distance = distance;
        s.recent_index = (s.recent_index + 1) & 3;
        s.last_length = length;
        uint32_t zeros = unwritten_prefix(length, distance, window_filled(left));
        left -= int32_t(length);
        uint32_t from = (out - distance) & WINDOW_MASK;
        uint32_t gap = (out - from) & WINDOW_MASK;
        if (zeros == 0 && out + length <= WINDOW_SIZE && from + length <= WINDOW_SIZE && gap >= 8) {
            uint8_t* dst = w + out;
            const uint8_t* src = w + from;
            uint32_t i = 0;
            for (; i + 8 <= length; i += 8)
                std::memcpy(dst + i, src + i, 8);
            for (; i < length; ++i)
                dst[i] = src[i];
            out = (out + length) & WINDOW_MASK;
        } else {
            for (uint32_t i = 0; i < length; ++i) {
                w[out] = i < zeros ? 0 : w[(out - distance) & WINDOW_MASK];
                out = (out + 1) & WINDOW_MASK;
            }
        }
    };
    auto write_back = [&]() {
        in.write_back();
        s.out_pos = out;
        s.bytes_left = left;
    };

    for (;;) {
        uint32_t sym = decode(main_table);
        if (sym < 256) {
            w[out++] = uint8_t(sym);
            left -= 1;
        } else if (sym >= 270) {
            uint32_t j = sym - 270;
            uint32_t length = LENGTH_BASES[j] + 3 + bits(LENGTH_EXTRA_BITS[j]);
            uint32_t d = decode(distance_table);
            uint32_t distance = DISTANCE_BASES[d] + 1 + bits(DISTANCE_EXTRA_BITS[d]);
            if (distance >= 0x2000) {
                ++length;
                if (distance >= 0x40000)
                    ++length;
            }
            copy(length, distance);
        } else if (sym == SYMBOL_REPEAT_LAST) {
            copy(s.last_length, s.last_distance);
        } else if (sym < 261) {
            uint32_t distance = s.recent_distances[(s.recent_index - (sym - 256)) & 3];
            uint32_t r = decode(repeat_table);
            uint32_t length = LENGTH_BASES[r] + 2 + bits(LENGTH_EXTRA_BITS[r]);
            if (distance >= 0x101) {
                ++length;
                if (distance >= 0x2000) {
                    ++length;
                    if (distance >= 0x40000)
                        ++length;
                }
            }
            copy(length, distance);
        } else if (sym < SYMBOL_TABLE_BLOCK) {
            uint32_t j = sym - 261;
            uint32_t distance = SHORT_DISTANCE_BASES[j] + 1 + bits(SHORT_DISTANCE_EXTRA_BITS[j]);
            copy(2, distance);
        } else {
            write_back();
            read_code_tables<FastPath>();
            return;
        }
        // The frame's checks before the next item.
        if (left < 0)
            break;
        out &= WINDOW_MASK;
        if (in.refill_due() || flush_due(out, flushed))
            break;
    }
    write_back();
}

template <class Path>
void run_v20(uint8_t* window, int solid) {
    DecoderState& s = decoder_state;
    s.window = window;
    reset_decoder(solid);
    fill_input(1);
    if (!solid)
        read_code_tables<Path>();
    s.bytes_left -= 1;
    begin_window_count();
    while (s.bytes_left >= 0) {
        s.out_pos &= WINDOW_MASK;
        if (s.input.in_pos > MAIN_REFILL_LIMIT) {
            fill_input(0);
            if (s.bytes_left < 0)
                break;
        }
        if (((s.flushed_pos - s.out_pos) & WINDOW_MASK) < FLUSH_MARGIN && s.flushed_pos != s.out_pos)
            flush_window();
        if constexpr (std::is_same_v<Path, FastPath>) {
            if (s.v20.audio_mode)
                audio_items_fast();
            else
                normal_items_fast();
        } else if (s.v20.audio_mode) {
            decode_audio_item<Path>();
        } else {
            decode_item<Path>();
        }
    }
    end_window_count();
    check_trailing_tables<Path>();
    flush_entry_end();
}

}  // namespace

void decompress_v20(uint8_t* window, int solid) { run_v20<FastPath>(window, solid); }

void decompress_v20_reference(uint8_t* window, int solid) { run_v20<ReferencePath>(window, solid); }
