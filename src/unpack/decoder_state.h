// The process-wide decoder state shared by both methods (bit input, window
// positions, recent matches) and each method's tables, plus the small inline
// operations of the decoder core: bit peeks and skips, the byte-wise match copy.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "format/v20_tables.h"

#include "unpack/decoder.h"

// ---------------------------------------------------------------- bit input

inline constexpr int32_t IN_BUFFER_SIZE = 8192;
// A refill keeps the last IN_KEEP bytes and reads behind them.
inline constexpr int32_t IN_KEEP = 32;
inline constexpr int32_t IN_REFILL_AT = IN_BUFFER_SIZE - IN_KEEP;  // 8160
// Zero bytes behind the buffer, never written: a peek loads four bytes at
// in_pos, and damaged input must not lead a read out of the array.
inline constexpr int32_t IN_BUFFER_SPARE = 32;

// Refill thresholds: the main loop refills when in_pos passes 8162, the 2.0
// table reader when it passes 8167 on entry and 8187 before each length symbol.
inline constexpr int32_t MAIN_REFILL_LIMIT = 8162;
inline constexpr int32_t TABLE_REFILL_LIMIT = 8167;
inline constexpr int32_t LENGTH_REFILL_LIMIT = 8187;
static_assert(MAIN_REFILL_LIMIT >= IN_REFILL_AT && TABLE_REFILL_LIMIT >= IN_REFILL_AT &&
              LENGTH_REFILL_LIMIT >= IN_REFILL_AT, "a refill must find in_pos inside the kept bytes");
static_assert(LENGTH_REFILL_LIMIT + 5 + 4 <= IN_BUFFER_SIZE + IN_BUFFER_SPARE,
              "a length symbol and its field, then a four-byte peek, stay inside the array");

// Below this gap between out_pos and flushed_pos the window is flushed; every
// match of either method is shorter.
inline constexpr uint32_t FLUSH_MARGIN = 270;

struct BitInput {
    uint8_t in_buffer[IN_BUFFER_SIZE + IN_BUFFER_SPARE];
    int32_t in_pos;  // byte index of the next unread bit
    int32_t in_bit;  // 0..7, counted from the most significant bit
    int32_t in_end;  // valid bytes after the last fill
    // Once the entry's packed data has been read to its end (a fill came
    // back short), the bit position just past its last byte in in_buffer;
    // NO_DATA_END while more may follow. Every item takes at least one bit,
    // so an item that starts there has no data of its own.
    uint32_t end_bit;
    // The bit position (in_pos * 8 + in_bit) from which the decoding loops
    // hand back to the frame: the refill point, or end_bit when it is nearer.
    uint32_t frame_bit;
};

inline constexpr uint32_t NO_DATA_END = 0xFFFFFFFFu;

// ------------------------------------------------------------ 2.0 method

inline constexpr uint32_t MAIN_SYMBOLS = v20::MAIN_SYMBOLS;
inline constexpr uint32_t DISTANCE_SYMBOLS = v20::DISTANCE_SYMBOLS;
inline constexpr uint32_t REPEAT_SYMBOLS = v20::REPEAT_SYMBOLS;
inline constexpr uint32_t AUDIO_SYMBOLS = v20::AUDIO_SYMBOLS;
inline constexpr uint32_t LENGTH_CODE_SYMBOLS = v20::LENGTH_CODE_SYMBOLS;
inline constexpr uint32_t MAX_CHANNELS = v20::MAX_CHANNELS;
inline constexpr uint32_t NORMAL_TABLE_LENGTHS = MAIN_SYMBOLS + DISTANCE_SYMBOLS + REPEAT_SYMBOLS;  // 374
inline constexpr uint32_t ALL_TABLE_LENGTHS = MAX_CHANNELS * AUDIO_SYMBOLS;                       // 1028
inline constexpr uint32_t MAX_HUFF_SYMBOLS = MAIN_SYMBOLS;

// Look-up tables: the top LOOKUP_BITS bits of a code window index the main
// part of the main and audio tables; longer codes continue in 16-entry
// subtables indexed by the next SUBTABLE_BITS bits (codes are at most 15
// bits long). The tables of the small alphabets take fewer bits at the
// first level: every table block builds them all, and a main part of 2^11
// entries for 19 or 28 symbols costs more to fill than its look-ups save.
inline constexpr int LOOKUP_BITS = 11;
// Bits of the window that index a look-up of two audio codes at once.
inline constexpr int AUDIO_PAIR_BITS = 12;
inline constexpr int SUBTABLE_BITS = 15 - LOOKUP_BITS;
inline constexpr uint32_t LOOKUP_MAIN = 1u << LOOKUP_BITS;

