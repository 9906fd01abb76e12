// Building the decode tables of the 2.0 method's prefix codes.
#include "unpack/huff_table.h"

#include <algorithm>
#include <cstring>

namespace {

uint32_t entry_for(const uint32_t* values, uint32_t symbol, uint32_t len) {
    return (values ? values[symbol] : plain_entry(symbol)) | len;
}

// The unclamped symbol index of window h with code length len.
uint32_t symbol_index(const HuffTableHead& t, uint32_t h, uint32_t len) {
    return ((h - t.limit[len - 1]) >> (16 - len)) + t.first_index[len];
}

// Writes entry to span consecutive entries from at; span is a power of two.
inline void fill_entries(uint32_t* at, uint32_t span, uint32_t entry) {
    if (span >= 4) {
        const uint32_t four[4] = {entry, entry, entry, entry};
        for (uint32_t r = 0; r < span; r += 4)
            std::memcpy(at + r, four, sizeof four);
    } else {
        at[0] = entry;
        if (span == 2)
            at[1] = entry;
    }
}

}  // namespace

uint32_t huff_entry_by_rule_in(const HuffTableHead& t, const uint32_t* symbols, uint32_t h, const uint32_t* values) {
    uint32_t len = huff_code_length(t, h);
    return entry_for(values, huff_symbol_at(t, symbols, h, len), len);
}

