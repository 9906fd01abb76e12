// Rank tables and the scalar reset of the 1.5 method.
#include "unpack/v15_ranks.h"

#include <cstring>

void rescale_ranks(RankTable& t) {
    for (uint32_t place = 0; place < 256; ++place)
        t.entries[place] = (t.entries[place] & ~0xFFu) | (7 - (place >> 5));
    std::memset(t.next_place, 0, sizeof t.next_place);
    for (uint32_t k = 0; k < 7; ++k)
        t.next_place[k] = (7 - k) * 32;
}

void init_rank_tables() {
    V15State& v = decoder_state.v15;
    for (uint32_t i = 0; i < 256; ++i) {
        v.literal_ranks.entries[i] = i << 8;
        v.distance_ranks.entries[i] = i << 8;
        v.flag_ranks.entries[i] = ((256 - i) & 0xFF) << 8;
        v.short_distance_order[i] = i;
    }
    std::memset(v.literal_ranks.next_place, 0, sizeof v.literal_ranks.next_place);
    std::memset(v.distance_ranks.next_place, 0, sizeof v.distance_ranks.next_place);
    std::memset(v.flag_ranks.next_place, 0, sizeof v.flag_ranks.next_place);
    rescale_ranks(v.distance_ranks);
}

void reset_v15(int solid) {
    V15State& v = decoder_state.v15;
    v.literal_mode = 0;
    v.flag_byte = 0;
    v.flag_bits_left = 0;
    v.repeat_count = 0;
    if (solid)
        return;
    v.literal_average = 0x3500;
    v.distance_place_average = 0;
    v.short_length_average = 0;
    v.long_length_average = 0;
    v.near_match_average = 0;
    v.literal_run = 0;
    v.literal_weight = 0x80;
    v.match_weight = 0x80;
    v.distance_threshold = 0x2001;
    v.short_code_toggle = 0;
}
