// The 2.0 method's encoder: parsing into items, table blocks and the bit stream.
#include "pack/v20_encoder.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "pack/bit_writer.h"
#include "pack/huffman_builder.h"
#include "pack/table_lengths.h"

namespace pack {

int distance_slot(uint32_t v) {
    if (v < 4) return static_cast<int>(v);
    if (v < 262144) {
        int msb = std::bit_width(v) - 1;
        return 2 * msb + static_cast<int>((v >> (msb - 1)) & 1);
    }
    return 36 + static_cast<int>((v - 262144) >> 16);
}

EncoderSettings settings_for_level(int level) {
    EncoderSettings s;
    switch (level) {
        case 1: s = {4, 32, 0, false, 8}; break;
        case 2: s = {6, 48, 12, true, 12}; break;
        case 3: s = {8, 64, 16, true, 16}; break;
        case 4: s = {24, 128, 32, true, 32}; break;
        default: s = {256, 258, 258, true, 64, true}; break;
    }
    return s;
}

void encoder_init(V20Encoder& enc, const EncoderSettings& settings) {
    enc.settings = settings;
    lz_init(enc.lz, settings.max_chain, settings.nice_length, settings.good_length);
    enc.state = CoderState{};
}

namespace {

// Items per block: each block gets fresh tables when they pay for themselves.
constexpr size_t BLOCK_ITEMS = 16384;
// Audio bytes per audio table block.
constexpr size_t AUDIO_BLOCK_BYTES = 0x40000;
constexpr uint32_t MAX_LONG_FOUND = 258;  // the match finder's cap

struct Item {
    uint16_t symbol;
    uint16_t sub;  // repeat-length slot or distance slot
    uint8_t bits1;
    uint8_t bits2;
    uint16_t value1;
    uint32_t value2;
};

struct NormalBlock {
    std::vector<Item> items;
    uint32_t main_freq[MAIN_SYMBOLS] = {};
    uint32_t distance_freq[DISTANCE_SYMBOLS] = {};
    uint32_t repeat_freq[REPEAT_SYMBOLS] = {};
};

// ------------------------------------------------------------ table blocks

struct TableBlock {
    bool audio = false;
    bool keep = false;  // deltas against the previous block's lengths
    int channels = 1;
    uint8_t code_lengths[LENGTH_CODE_SYMBOLS] = {};
    std::vector<uint32_t> items;  // symbol | extra bits << 8 | extra value << 16
    uint64_t bits = 0;
};

// Bits of a planned table block, and the code for its length symbols.
void finish_plan(TableBlock& tb) {
    uint32_t freq[LENGTH_CODE_SYMBOLS] = {};
    uint64_t extra = 0;
    for (uint32_t it : tb.items) {
        freq[it & 0xFF]++;
        extra += (it >> 8) & 0xFF;
    }
    build_code_lengths(freq, LENGTH_CODE_SYMBOLS, MAX_CODE_LENGTH, tb.code_lengths);
    tb.bits = 2 + (tb.audio ? 2 : 0) + 4 * LENGTH_CODE_SYMBOLS + extra +
              coded_bits(freq, tb.code_lengths, LENGTH_CODE_SYMBOLS);
}

// The first plan: runs wherever they are long enough, else single deltas.
void plan_lengths_greedy(const uint8_t* lengths, const uint8_t* previous, int count, TableBlock& tb) {
    tb.items.clear();
    int i = 0;
    while (i < count) {
        uint8_t v = lengths[i];
        if (v == 0) {
            int run = 1;
            while (i + run < count && run < 138 && lengths[i + run] == 0) ++run;
            if (run >= 11) {
                tb.items.push_back(18u | 7u << 8 | static_cast<uint32_t>(run - 11) << 16);
                i += run;
                continue;
            }
            if (run >= 3) {
                run = std::min(run, 10);
                tb.items.push_back(17u | 3u << 8 | static_cast<uint32_t>(run - 3) << 16);
                i += run;
                continue;
            }
        }
        if (i > 0 && v == lengths[i - 1]) {
            int run = 1;
            while (i + run < count && run < 6 && lengths[i + run] == v) ++run;
            if (run >= 3) {
                tb.items.push_back(16u | 2u << 8 | static_cast<uint32_t>(run - 3) << 16);
                i += run;
                continue;
            }
        }
        tb.items.push_back(static_cast<uint32_t>((v - previous[i]) & 15));
        ++i;
    }
    finish_plan(tb);
}

// The cheapest plan at the prices of a given code for the length symbols
// (symbols it leaves out at 15 bits), by dynamic programming from the end.
// Runs end within the lengths (a decoder that stops a longer one at the end
// reads the same, but not every reader need be that lenient).
void plan_lengths_priced(const uint8_t* lengths, const uint8_t* previous, int count, const uint8_t* code_lengths,
                         TableBlock& tb) {
    uint32_t price[LENGTH_CODE_SYMBOLS];
    for (int k = 0; k < LENGTH_CODE_SYMBOLS; ++k) price[k] = code_lengths[k] ? code_lengths[k] : MAX_CODE_LENGTH;
    uint32_t cost[MAX_TABLE_COUNT + 1];
    uint32_t choice[MAX_TABLE_COUNT];  // item as in TableBlock::items, run in bits 24 and up
    cost[count] = 0;
    int zeros = 0, same = 0;  // zero lengths from i on; lengths from i on equal to the one before i
    for (int i = count - 1; i >= 0; --i) {
        zeros = lengths[i] == 0 ? zeros + 1 : 0;
        const uint8_t before = i > 0 ? lengths[i - 1] : 0;
        same = 0;
        while (i + same < count && same < 6 && lengths[i + same] == before) ++same;
        uint32_t sym = static_cast<uint32_t>((lengths[i] - previous[i]) & 15);
        uint32_t best = price[sym] + cost[i + 1];
        uint32_t pick = sym | 1u << 24;
        auto try_run = [&](uint32_t symbol, uint32_t extra, int lo, int hi, int available) {
            for (int r = lo; r <= std::min(hi, available); ++r) {
                uint32_t c = price[symbol] + extra + cost[i + r];
                if (c < best) {
                    best = c;
                    pick = symbol | extra << 8 | static_cast<uint32_t>(r - lo) << 16 | static_cast<uint32_t>(r) << 24;
                }
            }
        };
        try_run(16, 2, 3, 6, same);
        if (zeros > 0) {
            try_run(17, 3, 3, 10, zeros);
            try_run(18, 7, 11, 138, zeros);
        }
        cost[i] = best;
        choice[i] = pick;
    }
    tb.items.clear();
    for (int i = 0; i < count;) {
        tb.items.push_back(choice[i] & 0xFFFFFF);
        i += static_cast<int>(choice[i] >> 24);
    }
    finish_plan(tb);
}

// Plans how a table block codes lengths (deltas against previous): a greedy
// plan, then plans priced by the code the last one got while they get cheaper.
void plan_lengths(const uint8_t* lengths, const uint8_t* previous, int count, TableBlock& tb) {
    plan_lengths_greedy(lengths, previous, count, tb);
    TableBlock trial = tb;
    for (int round = 0; round < 4; ++round) {
        plan_lengths_priced(lengths, previous, count, tb.code_lengths, trial);
        if (trial.bits >= tb.bits) break;
        std::swap(tb, trial);
    }
}

// Chooses between plain lengths and deltas against the previous block.
TableBlock plan_table_block(const CoderState& st, const uint8_t* lengths, int count, bool audio, int channels) {
    static const uint8_t zeros[MAX_TABLE_COUNT] = {};
    TableBlock plain;
    plain.audio = audio;
    plain.channels = channels;
    plan_lengths(lengths, zeros, count, plain);
    if (count <= st.previous_count) {
        TableBlock delta;
        delta.audio = audio;
        delta.channels = channels;
        delta.keep = true;
        plan_lengths(lengths, st.previous_lengths, count, delta);
        if (delta.bits < plain.bits) return delta;
    }
    return plain;
}

// Writes the block and moves the mirrored decoder state on as reading it does.
void write_table_block(BitWriter& bw, CoderState& st, const TableBlock& tb, const uint8_t* lengths, int count) {
    bw.put(tb.audio ? 1 : 0, 1);
    bw.put(tb.keep ? 1 : 0, 1);
    if (tb.audio) bw.put(static_cast<uint32_t>(tb.channels - 1), 2);
    for (int k = 0; k < LENGTH_CODE_SYMBOLS; ++k) bw.put(tb.code_lengths[k], 4);
    uint16_t codes[LENGTH_CODE_SYMBOLS];
    assign_codes(tb.code_lengths, LENGTH_CODE_SYMBOLS, codes);
    for (uint32_t it : tb.items) {
        uint32_t sym = it & 0xFF;
        bw.put(codes[sym], tb.code_lengths[sym]);
        bw.put(it >> 16, static_cast<int>((it >> 8) & 0xFF));
    }
    st.audio_mode = tb.audio;
    if (tb.audio) {
        st.channel_count = tb.channels;
        if (st.current_channel >= st.channel_count) st.current_channel = 0;
        for (int j = 0; j < tb.channels; ++j)
            std::memcpy(st.audio_lengths[j], lengths + j * AUDIO_SYMBOLS, AUDIO_SYMBOLS);
    } else {
        std::memcpy(st.main_lengths, lengths, MAIN_SYMBOLS);
        std::memcpy(st.distance_lengths, lengths + MAIN_SYMBOLS, DISTANCE_SYMBOLS);
        std::memcpy(st.repeat_lengths, lengths + MAIN_SYMBOLS + DISTANCE_SYMBOLS, REPEAT_SYMBOLS);
    }
    std::memcpy(st.previous_lengths, lengths, static_cast<size_t>(count));
    st.previous_count = count;
    st.tables_valid = true;
}

// A block's table lengths and the table block that sends them: the optimal
// code for the block's symbols, or with tune set the lengths that make
// symbols and table block together cheapest (of that code and the tuned
// choices against plain and delta lengths). Returns the symbols' bits (with
// one table switch counted) plus the table block's.
uint64_t choose_lengths(const CoderState& st, const uint32_t* freq, int count, const int* ends, int tables,
                        bool audio, int channels, bool tune, uint8_t* lengths, TableBlock& tb) {
    for (int t = 0, b = 0; t < tables; b = ends[t++])
        build_code_lengths(freq + b, ends[t] - b, MAX_CODE_LENGTH, lengths + b);
    tb = plan_table_block(st, lengths, count, audio, channels);
    uint64_t best = coded_bits(freq, lengths, count) + tb.bits;
    if (!tune) return best;
    // Tuned against plain lengths, and against the previous table's where
    // there is one, each priced first by the length symbols' code of the
    // plain lengths and then by the code its own lengths got.
    static const uint8_t zeros[MAX_TABLE_COUNT] = {};
    const bool delta = count <= st.previous_count && std::memcmp(st.previous_lengths, zeros, count) != 0;
    uint8_t trial[MAX_TABLE_COUNT];
    double multipliers[4] = {};
    for (const uint8_t* previous : {zeros, delta ? st.previous_lengths : nullptr}) {
        if (previous == nullptr) continue;
        uint8_t code[LENGTH_CODE_SYMBOLS];
        std::memcpy(code, tb.code_lengths, sizeof(code));
        for (int round = 0; round < 2; ++round) {
            tune_table_lengths(freq, count, ends, tables, previous, code, MAX_CODE_LENGTH, trial, multipliers);
            TableBlock t = plan_table_block(st, trial, count, audio, channels);
            uint64_t bits = coded_bits(freq, trial, count) + t.bits;
            std::memcpy(code, t.code_lengths, sizeof(code));
            if (bits < best) {
                best = bits;
                std::memcpy(lengths, trial, static_cast<size_t>(count));
                tb = t;
            }
        }
    }
    return best;
}

// Weight of a block's own counts against one count for every symbol in
// tables that cover all symbols.
constexpr uint32_t COVER_WEIGHT = 4;

// choose_lengths for a normal block's three tables. With cover set, every
// symbol gets a code: the lengths come from the block's counts, weighted,
// plus one for each symbol (the returned bits are still the block's own).
uint64_t choose_normal_lengths(const NormalBlock& blk, const CoderState& st, bool tune, bool cover, uint8_t* lengths,
                               TableBlock& tb) {
    uint32_t freq[NORMAL_TABLE_COUNT];
    std::memcpy(freq, blk.main_freq, sizeof(blk.main_freq));
    freq[SYM_TABLES] += 1;  // the next block must be able to announce itself
    std::memcpy(freq + MAIN_SYMBOLS, blk.distance_freq, sizeof(blk.distance_freq));
    std::memcpy(freq + MAIN_SYMBOLS + DISTANCE_SYMBOLS, blk.repeat_freq, sizeof(blk.repeat_freq));
    static constexpr int ends[3] = {MAIN_SYMBOLS, MAIN_SYMBOLS + DISTANCE_SYMBOLS, NORMAL_TABLE_COUNT};
    if (!cover) return choose_lengths(st, freq, NORMAL_TABLE_COUNT, ends, 3, false, 1, tune, lengths, tb);
    uint32_t weighted[NORMAL_TABLE_COUNT];
    for (int i = 0; i < NORMAL_TABLE_COUNT; ++i) weighted[i] = freq[i] * COVER_WEIGHT + 1;
    choose_lengths(st, weighted, NORMAL_TABLE_COUNT, ends, 3, false, 1, false, lengths, tb);
    return coded_bits(freq, lengths, NORMAL_TABLE_COUNT) + tb.bits;
}

uint32_t code_of(const uint8_t* lengths, int n, int symbol) {
    uint16_t codes[MAIN_SYMBOLS > AUDIO_SYMBOLS ? MAIN_SYMBOLS : AUDIO_SYMBOLS];
    assign_codes(lengths, n, codes);
    return codes[symbol];
}

// Bits of the symbol that announces a new table block in the current mode.
int switch_cost(const CoderState& st) {
    return st.audio_mode ? st.audio_lengths[st.current_channel][AUDIO_SYM_TABLES] : st.main_lengths[SYM_TABLES];
}

void write_switch(BitWriter& bw, const CoderState& st) {
    if (st.audio_mode) {
        const uint8_t* lengths = st.audio_lengths[st.current_channel];
        bw.put(code_of(lengths, AUDIO_SYMBOLS, AUDIO_SYM_TABLES), lengths[AUDIO_SYM_TABLES]);
    } else {
        bw.put(code_of(st.main_lengths, MAIN_SYMBOLS, SYM_TABLES), st.main_lengths[SYM_TABLES]);
    }
}

// ------------------------------------------------------------ parsing

enum class Kind : uint8_t { literal, repeat_last, repeat, short_match, long_match };

struct Choice {
    Kind kind = Kind::literal;
    uint32_t length = 1;
    uint32_t distance = 0;
    int repeat = 0;  // 1..4 for Kind::repeat
    int32_t gain = 0;
};

// Rough bit costs, used only to choose between candidates. Gains are in 1/16
// bit: a candidate's gain is what its bytes would cost as literals (at the
// average literal cost of the last block) less what it costs itself.
constexpr int32_t UNIT = 16;

int32_t long_cost(uint32_t length, uint32_t distance) {
    uint32_t v = length - long_length_bonus(distance) - 3;
    return 9 + LENGTH_EXTRA_BITS[length_slot(v)] + 5 + DISTANCE_EXTRA_BITS[distance_slot(distance - 1)];
}
int32_t repeat_cost(uint32_t length, uint32_t distance) {
    uint32_t v = length - repeat_length_bonus(distance) - 2;
    return 7 + 4 + LENGTH_EXTRA_BITS[length_slot(v)];
}
int32_t short_cost(uint32_t distance) { return 8 + SHORT_DISTANCE_EXTRA_BITS[short_distance_slot(distance - 1)]; }

// Best item at pos; chain limits the match search (0: the matcher's setting).
Choice choose(const LzMatcher& lz, const CoderState& st, size_t pos, size_t end, int32_t lit, int chain = 0) {
    Choice best;
    for (int k = 1; k <= 4; ++k) {
        uint32_t d = st.recent_distances[(st.recent_index - k) & 3];
        if (d == 0) continue;
        bool seen = false;
        for (int j = 1; j < k; ++j) seen = seen || st.recent_distances[(st.recent_index - j) & 3] == d;
        if (seen) continue;
        uint32_t bonus = repeat_length_bonus(d);
        uint32_t len = lz_match_length(lz, pos, d, end, MAX_REPEAT_CODED + bonus);
        if (k == 1 && d == st.last_distance && st.last_length > 0 && len >= st.last_length) {
            int32_t gain = static_cast<int32_t>(st.last_length) * lit - 7 * UNIT;
            if (gain > best.gain) best = {Kind::repeat_last, st.last_length, d, 0, gain};
        }
        if (len >= MIN_REPEAT_CODED + bonus) {
            int32_t gain = static_cast<int32_t>(len) * lit - repeat_cost(len, d) * UNIT;
            if (gain > best.gain) best = {Kind::repeat, len, d, k, gain};
        }
    }
    if (best.length < lz.nice_length) {
        MatchResult m = lz_longest_match(lz, pos, end, MAX_LONG_FOUND, chain);
        if (m.length >= MIN_LONG_CODED + long_length_bonus(m.distance)) {
            int32_t gain = static_cast<int32_t>(m.length) * lit - long_cost(m.length, m.distance) * UNIT;
            if (gain > best.gain) best = {Kind::long_match, m.length, m.distance, 0, gain};
        }
    }
    // The nearest earlier copy of the next two bytes: a short match, or a
    // three-byte match the four-byte chains cannot see.
    if (best.length < 4 && end - pos >= 2) {
        uint32_t d = lz_short_candidate(lz, pos, MAX_SHORT_DISTANCE);
        if (d != 0) {
            uint32_t len = lz_match_length(lz, pos, d, end, 3);
            if (len >= 3) {
                int32_t gain = 3 * lit - long_cost(3, d) * UNIT;
                if (gain > best.gain) best = {Kind::long_match, 3, d, 0, gain};
            } else if (len == 2) {
                int32_t gain = 2 * lit - short_cost(d) * UNIT;
                if (gain > best.gain) best = {Kind::short_match, 2, d, 0, gain};
            }
        }
    }
    return best;
}

void add_item(NormalBlock& blk, const Item& it) {
    blk.items.push_back(it);
    blk.main_freq[it.symbol]++;
    if (it.symbol >= SYM_LONG) blk.distance_freq[it.sub]++;
    else if (it.symbol >= SYM_REPEAT_DIST && it.symbol < SYM_SHORT) blk.repeat_freq[it.sub]++;
}

void remember_match(CoderState& st, uint32_t length, uint32_t distance) {
    st.recent_distances[st.recent_index & 3] = distance;
    st.recent_index = (st.recent_index + 1) & 3;
    st.last_distance = distance;
    st.last_length = length;
}

void emit_choice(NormalBlock& blk, CoderState& st, const Choice& c, uint8_t literal) {
    Item it{};
    switch (c.kind) {
        case Kind::literal:
            it.symbol = literal;
            add_item(blk, it);
            return;
        case Kind::repeat_last:
            it.symbol = SYM_REPEAT_LAST;
            break;
        case Kind::repeat: {
            uint32_t v = c.length - repeat_length_bonus(c.distance) - 2;
            int slot = length_slot(v);
            it.symbol = static_cast<uint16_t>(SYM_REPEAT_DIST + c.repeat - 1);
            it.sub = static_cast<uint16_t>(slot);
            it.bits1 = LENGTH_EXTRA_BITS[slot];
            it.value1 = static_cast<uint16_t>(v - LENGTH_BASES[slot]);
            break;
        }
        case Kind::short_match: {
            uint32_t v = c.distance - 1;
            int slot = short_distance_slot(v);
            it.symbol = static_cast<uint16_t>(SYM_SHORT + slot);
            it.bits1 = SHORT_DISTANCE_EXTRA_BITS[slot];
            it.value1 = static_cast<uint16_t>(v - SHORT_DISTANCE_BASES[slot]);
            break;
        }
        case Kind::long_match: {
            uint32_t v = c.length - long_length_bonus(c.distance) - 3;
            int slot = length_slot(v);
            uint32_t dv = c.distance - 1;
            int dslot = distance_slot(dv);
            it.symbol = static_cast<uint16_t>(SYM_LONG + slot);
            it.bits1 = LENGTH_EXTRA_BITS[slot];
            it.value1 = static_cast<uint16_t>(v - LENGTH_BASES[slot]);
            it.sub = static_cast<uint16_t>(dslot);
            it.bits2 = DISTANCE_EXTRA_BITS[dslot];
            it.value2 = dv - DISTANCE_BASES[dslot];
            break;
        }
    }
    add_item(blk, it);
    remember_match(st, c.length, c.distance);
}

// After this many literals in a row, a position's search tries a quarter of
// the candidates. Where matches are that rare (base64 text, pictures, data
// that hardly packs) most candidates only share the hash bucket, and each
// costs a cache miss in the chains: base64 text packs 2.3 times as fast and
// PNG files 1.4 times, both within a few bytes of their size (the four-byte
// matches found far back there hardly pay for themselves), while on
// ordinary data a dry run that long is rare.
constexpr uint32_t DRY_RUN = 16;
// Parses from entry offset pos until the block is full or end is reached;
// returns the new offset. literal_only: no match search (for data that did
// not pack); its positions are not entered in the chains either.
uint64_t parse_block(V20Encoder& enc, uint64_t pos_offset, uint64_t end_offset, NormalBlock& blk,
                     bool literal_only, size_t max_items = BLOCK_ITEMS) {
    LzMatcher& lz = enc.lz;
    if (literal_only) {
        const uint64_t stop = std::min<uint64_t>(end_offset, pos_offset + BLOCK_ITEMS);
        while (pos_offset < stop) {
            lz_read_until(lz, pos_offset, stop);
            const uint8_t* buf = lz.buffer.data();
            size_t pos = lz_index(lz, pos_offset);
            size_t run = static_cast<size_t>(std::min<uint64_t>(stop - pos_offset, lz.buffer.size() - pos));
            for (size_t k = 0; k < run; ++k) {
                Item it{};
                it.symbol = buf[pos + k];
                add_item(blk, it);
            }
            pos_offset += run;
            if (lz.inserted < pos + run) lz.inserted = pos + run;
        }
        return pos_offset;
    }
    CoderState& st = enc.state;
    const EncoderSettings& set = enc.settings;
    const int32_t lit = enc.literal_cost;
    size_t pos = lz_index(lz, pos_offset);
    size_t end = lz_index(lz, end_offset);
    const uint8_t* buf = lz.buffer.data();
    bool have = false;
    Choice cur;
    uint32_t dry = 0;
    while (pos < end && blk.items.size() < max_items) {
        if (lz.entry_read < lz.entry_size && pos + LOOKAHEAD > lz.buffer.size()) {
            // Indices move when the history slides; offsets do not.
            uint64_t offset = static_cast<uint64_t>(static_cast<int64_t>(pos) - lz.entry_origin);
            lz_read_until(lz, offset, offset + lz.read_piece);
            pos = lz_index(lz, offset);
            end = lz_index(lz, end_offset);
            buf = lz.buffer.data();
        }
        if (!have) {
            lz_insert_until(lz, pos);
            cur = choose(lz, st, pos, end, lit, dry >= DRY_RUN ? std::max(1, set.max_chain / 4) : 0);
            dry = cur.kind == Kind::literal ? dry + 1 : 0;
        }
        have = false;
        if (set.lazy && cur.kind != Kind::literal && cur.length < set.lazy_limit && pos + 1 < end) {
            lz_insert_until(lz, pos + 1);
            // The look one byte ahead searches less when the match in hand is good.
            int chain = cur.length >= set.good_length ? std::max(1, set.max_chain / 4) : std::max(1, set.max_chain / 2);
            Choice next = choose(lz, st, pos + 1, end, lit, chain);
            if (next.gain > cur.gain + lit) {
                emit_choice(blk, st, Choice{}, buf[pos]);
                ++pos;
                cur = next;
                have = true;
                continue;
            }
        }
        emit_choice(blk, st, cur, buf[pos]);
        pos += cur.length;
    }
    return static_cast<uint64_t>(static_cast<int64_t>(pos) - lz.entry_origin);
}

// ------------------------------------------------------------ optimal parsing
//
// Level 5 parses a block of input at a time by forward dynamic programming:
// every position keeps the cheapest ways found to reach it (one, or a few
// that leave different recent distances behind) with the state each leaves,
// so repeated-distance items are priced along the path that makes them
// possible. Prices are the code lengths of
// the tables the block would get: a first pass runs on estimates, each
// further pass on the codes the previous pass's items build; the cheapest
// pass is kept.

constexpr size_t OPT_BLOCK_BYTES = 32768;  // input bytes per optimally parsed block
constexpr int OPT_MAX_MATCHES = 24;        // match candidates kept per position
constexpr int OPT_PASSES = 6;
// Matches this long are taken whole (no shorter cut of them is priced), and
// the positions they cover are not searched.
constexpr uint32_t OPT_NICE = 160;
constexpr int OPT_CHAIN3 = 16;  // three-byte chain candidates tried for the nearest copy
// How far a block's last item may run past its OPT_BLOCK_BYTES: the longest
// item (a repeated distance's longest length with the largest bonus).
constexpr size_t OPT_SPILL = MAX_REPEAT_CODED + 3;

struct Prices {  // in 1/16 bit
    uint32_t main[MAIN_SYMBOLS];
    uint32_t distance[DISTANCE_SYMBOLS];
    uint32_t repeat[REPEAT_SYMBOLS];
};

// Symbols a table leaves out get one bit more than its longest code.
void price_table(const uint8_t* lengths, int n, uint32_t* out) {
    uint8_t longest = 0;
    for (int i = 0; i < n; ++i) longest = std::max(longest, lengths[i]);
    uint32_t missing = std::min<uint32_t>(longest + 1u, MAX_CODE_LENGTH) * UNIT;
    for (int i = 0; i < n; ++i) out[i] = lengths[i] ? lengths[i] * static_cast<uint32_t>(UNIT) : missing;
}

void prices_from_lengths(Prices& p, const uint8_t* lengths) {
    price_table(lengths, MAIN_SYMBOLS, p.main);
    price_table(lengths + MAIN_SYMBOLS, DISTANCE_SYMBOLS, p.distance);
    price_table(lengths + MAIN_SYMBOLS + DISTANCE_SYMBOLS, REPEAT_SYMBOLS, p.repeat);
}

// First-pass prices for a block with no tables to go by: literals after the
// block's byte counts, every other symbol at a flat guess.
void estimate_prices(Prices& p, const uint8_t* data, size_t n) {
    uint32_t freq[MAIN_SYMBOLS] = {};
    for (size_t i = 0; i < n; ++i) freq[data[i]]++;
    for (int s = 256; s < MAIN_SYMBOLS; ++s) freq[s] = static_cast<uint32_t>(n / 512 + 1);
    uint8_t lengths[MAIN_SYMBOLS];
    build_code_lengths(freq, MAIN_SYMBOLS, MAX_CODE_LENGTH, lengths);
    price_table(lengths, MAIN_SYMBOLS, p.main);
    for (uint32_t& v : p.distance) v = 6 * UNIT;
    for (uint32_t& v : p.repeat) v = 4 * UNIT;
}

// The decoder state an item changes: the recent distances (newest first)
// and the last match.
struct RepState {
    uint32_t distances[4];
    uint32_t last_distance;
    uint32_t last_length;
    bool operator==(const RepState&) const = default;
};

// Arrivals kept per position: the cheapest ones with different states.
constexpr int OPT_STATES = 4;

struct OptNode {
    uint32_t cost;  // UINT32_MAX: not reached yet
    uint16_t length;
    Kind kind;
    uint8_t repeat;
    uint8_t from;  // which arrival at the item's start it extends
    uint32_t distance;
    RepState rep;
};

struct OptScratch {
    std::vector<OptNode> nodes;
    std::vector<uint32_t> prev, head2;  // chain links and pair table as they were before the block
    std::vector<MatchResult> matches;
    std::vector<uint32_t> first_match;     // index in matches of position i's first candidate
    std::vector<uint16_t> short_distance;  // nearest two-byte copy within reach of a short match, or 0
};

// Bits the block would cost coded with tables of its own (tables included).
uint64_t block_bits(const NormalBlock& blk, const CoderState& st, uint8_t* lengths) {
    TableBlock tb;
    uint64_t bits = choose_normal_lengths(blk, st, false, false, lengths, tb);
    for (const Item& it : blk.items) bits += it.bits1 + it.bits2;
    return bits;
}

void clear_block(NormalBlock& blk) {
    blk.items.clear();
    std::memset(blk.main_freq, 0, sizeof(blk.main_freq));
    std::memset(blk.distance_freq, 0, sizeof(blk.distance_freq));
    std::memset(blk.repeat_freq, 0, sizeof(blk.repeat_freq));
}

// Where a block's last item ends: at its n bytes, or past them where a long
// item (OPT_NICE or more) runs on. A block cut at a fixed length would cut
// such a match in two, and on runs of one pattern every block would pay for
// that; shorter items are left as they are, since on ordinary data moving
// the ends gains nothing and only perturbs the passes. The cheapest path to
// each such end is weighed with the bytes it leaves to the next block at
// this block's cost per byte.
size_t choose_end(const std::vector<OptNode>& nodes, size_t n, size_t span, int K) {
    const double per_byte = static_cast<double>(nodes[n * K].cost) / static_cast<double>(n);
    size_t best = n;
    double best_cost = static_cast<double>(nodes[n * K].cost) + per_byte * static_cast<double>(span - n);
    for (size_t j = n + 1; j <= span; ++j) {
        if (nodes[j * K].cost == UINT32_MAX || nodes[j * K].length < OPT_NICE) continue;
        double c = static_cast<double>(nodes[j * K].cost) + per_byte * static_cast<double>(span - j);
        if (c < best_cost) {
            best_cost = c;
            best = j;
        }
    }
    return best;
}

// One pass of the dynamic program over items that start in buf[pos, pos + n)
// at the given prices; they may run on to pos + span (see
// parse_block_optimal). Leaves the items of the cheapest path to pos + *end
// in blk and its state in st; when *end is 0 it is chosen first (see
// choose_end). False, with blk and st as they were, when no path reaches
// pos + *end. Each position keeps its OPT_STATES cheapest arrivals whose
// recent distances differ (in order of cost), so a slightly dearer way
// there that leaves a useful distance behind is followed on too.
bool optimal_pass(const LzMatcher& lz, const OptScratch& sc, std::vector<OptNode>& nodes, size_t pos, size_t n,
                  size_t span, size_t* end, const Prices& p, NormalBlock& blk, CoderState& st, int K) {
    const uint8_t* buf = lz.buffer.data();
    const size_t limit = pos + span;
    for (size_t i = 0; i < (span + 1) * K; ++i) nodes[i].cost = UINT32_MAX;
    nodes[0].cost = 0;
    for (int k = 0; k < 4; ++k) nodes[0].rep.distances[k] = st.recent_distances[(st.recent_index - 1 - k) & 3];
    nodes[0].rep.last_distance = st.last_distance;
    nodes[0].rep.last_length = st.last_length;
    auto reach = [&](size_t from, int state, size_t len, uint32_t cost, Kind kind, uint32_t distance, int repeat) {
        OptNode* to = &nodes[(from + len) * K];
        if (cost >= to[K - 1].cost) return;  // dearer than every arrival kept there
        const RepState& src = nodes[from * K + state].rep;
        RepState rep = src;
        if (kind != Kind::literal) {
            rep.distances[3] = src.distances[2];
            rep.distances[2] = src.distances[1];
            rep.distances[1] = src.distances[0];
            rep.distances[0] = distance;
            rep.last_distance = distance;
            rep.last_length = static_cast<uint32_t>(len);
        }
        int hole = 0;
        while (hole < K && to[hole].cost != UINT32_MAX && !(to[hole].rep == rep)) ++hole;
        if (hole == K) hole = K - 1;
        if (cost >= to[hole].cost) return;
        while (hole > 0 && to[hole - 1].cost > cost) {
            to[hole] = to[hole - 1];
            --hole;
        }
        OptNode& node = to[hole];
        node.cost = cost;
        node.length = static_cast<uint16_t>(len);
        node.kind = kind;
        node.distance = distance;
        node.repeat = static_cast<uint8_t>(repeat);
        node.from = static_cast<uint8_t>(state);
        node.rep = rep;
    };
    for (size_t i = 0; i < n; ++i) {
        const size_t at = pos + i;
        for (int s = 0; s < K; ++s) {
            const uint32_t c = nodes[i * K + s].cost;
            if (c == UINT32_MAX) break;
            const RepState rs = nodes[i * K + s].rep;
            reach(i, s, 1, c + p.main[buf[at]], Kind::literal, 0, 0);
            if (rs.last_length > 0 && rs.last_length <= span - i &&
                lz_match_length(lz, at, rs.last_distance, limit, rs.last_length) >= rs.last_length)
                reach(i, s, rs.last_length, c + p.main[SYM_REPEAT_LAST], Kind::repeat_last, rs.last_distance, 0);
            for (int k = 1; k <= 4; ++k) {
                uint32_t d = rs.distances[k - 1];
                if (d == 0) continue;
                bool seen = false;
                for (int j = 1; j < k; ++j) seen = seen || rs.distances[j - 1] == d;
                if (seen) continue;
                uint32_t bonus = repeat_length_bonus(d);
                uint32_t len = lz_match_length(lz, at, d, limit, MAX_REPEAT_CODED + bonus);
                uint32_t lo = MIN_REPEAT_CODED + bonus;
                if (len < lo) continue;
                if (len >= OPT_NICE) lo = len;
                uint32_t base = c + p.main[SYM_REPEAT_DIST + k - 1];
                for (uint32_t l = lo; l <= len; ++l) {
                    int slot = length_slot(l - bonus - 2);
                    reach(i, s, l, base + p.repeat[slot] + LENGTH_EXTRA_BITS[slot] * UNIT, Kind::repeat, d, k);
                }
            }
            if (uint32_t d = sc.short_distance[i]; d != 0 && span - i >= 2) {
                int slot = short_distance_slot(d - 1);
                reach(i, s, 2, c + p.main[SYM_SHORT + slot] + SHORT_DISTANCE_EXTRA_BITS[slot] * UNIT,
                      Kind::short_match, d, 0);
            }
            if (s > 0) continue;  // long matches from the cheapest arrival only
            uint32_t covered = MIN_LONG_CODED - 1;
            for (uint32_t m = sc.first_match[i]; m < sc.first_match[i + 1]; ++m) {
                const MatchResult& r = sc.matches[m];
                uint32_t bonus = long_length_bonus(r.distance);
                uint32_t lo = std::max(covered + 1, MIN_LONG_CODED + bonus);
                if (r.length >= OPT_NICE) lo = std::max(lo, r.length);
                covered = std::max(covered, r.length);
                if (lo > r.length) continue;
                int dslot = distance_slot(r.distance - 1);
                uint32_t base = c + p.distance[dslot] + DISTANCE_EXTRA_BITS[dslot] * UNIT;
                for (uint32_t l = lo; l <= r.length; ++l) {
                    int slot = length_slot(l - bonus - 3);
                    reach(i, s, l, base + p.main[SYM_LONG + slot] + LENGTH_EXTRA_BITS[slot] * UNIT,
                          Kind::long_match, r.distance, 0);
                }
            }
        }
    }
    if (*end == 0) *end = choose_end(nodes, n, span, K);
    // Past n a position may be reached in one pass and not in another (by a
    // repeated distance that this pass's path does not leave behind).
    if (nodes[*end * K].cost == UINT32_MAX) return false;
    std::vector<Choice> path;
    for (size_t j = *end, s = 0; j > 0;) {
        const OptNode& node = nodes[j * K + s];
        path.push_back({node.kind, node.length, node.distance, node.repeat, 0});
        j -= node.length;
        s = node.from;
    }
    clear_block(blk);
    for (auto it = path.rbegin(); it != path.rend(); ++it) {
        emit_choice(blk, st, *it, buf[pos]);
        pos += it->length;
    }
    return true;
}

// Parses the next block from entry offset pos_offset optimally; returns the
// new offset. Its items start in the next OPT_BLOCK_BYTES; the last one may
// run on by up to OPT_SPILL bytes.
uint64_t parse_block_optimal(V20Encoder& enc, OptScratch& sc, uint64_t pos_offset, uint64_t end_offset,
                             NormalBlock& blk) {
    LzMatcher& lz = enc.lz;
    const uint64_t stop = std::min<uint64_t>(end_offset, pos_offset + OPT_BLOCK_BYTES);
    static_assert(OPT_SPILL <= LOOKAHEAD);
    lz_read_until(lz, pos_offset, stop + LOOKAHEAD);
    const size_t pos = lz_index(lz, pos_offset);
    const size_t n = static_cast<size_t>(stop - pos_offset);
    const size_t limit = pos + n;
    const size_t span = static_cast<size_t>(std::min<uint64_t>(end_offset, stop + OPT_SPILL) - pos_offset);
    const size_t span_limit = pos + span;

    // The greedy-with-lazy-look parse of the same bytes, to fall back on where
    // the optimal parse does not come out smaller (its costs are estimates).
    // Both enter the same positions in the chains, which are put back as they
    // were in between; the buffer holds the block already, so nothing slides.
    // Only the ring slots of positions the lazy parse can enter are kept, and
    // the pair table; the chain heads are undone from the ring afterwards.
    // Positions before the block go in first (both parses would add them).
    lz_insert_until(lz, pos);
    lz_enable_chains3(lz);
    const size_t inserted = lz.inserted;
    sc.prev.resize(limit + 1 > inserted ? limit + 1 - inserted : 0);
    for (size_t i = 0; i < sc.prev.size(); ++i) sc.prev[i] = lz.prev[(inserted + i) & (CHAIN_WINDOW - 1)];
    sc.head2 = lz.head2;
    const CoderState start_state = enc.state;
    NormalBlock lazy;
    // It searches as level 4 does: chains full of repeats would otherwise make
    // it cost as much as the optimal parse.
    const EncoderSettings settings = enc.settings;
    const int max_chain = lz.max_chain;
    enc.settings = settings_for_level(4);
    lz.max_chain = enc.settings.max_chain;
    parse_block(enc, pos_offset, stop, lazy, false, SIZE_MAX);
    enc.settings = settings;
    lz.max_chain = max_chain;
    const CoderState lazy_state = enc.state;
    uint8_t lazy_lengths[NORMAL_TABLE_COUNT];
    const uint64_t lazy_bits = block_bits(lazy, lazy_state, lazy_lengths);
    // Each insertion pushed a position on its chain: popping them in reverse
    // order gives the heads back.
    for (size_t p = lz.inserted; p > inserted; --p)
        lz.head[hash4(lz.buffer.data() + p - 1)] = lz.prev[(p - 1) & (CHAIN_WINDOW - 1)];
    for (size_t i = 0; i < sc.prev.size() && inserted + i < lz.inserted; ++i)
        lz.prev[(inserted + i) & (CHAIN_WINDOW - 1)] = sc.prev[i];
    lz.head2.swap(sc.head2);
    lz.inserted = inserted;
    enc.state = start_state;

    // Match candidates of every position, found once for all passes.
    sc.matches.clear();
    sc.first_match.assign(n + 1, 0);
    sc.short_distance.assign(n, 0);
    size_t skip_until = 0;
    for (size_t i = 0; i < n; ++i) {
        sc.first_match[i] = static_cast<uint32_t>(sc.matches.size());
        if (i < skip_until) continue;
        const size_t at = pos + i;
        lz_insert_until(lz, at);
        lz_insert3_until(lz, at);
        uint32_t near_length = 0;
        if (uint32_t d = lz_short_candidate(lz, at, MAX_WINDOW_REACH); d != 0) {
            near_length = lz_match_length(lz, at, d, span_limit, MAX_LONG_FOUND);
            if (near_length >= 2 && d <= MAX_SHORT_DISTANCE) sc.short_distance[i] = static_cast<uint16_t>(d);
            if (near_length >= MIN_LONG_CODED) sc.matches.push_back({near_length, d});
            else near_length = 0;
        }
        if (near_length == 0 && span_limit - at >= MIN_LONG_CODED) {
            if (uint32_t d = lz_nearest3(lz, at, v20::LONGER_FROM_1 - 1, OPT_CHAIN3); d != 0) {
                near_length = lz_match_length(lz, at, d, span_limit, MAX_LONG_FOUND);
                sc.matches.push_back({near_length, d});
            }
        }
        MatchResult found[OPT_MAX_MATCHES];
        int count = lz_find_matches(lz, at, span_limit, MAX_LONG_FOUND, near_length, found, OPT_MAX_MATCHES);
        sc.matches.insert(sc.matches.end(), found, found + count);
        uint32_t longest = count > 0 ? found[count - 1].length : near_length;
        if (longest >= OPT_NICE) skip_until = i + longest;
    }
    sc.first_match[n] = static_cast<uint32_t>(sc.matches.size());
    sc.nodes.resize((span + 1) * OPT_STATES);

    // Half the passes start from the tables the decoder holds (or from an
    // estimate), half from the codes the lazy parse would get.
    Prices prices;
    if (enc.state.tables_valid && !enc.state.audio_mode) {
        uint8_t lengths[NORMAL_TABLE_COUNT];
        std::memcpy(lengths, enc.state.main_lengths, MAIN_SYMBOLS);
        std::memcpy(lengths + MAIN_SYMBOLS, enc.state.distance_lengths, DISTANCE_SYMBOLS);
        std::memcpy(lengths + MAIN_SYMBOLS + DISTANCE_SYMBOLS, enc.state.repeat_lengths, REPEAT_SYMBOLS);
        prices_from_lengths(prices, lengths);
    } else {
        estimate_prices(prices, lz.buffer.data() + pos, n);
    }
    uint64_t best_bits = UINT64_MAX;
    NormalBlock trial;
    CoderState best_state;
    size_t block_end = 0;  // chosen by the first pass
    bool optimal = true;
    for (int pass = 0; pass < OPT_PASSES; ++pass) {
        if (pass == OPT_PASSES / 2) prices_from_lengths(prices, lazy_lengths);
        // Each half settles its prices with one arrival per position, then
        // parses once with several.
        const int states = pass % (OPT_PASSES / 2) == OPT_PASSES / 2 - 1 ? OPT_STATES : 1;
        CoderState st = enc.state;
        if (!optimal_pass(lz, sc, sc.nodes, pos, n, span, &block_end, prices, trial, st, states)) continue;
        uint8_t lengths[NORMAL_TABLE_COUNT];
        uint64_t bits = block_bits(trial, st, lengths);
        if (bits < best_bits) {
            best_bits = bits;
            std::swap(blk, trial);
            best_state = st;
        }
        prices_from_lengths(prices, lengths);
    }
    // The other two cover the first n bytes only, so they are taken only
    // when they cost less than the optimal parse of its longer stretch.
    if (lazy_bits < best_bits) {
        std::swap(blk, lazy);
        best_state = lazy_state;
        best_bits = lazy_bits;
        optimal = false;
    }
    // Bytes that hardly pack may do best with no matches at all.
    clear_block(lazy);
    for (size_t i = 0; i < n; ++i) add_item(lazy, Item{lz.buffer[pos + i], 0, 0, 0, 0, 0});
    if (block_bits(lazy, start_state, lazy_lengths) < best_bits) {
        std::swap(blk, lazy);
        best_state = start_state;
        optimal = false;
    }
    enc.state = best_state;
    return optimal ? pos_offset + block_end : stop;
}

// ------------------------------------------------------------ normal blocks

void write_items(BitWriter& bw, const NormalBlock& blk, const CoderState& st) {
    uint16_t main_codes[MAIN_SYMBOLS], distance_codes[DISTANCE_SYMBOLS], repeat_codes[REPEAT_SYMBOLS];
    assign_codes(st.main_lengths, MAIN_SYMBOLS, main_codes);
    assign_codes(st.distance_lengths, DISTANCE_SYMBOLS, distance_codes);
    assign_codes(st.repeat_lengths, REPEAT_SYMBOLS, repeat_codes);
    for (const Item& it : blk.items) {
        bw.put(main_codes[it.symbol], st.main_lengths[it.symbol]);
        if (it.symbol < SYM_REPEAT_DIST) continue;
        if (it.symbol < SYM_SHORT) {
            bw.put(repeat_codes[it.sub], st.repeat_lengths[it.sub]);
            bw.put(it.value1, it.bits1);
        } else if (it.symbol < SYM_TABLES) {
            bw.put(it.value1, it.bits1);
        } else {
            bw.put(it.value1, it.bits1);
            bw.put(distance_codes[it.sub], st.distance_lengths[it.sub]);
            bw.put(it.value2, it.bits2);
        }
    }
}

bool codes_cover(const uint32_t* freq, const uint8_t* lengths, int n) {
    for (int i = 0; i < n; ++i)
        if (freq[i] != 0 && lengths[i] == 0) return false;
    return true;
}

// Writes one block of items: with the tables the decoder holds when they cover
// the block and cost less, else behind a new table block. fresh: the decoder
// reads a table block right away (start of a stand-alone entry), with no
// announcing symbol. cover: new tables give every symbol a code.
void write_normal_block(BitWriter& bw, CoderState& st, NormalBlock& blk, bool fresh, bool tune, bool cover) {
    uint8_t lengths[NORMAL_TABLE_COUNT];
    TableBlock tb;
    uint64_t new_bits = choose_normal_lengths(blk, st, tune, cover, lengths, tb) + (fresh ? 0 : switch_cost(st));

    bool reuse = !fresh && st.tables_valid && !st.audio_mode &&
                 codes_cover(blk.main_freq, st.main_lengths, MAIN_SYMBOLS) &&
                 codes_cover(blk.distance_freq, st.distance_lengths, DISTANCE_SYMBOLS) &&
                 codes_cover(blk.repeat_freq, st.repeat_lengths, REPEAT_SYMBOLS);
    if (reuse) {
        uint64_t old_bits = coded_bits(blk.main_freq, st.main_lengths, MAIN_SYMBOLS) +
                            coded_bits(blk.distance_freq, st.distance_lengths, DISTANCE_SYMBOLS) +
                            coded_bits(blk.repeat_freq, st.repeat_lengths, REPEAT_SYMBOLS);
        reuse = old_bits <= new_bits;
    }
    if (!reuse) {
        if (!fresh) write_switch(bw, st);
        write_table_block(bw, st, tb, lengths, NORMAL_TABLE_COUNT);
    }
    write_items(bw, blk, st);
}

// The average cost of a literal under the tables just used, for the next
// block's choices (in 1/16 bit, kept within 3 to 9 bits).
void update_literal_cost(V20Encoder& enc, const NormalBlock& blk) {
    uint64_t count = 0, bits = 0;
    for (int i = 0; i < 256; ++i) {
        count += blk.main_freq[i];
        bits += static_cast<uint64_t>(blk.main_freq[i]) * enc.state.main_lengths[i];
    }
    if (count < 256) return;
    int32_t cost = static_cast<int32_t>(bits * UNIT / count);
    enc.literal_cost = std::clamp(cost, 3 * UNIT, 9 * UNIT);
}

// Input that must pack to less than this share (in 1/64) of its size in its
// first GIVE_UP_PROBE bytes for the rest to be worth packing.
constexpr size_t GIVE_UP_PROBE = 65536;
constexpr uint64_t GIVE_UP_SHARE = 63;
// A block of at least LITERAL_PROBE bytes that does not pack is followed by
// LITERAL_RUN_BLOCKS blocks coded without match search.
constexpr size_t LITERAL_PROBE = 8192;
constexpr int LITERAL_RUN_BLOCKS = 16;

// Optimally parsed blocks with at most this many items (long matches all
// through, as in runs of one pattern) are gathered, up to OPT_GROUP_ITEMS
// items, and written behind one table block: a symbol that only a later
// block needs (the shorter match at a run's end) would otherwise cost a
// table block of its own.
constexpr size_t OPT_FEW_ITEMS = OPT_BLOCK_BYTES / 128;
constexpr size_t OPT_GROUP_ITEMS = BLOCK_ITEMS;

void append_block(NormalBlock& to, const NormalBlock& from) {
    to.items.insert(to.items.end(), from.items.begin(), from.items.end());
    for (int i = 0; i < MAIN_SYMBOLS; ++i) to.main_freq[i] += from.main_freq[i];
    for (int i = 0; i < DISTANCE_SYMBOLS; ++i) to.distance_freq[i] += from.distance_freq[i];
    for (int i = 0; i < REPEAT_SYMBOLS; ++i) to.repeat_freq[i] += from.repeat_freq[i];
}

// Codes [pos, end) of the matcher's buffer in normal mode. With probe set,
// returns false as soon as the input turns out not to pack.
bool encode_normal(V20Encoder& enc, BitWriter& bw, uint64_t pos, uint64_t end, bool& fresh, bool probe = false) {
    NormalBlock blk, group;
    OptScratch scratch;
    const uint64_t start = pos;
    const uint64_t start_bits = bw.bit_count();
    int literal_blocks = 0;  // blocks still to be coded without match search
    // The last block of an entry in a solid set: tables for any symbol,
    // which the next entry can go on with when it is small.
    auto write = [&](NormalBlock& b, bool last) {
        write_normal_block(bw, enc.state, b, fresh, enc.settings.optimal, enc.solid_set && last);
        update_literal_cost(enc, b);
        bw.drain();
        fresh = false;
    };
    while (pos < end) {
        const uint64_t block_start = pos;
        const bool literal_only = literal_blocks > 0;
        clear_block(blk);
        if (enc.settings.optimal && !literal_only) pos = parse_block_optimal(enc, scratch, pos, end, blk);
        else pos = parse_block(enc, pos, end, blk, literal_only);
        if (enc.settings.optimal && !literal_only && blk.items.size() <= OPT_FEW_ITEMS) {
            if (group.items.size() + blk.items.size() > OPT_GROUP_ITEMS) {
                write(group, false);
                clear_block(group);
            }
            append_block(group, blk);
            if (pos == end) write(group, true);
        } else {
            if (!group.items.empty()) {
                write(group, false);
                clear_block(group);
            }
            const uint64_t bits_before = bw.bit_count();
            write(blk, pos == end);
            // A block of matches that did not pack makes the next few skip the
            // search; a literal-only block that packs ends the skipping.
            bool packs = (bw.bit_count() - bits_before) * 64 <= (pos - block_start) * 8 * GIVE_UP_SHARE;
            if (literal_only) literal_blocks = packs ? 0 : literal_blocks - 1;
            else if (!packs && pos - block_start >= LITERAL_PROBE) literal_blocks = LITERAL_RUN_BLOCKS;
        }
        if (probe && pos - start >= GIVE_UP_PROBE && pos < end) {
            probe = false;
            // A gathered group is not written yet: its cost as it would be.
            uint8_t lengths[NORMAL_TABLE_COUNT];
            const uint64_t pending = group.items.empty() ? 0 : block_bits(group, enc.state, lengths);
            if ((bw.bit_count() - start_bits + pending) * 64 > (pos - start) * 8 * GIVE_UP_SHARE) return false;
        }
    }
    return true;
}

// ------------------------------------------------------------ audio blocks

// Codes entry offsets [pos, end) in audio mode. The matcher's chains are not
// kept up to date (the audio coding never searches), so this runs on a copy
// of the encoder whose matcher is thrown away.
void encode_audio(V20Encoder& enc, BitWriter& bw, uint64_t pos, uint64_t end, int channels, bool& fresh) {
    CoderState& st = enc.state;
    LzMatcher& lz = enc.lz;
    std::vector<uint8_t> codes;
    while (pos < end) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(AUDIO_BLOCK_BYTES, end - pos));
        AudioChannel ch[4];
        std::memcpy(ch, st.channels, sizeof(ch));
        int32_t channel_delta = st.channel_delta;
        int start_channel = st.current_channel < channels ? st.current_channel : 0;
        int c = start_channel;
        uint32_t freq[4][AUDIO_SYMBOLS] = {};
        codes.resize(n);
        for (size_t i = 0; i < n;) {
            if (lz_index(lz, pos + i) >= lz.buffer.size()) {
                // Lets the history slide past positions the chains never got.
                lz.inserted = std::max(lz.inserted, lz.buffer.size());
                lz_read_until(lz, pos + i, pos + i + lz.read_piece);
            }
            const uint8_t* buf = lz.buffer.data() + lz_index(lz, pos + i);
            size_t run = std::min(n - i, lz.buffer.size() - lz_index(lz, pos + i));
            for (size_t k = 0; k < run; ++k, ++i) {
                uint8_t code = audio_encode_byte(ch[c], channel_delta, buf[k]);
                codes[i] = code;
                freq[c][code]++;
                if (++c == channels) c = 0;
            }
        }
        uint32_t all_freq[MAX_TABLE_COUNT];
        int ends[4];
        for (int j = 0; j < channels; ++j) {
            freq[j][AUDIO_SYM_TABLES] += 1;
            std::memcpy(all_freq + j * AUDIO_SYMBOLS, freq[j], sizeof(freq[j]));
            ends[j] = (j + 1) * AUDIO_SYMBOLS;
        }
        int count = channels * AUDIO_SYMBOLS;
        uint8_t lengths[MAX_TABLE_COUNT];
        TableBlock tb;
        choose_lengths(st, all_freq, count, ends, channels, true, channels, enc.settings.optimal, lengths, tb);
        if (!fresh) write_switch(bw, st);
        fresh = false;
        write_table_block(bw, st, tb, lengths, count);
        uint16_t table_codes[4][AUDIO_SYMBOLS];
        for (int j = 0; j < channels; ++j) assign_codes(st.audio_lengths[j], AUDIO_SYMBOLS, table_codes[j]);
        c = st.current_channel;
        for (size_t i = 0; i < n; ++i) {
            uint8_t code = codes[i];
            bw.put(table_codes[c][code], st.audio_lengths[c][code]);
            if (++c == channels) c = 0;
        }
        std::memcpy(st.channels, ch, sizeof(ch));
        st.channel_delta = channel_delta;
        st.current_channel = c;
        pos += n;
        bw.drain();
    }
}

}  // namespace

