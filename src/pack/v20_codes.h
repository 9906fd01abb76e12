// The 2.0 method's code space as the encoder sees it: the shared tables of
// format/v20_tables.h under the encoder's names, the bounds of one item, and
// the slot look-ups.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

#include "format/v20_tables.h"

namespace pack {

inline constexpr int MAIN_SYMBOLS = v20::MAIN_SYMBOLS;
inline constexpr int DISTANCE_SYMBOLS = v20::DISTANCE_SYMBOLS;
inline constexpr int REPEAT_SYMBOLS = v20::REPEAT_SYMBOLS;
inline constexpr int AUDIO_SYMBOLS = v20::AUDIO_SYMBOLS;
inline constexpr int LENGTH_CODE_SYMBOLS = v20::LENGTH_CODE_SYMBOLS;
inline constexpr int NORMAL_TABLE_COUNT = MAIN_SYMBOLS + DISTANCE_SYMBOLS + REPEAT_SYMBOLS;  // 374
inline constexpr int MAX_TABLE_COUNT = v20::MAX_CHANNELS * AUDIO_SYMBOLS;                   // 1028

using v20::AUDIO_SYM_TABLES;
using v20::SYM_LONG;
using v20::SYM_REPEAT_DIST;
using v20::SYM_REPEAT_LAST;
using v20::SYM_SHORT;
using v20::SYM_TABLES;

using v20::DISTANCE_BASES;
using v20::DISTANCE_EXTRA_BITS;
using v20::LENGTH_BASES;
using v20::LENGTH_EXTRA_BITS;
using v20::SHORT_DISTANCE_BASES;
using v20::SHORT_DISTANCE_EXTRA_BITS;

// Bounds of what one item can carry.
inline constexpr uint32_t MAX_MATCH_DISTANCE = 0x100000 - 1;
inline constexpr uint32_t MAX_SHORT_DISTANCE = 256;
inline constexpr uint32_t MIN_LONG_CODED = 3;     // LENGTH_BASES[0] + 3
inline constexpr uint32_t MAX_LONG_CODED = 258;   // LENGTH_BASES[27] + 3 + 31
inline constexpr uint32_t MIN_REPEAT_CODED = 2;   // LENGTH_BASES[0] + 2
inline constexpr uint32_t MAX_REPEAT_CODED = 257;

using v20::long_length_bonus;
using v20::repeat_length_bonus;

// Slot of a length value v (coded length minus its base offset, 0..255),
// looked up: the best level asks for every length of every match.
inline constexpr std::array<uint8_t, 256> LENGTH_SLOTS = [] {
    std::array<uint8_t, 256> slots{};
    for (uint32_t v = 0, slot = 0; v < 256; ++v) {
        while (slot < 27 && LENGTH_BASES[slot + 1] <= v) ++slot;
        slots[v] = static_cast<uint8_t>(slot);
    }
    return slots;
}();
inline int length_slot(uint32_t v) { return LENGTH_SLOTS[std::min<uint32_t>(v, 255)]; }
// Slot of a distance value v (distance minus 1, 0..0xFFFFF).
int distance_slot(uint32_t v);
// Slot of a short distance value v (distance minus 1, 0..255).
inline int short_distance_slot(uint32_t v) {
    int slot = 0;
    while (slot < 7 && SHORT_DISTANCE_BASES[slot + 1] <= v) ++slot;
    return slot;
}

}  // namespace pack
