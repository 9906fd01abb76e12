// Rank tables of the 1.5 method: values move towards place 0 as they are
// used, so frequent bytes and distances get the short codes. Also the 1.5
// method's per-entry reset.
#pragma once

#include <cstdint>

#include "unpack/decoder_state.h"

// When a raised counter forces a rescale: literal counters may reach 161,
// the others may reach 255 (the raise that wraps to 0 rescales).
enum RankLimit { RANK_LIMIT_LITERAL, RANK_LIMIT_WRAP };

// Keeps the order, sets the counters to 7 (places 0-31) down to 0
// (224-255) and points next_place[k] at the start of counter group k.
void rescale_ranks(RankTable& table);

// Uses the entry at place (0..255): moves it to the front of its counter
// group with the counter raised, rescaling first when the raise would pass
// the limit. Returns the raised entry (value << 8 | new counter).
inline uint32_t use_rank_raised(RankTable& t, uint32_t place, RankLimit limit) {
    place &= 0xFF;
    for (;;) {
        uint32_t v = t.entries[place];
        // next_place[c] is the first place of counter group c, which holds
        // the used entry's group; the mask only keeps damaged state in bounds.
        uint32_t q = t.next_place[v & 0xFF] & 0xFF;
        uint32_t counter = (v + 1) & 0xFF;
        bool rescale = limit == RANK_LIMIT_LITERAL ? counter > 161 : counter == 0;
        if (rescale) {
            rescale_ranks(t);
            continue;
        }
        t.next_place[v & 0xFF] += 1;
        v += 1;
        t.entries[place] = t.entries[q];
        t.entries[q] = v;
        return v;
    }
}

// Same, returning the entry as it was (value << 8 | old counter).
inline uint32_t use_rank(RankTable& table, uint32_t place, RankLimit limit) {
    return use_rank_raised(table, place, limit) - 1;
}

// Non-solid start: identity literal and distance ranks, flag ranks 0, 255,
// 254 ... 1, identity short distance order; only the distance ranks rescaled.
void init_rank_tables();

// The last four scalars always; every scalar at a non-solid start.
void reset_v15(int solid);