bool audio_applies(const WavLayout& wav, uint64_t size) {
    return wav.channels >= 1 && wav.channels <= 4 && wav.data_offset + wav.data_size <= size && wav.data_size > 0;
}

void encoder_start_entry(V20Encoder& enc, bool solid) {
    if (!solid) {
        enc.state = CoderState{};
        enc.literal_cost = 8 * 16;
    }
}

EntryCoding encode_entry_normal(V20Encoder& enc, const EntryInput& input, uint64_t size, bool solid, PackedSink& sink,
                                bool may_give_up) {
    lz_begin_entry(enc.lz, input, size, solid);
    BitWriter bw(sink);
    bool fresh = !solid;
    if (!encode_normal(enc, bw, 0, size, fresh, may_give_up && !solid)) {
        // Stand-alone, so nothing later refers to this entry's positions.
        enc.lz.inserted = std::max(enc.lz.inserted, enc.lz.buffer.size());
        bw.drain(true);
        return EntryCoding::incompressible;
    }
    bw.flush();
    lz_insert_until(enc.lz, lz_index(enc.lz, size));
    return EntryCoding::normal;
}

void encode_entry_audio(V20Encoder& enc, const EntryInput& input, uint64_t size, bool solid, const WavLayout& wav,
                        PackedSink& sink) {
    lz_begin_entry(enc.lz, input, size, solid);
    BitWriter bw(sink);
    bool fresh = !solid;
    encode_normal(enc, bw, 0, wav.data_offset, fresh);
    encode_audio(enc, bw, wav.data_offset, size, wav.channels, fresh);
    bw.flush();
}