// What every decode table has, whatever its sizes: how the canonical code
// of lengths 1 to 15 was laid out, and the state of its look-up.
struct HuffTableHead {
    uint32_t symbol_count;
    uint32_t limit[16];        // exclusive upper bound of codes of length <= L, left-aligned to 16 bits
    uint32_t first_index[16];  // index in symbols of the first code of length L
    // Look-up entries from here on (subtable room the last build left
    // unused) are 0.
    uint32_t entries_end;
    // Prefixes that found no subtable room and go to the limit rule: only
    // codes with more long prefixes than the room has any (damaged length
    // sets, mostly).
    uint32_t by_rule;
};

// Decode table of one canonical prefix code, for alphabets of up to SYMBOLS
// symbols, whose look-up's main part is indexed by the top BITS bits of the
// window.
template <int BITS, uint32_t SYMBOLS>
struct HuffTableOf : HuffTableHead {
    static constexpr int LOOKUP_BITS = BITS;
    static constexpr int SUBTABLE_BITS = 15 - BITS;
    static constexpr uint32_t LOOKUP_MAIN = 1u << BITS;
    static constexpr uint32_t MAX_SYMBOLS = SYMBOLS;
    // Room for the subtables a table can need: prefixes whose codes are
    // longer than BITS. A prefix needs one only when two or more codes (or
    // the last code and the windows past it) share it, and no code lies
    // under two prefixes, so half the alphabet, rounded up, is room for
    // every length set (a long tail of rare symbols in a valid block needs
    // over a hundred in the main table). The limit search for prefixes left
    // without a subtable stays as a guard.
    static constexpr uint32_t SUBTABLES = (SYMBOLS + 1) / 2;
    static constexpr uint32_t ENTRIES = LOOKUP_MAIN + (SUBTABLES << SUBTABLE_BITS);

    uint32_t symbols[SYMBOLS];  // by code length, then symbol; unused entries hold 0
    // Look-up entries (see huff_table.h): what the code at the front of the
    // window decodes to and its length, or where its subtable starts.
    uint32_t entries[ENTRIES];
};

// The main and audio tables; those of the distances, the repeated matches'
// lengths and the table blocks' length codes.
using HuffTable = HuffTableOf<LOOKUP_BITS, MAX_HUFF_SYMBOLS>;
using DistanceTable = HuffTableOf<10, DISTANCE_SYMBOLS>;
using RepeatTable = HuffTableOf<9, REPEAT_SYMBOLS>;
using LengthCodeTable = HuffTableOf<8, LENGTH_CODE_SYMBOLS>;

struct AudioChannel {
    int32_t weights[5];  // w1..w5, each within -17..16
    int32_t deltas[4];   // d1..d4, d1 newest
    int32_t last_delta;
    uint32_t errors[11];
    uint32_t byte_count;
    int32_t last_byte;
};

struct V20State {
    HuffTable main_table;
    DistanceTable distance_table;
    RepeatTable repeat_table;
    HuffTable audio_tables[MAX_CHANNELS];
    LengthCodeTable length_code_table;
    uint8_t previous_lengths[ALL_TABLE_LENGTHS];
    uint32_t audio_mode;
    uint32_t channel_count;
    uint32_t current_channel;
    int32_t channel_delta;
    AudioChannel channels[MAX_CHANNELS];
    // The fast decoder's look-ups of two audio codes at once, a byte of one
    // channel's and one of the next (or of the same channel when there is
    // one), by the top AUDIO_PAIR_BITS bits: both codes' lengths added, then
    // the first code from bit 16 and the second from bit 24; 0 where the two
    // codes do not both lie within those bits (or either is a table block).
    // The first is for channels 0 and 1, the second for 2 and 3 (four
    // channels only). Built with the audio tables (in 64-bit programs); all
    // 0 leaves every code to the audio tables.
    uint32_t audio_pairs[2][1u << AUDIO_PAIR_BITS];
    // The tables have been built at least once since the state was cleared.
    // A solid entry with nothing before it, or after a table block cut short,
    // uses tables no block has built: they decode as built from zero lengths.
    uint32_t tables_built;
};

// ------------------------------------------------------------ 1.5 method

