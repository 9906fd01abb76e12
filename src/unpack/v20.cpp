// The 2.0 method: LZ77 over the 1 MiB window with transmitted prefix codes,
// and its audio mode. run_v20 is the frame of both decoders: it reads the
// first table block, then before each item refills the input, flushes the
// window and stops at the end of the entry. The reference decoder's items
// (decode_item, decode_audio_item) follow the rules step by step: limit
// search, a symbol dispatch, byte-wise copies. The fast decoder hands the
// frame's work to normal_items_fast and audio_items_fast, which keep the
// bit buffer, positions and recent matches in registers and leave only when
// the frame has something to do. normal_items_fast reads look-up entries
// that already hold the literal, or the length or distance base with its
// extra bits, and is written out by hand rather than sharing decode_item:
// its rounds take up to four literals at once and check the frame's ends once per
// round, which a per-item step shared with the reference cannot do. Each
// item reads the next one's main entry before the refill, so the look-up
// does not wait for the input. It has no calls: tables that would need the
// limit rule's search for some prefixes never reach it (the frame runs
// decode_item for those), and the general copy is inline.
#include <algorithm>
#include <bit>
#include <cstring>
#include <cstdint>
#include <type_traits>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Look-up entry contents (see huff_table.h) for each symbol of the main,
// distance and repeat-length codes: literals carry their byte, length and
// distance symbols their base with the extra bit count, the rest the symbol.
struct EntryValues {
    uint32_t main[MAIN_SYMBOLS];
    uint32_t distance[DISTANCE_SYMBOLS];
    uint32_t repeat[REPEAT_SYMBOLS];
};

constexpr uint32_t base_entry(uint32_t base, uint32_t extra) {
    return ENTRY_BASE | extra << ENTRY_EXTRA_SHIFT | base << ENTRY_VALUE_SHIFT;
}

constexpr EntryValues make_entry_values() {
    EntryValues v{};
    for (uint32_t i = 0; i < MAIN_SYMBOLS; ++i)
        v.main[i] = i < 256   ? ENTRY_LITERAL | plain_entry(i)
                  : i >= 270 ? base_entry(LENGTH_BASES[i - 270] + 3u, LENGTH_EXTRA_BITS[i - 270])
                             : plain_entry(i);
    for (uint32_t i = 0; i < DISTANCE_SYMBOLS; ++i)
        v.distance[i] = base_entry(DISTANCE_BASES[i] + 1, DISTANCE_EXTRA_BITS[i]);
    for (uint32_t i = 0; i < REPEAT_SYMBOLS; ++i)
        v.repeat[i] = base_entry(LENGTH_BASES[i] + 2u, LENGTH_EXTRA_BITS[i]);
    return v;
}

constexpr EntryValues ENTRY_VALUES = make_entry_values();
static_assert(DISTANCE_BASES[DISTANCE_SYMBOLS - 1] + 1 < (1u << (32 - ENTRY_VALUE_SHIFT)), "bases fit an entry");

constexpr uint32_t SYMBOL_REPEAT_LAST = v20::SYM_REPEAT_LAST;
constexpr uint32_t SYMBOL_TABLE_BLOCK = v20::SYM_TABLES;
constexpr uint32_t AUDIO_TABLE_BLOCK = v20::AUDIO_SYM_TABLES;

// decode reads a code of a table built without values and gives its symbol;
// entry reads any code and gives its look-up entry.
// Whether a main-code entry stands for symbol (256 or above, below 270).
constexpr bool is_main_symbol(uint32_t e, uint32_t symbol) {
    return (e & (ENTRY_LITERAL | ENTRY_BASE)) == 0 && entry_value(e) == symbol;
}

struct ReferencePath {
    using Input = StateInput;
    template <class Table>
    static uint32_t decode(const Table& t) { return decode_symbol_reference(t); }
    template <class Table>
    static uint32_t decode(const Table& t, StateInput&) { return decode_symbol_reference(t); }
    template <class Table>
    static uint32_t entry(const Table& t, const uint32_t* values) {
        uint32_t e = huff_entry_by_rule(t, peek_bits(), values);
        skip_bits(int(e & ENTRY_LENGTH_MASK));
        return e;
    }
    static void copy(uint32_t length, uint32_t distance) { copy_match_bytewise(length, distance); }
};

