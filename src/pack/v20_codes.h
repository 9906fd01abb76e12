// The 2.0 method's code space as the encoder sees it: alphabet sizes, the
// length and distance slot tables, and the length adjustments the decoder
// applies by distance. An encoder that maps values through these gets back
// exactly what the decoder's tables produce.
#pragma once

#include <cstdint>

namespace pack {

inline constexpr int MAIN_SYMBOLS = 298;
inline constexpr int DISTANCE_SYMBOLS = 48;
inline constexpr int REPEAT_SYMBOLS = 28;
inline constexpr int AUDIO_SYMBOLS = 257;
inline constexpr int LENGTH_CODE_SYMBOLS = 19;
inline constexpr int NORMAL_TABLE_COUNT = MAIN_SYMBOLS + DISTANCE_SYMBOLS + REPEAT_SYMBOLS;  // 374
inline constexpr int MAX_TABLE_COUNT = 4 * AUDIO_SYMBOLS;                                     // 1028

inline constexpr int SYM_REPEAT_LAST = 256;
inline constexpr int SYM_REPEAT_DIST = 257;  // 257..260
inline constexpr int SYM_SHORT = 261;        // 261..268
inline constexpr int SYM_TABLES = 269;
inline constexpr int SYM_LONG = 270;  // 270..297
inline constexpr int AUDIO_SYM_TABLES = 256;

inline constexpr uint8_t LENGTH_BASES[28] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  10,  12,  14,  16,  20,
                                             24, 28, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224};
inline constexpr uint8_t LENGTH_EXTRA_BITS[28] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,
                                                  2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
inline constexpr uint32_t DISTANCE_BASES[48] = {
    0,      1,      2,      3,      4,      6,      8,      12,     16,     24,     32,     48,
    64,     96,     128,    192,    256,    384,    512,    768,    1024,   1536,   2048,   3072,
    4096,   6144,   8192,   12288,  16384,  24576,  32768,  49152,  65536,  98304,  131072, 196608,
    262144, 327680, 393216, 458752, 524288, 589824, 655360, 720896, 786432, 851968, 917504, 983040};
inline constexpr uint8_t DISTANCE_EXTRA_BITS[48] = {0,  0,  0,  0,  1,  1,  2,  2,  3,  3,  4,  4,
                                                    5,  5,  6,  6,  7,  7,  8,  8,  9,  9,  10, 10,
                                                    11, 11, 12, 12, 13, 13, 14, 14, 15, 15, 16, 16,
                                                    16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16};
inline constexpr uint8_t SHORT_DISTANCE_BASES[8] = {0, 4, 8, 16, 32, 64, 128, 192};
inline constexpr uint8_t SHORT_DISTANCE_EXTRA_BITS[8] = {2, 2, 3, 4, 5, 6, 6, 6};

// Bounds of what one item can carry.
inline constexpr uint32_t MAX_MATCH_DISTANCE = 0x100000 - 1;
inline constexpr uint32_t MAX_SHORT_DISTANCE = 256;
inline constexpr uint32_t MIN_LONG_CODED = 3;     // LENGTH_BASES[0] + 3
inline constexpr uint32_t MAX_LONG_CODED = 258;   // LENGTH_BASES[27] + 3 + 31
inline constexpr uint32_t MIN_REPEAT_CODED = 2;   // LENGTH_BASES[0] + 2
inline constexpr uint32_t MAX_REPEAT_CODED = 257;

// Extra bytes the decoder adds to a long match's coded length.
inline uint32_t long_length_bonus(uint32_t distance) {
    return (distance >= 0x2000 ? 1u : 0u) + (distance >= 0x40000 ? 1u : 0u);
}
// Extra bytes the decoder adds to a repeated-distance match's coded length.
inline uint32_t repeat_length_bonus(uint32_t distance) {
    return (distance >= 0x101 ? 1u : 0u) + (distance >= 0x2000 ? 1u : 0u) + (distance >= 0x40000 ? 1u : 0u);
}

// Slot of a length value v (coded length minus its base offset, 0..255).
inline int length_slot(uint32_t v) {
    int slot = v < 8 ? static_cast<int>(v) : 8;
    while (slot < 27 && LENGTH_BASES[slot + 1] <= v) ++slot;
    return slot;
}
// Slot of a distance value v (distance minus 1, 0..0xFFFFF).
int distance_slot(uint32_t v);
// Slot of a short distance value v (distance minus 1, 0..255).
inline int short_distance_slot(uint32_t v) {
    int slot = 0;
    while (slot < 7 && SHORT_DISTANCE_BASES[slot + 1] <= v) ++slot;
    return slot;
}

}  // namespace pack