struct RankTable {
    uint32_t entries[256];     // value << 8 | counter; the place is the index
    uint32_t next_place[256];  // by counter: where the next used entry with it moves
};

struct V15State {
    RankTable literal_ranks;
    RankTable distance_ranks;
    RankTable flag_ranks;
    uint32_t short_distance_order[256];
    uint32_t literal_average;
    uint32_t distance_place_average;
    uint32_t short_length_average;
    uint32_t long_length_average;
    uint32_t near_match_average;
    uint32_t literal_run;
    uint32_t literal_weight;
    uint32_t match_weight;
    uint32_t distance_threshold;
    uint32_t short_code_toggle;
    uint32_t literal_mode;
    uint32_t flag_byte;
    int32_t flag_bits_left;
    uint32_t repeat_count;
};

// ------------------------------------------------------------ shared record

struct DecoderState {
    uint8_t* window;
    uint32_t out_pos;
    uint32_t flushed_pos;
    // Signed 64-bit: a size read from a header is any 32-bit value, and the
    // count runs a little below zero at the end of an entry.
    int64_t bytes_left;
    uint32_t recent_distances[4];
    uint32_t recent_index;
    uint32_t last_distance;
    uint32_t last_length;
    BitInput input;
    // The window is not cleared at a fresh start; instead every byte a match
    // takes from a position not written since then reads as 0, exactly as if
    // it had been cleared. fill_base counts the bytes written before the
    // current entry (at most WINDOW_SIZE); entry_left is bytes_left at the
    // entry's start, so the bytes written so far follow from bytes_left.
    uint32_t fill_base;
    int64_t entry_left;
    // Fills of the current entry that delivered no bytes. Valid packed data
    // never makes a second one: that needs more than 8 KiB of bits read past
    // its end. Damaged data that gets there ends the entry (see fill_input).
    int32_t empty_fills;
    V20State v20;
    V15State v15;
};

extern DecoderState decoder_state;

// ------------------------------------------------------------ core operations

// first != 0: the first fill of an entry (8192 bytes at index 0). first == 0:
// a refill, made only when in_pos >= 8160: keeps the last 32 bytes in front
// and reads 8160 behind them. A fill reads until its count has come or the
// source delivers nothing; a short fill marks the end of the packed data
// (end_bit), after which nothing more is read. A second fill that delivers
// nothing ends the entry (bytes_left = -1).
void fill_input(int first);
// Ends the entry where it stands (bytes_left = -1): its packed data is used up.
void end_entry_early();
// Passes the window bytes from flushed_pos to out_pos to write_unpacked (two
// calls when the output wrapped) and sets flushed_pos = out_pos.
void flush_window();
// The final flush of an entry. A damaged stream can end with a match longer
// than the bytes still owed; those extra bytes stay in the window (positions
// go on behind them, as for any match) but are not passed on, so an entry
// never delivers more bytes than its size.
void flush_entry_end();
// Shared per-entry reset; solid == 0 also empties the window (see
// fill_base), clears positions, recent matches, the audio channels and
// previous_lengths.
void reset_decoder(int solid);

// The input's position in bits: in_pos * 8 + in_bit.
inline uint32_t input_bit_position() {
    const BitInput& in = decoder_state.input;
    return uint32_t(in.in_pos) * 8 + uint32_t(in.in_bit);
}

// The frame's input step before the next item: ends the entry once its
// packed data is used up, whatever its size says (a stream that is cut short
// or lies about its size decodes nothing from stale bytes), and refills when
// due. Returns false when the entry ended.
inline bool frame_input() {
    DecoderState& s = decoder_state;
    const BitInput& in = s.input;
    if (input_bit_position() >= in.end_bit) {
        end_entry_early();
        return false;
    }
    if (in.in_pos > MAIN_REFILL_LIMIT) {
        fill_input(0);
        return s.bytes_left >= 0;
    }
    return true;
}

inline uint32_t peek_bits() {
    const BitInput& in = decoder_state.input;
    const uint8_t* p = in.in_buffer + in.in_pos;
    uint32_t v = uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    return (v >> (16 - in.in_bit)) & 0xFFFF;
}

inline void skip_bits(int n) {
    BitInput& in = decoder_state.input;
    in.in_pos += (in.in_bit + n) >> 3;
    in.in_bit = (in.in_bit + n) & 7;
}

// An n-bit field, n from 0 to 16, first bit most significant.
inline uint32_t read_bits(int n) {
    if (n == 0)
        return 0;
    uint32_t v = peek_bits() >> (16 - n);
    skip_bits(n);
    return v;
}