struct FastPath {
    using Input = RegisterInput;
    template <class Table>
    static uint32_t decode(const Table& t) { return decode_symbol_fast(t); }
    template <class Table>
    static uint32_t decode(const Table& t, RegisterInput& in) { return in.decode(t); }
    template <class Table>
    static uint32_t entry(const Table& t, const uint32_t* values) {
        uint32_t e = huff_lookup(t, peek_bits(), values);
        skip_bits(int(e & ENTRY_LENGTH_MASK));
        return e;
    }
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

// The fast decoder reads audio codes by pairs in 64-bit programs only (the
// 32-bit ones are kept small); elsewhere the pair look-up stays all 0.
constexpr bool AUDIO_PAIRS = sizeof(void*) == 8;
// Rounds for three and four channels (16-bit stereo is four) in 64-bit
// programs too; the 32-bit ones take those channels in turn, item by item,
// which keeps the installer within its size (the rounds would add 16 KiB).
constexpr bool ROUNDS_FOR_THREE_AND_FOUR = sizeof(void*) == 8;

// In 64-bit programs normal_items_fast never calls out (a call would cost
// its loop the registers that hold the bit buffer), so tables with prefixes
// left to the limit rule go item by item through decode_item instead. The
// 32-bit ones, short of registers anyway and kept small, search by the rule
// inside the loop.
constexpr bool RULE_OUTSIDE_FAST_LOOP = sizeof(void*) == 8;

// The look-up of normal_items_fast (values: the table's entry values).
template <class Table>
inline uint32_t fast_loop_lookup(const Table& t, uint32_t h, const uint32_t* values) {
    if constexpr (RULE_OUTSIDE_FAST_LOOP)
        return huff_lookup_built(t, h);
    else
        return huff_lookup(t, h, values);
}

// A pair look-up that finds both codes in fewer than this share of the
// windows (in 1/16) is left all 0: a round whose two codes sometimes fit
// and sometimes not pays for the turns the processor cannot foresee more
// than the look-ups save (16-bit stereo with noise in its low bytes, where
// 56% fit: 154 MB/s with no pairs, 124 with them), so there every code is
// read alone.
constexpr uint32_t PAIRS_WORTH_SIXTEENTHS = 12;

// One pair look-up (see V20State::audio_pairs): a code of first's, then
// one of second's.
void fill_audio_pairs(const HuffTable& first, const HuffTable& second, uint32_t* pairs) {
    constexpr uint32_t RARE = ENTRY_SUBTABLE | AUDIO_TABLE_BLOCK << ENTRY_VALUE_SHIFT;
    constexpr uint32_t PAIRS = 1u << AUDIO_PAIR_BITS;
    // A pair index has one bit more than a table's first level, and no code
    // of a pair is longer than that level: each is read from it directly, a
    // subtable meaning a code too long. An entry of a code of len bits
    // stands for every window with the same top len bits: the first code's
    // entries come in aligned runs of PAIRS >> len, and the bits past the
    // index do not matter to a second code that ends within it.
    static_assert(AUDIO_PAIR_BITS == LOOKUP_BITS + 1);
    uint32_t found = 0;  // windows that find both codes
    for (uint32_t i = 0; i < PAIRS;) {
        const uint32_t e0 = first.entries[i >> 1];
        const uint32_t len0 = e0 & ENTRY_LENGTH_MASK;
        const uint32_t run = PAIRS >> len0;
        if ((e0 & RARE) != 0 || len0 == 0 || len0 >= uint32_t(AUDIO_PAIR_BITS) || (i & (run - 1)) != 0) {
            pairs[i++] = 0;
            continue;
        }
        const uint32_t base = len0 | entry_value(e0) << 16;
        const uint32_t room = uint32_t(AUDIO_PAIR_BITS) - len0;  // at most LOOKUP_BITS
        // The second code's entries come in runs too, of run >> len1.
        for (uint32_t k = 0; k < run;) {
            const uint32_t e1 = second.entries[k << (LOOKUP_BITS - room)];
            const uint32_t len1 = e1 & ENTRY_LENGTH_MASK;
            const uint32_t same = run >> len1;
            if ((e1 & RARE) != 0 || len1 == 0 || len1 > room || (k & (same - 1)) != 0) {
                pairs[i + k++] = 0;
                continue;
            }
            const uint32_t pair = base + (len1 | entry_value(e1) << 24);
            found += same;
            for (uint32_t end = k + same; k < end; ++k)
                pairs[i + k] = pair;
        }
        i += run;
    }
    if (found * 16 < PAIRS * PAIRS_WORTH_SIXTEENTHS)
        std::memset(pairs, 0, PAIRS * sizeof *pairs);
}

// The pair look-ups of the audio tables just built: channels 0 and 1 (0
// and 0 with one channel), and 2 and 3 with four.
void build_audio_pairs(V20State& v) {
    if (!AUDIO_PAIRS)
        return;
    if (!v.audio_mode) {
        std::memset(v.audio_pairs, 0, sizeof v.audio_pairs);
        return;
    }
    const HuffTable* t = v.audio_tables;
    fill_audio_pairs(t[0], t[v.channel_count == 1 ? 0 : 1], v.audio_pairs[0]);
    if (v.channel_count == 4)
        fill_audio_pairs(t[2], t[3], v.audio_pairs[1]);
}

// A run of a table block's lengths, written LENGTH_RUN_CHUNK bytes at a time:
// up to LENGTH_RUN_CHUNK - 1 bytes past its end are written too. One copy
// for both paths.
constexpr uint32_t LENGTH_RUN_CHUNK = 16;
constexpr uint32_t LONGEST_LENGTH_RUN = 127 + 11;
[[gnu::noinline]] void fill_length_run(uint8_t* at, uint32_t run, uint8_t value) {
    uint8_t chunk[LENGTH_RUN_CHUNK];
    std::memset(chunk, value, LENGTH_RUN_CHUNK);
    for (uint32_t k = 0; k < run; k += LENGTH_RUN_CHUNK)
        std::memcpy(at + k, chunk, LENGTH_RUN_CHUNK);
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

    // Runs may overshoot (see fill_length_run): within the count the next
    // lengths overwrite them, and past it they are cleared below, as is the
    // rest of the set.
    uint8_t lengths[ALL_TABLE_LENGTHS + LONGEST_LENGTH_RUN + LENGTH_RUN_CHUNK];
    uint32_t i = 0;
    typename Path::Input in;
    while (i < count) {
        if (in.byte_pos() > uint32_t(LENGTH_REFILL_LIMIT)) {
            in.write_back();
            fill_input(0);
            if (s.bytes_left < 0)
                return;
            in.read_back();
        }
        uint32_t sym = Path::decode(v.length_code_table, in);
        if (sym < 16) {
            lengths[i] = uint8_t((v.previous_lengths[i] + sym) & 15);
            ++i;
            continue;
        }
        uint32_t run;
        uint8_t value = 0;
        if (sym == 16) {
            run = in.bits(2) + 3;
            value = i > 0 ? lengths[i - 1] : 0;
        } else if (sym == 17) {
            run = in.bits(3) + 3;
        } else {
            run = in.bits(7) + 11;
        }
        fill_length_run(lengths + i, run, value);
        i += run;
    }
    in.write_back();
    std::memset(lengths + count, 0, sizeof lengths - count);

    if (v.audio_mode) {
        for (uint32_t ch = 0; ch < v.channel_count; ++ch)
            build_huff_table(lengths + ch * AUDIO_SYMBOLS, v.audio_tables[ch], AUDIO_SYMBOLS);
        build_audio_pairs(v);
    } else {
        build_huff_table(lengths, v.main_table, MAIN_SYMBOLS, ENTRY_VALUES.main);
        build_huff_table(lengths + MAIN_SYMBOLS, v.distance_table, DISTANCE_SYMBOLS, ENTRY_VALUES.distance);
        build_huff_table(lengths + MAIN_SYMBOLS + DISTANCE_SYMBOLS, v.repeat_table, REPEAT_SYMBOLS,
                         ENTRY_VALUES.repeat);
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
        if (is_main_symbol(Path::entry(v.main_table, ENTRY_VALUES.main), SYMBOL_TABLE_BLOCK))
            read_code_tables<Path>();
    }
}


// The eight bytes from at on, the first in the top bits. One refill gives
// more than one item needs (a main code, a length field, a distance code
// and its field: at most 15 + 5 + 15 + 16 bits).
inline uint64_t load_bytes(const uint8_t* at) {
    uint64_t x;
    std::memcpy(&x, at, 8);
    if constexpr (std::endian::native == std::endian::little)
        x = __builtin_bswap64(x);
    return x;
}

// A field of extra bits behind a code of len bits: the top len + extra bits
// of bits, without the code (0 when both are 0).
inline uint32_t field_after(uint64_t bits, uint32_t len, uint32_t extra) {
    return uint32_t(bits >> 1 >> (63 - len - extra)) & ((1u << extra) - 1);
}

// The longest match of either method; the fast loop's margins rest on it.
constexpr uint32_t MAX_MATCH = FLUSH_MARGIN;
static_assert(LENGTH_BASES[27] + 3 + 31 + 2 <= MAX_MATCH && LENGTH_BASES[27] + 2 + 31 + 3 <= MAX_MATCH);

// Normal-mode items with everything in registers. Returns, with the state
// written back, when the frame has work to do before the next item (a
// refill, a flush, the end of the entry) or after a table block. Decodes
// exactly what decode_item would, item by item; every prefix of its tables
// has its look-up entry or subtable (by_rule is 0).
//
// The loop runs its items in two ways. While the input position, the
// window position and the bytes still owed are all far from the points
// where the frame steps in (checked once per round against ends computed
// up front), a round reads one item, or a run of up to four literals, copies
// matches by words and checks nothing else. Near those points each item
// runs alone, the frame's own checks between items, copies by the general
// rule (wrapping, unwritten bytes).
void normal_items_fast() {
    DecoderState& s = decoder_state;
    V20State& v = s.v20;
    uint8_t* const w = s.window;
    const uint8_t* const buf = s.input.in_buffer;
    // The bit buffer: avail bits at the top of bits (the rest zero) that end
    // where byte next_byte begins. A refill adds whole bytes behind them.
    const uint32_t start_bit = input_bit_position();
    uint64_t bits = load_bits(buf, start_bit & ~7u) >> 8 << 8 << (start_bit & 7);
    uint32_t avail = 56 - (start_bit & 7);
    uint32_t next_byte = (start_bit >> 3) + 7;
    auto bit_position = [&]() { return next_byte * 8 - avail; };
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
    const HuffTable& main_table = v.main_table;
    const DistanceTable& distance_table = v.distance_table;
    const RepeatTable& repeat_table = v.repeat_table;

    // An item may start while in_pos <= MAIN_REFILL_LIMIT, and only before
    // the end of the packed data once that has been read (frame_bit is the
    // nearer of the two).
    constexpr uint32_t IN_END = uint32_t(MAIN_REFILL_LIMIT + 1) * 8;
    const uint32_t in_end = s.input.frame_bit;
    static_assert(MAIN_REFILL_LIMIT + 16 <= IN_BUFFER_SIZE + IN_BUFFER_SPARE, "refills stay in the array");
    // A round starts only this far from every end: the literals after the
    // first need at most 15 bits each, and no item writes more than
    // MAX_MATCH bytes.
    constexpr uint32_t FAST_LITERALS = 4;
    constexpr uint32_t FAST_IN_MARGIN = 15 * (FAST_LITERALS - 1);
    static_assert(IN_END > FAST_IN_MARGIN);
    // Checked on whole bytes: next_byte * 8 is never below the bit position.
    const uint32_t fast_in_byte = (in_end > FAST_IN_MARGIN ? in_end - FAST_IN_MARGIN : 0) / 8;
    // The frame starts an item while left >= 0, however many bytes it then
    // writes, so a round may start with left >= FAST_LITERALS - 1: each of
    // its literals then starts there too, and a match that runs past the
    // entry's end is one the frame would have copied whole as well.
    constexpr int64_t FAST_LEFT_MIN = FAST_LITERALS - 2;
    // Fast rounds run while out < out_limit: short of the window position
    // where a flush falls due (or the window's end), and with left above
    // FAST_LEFT_MIN. Within them out and left move together, so left is
    // only brought up to date when they end (from fast_base, out where they
    // began).
    uint32_t out_limit = 0;
    uint32_t fast_base = 0;
    // A match source from distance back is written since the fresh start
    // when distance <= out + back_shift (0, unless the fresh start lies less
    // than out bytes back); fixed for a stretch of fast rounds.
    int32_t back_shift = 0;
    auto enter_fast = [&]() {
        uint32_t limit = flushed > out ? flushed : WINDOW_SIZE;
        uint32_t out_end = limit > 2 * MAX_MATCH ? limit - 2 * MAX_MATCH : 0;
        out_limit = left < FAST_LEFT_MIN ? 0 : uint32_t(std::min<int64_t>(out_end, out + (left - FAST_LEFT_MIN)));
        fast_base = out;
        int64_t since_start = written - left;
        back_shift = since_start >= out ? 0 : since_start <= 0 ? -int32_t(out) : int32_t(since_start - out);
    };
    auto leave_fast = [&]() { left -= out - fast_base; fast_base = out; };
    enter_fast();

    // The state the frame sees; in fast rounds, after leave_fast.
    auto write_back = [&]() {
        uint32_t bitpos = bit_position();
        s.input.in_pos = int32_t(bitpos >> 3);
        s.input.in_bit = int32_t(bitpos & 7);
        s.out_pos = out;
        s.bytes_left = decltype(s.bytes_left)(left);
        std::memcpy(s.recent_distances, recent, sizeof recent);
        s.recent_index = recent_index;
        s.last_distance = last_distance;
        s.last_length = last_length;
    };

    // The general copy: unwritten bytes read as zeros, either end may wrap.
    auto copy_general = [&](uint32_t length, uint32_t distance) {
        uint32_t filled = written - left <= 0 ? 0 : written - left >= WINDOW_SIZE ? WINDOW_SIZE
                                                                                    : uint32_t(written - left);
        uint32_t zeros = unwritten_prefix(length, distance, filled);
        left -= length;
        out &= WINDOW_MASK;
        if (zeros == 0 && distance != 0 && distance <= WINDOW_SIZE && out + length <= WINDOW_SIZE) {
            copy_in_window(w, out, distance, length);
            out += length;
            return;
        }
        for (uint32_t i = 0; i < length; ++i) {
            w[out] = i < zeros ? 0 : w[(out - distance) & WINDOW_MASK];
            out = (out + 1) & WINDOW_MASK;
        }
    };

    // The main-table entry an item read ahead from the bits it left, so that
    // the next item's look-up does not wait for its refill. Right when its
    // code lies within the bits that were there (a subtable entry never
    // counts); ENTRY_SUBTABLE when nothing was read ahead.
    uint32_t ahead = ENTRY_SUBTABLE;
    auto read_ahead = [&]() { ahead = main_table.entries[bits >> (64 - LOOKUP_BITS)]; };

    // One item (up to FAST_LITERALS literals in a fast round); false after a
    // table block.
    auto item = [&](auto fast_round) -> bool {
        constexpr bool FAST = decltype(fast_round)::value;
        uint32_t e = ahead;
        const bool stale = (e & ENTRY_SUBTABLE) || (e & ENTRY_LENGTH_MASK) > avail;
        // Branch-free refill to at least 56 bits; the bytes it reads lie
        // below in_pos + 16 (see fast_in_end).
        bits |= load_bytes(buf + next_byte) >> avail;
        next_byte += (63 - avail) >> 3;
        avail |= 56;
        auto take = [&](uint32_t n) {
            bits <<= n;
            avail -= n;
        };
        if (stale)
            e = fast_loop_lookup(main_table, uint32_t(bits >> 48), ENTRY_VALUES.main);
        if (e & ENTRY_LITERAL) {
            take(e & ENTRY_LENGTH_MASK);
            w[out++] = uint8_t(entry_value(e));
            if constexpr (!FAST) {
                left -= 1;
                ahead = ENTRY_SUBTABLE;
            }
            if constexpr (FAST) {
                // Up to FAST_LITERALS literals while the refill's bits last:
                // a literal's code has at most 15 bits, so the first three
                // fit the 56 a refill leaves. A literal's entry has no extra
                // bits, so its low six bits are the code length, which the
                // shift takes as it is.
                static_assert(3 * 15 <= 56 && ENTRY_EXTRA_SHIFT + 2 <= 6);
                // The entry that ends the run is the next item's.
                for (uint32_t k = 1; k < FAST_LITERALS; ++k) {
                    read_ahead();
                    if (!(ahead & ENTRY_LITERAL) || (k >= 3 && (ahead & 63) > avail))
                        return true;
                    take(ahead & 63);
                    w[out++] = uint8_t(entry_value(ahead));
                }
                read_ahead();
            }
            return true;
        }
        uint32_t length;
        uint32_t distance;
        if (e & ENTRY_BASE) {
            // The code and its field are taken one after the other: the
            // next look-up then waits for two shifts, not for their sum.
            take(e & ENTRY_LENGTH_MASK);
            uint32_t extra = entry_extra(e);
            length = entry_value(e) + field_after(bits, 0, extra);
            take(extra);
            uint32_t d = fast_loop_lookup(distance_table, uint32_t(bits >> 48), ENTRY_VALUES.distance);
            take(d & ENTRY_LENGTH_MASK);
            extra = entry_extra(d);
            distance = entry_value(d) + field_after(bits, 0, extra);
            take(extra);
            length += uint32_t(distance >= 0x2000) + uint32_t(distance >= 0x40000);
        } else {
            uint32_t sym = entry_value(e);
            take(e & ENTRY_LENGTH_MASK);
            if (sym == SYMBOL_REPEAT_LAST) {
                length = last_length;
                distance = last_distance;
            } else if (sym < 261) {
                distance = recent[(recent_index - (sym - 256)) & 3];
                uint32_t r = fast_loop_lookup(repeat_table, uint32_t(bits >> 48), ENTRY_VALUES.repeat);
                uint32_t len = r & ENTRY_LENGTH_MASK;
                uint32_t extra = entry_extra(r);
                length = entry_value(r) + field_after(bits, len, extra);
                take(len + extra);
                length += uint32_t(distance >= 0x101) + uint32_t(distance >= 0x2000) +
                          uint32_t(distance >= 0x40000);
            } else if (sym < SYMBOL_TABLE_BLOCK) {
                uint32_t j = sym - 261;
                uint32_t extra = SHORT_DISTANCE_EXTRA_BITS[j];
                distance = SHORT_DISTANCE_BASES[j] + 1 + field_after(bits, 0, extra);
                take(extra);
                length = 2;
            } else {
                if constexpr (FAST)
                    leave_fast();
                write_back();
                read_code_tables<FastPath>();
                return false;
            }
        }
        read_ahead();
        recent[recent_index & 3] = distance;
        recent_index = (recent_index + 1) & 3;
        last_distance = distance;
        last_length = length;
        // In a fast round out + MAX_MATCH stays inside the window; a source
        // behind out is written since the fresh start unless the window was
        // never filled that far.
        if constexpr (FAST) {
            if (distance - 1 < uint32_t(int32_t(out) + back_shift) && length <= MAX_MATCH) [[likely]] {
                copy_within(w + out, distance, length);
                out += length;
            } else {
                leave_fast();
                copy_general(length, distance);
                enter_fast();
            }
        } else {
            copy_general(length, distance);
        }
        return true;
    };

    for (;;) {
        if (out < out_limit && next_byte < fast_in_byte) [[likely]] {
            if (!item(std::true_type{}))
                return;
            continue;
        }
        leave_fast();
        // The frame's checks before the next item.
        if (left < 0)
            break;
        out &= WINDOW_MASK;
        if (bit_position() >= in_end || flush_due(out, flushed))
            break;
        if (!item(std::false_type{}))
            return;
        enter_fast();
    }
    write_back();
}

// Audio items of one to four channels (three and four in 64-bit programs
// only) with the predictors in registers. The channels take bytes in turn,
// so the loop runs rounds of one byte per channel (two when there is one),
// each byte's channel known when compiling and each channel's state in
// plain locals; the error sums go through
// AudioWindowRecords (see v20_audio.h). A round starts only while the input
// position, the window position and the bytes still owed are far enough
// from the points where the frame steps in that no check falls due within
// it (checked against ends computed up front, as in normal_items_fast).
// A round reads its codes two by one look-up in V20State::audio_pairs where
// they fit (64-bit programs), and the rounds between two window ends run as
// one batch.
// Returns false, having done nothing, when not even the first round can
// start (also when the next byte is not channel 0's, or with one channel
// has an odd count: one item in turn puts that right); true after rounds,
// the state written back, or after a table block. Decodes exactly what
// decode_audio_item<FastPath> would, item by item.
//
// The predictor's sum is taken apart: with h0..h3 the channel's last deltas,
// newest first, predict_channel_byte's d1..d4 are h0, h0 - h1, h1 - h2 and
// h2 - h3, so its sum is 8 * last byte + c0 * h0 + c1 * h1 + c2 * h2 +
// c3 * h3 + w5 * channel delta with c0 = w1 + w2, c1 = w3 - w2, c2 = w4 - w3,
// c3 = -w4. The byte is last byte + delta, and
//   delta = int8((c0 * h0 + ... + c3 * h3 + w5 * channel delta - 8 * code) >> 3),
// the last byte dropping out. Only bits 0..10 of that sum count, so the
// rounds keep it shifted up by 21 (next_sum) in wrapping 32-bit arithmetic,
// where the delta is the top byte taken with its sign (one shift) and the
// factor of the channel delta is pre-shifted: from one byte's delta to the
// next byte's are one multiply, one add and that shift. The channel's own
// terms are taken once its byte before is known.
constexpr uint32_t SUM_SHIFT = 21;

// The top byte of a shifted sum, as a signed value: the delta.
inline int32_t delta_of(uint32_t shifted_sum) { return int32_t(shifted_sum) >> (32 - 8); }

// A channel's weights and the factors of its sum taken apart (c0..c3, w5),
// c0 and w5 pre-shifted.
struct ChannelWeights {
    int32_t w[5];
    uint32_t c0_shifted;
    uint32_t w5_shifted;
    int32_t c[4];
#if defined(__SSE2__)
    __m128i c16;  // c1..c3 in 16-bit lanes, then zeros
#endif

