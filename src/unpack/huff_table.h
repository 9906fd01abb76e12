// Canonical prefix-code tables of the 2.0 method: building them from code
// lengths and decoding one symbol, by the limit rule and by a one-step look-up.
#pragma once

#include <cstdint>

#include "unpack/decoder_state.h"

// Fills table from n code lengths (only the low 4 bits count; 0 = no code).
// symbols entries that no code reaches hold 0. Also builds the look-up.
void build_huff_table(const uint8_t* lengths, HuffTable& table, uint32_t n);

// The code length for a 16-bit window h (lowest bit ignored): the smallest L
// from 1 to 14 with h < limit[L], else 15. The scan may start at any length
// known not to exceed the result.
inline uint32_t huff_code_length(const HuffTable& t, uint32_t h, uint32_t start = 1) {
    h &= 0xFFFE;
    for (uint32_t len = start; len < 15; ++len)
        if (h < t.limit[len])
            return len;
    return 15;
}

// A look-up entry without a symbol: the top bit, and the length the limit
// scan may start from.
inline constexpr uint32_t FAST_SCAN = 0x80000000u;

// The symbol of the code of length len at the front of h. An index past the
// alphabet yields symbols[0].
inline uint32_t huff_symbol_at(const HuffTable& t, uint32_t h, uint32_t len) {
    h &= 0xFFFE;
    uint32_t k = ((h - t.limit[len - 1]) >> (16 - len)) + t.first_index[len];
    if (k >= t.symbol_count)
        k = 0;
    return t.symbols[k];
}

// Reads one code by the limit rule (the reference).
inline uint32_t decode_symbol_reference(const HuffTable& t) {
    uint32_t h = peek_bits();
    uint32_t len = huff_code_length(t, h);
    skip_bits(int(len));
    return huff_symbol_at(t, h, len);
}

// Reads one code; same result as decode_symbol_reference for every input.
inline uint32_t decode_symbol_fast(const HuffTable& t) {
    uint32_t h = peek_bits();
    uint32_t e = t.fast[h >> (16 - FAST_BITS)];
    if ((e & FAST_SCAN) == 0) {
        skip_bits(int(e & 15));
        return e >> 4;
    }
    uint32_t len = huff_code_length(t, h, e & 15);
    skip_bits(int(len));
    return huff_symbol_at(t, h, len);
}
