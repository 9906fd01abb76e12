// Canonical prefix-code tables of the 2.0 method: building them from code
// lengths and decoding one symbol, by the limit rule and by a two-level
// look-up whose entries carry what the decoder needs for the symbol.
#pragma once

#include <cstdint>

#include "unpack/decoder_state.h"

// A look-up entry: bits 0-3 the code length, bits 4-8 the number of extra
// bits that follow the code, then flags, and from bit 12 the entry's value
// (a literal byte, a length or distance base, a symbol, or a subtable start).
inline constexpr uint32_t ENTRY_LENGTH_MASK = 15;
inline constexpr uint32_t ENTRY_EXTRA_SHIFT = 4;
inline constexpr uint32_t ENTRY_LITERAL = 1u << 9;
inline constexpr uint32_t ENTRY_BASE = 1u << 10;  // value is a base, extra bits are added to it
inline constexpr uint32_t ENTRY_SUBTABLE = 1u << 11;
inline constexpr uint32_t ENTRY_VALUE_SHIFT = 12;

// What a symbol's entries hold besides the code length: values[symbol] when
// the caller gives a values array, else the symbol itself as the value.
constexpr uint32_t plain_entry(uint32_t symbol) { return symbol << ENTRY_VALUE_SHIFT; }
constexpr uint32_t entry_extra(uint32_t e) { return (e >> ENTRY_EXTRA_SHIFT) & 31; }
constexpr uint32_t entry_value(uint32_t e) { return e >> ENTRY_VALUE_SHIFT; }

// A table type's sizes, for the one builder of all types (the installer is
// kept small): the first level's bits, the alphabet, the entries' room.
struct HuffTableShape {
    uint32_t lookup_bits;
    uint32_t max_symbols;
    uint32_t capacity;
};

void build_huff_table_in(const uint8_t* lengths, HuffTableHead& table, uint32_t* symbols, uint32_t* entries,
                         HuffTableShape shape, uint32_t n, const uint32_t* values);

// Fills table from n code lengths (only the low 4 bits count; 0 = no code).
// symbols entries that no code reaches hold 0. Also builds the look-up, with
// values[symbol] (or plain_entry(symbol) when values is null) in each entry.
template <class Table>
inline void build_huff_table(const uint8_t* lengths, Table& t, uint32_t n, const uint32_t* values = nullptr) {
    build_huff_table_in(lengths, t, t.symbols, t.entries,
                        {uint32_t(Table::LOOKUP_BITS), Table::MAX_SYMBOLS, Table::ENTRIES}, n, values);
}

// The code length for a 16-bit window h (lowest bit ignored): the smallest L
// from 1 to 14 with h < limit[L], else 15. The scan may start at any length
// known not to exceed the result.
inline uint32_t huff_code_length(const HuffTableHead& t, uint32_t h, uint32_t start = 1) {
    h &= 0xFFFE;
    for (uint32_t len = start; len < 15; ++len)
        if (h < t.limit[len])
            return len;
    return 15;
}

// The symbol of the code of length len at the front of h. An index past the
// alphabet yields symbols[0].
inline uint32_t huff_symbol_at(const HuffTableHead& t, const uint32_t* symbols, uint32_t h, uint32_t len) {
    h &= 0xFFFE;
    uint32_t k = ((h - t.limit[len - 1]) >> (16 - len)) + t.first_index[len];
    if (k >= t.symbol_count)
        k = 0;
    return symbols[k];
}
template <class Table>
inline uint32_t huff_symbol_at(const Table& t, uint32_t h, uint32_t len) {
    return huff_symbol_at(t, t.symbols, h, len);
}

// The entry for window h by the limit rule (also the look-up's answer for
// the rare prefixes left without a subtable); kept out of the loops that
// look codes up.
uint32_t huff_entry_by_rule_in(const HuffTableHead& t, const uint32_t* symbols, uint32_t h, const uint32_t* values);
template <class Table>
inline uint32_t huff_entry_by_rule(const Table& t, uint32_t h, const uint32_t* values) {
    return huff_entry_by_rule_in(t, t.symbols, h, values);
}

// The entry for the 16-bit window h; same symbol and length as the limit rule.
template <class Table>
inline uint32_t huff_lookup(const Table& t, uint32_t h, const uint32_t* values) {
    uint32_t e = t.entries[h >> (16 - Table::LOOKUP_BITS)];
    if (e & ENTRY_SUBTABLE) [[unlikely]] {
        uint32_t start = entry_value(e);
        if (start == 0)
            return huff_entry_by_rule(t, h, values);
        e = t.entries[start + ((h >> 1) & ((1u << Table::SUBTABLE_BITS) - 1))];
    }
    return e;
}

// The same for a table whose every subtable exists (by_rule == 0): no call
// out of the caller's loop.
template <class Table>
inline uint32_t huff_lookup_built(const Table& t, uint32_t h) {
    uint32_t e = t.entries[h >> (16 - Table::LOOKUP_BITS)];
    if (e & ENTRY_SUBTABLE) [[unlikely]]
        e = t.entries[entry_value(e) + ((h >> 1) & ((1u << Table::SUBTABLE_BITS) - 1))];
    return e;
}

// Reads one code by the limit rule (the reference).
template <class Table>
inline uint32_t decode_symbol_reference(const Table& t) {
    uint32_t h = peek_bits();
    uint32_t len = huff_code_length(t, h);
    skip_bits(int(len));
    return huff_symbol_at(t, h, len);
}

// Reads one code of a table built without values; same result as
// decode_symbol_reference for every input.
template <class Table>
inline uint32_t decode_symbol_fast(const Table& t) {
    uint32_t e = huff_lookup(t, peek_bits(), nullptr);
    skip_bits(int(e & ENTRY_LENGTH_MASK));
    return entry_value(e);
}