    void set_factors() {
        c[0] = w[0] + w[1];
        c[1] = w[2] - w[1];
        c[2] = w[3] - w[2];
        c[3] = -w[3];
        c0_shifted = uint32_t(c[0]) << SUM_SHIFT;
        w5_shifted = uint32_t(w[4]) << SUM_SHIFT;
#if defined(__SSE2__)
        c16 = _mm_setr_epi16(int16_t(c[1]), int16_t(c[2]), int16_t(c[3]), 0, 0, 0, 0, 0);
#endif
    }
    // The next byte's shifted sum but for the channel delta's and the code's terms.
    uint32_t next_sum(int32_t h0, int32_t h1, int32_t h2, int32_t h3) const {
        return uint32_t(c[0] * h0 + c[1] * h1 + c[2] * h2 + c[3] * h3) << SUM_SHIFT;
    }
};

// A channel's last deltas h0..h2, newest first. push(delta, cw) gives
// c1 * h0 + c2 * h1 + c3 * h2 of the deltas before delta, shifted up by
// SUM_SHIFT, and makes delta the newest. With SSE2 they are 16-bit lanes of
// one vector register (keeping general registers for the bit input),
// multiplied and added by pmaddwd.
#if defined(__SSE2__)
struct DeltaHistory {
    __m128i h;  // h0, h1, h2, then older ones, which meet zero factors