EntryCoding encode_entry(V20Encoder& enc, const uint8_t* data, size_t size, bool solid, const WavLayout* wav,
                         std::vector<uint8_t>& out, bool may_give_up) {
    encoder_start_entry(enc, solid);
    bool try_audio = wav != nullptr && audio_applies(*wav, size);
    std::vector<uint8_t> audio_out;
    CoderState audio_state;
    if (try_audio) {
        V20Encoder trial = enc;
        MemoryInput m{data, size};
        PackedSink s = vector_sink(audio_out);
        encode_entry_audio(trial, m.input(), size, solid, *wav, s);
        audio_state = trial.state;
        // The normal coding starts from the literal estimate the audio
        // coding's leading normal part left behind.
        enc.literal_cost = trial.literal_cost;
    }
    size_t normal_start = out.size();
    MemoryInput m{data, size};
    PackedSink s = vector_sink(out);
    if (encode_entry_normal(enc, m.input(), size, solid, s, may_give_up && !try_audio) ==
        EntryCoding::incompressible) {
        out.resize(normal_start);
        return EntryCoding::incompressible;
    }
    if (try_audio && audio_out.size() < out.size() - normal_start) {
        out.resize(normal_start);
        out.insert(out.end(), audio_out.begin(), audio_out.end());
        enc.state = audio_state;
        return EntryCoding::audio;
    }
    return EntryCoding::normal;
}

}  // namespace pack