void build_huff_table_in(const uint8_t* lengths, HuffTableHead& table, uint32_t* symbols, uint32_t* entries,
                         HuffTableShape shape, uint32_t n, const uint32_t* values) {
    // The first level's bits and size, the subtables' bits.
    const uint32_t main_bits = shape.lookup_bits;
    const uint32_t main_size = 1u << main_bits;
    const uint32_t sub_bits = 15 - main_bits;
    if (n > shape.max_symbols)
        n = shape.max_symbols;
    // Lengths are counted, and symbols placed below, in four quarters of the
    // alphabet at once: one running count would make each step wait for
    // the store of the one before whenever neighbours share a length.
    const uint32_t quarter = n / 4;
    const uint8_t* part[4] = {lengths, lengths + quarter, lengths + 2 * quarter, lengths + 3 * quarter};
    const uint32_t last_part_size = n - 3 * quarter;
    uint32_t part_count[4][16] = {};
    for (uint32_t i = 0; i < quarter; ++i)
        for (uint32_t j = 0; j < 4; ++j)
            ++part_count[j][part[j][i] & 15];
    for (uint32_t i = quarter; i < last_part_size; ++i)
        ++part_count[3][part[3][i] & 15];
    uint32_t count[16];
    for (uint32_t len = 0; len < 16; ++len)
        count[len] = part_count[0][len] + part_count[1][len] + part_count[2][len] + part_count[3][len];
    count[0] = 0;

    table.limit[0] = 0;
    table.first_index[0] = 0;
    uint32_t next_code = 0;
    for (uint32_t len = 1; len < 16; ++len) {
        next_code = 2 * (next_code + count[len]);
        uint32_t limit = next_code << (15 - len);
        table.limit[len] = limit > 0xFFFF ? 0xFFFF : limit;
        table.first_index[len] = table.first_index[len - 1] + count[len - 1];
    }
    table.symbol_count = n;
    const uint32_t coded = table.first_index[15] + count[15];

    // Symbols by code length, then symbol. Those without a code go behind
    // the coded ones, which keeps the placing free of branches, and are
    // cleared there: codes that an incomplete length set leaves unassigned
    // decode as symbol 0.
    uint32_t next[4][16];
    std::memcpy(next[0], table.first_index, sizeof next[0]);
    next[0][0] = coded;
    for (uint32_t j = 1; j < 4; ++j)
        for (uint32_t len = 0; len < 16; ++len)
            next[j][len] = next[j - 1][len] + part_count[j - 1][len];
    for (uint32_t i = 0; i < quarter; ++i)
        for (uint32_t j = 0; j < 4; ++j)
            symbols[next[j][part[j][i] & 15]++] = j * quarter + i;
    for (uint32_t i = quarter; i < last_part_size; ++i)
        symbols[next[3][part[3][i] & 15]++] = 3 * quarter + i;
    std::memset(symbols + coded, 0, (shape.max_symbols - coded) * sizeof(uint32_t));

    // The look-up follows the limit rule itself, so incomplete and overfull
    // (damaged) length sets decode as the rule says. For a prefix code
    // (complete or not) the codes are consecutive in the order of their
    // lengths and symbols, so each code owns a block of windows: those of
    // at most main_bits bits a block of entries, the longer ones a block
    // in their prefix's subtable. Those are filled directly; the prefixes
    // past the last code, and every prefix of an overfull set, go through
    // the general walk below. There the code length never falls as the
    // window grows, so the lengths at both ends of each prefix's range are
    // found by walking the limits upward once. When both ends have the same
    // length L and L <= main_bits, the symbol depends only on the top L
    // bits: limit[L - 1] is a multiple of 2^(16 - L) whenever a code of
    // length L lies above it. A longer L still gives one symbol for the
    // whole prefix when the index stays put or only meets entries that read
    // as the same symbol; other prefixes get a subtable over the remaining
    // bits.
    const uint32_t shift = 16 - main_bits;
    const uint32_t sub_size = 1u << sub_bits;
    uint32_t next_sub = main_size;
    uint32_t first_prefix = 0;
    uint64_t kraft = 0;  // code space used, in units of 2^-16
    for (uint32_t len = 1; len < 16; ++len)
        kraft += uint64_t(count[len]) << (16 - len);
    table.by_rule = 0;
    if (kraft <= 0x10000) {
        // Where the next code starts, left-aligned to 15 bits.
        uint32_t pos = 0;
        for (uint32_t len = 1; len <= main_bits; ++len) {
            const uint32_t span = 1u << (main_bits - len);
            uint32_t* at = entries + (pos >> sub_bits);
            for (uint32_t k = table.first_index[len]; k < table.first_index[len] + count[len]; ++k, at += span)
                fill_entries(at, span, entry_for(values, symbols[k], len));
            pos += count[len] << (15 - len);
        }
        uint32_t sub_start = 0;
        bool room = true;
        for (uint32_t len = main_bits + 1; len < 16 && room; ++len) {
            const uint32_t span = 1u << (15 - len);
            for (uint32_t k = table.first_index[len]; k < table.first_index[len] + count[len]; ++k, pos += span) {
                if ((pos & (sub_size - 1)) == 0) {
                    // The first code of a prefix: its subtable, if there is room.
                    if (next_sub + sub_size > shape.capacity) {
                        room = false;
                        break;
                    }
                    sub_start = next_sub;
                    next_sub += sub_size;
                    entries[pos >> sub_bits] = ENTRY_SUBTABLE | sub_start << ENTRY_VALUE_SHIFT;
                }
                fill_entries(entries + sub_start + (pos & (sub_size - 1)), span,
                             entry_for(values, symbols[k], len));
            }
        }
        // The windows of the last subtable past the last code read by the rule.
        if (room && (pos & (sub_size - 1)) != 0) {
            for (uint32_t i = pos & (sub_size - 1); i < sub_size; ++i)
                entries[sub_start + i] = huff_entry_by_rule_in(table, symbols, ((pos & ~(sub_size - 1)) | i) << 1, values);
            pos = (pos | (sub_size - 1)) + 1;
        }
        first_prefix = pos >> sub_bits;
    }
    uint32_t low_len = 1;
    uint32_t high_len = 1;
    for (uint32_t prefix = first_prefix; prefix < main_size; ++prefix) {
        uint32_t low = prefix << shift;
        uint32_t high = (low | ((1u << shift) - 1)) & 0xFFFE;
        while (low_len < 15 && low >= table.limit[low_len])
            ++low_len;
        while (high_len < 15 && high >= table.limit[high_len])
            ++high_len;
        if (low_len == 15) {
            // Past the last code (an incomplete set, or none at all) every
            // window reads a 15-bit code whose index grows by 2^(shift - 1)
            // per prefix: symbol 0 while the whole prefix stays inside the
            // alphabet, symbols[0] once it has left it. Runs of such prefixes
            // are filled at once.
            const uint32_t step = 1u << (shift - 1);
            uint32_t k_low = symbol_index(table, low, 15);
            uint32_t k_high = symbol_index(table, high, 15);
            uint32_t run = 0;
            if (k_low >= n)
                run = main_size - prefix;
            else if (k_low >= coded && k_high < n)
                run = std::min((n - 1 - k_high) / step + 1, main_size - prefix);
            if (run != 0) {
                uint32_t entry = entry_for(values, huff_symbol_at(table, symbols, low, 15), 15);
                std::fill_n(entries + prefix, run, entry);
                prefix += run - 1;
                continue;
            }
        }
        if (low_len == high_len) {
            uint32_t len = low_len;
            bool uniform = len <= main_bits;
            if (!uniform) {
                uint32_t k_low = symbol_index(table, low, len);
                uint32_t k_high = symbol_index(table, high, len);
                // Past the alphabet every index reads symbols[0]; between the
                // coded symbols and the end of the alphabet every one reads 0.
                uniform = k_low == k_high || k_low >= n || (k_low >= coded && k_high < n);
            }
            if (uniform) {
                entries[prefix] = entry_for(values, huff_symbol_at(table, symbols, low, len), len);
                continue;
            }
        }
        if (next_sub + sub_size > shape.capacity) {
            entries[prefix] = ENTRY_SUBTABLE;  // no room: the limit rule decides
            ++table.by_rule;
            continue;
        }
        entries[prefix] = ENTRY_SUBTABLE | next_sub << ENTRY_VALUE_SHIFT;
        uint32_t len = low_len;
        for (uint32_t i = 0; i < sub_size; ++i) {
            uint32_t h = low | i << 1;
            while (len < 15 && h >= table.limit[len])
                ++len;
            entries[next_sub + i] = entry_for(values, huff_symbol_at(table, symbols, h, len), len);
        }
        next_sub += sub_size;
    }
    // Subtable room that this build left unused keeps old entries; clear it
    // so the table's contents follow from the lengths alone (beyond the
    // room the last build used, it is clear already).
    const uint32_t used = std::min(table.entries_end, shape.capacity);
    if (used > next_sub)
        std::memset(entries + next_sub, 0, (used - next_sub) * sizeof(uint32_t));
    table.entries_end = next_sub;
}

