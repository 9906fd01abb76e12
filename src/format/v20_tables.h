// The 2.0 method's code space, shared by its decoder and its encoder: the
// alphabet sizes, the symbols with a fixed meaning, the length and distance
// slot tables, and the extra length a match gets at long distances.
#pragma once

#include <cstdint>

namespace v20 {

inline constexpr int MAIN_SYMBOLS = 298;
inline constexpr int DISTANCE_SYMBOLS = 48;
inline constexpr int REPEAT_SYMBOLS = 28;
inline constexpr int AUDIO_SYMBOLS = 257;
inline constexpr int LENGTH_CODE_SYMBOLS = 19;
inline constexpr int MAX_CHANNELS = 4;

// Main alphabet: 0..255 literals, then these.
inline constexpr int SYM_REPEAT_LAST = 256;  // the last match again
inline constexpr int SYM_REPEAT_DIST = 257;  // 257..260: one of the four recent distances
inline constexpr int SYM_SHORT = 261;        // 261..268: length 2 at a short distance
inline constexpr int SYM_TABLES = 269;       // a new table block follows
inline constexpr int SYM_LONG = 270;         // 270..297: length slot of a match
// Audio alphabet: 0..255 deltas, then a new table block.
inline constexpr int AUDIO_SYM_TABLES = 256;

// The tables are constexpr without inline, so each user has its own copy with
// internal linkage, as the decoder's hot loop had them before they were
// shared: reached directly, never through the global offset table.

constexpr uint8_t LENGTH_BASES[28] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  10,  12,  14,  16,  20,
                                             24, 28, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224};
constexpr uint8_t LENGTH_EXTRA_BITS[28] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,
                                                  2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
constexpr uint32_t DISTANCE_BASES[48] = {
    0,      1,      2,      3,      4,      6,      8,      12,     16,     24,     32,     48,
    64,     96,     128,    192,    256,    384,    512,    768,    1024,   1536,   2048,   3072,
    4096,   6144,   8192,   12288,  16384,  24576,  32768,  49152,  65536,  98304,  131072, 196608,
    262144, 327680, 393216, 458752, 524288, 589824, 655360, 720896, 786432, 851968, 917504, 983040};
constexpr uint8_t DISTANCE_EXTRA_BITS[48] = {0,  0,  0,  0,  1,  1,  2,  2,  3,  3,  4,  4,
                                                    5,  5,  6,  6,  7,  7,  8,  8,  9,  9,  10, 10,
                                                    11, 11, 12, 12, 13, 13, 14, 14, 15, 15, 16, 16,
                                                    16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16};
constexpr uint8_t SHORT_DISTANCE_BASES[8] = {0, 4, 8, 16, 32, 64, 128, 192};
constexpr uint8_t SHORT_DISTANCE_EXTRA_BITS[8] = {2, 2, 3, 4, 5, 6, 6, 6};

// Distances from which a match's length grows by one more byte.
inline constexpr uint32_t LONGER_FROM_0 = 0x101;  // repeated distances only
inline constexpr uint32_t LONGER_FROM_1 = 0x2000;
inline constexpr uint32_t LONGER_FROM_2 = 0x40000;

// Extra bytes added to a long match's coded length.
inline constexpr uint32_t long_length_bonus(uint32_t distance) {
    return (distance >= LONGER_FROM_1 ? 1u : 0u) + (distance >= LONGER_FROM_2 ? 1u : 0u);
}
// Extra bytes added to a repeated-distance match's coded length.
inline constexpr uint32_t repeat_length_bonus(uint32_t distance) {
    return (distance >= LONGER_FROM_0 ? 1u : 0u) + long_length_bonus(distance);
}

}  // namespace v20
