// Building the decode tables of the 2.0 method's prefix codes.
#include "unpack/huff_table.h"

#include <cstring>

void build_huff_table(const uint8_t* lengths, HuffTable& table, uint32_t n) {
    if (n > MAX_HUFF_SYMBOLS)
        n = MAX_HUFF_SYMBOLS;
    uint32_t count[16] = {};
    for (uint32_t i = 0; i < n; ++i)
        ++count[lengths[i] & 15];
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

    // Codes that an incomplete length set leaves unassigned decode as symbol 0.
    std::memset(table.symbols, 0, sizeof table.symbols);
    uint32_t next[16];
    std::memcpy(next, table.first_index, sizeof next);
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t len = lengths[i] & 15;
        if (len != 0)
            table.symbols[next[len]++] = i;
    }
    table.symbol_count = n;

    constexpr uint32_t shift = 16 - FAST_BITS;
    uint64_t kraft = 0;  // code space used, in units of 2^-16
    for (uint32_t len = 1; len < 16; ++len)
        kraft += uint64_t(count[len]) << (16 - len);
    if (kraft <= 0x10000) {
        // A prefix code (complete or not): the codes of length L are the
        // consecutive L-bit values from limit[L - 1], in symbol order, so each
        // code of at most FAST_BITS bits owns a block of look-up entries.
        // Entries no such code owns lie above all of them: their codes are
        // longer, and the limit search starts past FAST_BITS.
        for (uint32_t& e : table.fast)
            e = FAST_SCAN | (FAST_BITS + 1);
        for (uint32_t len = 1; len <= uint32_t(FAST_BITS); ++len) {
            uint32_t code = table.limit[len - 1] >> (16 - len);
            uint32_t span = 1u << (FAST_BITS - len);
            for (uint32_t k = table.first_index[len]; k < table.first_index[len] + count[len]; ++k, ++code) {
                uint32_t entry = table.symbols[k] << 4 | len;
                for (uint32_t r = 0; r < span; ++r)
                    table.fast[code * span + r] = entry;
            }
        }
        return;
    }
    // Overfull lengths (damaged data): the limits are clamped, so follow the
    // limit rule itself. The code length never falls as h grows, so when both
    // ends of a prefix's range have the same length L (at most FAST_BITS) the
    // whole range has it, and the symbol depends only on the top L bits:
    // limit[L - 1] is a multiple of 2^(16 - L) whenever a code of length L
    // lies above it. The lengths at both ends are found by walking the
    // limits upward once.
    uint32_t low_len = 1;
    uint32_t high_len = 1;
    for (uint32_t prefix = 0; prefix < (1u << FAST_BITS); ++prefix) {
        uint32_t low = prefix << shift;
        uint32_t high = (low | ((1u << shift) - 1)) & 0xFFFE;
        while (low_len < 15 && low >= table.limit[low_len])
            ++low_len;
        while (high_len < 15 && high >= table.limit[high_len])
            ++high_len;
        if (low_len <= uint32_t(FAST_BITS) && low_len == high_len)
            table.fast[prefix] = huff_symbol_at(table, low, low_len) << 4 | low_len;
        else
            table.fast[prefix] = FAST_SCAN | low_len;
    }
}
