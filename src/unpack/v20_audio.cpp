// The 2.0 method's audio mode: the fast decoder's window sums.
#include "unpack/v20_audio.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

// |x| of a term known to lie within -2047..2047, in 16 bits.
inline uint16_t magnitude(int32_t x) { return uint16_t(x < 0 ? -x : x); }

// The error term of a recorded code.
inline int16_t error_term(int16_t code) { return int16_t(int8_t(uint8_t(code)) * 8); }

// A whole window: one pass per trial pair over the 32 bytes, in 16-bit
// arithmetic the compiler can keep in vector lanes.
void add_whole_window_plain(const AudioWindowRecord& r, uint32_t* sums) {
    const int16_t* h = r.last_deltas;
    uint16_t plain = 0;
    for (uint32_t n = 0; n < AUDIO_WINDOW; ++n)
        plain = uint16_t(plain + magnitude(error_term(r.codes[n])));
    sums[0] += plain;
    auto pair = [&](uint32_t k, auto delta) {
        uint16_t minus = 0;
        uint16_t plus = 0;
        for (uint32_t n = 0; n < AUDIO_WINDOW; ++n) {
            int16_t e = error_term(r.codes[n]);
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

#if defined(__x86_64__)

// The same in AVX2: sixteen bytes per lane group, two groups.
#define KX_AVX2 [[gnu::target("avx2"), gnu::always_inline]] inline
KX_AVX2 __m256i load16(const int16_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
// The lane sums of |x0| + |x1|, widened to eight 32-bit pair sums.
KX_AVX2 __m256i pair_sums(__m256i x0, __m256i x1) {
    __m256i sum = _mm256_add_epi16(_mm256_abs_epi16(x0), _mm256_abs_epi16(x1));
    return _mm256_madd_epi16(sum, _mm256_set1_epi16(1));
}
// The totals of four trials' lanes, in order.
KX_AVX2 __m128i four_totals(__m256i a, __m256i b, __m256i c, __m256i d) {
    __m256i x = _mm256_hadd_epi32(_mm256_hadd_epi32(a, b), _mm256_hadd_epi32(c, d));
    return _mm_add_epi32(_mm256_castsi256_si128(x), _mm256_extracti128_si256(x, 1));
}

[[gnu::target("avx2")]] void add_whole_window_avx2(const AudioWindowRecord& r, uint32_t* sums) {
    const int16_t* h = r.last_deltas;
    // The error terms: the codes' low bytes as signed values, times 8.
    const __m256i e0 = _mm256_srai_epi16(_mm256_slli_epi16(load16(r.codes), 8), 5);
    const __m256i e1 = _mm256_srai_epi16(_mm256_slli_epi16(load16(r.codes + 16), 8), 5);
    const __m256i h4a = load16(h + 4), h3a = load16(h + 3), h2a = load16(h + 2), h1a = load16(h + 1);
    const __m256i h4b = load16(h + 20), h3b = load16(h + 19), h2b = load16(h + 18), h1b = load16(h + 17);
    const __m256i d[5][2] = {{h4a, h4b},
                             {_mm256_sub_epi16(h4a, h3a), _mm256_sub_epi16(h4b, h3b)},
                             {_mm256_sub_epi16(h3a, h2a), _mm256_sub_epi16(h3b, h2b)},
                             {_mm256_sub_epi16(h2a, h1a), _mm256_sub_epi16(h2b, h1b)},
                             {load16(r.channel_delta), load16(r.channel_delta + 16)}};
    __m256i lanes[12];
    lanes[0] = pair_sums(e0, e1);
    for (uint32_t k = 0; k < 5; ++k) {
        lanes[1 + 2 * k] = pair_sums(_mm256_sub_epi16(e0, d[k][0]), _mm256_sub_epi16(e1, d[k][1]));
        lanes[2 + 2 * k] = pair_sums(_mm256_add_epi16(e0, d[k][0]), _mm256_add_epi16(e1, d[k][1]));
    }
    lanes[11] = _mm256_setzero_si256();
    alignas(16) uint32_t totals[12];
    for (uint32_t t = 0; t < 12; t += 4)
        _mm_store_si128(reinterpret_cast<__m128i*>(totals + t),
                        four_totals(lanes[t], lanes[t + 1], lanes[t + 2], lanes[t + 3]));
    for (uint32_t t = 0; t < 11; ++t)
        sums[t] += totals[t];
}
#undef KX_AVX2

#endif

// A whole window by the widest means the processor has (AVX2 on 64-bit
// x86 only: the 32-bit programs are kept small).
void add_whole_window(const AudioWindowRecord& r, uint32_t* sums) {
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx2")) {
        add_whole_window_avx2(r, sums);
        return;
    }
#endif
    add_whole_window_plain(r, sums);
}


}  // namespace

void add_window_sums(const AudioWindowRecord& r, uint32_t lo, uint32_t hi, uint32_t* sums) {
    if (lo == 0 && hi == AUDIO_WINDOW) {
        add_whole_window(r, sums);
        return;
    }
    const int16_t* h = r.last_deltas;
    for (uint32_t n = lo; n < hi; ++n) {
        int32_t e = error_term(r.codes[n]);
        int32_t d[5] = {h[n + 4], h[n + 4] - h[n + 3], h[n + 3] - h[n + 2], h[n + 2] - h[n + 1], r.channel_delta[n]};
        sums[0] += magnitude(e);
        for (uint32_t k = 0; k < 5; ++k) {
            sums[1 + 2 * k] += magnitude(e - d[k]);
            sums[2 + 2 * k] += magnitude(e + d[k]);
        }
    }
}