// Bytes of the window written since the last fresh start, at most
// WINDOW_SIZE, given the entry's current bytes_left.
inline uint32_t window_filled(int64_t bytes_left) {
    const DecoderState& s = decoder_state;
    int64_t n = int64_t(s.fill_base) + (s.entry_left - bytes_left);
    if (n <= 0)
        return 0;
    return n >= int64_t(WINDOW_SIZE) ? WINDOW_SIZE : uint32_t(n);
}

// Marks the start of an entry's output (after the frame's bytes_left -= 1).
inline void begin_window_count() { decoder_state.entry_left = decoder_state.bytes_left; }
// Folds the bytes written so far into fill_base (end of an entry).
inline void end_window_count() {
    DecoderState& s = decoder_state;
    s.fill_base = window_filled(s.bytes_left);
    s.entry_left = s.bytes_left;
}

// How many leading bytes of a match read positions never written since the
// fresh start: the i-th byte reads from distance back while filled + i
// bytes exist, so it is unwritten while distance > filled + i. A distance of
// 0 (or a whole window) reads the position being written, WINDOW_SIZE back.
inline uint32_t unwritten_prefix(uint32_t length, uint32_t distance, uint32_t filled) {
    uint32_t back = distance & WINDOW_MASK;
    if (back == 0)
        back = WINDOW_SIZE;
    if (back <= filled)
        return 0;
    return back - filled < length ? back - filled : length;
}

// The byte-wise copy of the format's rules: counts down bytes_left, then
// copies length bytes from distance back, masking both positions per byte;
// unwritten positions read as 0.
inline void copy_match_bytewise(uint32_t length, uint32_t distance) {
    DecoderState& s = decoder_state;
    uint32_t zeros = unwritten_prefix(length, distance, window_filled(s.bytes_left));
    s.bytes_left -= length;
    uint8_t* w = s.window;
    uint32_t out = s.out_pos & WINDOW_MASK;
    for (uint32_t i = 0; i < length; ++i) {
        w[out] = i < zeros ? 0 : w[(out - distance) & WINDOW_MASK];
        out = (out + 1) & WINDOW_MASK;
    }
    s.out_pos = out;
}

inline void copy8(uint8_t* d, const uint8_t* s) {
    uint64_t x;
    std::memcpy(&x, s, 8);
    std::memcpy(d, &x, 8);
}

// Copies taken by copy_pattern are longer than this: the last stores then
// read a stretch the copy has finished.
constexpr uint32_t PATTERN_COPY_FROM = 32;

// copy_linear for a distance below 16 and a length above PATTERN_COPY_FROM:
// the distance's bytes are put together once, repeated, in a word (below 8)
// or in 16 bytes, which are then stored every period bytes (the largest
// multiple of the distance that fits them), so that no store waits to read
// back what the one before wrote. Out of line: the decoders' loops keep
// their registers.
[[gnu::noinline]] inline void copy_pattern(uint8_t* d, uint32_t distance, uint32_t length) {
    const uint8_t* s = d - distance;
    if (distance >= 8) {
        // The distance's bytes, then its first 16 - distance again (a word
        // from s covers them; the bytes past 16 are not used).
        uint8_t pattern[24];
        std::memcpy(pattern, s, 16);
        std::memcpy(pattern + distance, s, 8);
        const uint32_t period = distance;
        for (uint32_t i = 0; i + 16 <= length; i += period)
            std::memcpy(d + i, pattern, 16);
        // The last 16 bytes repeat those a period before them, which the
        // stores above have written (length - 16 - period >= 0).
        std::memcpy(pattern, d + length - 16 - period, 16);
        std::memcpy(d + length - 16, pattern, 16);
        return;
    }
    constexpr bool LITTLE = std::endian::native == std::endian::little;
    uint64_t word;
    std::memcpy(&word, s, 8);
    // The first distance bytes, then copies of them shifted along the word
    // (towards its top in memory order).
    const uint32_t bits = 8 * distance;
    word = LITTLE ? word & ((uint64_t(1) << bits) - 1) : word & ~(~uint64_t(0) >> bits);
    for (uint32_t k = bits; k < 64; k *= 2)
        word |= LITTLE ? word << k : word >> k;
    const uint32_t period = 8 / distance * distance;
    for (uint32_t i = 0; i + 8 <= length; i += period)
        std::memcpy(d + i, &word, 8);
    // The last word: when the distance divides 8, the word turned to where
    // it starts in the pattern; else the one a period before it, which the
    // stores above have written (length - 8 - period >= 0).
    const uint32_t tail = length - 8;
    if ((distance & (distance - 1)) == 0) {
        const int turn = int((tail & (distance - 1)) * 8);
        word = LITTLE ? std::rotr(word, turn) : std::rotl(word, turn);
    } else {
        std::memcpy(&word, d + tail - period, 8);
    }
    std::memcpy(d + tail, &word, 8);
}