    void set(int32_t h0, int32_t h1, int32_t h2) {
        h = _mm_setr_epi16(int16_t(h0), int16_t(h1), int16_t(h2), 0, 0, 0, 0, 0);
    }
    uint32_t push(int32_t delta, const ChannelWeights& cw) {
        __m128i pairs = _mm_madd_epi16(h, cw.c16);
        h = _mm_insert_epi16(_mm_slli_si128(h, 2), delta, 0);
        return uint32_t(_mm_cvtsi128_si32(_mm_add_epi32(pairs, _mm_shuffle_epi32(pairs, 1)))) << SUM_SHIFT;
    }
};
#else
struct DeltaHistory {
    int32_t h0, h1, h2;

    void set(int32_t a, int32_t b, int32_t c) { h0 = a, h1 = b, h2 = c; }
    uint32_t push(int32_t delta, const ChannelWeights& cw) {
        int32_t sum = cw.c[1] * h0 + cw.c[2] * h1 + cw.c[3] * h2;
        h2 = h1;
        h1 = h0;
        h0 = delta;
        return uint32_t(sum) << SUM_SHIFT;
    }
};
#endif

// One channel's predictor between its bytes.
struct ChannelRegs {
    uint32_t next_sum;  // the next byte's shifted sum but for the channel delta's and code's terms
    uint32_t last_byte;  // in its low eight bits
    DeltaHistory history;
};

// Whether the records can take a state (see AUDIO_RECORD_VALUE_MAX). Every
// state the decoder reaches can.
bool audio_state_fits_records(const V20State& v, uint32_t channels) {
    auto fits = [](int32_t x) { return x >= -AUDIO_RECORD_VALUE_MAX && x <= AUDIO_RECORD_VALUE_MAX; };
    if (!fits(v.channel_delta))
        return false;
    for (uint32_t c = 0; c < channels; ++c) {
        const AudioChannel& ch = v.channels[c];
        if (!fits(ch.last_delta))
            return false;
        for (int32_t d : ch.deltas)
            if (!fits(d))
                return false;
    }
    return true;
}

// Closes a channel's window, whose bytes from lo on are in the record: moves
// one weight as predict_channel_byte does, and starts the next window's
// record. Gives the next byte's sum but for the channel delta's term.
[[gnu::noinline]] uint32_t close_audio_window(AudioWindowRecord& rec, uint32_t lo, uint32_t* sums,
                                              ChannelWeights& cw) {
    add_window_sums(rec, lo, AUDIO_WINDOW, sums);
    uint32_t best = 0;
    for (uint32_t i = 1; i < 11; ++i)
        if (sums[i] < sums[best])
            best = i;
    for (uint32_t i = 0; i < 11; ++i)
        sums[i] = 0;
    if (best != 0) {
        // Odd indexes lower weight (best-1)/2, even ones raise it.
        int32_t& weight = cw.w[(best - 1) / 2];
        if (best & 1) {
            if (weight >= -16)
                --weight;
        } else if (weight < 16) {
            ++weight;
        }
        cw.set_factors();
    }
    int16_t* h = rec.last_deltas;
    std::memmove(h, h + AUDIO_WINDOW, 5 * sizeof *h);
    return cw.next_sum(h[4], h[3], h[2], h[1]);
}

template <uint32_t CHANNELS>
bool audio_rounds() {
    constexpr uint32_t ROUND = CHANNELS == 1 ? 2 : CHANNELS;
    DecoderState& s = decoder_state;
    V20State& v = s.v20;
    uint8_t* const w = s.window;
    const uint8_t* const buf = s.input.in_buffer;
    const uint32_t start_bit = input_bit_position();
    uint32_t out = s.out_pos;
    int64_t left = s.bytes_left;

    // An item may start while its bit position is below frame_bit; a
    // round's last item starts at most 15 bits per item behind its first.
    const uint32_t in_end = s.input.frame_bit;
    constexpr uint32_t IN_MARGIN = 15 * (ROUND - 1);
    const uint32_t fast_in_end = in_end > IN_MARGIN ? in_end - IN_MARGIN : 0;
    // Below out_end no round reaches a flush or the window's end.
    const uint32_t flushed = s.flushed_pos;  // only the frame's flush moves it
    const uint32_t limit = flushed > out ? flushed : WINDOW_SIZE;
    const uint32_t out_end = limit > FLUSH_MARGIN + ROUND ? limit - FLUSH_MARGIN - ROUND : 0;
    // The bytes still owed before the next round (out only grows here).
    const uint32_t out_start = out;
    auto left_now = [&]() { return left - int64_t(out - out_start); };
    auto round_fits = [&](uint32_t bitpos) { return bitpos < fast_in_end && out < out_end && left_now() >= ROUND; };
    // Rounds start with channel 0 and, for one channel, on an even byte, so
    // that no window closes within a round.
    if (!round_fits(start_bit) || !audio_state_fits_records(v, CHANNELS) || v.current_channel != 0 ||
        (CHANNELS == 1 && (v.channels[0].byte_count & 1) != 0))
        return false;
    const uint32_t* const pairs = v.audio_pairs[0];
    const uint32_t* const pairs_23 = v.audio_pairs[1];

    // Slot k holds the channel that takes the k-th byte of each round (that
    // is, channel k). Each slot's registers are an object of their own, so
    // that they can stay in registers; the rest is looked at only when a
    // window closes.
    auto slot_channel = [](uint32_t k) { return k; };
    // (No closure holds their addresses: a captured object would have to
    // live in memory. They are handed down as arguments instead.)
    ChannelRegs regs0, regs1, regs2, regs3;
    auto slot_regs = [](auto k, ChannelRegs& r0, ChannelRegs& r1, ChannelRegs& r2, ChannelRegs& r3) -> ChannelRegs& {
        if constexpr (k == 0)
            return r0;
        else if constexpr (k == 1)
            return r1;
        else if constexpr (k == 2)
            return r2;
        else
            return r3;
    };
    const uint32_t* entries[CHANNELS];
    const HuffTable* tables[CHANNELS];
    ChannelWeights weights[CHANNELS];
    uint32_t sums[CHANNELS][11];  // of each window's bytes before its record's
    uint32_t record_start[CHANNELS];  // each window's first recorded byte
    uint32_t closed_at[CHANNELS];     // byte counts at which the windows ended are closed
    uint32_t counts[CHANNELS];        // byte counts before the current batch of rounds
    AudioWindowRecord records[CHANNELS];
    // f(k, registers of slot k) for every slot.
    auto for_slots = [&slot_regs](auto f, ChannelRegs& r0, ChannelRegs& r1, ChannelRegs& r2, ChannelRegs& r3) {
        [&]<uint32_t... K>(std::integer_sequence<uint32_t, K...>) {
            (f(std::integral_constant<uint32_t, K>{}, slot_regs(std::integral_constant<uint32_t, K>{}, r0, r1, r2, r3)),
             ...);
        }(std::make_integer_sequence<uint32_t, CHANNELS>{});
    };
    for_slots([&](auto k, ChannelRegs& r) {
        const AudioChannel& ch = v.channels[slot_channel(k)];
        tables[k] = &v.audio_tables[slot_channel(k)];
        entries[k] = tables[k]->entries;
        std::memcpy(weights[k].w, ch.weights, sizeof ch.weights);
        weights[k].set_factors();
        std::memcpy(sums[k], ch.errors, sizeof sums[k]);
        uint32_t pos = ch.byte_count & (AUDIO_WINDOW - 1);
        record_start[k] = pos;
        closed_at[k] = ch.byte_count;
        // The last deltas that give the state's d1..d4 at the next byte.
        int16_t* h = records[k].last_deltas + pos;
        h[4] = int16_t(ch.last_delta);
        h[3] = int16_t(ch.deltas[0]);
        h[2] = int16_t(h[3] - ch.deltas[1]);
        h[1] = int16_t(h[2] - ch.deltas[2]);
        h[0] = int16_t(h[1] - ch.deltas[3]);
        r.last_byte = uint32_t(ch.last_byte);
        r.history.set(h[4], h[3], h[2]);
        counts[k] = ch.byte_count;
        r.next_sum = weights[k].next_sum(h[4], h[3], h[2], h[1]);
    }, regs0, regs1, regs2, regs3);
    int32_t channel_delta = v.channel_delta;

    // The bit buffer as in normal_items_fast, next_byte kept as a pointer.
    uint64_t bits = load_bits(buf, start_bit & ~7u) >> 8 << 8 << (start_bit & 7);
    uint32_t avail = 56 - (start_bit & 7);
    const uint8_t* next_byte = buf + (start_bit >> 3) + 7;
    auto bit_position = [&]() { return uint32_t(next_byte - buf) * 8 - avail; };
    // Branch-free refill to at least 56 bits.
    auto refill_bits = [&]() {
        bits |= load_bits(next_byte, 0) >> avail;
        next_byte += (63 - avail) >> 3;
        avail |= 56;
    };

    // Closes slot k's window (see close_full below).
    auto close_window = [&](uint32_t k, ChannelRegs& r) {
        r.next_sum = close_audio_window(records[k], record_start[k], sums[k], weights[k]);
        record_start[k] = 0;
    };

    // Byte j of round i of a batch from its code: o is where the batch's
    // output starts, pos the slots' window positions at its start.
    uint8_t* o = w;
    // code may carry more bits above its low eight, which neither the sum
    // nor the record (see AudioWindowRecord) looks at.
    size_t pos[CHANNELS];
    auto predict = [&](auto j, ChannelRegs& r, uint32_t code, size_t i) {
        constexpr uint32_t J = decltype(j)::value;
        constexpr uint32_t K = J % CHANNELS;
        AudioWindowRecord& rec = records[K];
        const size_t p = pos[K] + (CHANNELS == 1 ? 2 * i + J : i);
        const ChannelWeights& cw = weights[K];
        uint32_t known = r.next_sum - (code << (SUM_SHIFT + 3));
        int32_t delta = delta_of(known + cw.w5_shifted * uint32_t(channel_delta));
        r.last_byte += uint32_t(delta);
        o[ROUND * i + J] = uint8_t(r.last_byte);
        rec.codes[p] = int16_t(code);
        rec.channel_delta[p] = int16_t(channel_delta);
        rec.last_deltas[p + 5] = int16_t(delta);
        channel_delta = delta;
        r.next_sum = cw.c0_shifted * uint32_t(delta) + r.history.push(delta, cw);
    };

    // Byte j of a round, its code read alone; false at a table block (its
    // code read).
    auto step = [&](auto j, ChannelRegs& r, size_t i) -> bool {
        constexpr uint32_t J = decltype(j)::value;
        constexpr uint32_t K = J % CHANNELS;
        if constexpr (J % 3 == 0) {
            // Enough bits for three codes (a round of two has one refill, of
            // three or more one per three).
            refill_bits();
        }
        uint32_t e = entries[K][bits >> (64 - LOOKUP_BITS)];
        // One test for both rare cases: a subtable, or the table block
        // symbol (the only value with bit 8 set).
        if (e & (ENTRY_SUBTABLE | AUDIO_TABLE_BLOCK << ENTRY_VALUE_SHIFT)) [[unlikely]] {
            if (e & ENTRY_SUBTABLE)
                e = huff_lookup(*tables[K], uint32_t(bits >> 48), nullptr);
            if (entry_value(e) == AUDIO_TABLE_BLOCK) {
                bits <<= e & ENTRY_LENGTH_MASK;
                avail -= e & ENTRY_LENGTH_MASK;
                return false;
            }
        }
        // The audio tables carry no extra bit counts, so below the flags an
        // entry holds its code length alone: the shift needs no mask the
        // processor's own count mask does not give.
        static_assert(ENTRY_LENGTH_MASK == 15 && ENTRY_EXTRA_SHIFT == 4);
        bits <<= e & 63;
        avail -= e & ENTRY_LENGTH_MASK;
        predict(j, r, entry_value(e), i);
        return true;
    };

    // Bytes written in the round a table block cut short (0 when none did).
    uint32_t done = 0;
    // The pair look-up and the rounds by twos (below) go together.
    constexpr bool WIDE = AUDIO_PAIRS;
    auto round = [&]<uint32_t... J>(std::integer_sequence<uint32_t, J...>, size_t i, auto refill,
                                    ChannelRegs& r0, ChannelRegs& r1, ChannelRegs& r2, ChannelRegs& r3) {
        if constexpr (ROUND == 2 && WIDE) {
            // Both codes by one look-up when they fit its index (the round
            // starts with channel 0, see above). A round takes at most 30
            // bits, so after a round that began with 56 or more the next
            // still has the look-up's 12: the refill before the look-up is
            // needed every other round only (the codes read one by one
            // refill for themselves).
            static_assert(56 - 2 * 15 >= AUDIO_PAIR_BITS);
            if constexpr (decltype(refill)::value)
                refill_bits();
            uint32_t pair = pairs[bits >> (64 - AUDIO_PAIR_BITS)];
            if (pair != 0) [[likely]] {
                bits <<= pair & 15;
                avail -= pair & 15;
                predict(std::integral_constant<uint32_t, 0>{}, r0, pair >> 16, i);
                predict(std::integral_constant<uint32_t, 1>{},
                        slot_regs(std::integral_constant<uint32_t, 1 % CHANNELS>{}, r0, r1, r2, r3), pair >> 24, i);
                return true;
            }
        }
        if constexpr (ROUND >= 3 && WIDE) {
            // Channels 0 and 1 by one look-up, 2 and 3 by the other, a
            // pair's codes one by one where they do not both fit; with three
            // channels the third code goes alone. A pair takes at most the
            // look-up's 12 bits, two codes read one by one 30: after one
            // refill the second look-up and a code of 15 bits still find
            // their bits, and the fourth code refills for itself.
            static_assert(56 - 2 * 15 >= 15 && AUDIO_PAIR_BITS <= 15);
            refill_bits();
            auto two = [&](auto j, const uint32_t* table, ChannelRegs& ra, ChannelRegs& rb) -> bool {
                constexpr uint32_t J0 = decltype(j)::value;
                uint32_t pair = table[bits >> (64 - AUDIO_PAIR_BITS)];
                if (pair != 0) [[likely]] {
                    bits <<= pair & 15;
                    avail -= pair & 15;
                    predict(j, ra, pair >> 16, i);
                    predict(std::integral_constant<uint32_t, J0 + 1>{}, rb, pair >> 24, i);
                    return true;
                }
                if (!step(j, ra, i)) {
                    done = J0;
                    return false;
                }
                if (!step(std::integral_constant<uint32_t, J0 + 1>{}, rb, i)) {
                    done = J0 + 1;
                    return false;
                }
                return true;
            };
            if (!two(std::integral_constant<uint32_t, 0>{}, pairs, r0, r1))
                return false;
            if constexpr (ROUND == 4)
                return two(std::integral_constant<uint32_t, 2>{}, pairs_23, r2, r3);
            else
                return step(std::integral_constant<uint32_t, 2>{}, r2, i) || (done = 2, false);
        }
        return ((step(std::integral_constant<uint32_t, J>{},
                      slot_regs(std::integral_constant<uint32_t, J % CHANNELS>{}, r0, r1, r2, r3), i) ||
                 (done = J, false)) &&
                ...);
    };
    // How many rounds can run before the ends must be checked again: a
    // round reads at most 15 bits per item.
    auto rounds_allowed = [&]() -> uint32_t {
        uint32_t bitpos = bit_position();
        if (!round_fits(bitpos))
            return 0;
        uint32_t by_input = (fast_in_end - bitpos + 15 * ROUND - 1) / (15 * ROUND);
        uint32_t by_window = (out_end - out + ROUND - 1) / ROUND;
        uint32_t n = by_input < by_window ? by_input : by_window;
        int64_t by_left = left_now() / ROUND;
        return by_left < int64_t(n) ? uint32_t(by_left) : n;
    };
    // A window closes after its 32nd byte, as predict_channel_byte closes
    // it; here before the channel's next byte (or on the way out). Between
    // closes rounds run in batches with no check but the batch's end.
    auto close_full = [&](auto k, ChannelRegs& r) {
        if ((counts[k] & (AUDIO_WINDOW - 1)) == 0 && counts[k] != closed_at[k]) {
            close_window(k, r);
            closed_at[k] = counts[k];
        }
    };
    bool table_block = false;
    for (uint32_t n = rounds_allowed(); n != 0 && !table_block; n = rounds_allowed()) {
        for_slots(close_full, regs0, regs1, regs2, regs3);
        size_t batch = n;
        for (uint32_t k = 0; k < CHANNELS; ++k) {
            pos[k] = counts[k] & (AUDIO_WINDOW - 1);
            size_t to_close = (AUDIO_WINDOW - pos[k]) * CHANNELS / ROUND;
            batch = to_close < batch ? to_close : batch;
        }
        o = w + out;
        // Rounds by twos, the first with the refill, the second without.
        size_t i = 0;
        do {
            if (!round(std::make_integer_sequence<uint32_t, ROUND>{}, i, std::true_type{}, regs0, regs1, regs2,
                       regs3)) {
                table_block = true;
                break;
            }
            if constexpr (WIDE) {
                if (++i == batch)
                    break;
                if (!round(std::make_integer_sequence<uint32_t, ROUND>{}, i, std::false_type{}, regs0, regs1, regs2,
                           regs3)) {
                    table_block = true;
                    break;
                }
            }
        } while (++i != batch);
        out += uint32_t(ROUND * i);
        for (uint32_t k = 0; k < CHANNELS; ++k)
            counts[k] += uint32_t(i) * ROUND / CHANNELS + (table_block ? (done + CHANNELS - 1 - k) / CHANNELS : 0);
    }
    if (table_block)
        out += done;
    left = left_now();

    uint32_t bitpos = bit_position();
    s.input.in_pos = int32_t(bitpos >> 3);
    s.input.in_bit = int32_t(bitpos & 7);
    s.out_pos = out;
    s.bytes_left = decltype(s.bytes_left)(left);
    v.channel_delta = channel_delta;
    v.current_channel = slot_channel(done % CHANNELS);
    for_slots([&](auto k, ChannelRegs& r) {
        AudioChannel& ch = v.channels[slot_channel(k)];
        close_full(k, r);
        uint32_t pos = counts[k] & (AUDIO_WINDOW - 1);
        std::memcpy(ch.weights, weights[k].w, sizeof ch.weights);
        const int16_t* h = records[k].last_deltas + pos;
        ch.last_delta = h[4];
        ch.deltas[0] = h[3];
        ch.deltas[1] = h[3] - h[2];
        ch.deltas[2] = h[2] - h[1];
        ch.deltas[3] = h[1] - h[0];
        ch.last_byte = int32_t(r.last_byte & 0xFF);
        ch.byte_count = counts[k];
        std::memcpy(ch.errors, sums[k], sizeof ch.errors);
        add_window_sums(records[k], record_start[k], pos, ch.errors);
    }, regs0, regs1, regs2, regs3);
    if (table_block)
        read_code_tables<FastPath>();
    return true;
}

// Audio items of three or four channels in 32-bit programs (see
// ROUNDS_FOR_THREE_AND_FOUR): predict_channel_byte on copies of the
// channels in locals, with the bit input in registers, until the frame has
// something to do. Decodes exactly what decode_audio_item<FastPath> would.
void audio_items_in_turn() {
    DecoderState& s = decoder_state;
    V20State& v = s.v20;
    uint8_t* const w = s.window;
    RegisterInput in;
    uint32_t out = s.out_pos;
    int64_t left = s.bytes_left;
    const uint32_t flushed = s.flushed_pos;  // only the frame's flush moves it
    // Window stores could alias the state.
    AudioChannel channels[MAX_CHANNELS];
    std::memcpy(channels, v.channels, sizeof channels);
    int32_t channel_delta = v.channel_delta;
    uint32_t channel = v.current_channel;
    const uint32_t channel_count = v.channel_count;
    bool table_block = false;
    for (;;) {
        uint32_t sym = in.decode(v.audio_tables[channel & 3]);
        if (sym == AUDIO_TABLE_BLOCK) {
            table_block = true;
            break;
        }
        w[out++] = predict_channel_byte(channels[channel & 3], channel_delta, sym);
        if (++channel >= channel_count)
            channel = 0;
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
    std::memcpy(v.channels, channels, sizeof channels);
    v.channel_delta = channel_delta;
    v.current_channel = channel;
    if (table_block)
        read_code_tables<FastPath>();
}

// The audio items of the fast decoder: rounds while they can run, else one
// item as the reference steps it; three or four channels go in turn in
// 32-bit programs.
void audio_items_fast() {
    const V20State& v = decoder_state.v20;
    bool ran = false;
    if (v.current_channel < v.channel_count) {
        switch (v.channel_count) {
        case 1: ran = audio_rounds<1>(); break;
        case 2: ran = audio_rounds<2>(); break;
        default:
            if constexpr (ROUNDS_FOR_THREE_AND_FOUR) {
                ran = v.channel_count == 3 ? audio_rounds<3>() : audio_rounds<4>();
                break;
            }
            audio_items_in_turn();
            ran = true;
            break;
        }
    }
    if (!ran)
        decode_audio_item<FastPath>();
}

// Tables no block has built yet decode as the limit rule reads a cleared
// table: every code 15 bits long, symbol 0. Building them from zero lengths
// gives exactly that, and look-ups that never take a code of no bits.
void prepare_tables() {
    V20State& v = decoder_state.v20;
    if (v.tables_built)
        return;
    const uint8_t zeros[MAX_HUFF_SYMBOLS] = {};
    build_huff_table(zeros, v.main_table, MAIN_SYMBOLS, ENTRY_VALUES.main);
    build_huff_table(zeros, v.distance_table, DISTANCE_SYMBOLS, ENTRY_VALUES.distance);
    build_huff_table(zeros, v.repeat_table, REPEAT_SYMBOLS, ENTRY_VALUES.repeat);
    for (HuffTable& t : v.audio_tables)
        build_huff_table(zeros, t, AUDIO_SYMBOLS);
    build_huff_table(zeros, v.length_code_table, LENGTH_CODE_SYMBOLS);
    std::memset(v.audio_pairs, 0, sizeof v.audio_pairs);
    v.tables_built = 1;
}

template <class Path>
void run_v20(uint8_t* window, int solid) {
    DecoderState& s = decoder_state;
    s.window = window;
    prepare_tables();
    reset_decoder(solid);
    fill_input(1);
    if (!solid)
        read_code_tables<Path>();
    s.bytes_left -= 1;
    begin_window_count();
    while (s.bytes_left >= 0) {
        s.out_pos &= WINDOW_MASK;
        if (!frame_input())
            break;
        if (flush_due(s.out_pos))
            flush_window();
        if constexpr (std::is_same_v<Path, FastPath>) {
            // Tables with prefixes left to the limit rule (damaged or
            // unusual lengths) go item by item through the rule.
            const V20State& v = s.v20;
            if (v.audio_mode)
                audio_items_fast();
            else if (!RULE_OUTSIDE_FAST_LOOP ||
                     (v.main_table.by_rule | v.distance_table.by_rule | v.repeat_table.by_rule) == 0)
                normal_items_fast();
            else if constexpr (RULE_OUTSIDE_FAST_LOOP)
                decode_item<ReferencePath>();
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
