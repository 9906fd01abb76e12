// The 2.0 method's audio mode: the fast decoder's window sums.
#include "unpack/v20_audio.h"

namespace {

// |x| of a term known to lie within -2047..2047, in 16 bits.
inline uint16_t magnitude(int32_t x) { return uint16_t(x < 0 ? -x : x); }

// A whole window: one pass per trial pair over the 32 bytes, in 16-bit
// arithmetic the compiler keeps in vector lanes.
void add_whole_window(const AudioWindowRecord& r, uint32_t* sums) {
    const int16_t* h = r.last_deltas;
    uint16_t plain = 0;
    for (uint32_t n = 0; n < AUDIO_WINDOW; ++n)
        plain = uint16_t(plain + magnitude(r.e[n]));
    sums[0] += plain;
    auto pair = [&](uint32_t k, auto delta) {
        uint16_t minus = 0;
        uint16_t plus = 0;
        for (uint32_t n = 0; n < AUDIO_WINDOW; ++n) {
            int16_t e = r.e[n];
            int16_t d = delta(n);
            minus = uint16_t(minus + magnitude(int16_t(e - d)));
            plus = uint16_t(plus + magnitude(int16_t(e + d)));
        }
        sums[1 + 2 * k] += minus;
        sums[2 + 2 * k] += plus;
    };
    pair(0, [&](uint32_t n) { return h[n + 4]; });
    pair(1, [&](uint32_t n) { return int16_t(h[n + 4] - h[n + 3]); });
    pair(2, [&](uint32_t n) { return int16_t(h[n + 3] - h[n + 2]); });
    pair(3, [&](uint32_t n) { return int16_t(h[n + 2] - h[n + 1]); });
    pair(4, [&](uint32_t n) { return r.channel_delta[n]; });
}

}  // namespace

void add_window_sums(const AudioWindowRecord& r, uint32_t lo, uint32_t hi, uint32_t* sums) {
    if (lo == 0 && hi == AUDIO_WINDOW) {
        add_whole_window(r, sums);
        return;
    }
    const int16_t* h = r.last_deltas;
    for (uint32_t n = lo; n < hi; ++n) {
        int32_t e = r.e[n];
        int32_t d[5] = {h[n + 4], h[n + 4] - h[n + 3], h[n + 3] - h[n + 2], h[n + 2] - h[n + 1], r.channel_delta[n]};
        sums[0] += magnitude(e);
        for (uint32_t k = 0; k < 5; ++k) {
            sums[1 + 2 * k] += magnitude(e - d[k]);
            sums[2 + 2 * k] += magnitude(e + d[k]);
        }
    }
}