// Copies length bytes to d from distance (1 or more) back, with the result
// of a byte-by-byte copy (a byte may repeat bytes this copy wrote), writing
// nothing at or past d + length. Both ranges lie inside one buffer.
inline void copy_linear(uint8_t* d, uint32_t distance, uint32_t length) {
    const uint8_t* s = d - distance;
    if (distance >= 8) {
        if (distance < 16 && length > PATTERN_COPY_FROM) {
            copy_pattern(d, distance, length);
        } else if (length >= 8) {
            // Each word's source bytes are final before it is read; the last
            // word ends exactly at d + length, overlapping the one before.
            uint32_t i = 0;
            for (; i + 8 <= length; i += 8)
                copy8(d + i, s + i);
            if (i < length)
                copy8(d + length - 8, s + length - 8);
        } else if (length >= 4) {
            uint32_t a, b;
            std::memcpy(&a, s, 4);
            std::memcpy(&b, s + length - 4, 4);
            std::memcpy(d, &a, 4);
            std::memcpy(d + length - 4, &b, 4);
        } else {
            for (uint32_t i = 0; i < length; ++i)
                d[i] = s[i];
        }
        return;
    }
    // A short distance repeats a pattern. A long copy stores it from a
    // register; a short one copies the first step bytes one by one, step
    // being the smallest multiple of the distance of at least 8, then words
    // from step bytes back, which hold the same bytes.
    if (length > PATTERN_COPY_FROM) {
        copy_pattern(d, distance, length);
        return;
    }
    static constexpr uint8_t STEP[8] = {8, 8, 8, 9, 8, 10, 12, 14};
    uint32_t step = STEP[distance];
    uint32_t head = length < step ? length : step;
    for (uint32_t i = 0; i < head; ++i)
        d[i] = s[i];
    uint32_t i = step;
    for (; i + 8 <= length; i += 8)
        copy8(d + i, d + i - step);
    for (; i < length; ++i)
        d[i] = d[i - step];
}

// A copy of 16 bytes or fewer from 16 or more back, without a branch on its
// length: 16 bytes are copied and the 16 that follow the match put back as
// they were (read before anything is written), so nothing at or past
// d + length changes. The window must have 32 bytes from d on.
inline void copy_short_far(uint8_t* d, uint32_t distance, uint32_t length) {
    const uint8_t* s = d - distance;
    uint64_t a, b, after0, after1;
    std::memcpy(&a, s, 8);
    std::memcpy(&b, s + 8, 8);
    std::memcpy(&after0, d + length, 8);
    std::memcpy(&after1, d + length + 8, 8);
    std::memcpy(d, &a, 8);
    std::memcpy(d + 8, &b, 8);
    std::memcpy(d + length, &after0, 8);
    std::memcpy(d + length + 8, &after1, 8);
}

// Below this distance a long copy from 16 or more back would read blocks
// that its own recent stores only partly cover, which waits for them. The
// 32-bit programs, kept small, copy those by blocks all the same.
constexpr uint32_t PATTERN_FAR_BELOW = sizeof(void*) == 8 ? 64 : 0;

