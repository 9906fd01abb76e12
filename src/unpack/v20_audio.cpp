// The 2.0 method's audio mode: the fast decoder's window sums.
#include "unpack/v20_audio.h"

namespace {

// |x| of a term known to lie within -2047..2047, in 16 bits.
inline uint16_t magnitude(int32_t x) { return uint16_t(x < 0 ? -x : x); }

}  // namespace

// One pass per pair of trials over the 32 positions, in 16-bit arithmetic
// the compiler can keep in vector lanes.
void add_window_sums(const AudioWindowRecord& r, uint32_t* sums) {
    uint16_t plain = 0;
    for (uint32_t n = 0; n < AUDIO_WINDOW; ++n)
        plain = uint16_t(plain + magnitude(r.e[n]));
    sums[0] += plain;
    for (uint32_t k = 0; k < 5; ++k) {
        uint16_t minus = 0;
        uint16_t plus = 0;
        for (uint32_t n = 0; n < AUDIO_WINDOW; ++n) {
            int16_t e = r.e[n];
            int16_t d = r.d[k][n];
            minus = uint16_t(minus + magnitude(int16_t(e - d)));
            plus = uint16_t(plus + magnitude(int16_t(e + d)));
        }
        sums[1 + 2 * k] += minus;
        sums[2 + 2 * k] += plus;
    }
}

uint32_t close_audio_window(const AudioWindowRecord& r, uint32_t* sums) {
    add_window_sums(r, sums);
    uint32_t best = 0;
    for (uint32_t i = 1; i < 11; ++i)
        if (sums[i] < sums[best])
            best = i;
    for (uint32_t i = 0; i < 11; ++i)
        sums[i] = 0;
    return best;
}
