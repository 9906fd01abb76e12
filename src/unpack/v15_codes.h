// The fixed codes of the 1.5 method: seven threshold codes read by
// decode_fixed_code and the two short code tables, each with a scanning form
// that follows the code's definition and a look-up built from it.
#pragma once

#include <array>
#include <cstdint>

#include "unpack/decoder_state.h"

struct FixedCode {
    uint32_t start_bits;
    uint32_t thresholds[12];  // ends with 0xFFFF
    uint32_t bases[13];       // by bit count 0..12
};

inline constexpr FixedCode LENGTH_CODE_2 = {
    2, {0x8000, 0xA000, 0xC000, 0xD000, 0xE000, 0xEA00, 0xEE00, 0xF000, 0xF200, 0xF200, 0xFFFF},
    {0, 0, 0, 2, 3, 5, 7, 11, 16, 20, 24, 32, 32}};
inline constexpr FixedCode LENGTH_CODE_3 = {
    3, {0xA000, 0xC000, 0xD000, 0xE000, 0xEA00, 0xEE00, 0xF000, 0xF200, 0xF240, 0xFFFF},
    {0, 0, 0, 0, 5, 7, 9, 13, 18, 22, 26, 34, 36}};
inline constexpr FixedCode PLACE_CODE_4 = {
    4, {0x8000, 0xC000, 0xE000, 0xF200, 0xF200, 0xF200, 0xF200, 0xF200, 0xFFFF},
    {0, 0, 0, 0, 0, 8, 16, 24, 33, 33, 33, 33, 33}};
inline constexpr FixedCode PLACE_CODE_5A = {
    5, {0x2000, 0xC000, 0xE000, 0xF000, 0xF200, 0xF200, 0xF7E0, 0xFFFF},
    {0, 0, 0, 0, 0, 0, 4, 44, 60, 76, 80, 80, 127}};
inline constexpr FixedCode PLACE_CODE_5B = {
    5, {0x1000, 0x2400, 0x8000, 0xC000, 0xFA00, 0xFFFF, 0xFFFF, 0xFFFF},
    {0, 0, 0, 0, 0, 0, 2, 7, 53, 117, 233, 0, 0}};
inline constexpr FixedCode PLACE_CODE_6 = {
    6, {0x0800, 0x2400, 0xEE00, 0xFE80, 0xFFFF, 0xFFFF, 0xFFFF},
    {0, 0, 0, 0, 0, 0, 0, 2, 16, 218, 251, 0, 0}};
inline constexpr FixedCode PLACE_CODE_8 = {
    8, {0xFF00, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF},
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 0, 0, 0}};

struct FixedValue {
    uint32_t value;
    uint32_t bits;
};

// The code's definition: for the 16-bit window h, the bit count and value.
constexpr FixedValue fixed_code_scan(const FixedCode& code, uint32_t h) {
    uint32_t n = h & 0xFFF0;
    uint32_t i = 0;
    uint32_t bits = code.start_bits;
    while (code.thresholds[i] <= n) {
        ++i;
        ++bits;
    }
    uint32_t below = i == 0 ? 0 : code.thresholds[i - 1];
    return {((n - below) >> (16 - bits)) + code.bases[bits], bits};
}

// Look-up by the 12 bits the code looks at: value | bits << 12.
using FixedLookup = std::array<uint16_t, 4096>;

constexpr FixedLookup make_fixed_lookup(const FixedCode& code) {
    FixedLookup table{};
    for (uint32_t i = 0; i < 4096; ++i) {
        FixedValue v = fixed_code_scan(code, i << 4);
        table[i] = uint16_t(v.value | v.bits << 12);
    }
    return table;
}

// PLACE_CODE_8 worked out instead of looked up, as make_fixed_lookup's
// entry for the 16-bit window h: 8 bits give places 0-254, 11111111 and one
// more bit 255 or 256.
constexpr uint32_t place8_entry(uint32_t h) {
    uint32_t n = (h >> 8) & 0xFF;
    uint32_t top = n == 0xFF;
    return (n + (top & (h >> 7))) | (8 + top) << 12;
}

// Short codes: the first pattern, in code order, that equals the leading bits
// of the byte wins. toggle sets the length of the 101/1010 pattern.
struct ShortPattern {
    uint32_t bits;
    uint32_t pattern;
};

constexpr ShortPattern short_pattern(int set, uint32_t toggle, uint32_t code) {
    constexpr ShortPattern SET1[15] = {{1, 0b0},        {3, 0b101},     {4, 0b1101},   {4, 0b1110},
                                       {5, 0b11110},    {6, 0b111110},  {7, 0b1111110}, {8, 0b11111110},
                                       {8, 0b11111111}, {4, 0b1100},    {4, 0b1000},   {5, 0b10010},
                                       {6, 0b100110},   {6, 0b100111},  {4, 0b1011}};
    constexpr ShortPattern SET2[15] = {{2, 0b00},       {3, 0b010},     {3, 0b011},    {3, 0b101},
                                       {4, 0b1101},     {4, 0b1110},    {5, 0b11110},  {6, 0b111110},
                                       {6, 0b111111},   {4, 0b1100},    {4, 0b1000},   {5, 0b10010},
                                       {6, 0b100110},   {6, 0b100111},  {4, 0b1011}};
    ShortPattern p = set == 1 ? SET1[code] : SET2[code];
    uint32_t toggled_code = set == 1 ? 1 : 3;
    if (code == toggled_code && toggle)
        p = {4, 0b1010};
    return p;
}

struct ShortCode {
    uint32_t code;
    uint32_t bits;
};

constexpr ShortCode short_code_scan(int set, uint32_t toggle, uint32_t byte) {
    for (uint32_t code = 0; code < 15; ++code) {
        ShortPattern p = short_pattern(set, toggle, code);
        if ((byte >> (8 - p.bits)) == p.pattern)
            return {code, p.bits};
    }
    return {0, 8};  // not reached: both sets are complete prefix codes
}

// [set - 1][toggle][byte] = code | bits << 4.
using ShortLookup = std::array<std::array<std::array<uint8_t, 256>, 2>, 2>;

constexpr ShortLookup make_short_lookup() {
    ShortLookup table{};
    for (int set = 1; set <= 2; ++set)
        for (uint32_t toggle = 0; toggle < 2; ++toggle)
            for (uint32_t byte = 0; byte < 256; ++byte) {
                ShortCode c = short_code_scan(set, toggle, byte);
                table[set - 1][toggle][byte] = uint8_t(c.code | c.bits << 4);
            }
    return table;
}