// copy_far for a distance from 16 to PATTERN_FAR_BELOW - 1 and a length of
// at least distance + 16: the distance's bytes are taken from behind the
// copy once (up to four blocks of 16, the last one ending at the distance)
// and stored again every distance bytes, the rest after the last whole
// period likewise. Reads up to 48 bytes from d - distance on.
[[gnu::noinline]] inline void copy_pattern_far(uint8_t* d, uint32_t distance, uint32_t length) {
    const uint8_t* s = d - distance;
    uint8_t p0[16], p1[16], p2[16], last[16];
    std::memcpy(p0, s, 16);
    std::memcpy(p1, s + 16, 16);
    std::memcpy(p2, s + 32, 16);
    std::memcpy(last, s + distance - 16, 16);
    uint32_t i = 0;
    for (; i + distance <= length; i += distance) {
        std::memcpy(d + i, p0, 16);
        if (distance > 32)
            std::memcpy(d + i + 16, p1, 16);
        if (distance > 48)
            std::memcpy(d + i + 32, p2, 16);
        std::memcpy(d + i + distance - 16, last, 16);
    }
    const uint32_t rem = length - i;  // below the distance
    if (rem >= 16)
        std::memcpy(d + i, p0, 16);
    if (rem >= 32)
        std::memcpy(d + i + 16, p1, 16);
    if (rem >= 48)
        std::memcpy(d + i + 32, p2, 16);
    if (rem % 16 != 0) {
        // The last 16 bytes: from the source when they lie in one period,
        // else from one period back, which the stores above have written.
        std::memcpy(last, rem >= 16 ? s + rem - 16 : d + length - 16 - distance, 16);
        std::memcpy(d + length - 16, last, 16);
    }
}

// A copy from 16 or more back: up to 16 bytes as copy_short_far; longer
// ones from under PATTERN_FAR_BELOW back by copy_pattern_far when
// FAR_PATTERN is set, the rest by 16-byte blocks, the last ending at
// d + length (each block's source bytes are final before it is read).
template <bool FAR_PATTERN = true>
inline void copy_far(uint8_t* d, uint32_t distance, uint32_t length) {
    if (length <= 16) {
        copy_short_far(d, distance, length);
        return;
    }
    if (FAR_PATTERN && distance < PATTERN_FAR_BELOW && length >= distance + 16) {
        copy_pattern_far(d, distance, length);
        return;
    }
    const uint8_t* s = d - distance;
    uint8_t block[16];
    uint32_t i = 0;
    for (; i + 16 <= length; i += 16) {
        std::memcpy(block, s + i, 16);
        std::memcpy(d + i, block, 16);
    }
    if (i < length) {
        std::memcpy(block, s + length - 16, 16);
        std::memcpy(d + length - 16, block, 16);
    }
}

// A match copy inside the window with 32 bytes to spare behind d + length:
// copy_far from 16 or more back, words or a repeated pattern nearer.
template <bool FAR_PATTERN = true>
inline void copy_within(uint8_t* d, uint32_t distance, uint32_t length) {
    if (distance >= 16)
        copy_far<FAR_PATTERN>(d, distance, length);
    else
        copy_linear(d, distance, length);
}

// Copies n bytes to d from s at or ahead of it (a forward move: each source
// byte is read before the copy writes over it). Words when s is 8 or more
// ahead; the last word then ends exactly at d + n.
inline void copy_ahead(uint8_t* d, const uint8_t* s, uint32_t n) {
    if (s - d >= 8 && n >= 8) {
        uint32_t i = 0;
        for (; i + 8 <= n; i += 8)
            copy8(d + i, s + i);
        if (i < n)
            copy8(d + n - 8, s + n - 8);
        return;
    }
    for (uint32_t i = 0; i < n; ++i)
        d[i] = s[i];
}

// Copies length bytes to window position out from distance back (1 to
// WINDOW_SIZE), with the result of the byte-wise copy, when the output does
// not wrap (out + length <= WINDOW_SIZE) and every source byte has been
// written. A source behind the window's start continues from its end: those
// bytes lie ahead of the output and are read before it reaches them (a
// forward move), the rest follows from position 0 on.
inline void copy_in_window(uint8_t* w, uint32_t out, uint32_t distance, uint32_t length) {
    if (distance <= out) {
        copy_linear(w + out, distance, length);
        return;
    }
    uint32_t from = out + WINDOW_SIZE - distance;
    uint32_t head = WINDOW_SIZE - from < length ? WINDOW_SIZE - from : length;
    copy_ahead(w + out, w + from, head);
    if (head < length)
        copy_linear(w + out + head, distance, length - head);
}

// Same result as copy_match_bytewise for every length and distance; copies
// by words unless the output wraps.
inline void copy_match_fast(uint32_t length, uint32_t distance) {
    DecoderState& s = decoder_state;
    uint32_t out = s.out_pos & WINDOW_MASK;
    if (distance == 0 || distance > WINDOW_SIZE || out + length > WINDOW_SIZE ||
        unwritten_prefix(length, distance, window_filled(s.bytes_left)) != 0) {
        copy_match_bytewise(length, distance);
        return;
    }
    s.bytes_left -= length;
    copy_in_window(s.window, out, distance, length);
    s.out_pos = (out + length) & WINDOW_MASK;
}
