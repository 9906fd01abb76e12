// CRC-32 (reflected, generator 0xEDB88320) and the old format's 16-bit
// add-and-rotate checksum. CRC-32 runs on one of three methods with identical
// results: folding with carry-less multiplication, 256 bits per instruction
// where the processor has the wide form or 128 bits where it has the plain
// one (x86, chosen at run time so the program still runs on any x86), or
// eight bytes per step on tables derived from crc32_table.
#include "format/checksum.h"

#include <cstring>

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define KX_CRC_CLMUL 1
#include <cpuid.h>
#include <immintrin.h>
// The 256-bit methods keep 256-bit values, which GCC may spill to 32-byte
// aligned stack slots it cannot align on 64-bit Windows; Windows builds have
// their aligned vector moves assembled as unaligned ones, which makes that safe.
#define KX_WIDE 1
#endif

uint32_t crc32_table[256];

namespace {

// slice_table[k][i]: CRC of byte i followed by k zero bytes. Row 0 is crc32_table.
uint32_t slice_table[8][256];
bool slices_ready = false;
bool clmul_ready = false;
bool wide_ready = false;
#ifdef KX_WIDE
bool avx2_ready = false;
#endif

uint32_t crc32_bytewise(uint32_t value, const uint8_t* data, size_t length) {
    for (size_t i = 0; i < length; ++i)
        value = crc32_table[(value ^ data[i]) & 0xFF] ^ (value >> 8);
    return value;
}

inline uint32_t load_le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint32_t crc32_sliced(uint32_t value, const uint8_t* data, size_t length) {
    while (length >= 8) {
        uint32_t lo = load_le32(data) ^ value;
        uint32_t hi = load_le32(data + 4);
        value = slice_table[7][lo & 0xFF] ^ slice_table[6][(lo >> 8) & 0xFF] ^
                slice_table[5][(lo >> 16) & 0xFF] ^ slice_table[4][lo >> 24] ^
                slice_table[3][hi & 0xFF] ^ slice_table[2][(hi >> 8) & 0xFF] ^
                slice_table[1][(hi >> 16) & 0xFF] ^ slice_table[0][hi >> 24];
        data += 8;
        length -= 8;
    }
    return crc32_bytewise(value, data, length);
}

#ifdef KX_CRC_CLMUL

// Smallest input worth the folding set-up; shorter pieces take the tables.
constexpr size_t CLMUL_MIN = 64;

bool processor_has_clmul() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    return (c & bit_PCLMUL) && (c & bit_SSE4_1);
}

#define KX_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))

KX_CLMUL_TARGET inline __m128i load(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// a moved forward by the distance the constants k stand for, plus next.
KX_CLMUL_TARGET inline __m128i fold(__m128i a, __m128i k, __m128i next) {
    __m128i lo = _mm_clmulepi64_si128(a, k, 0x00);
    __m128i hi = _mm_clmulepi64_si128(a, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(hi, lo), next);
}

// The running 128-bit remainder x1 moved over the rest of the input (a
// multiple of 16 bytes), then reduced: 128 bits to 64, 64 to 32 plus the 32
// bits that a Barrett reduction takes to the 32-bit remainder.
KX_CLMUL_TARGET inline uint32_t clmul_finish(__m128i x1, const uint8_t* data, size_t length) {
    const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009eLL, 0x01751997d0LL);  // x^(128-32), x^(128+32)
    const __m128i k5 = _mm_set_epi64x(0, 0x0163cd6124LL);                 // x^64
    const __m128i poly = _mm_set_epi64x(0x01f7011641LL, 0x01db710641LL);  // quotient, generator
    const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
    while (length >= 16) {
        x1 = fold(x1, k3k4, load(data));
        data += 16;
        length -= 16;
    }
    __m128i t = _mm_clmulepi64_si128(x1, k3k4, 0x10);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), t);
    t = _mm_srli_si128(x1, 4);
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5, 0x00), t);
    t = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), poly, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), poly, 0x00);
    x1 = _mm_xor_si128(x1, t);
    return static_cast<uint32_t>(_mm_extract_epi32(x1, 1));
}

// Folds length bytes (a multiple of 16, at least 64) into the running value.
// Four 128-bit lanes are each multiplied forward by x^512 per 64 bytes and the
// next input added; then the lanes fold into one and clmul_finish reduces it.
// The constants are powers of x modulo the bit-reflected generator (and its
// Barrett quotient), in the reflected bit order the table method uses.
// force_align_arg_pointer: 32-bit Windows only keeps the stack 4-byte aligned.
KX_CLMUL_TARGET
#ifdef __i386__
__attribute__((force_align_arg_pointer))
#endif
uint32_t crc32_clmul(uint32_t value, const uint8_t* data, size_t length) {
    const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596LL, 0x0154442bd4LL);  // x^(512-32), x^(512+32)
    const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009eLL, 0x01751997d0LL);  // x^(128-32), x^(128+32)
    __m128i x1 = _mm_xor_si128(load(data), _mm_cvtsi32_si128(static_cast<int>(value)));
    __m128i x2 = load(data + 16), x3 = load(data + 32), x4 = load(data + 48);
    data += 64;
    length -= 64;
    while (length >= 64) {
        x1 = fold(x1, k1k2, load(data));
        x2 = fold(x2, k1k2, load(data + 16));
        x3 = fold(x3, k1k2, load(data + 32));
        x4 = fold(x4, k1k2, load(data + 48));
        data += 64;
        length -= 64;
    }
    x1 = fold(x1, k3k4, x2);
    x1 = fold(x1, k3k4, x3);
    x1 = fold(x1, k3k4, x4);
    return clmul_finish(x1, data, length);
}

#ifdef KX_WIDE

// Smallest input worth the wide set-up.
constexpr size_t WIDE_MIN = 256;

// AVX2, with the system saving the 256-bit registers (XCR0 bits 1 and 2).
bool processor_has_avx2() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    if (!(c & bit_OSXSAVE) || !(c & bit_AVX)) return false;
    unsigned xcr0 = 0, high = 0;
    __asm__ volatile("xgetbv" : "=a"(xcr0), "=d"(high) : "c"(0));
    if ((xcr0 & 6) != 6) return false;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    return (b & bit_AVX2) != 0;
}

bool processor_has_vpclmulqdq() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    return (c & bit_VPCLMULQDQ) != 0;
}

#define KX_WIDE_TARGET __attribute__((target("vpclmulqdq,avx2,pclmul,sse4.1")))

KX_WIDE_TARGET inline __m256i load256(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

KX_WIDE_TARGET inline __m256i fold256(__m256i a, __m256i k, __m256i next) {
    __m256i lo = _mm256_clmulepi64_epi128(a, k, 0x00);
    __m256i hi = _mm256_clmulepi64_epi128(a, k, 0x11);
    return _mm256_xor_si256(_mm256_xor_si256(hi, lo), next);
}

// As crc32_clmul, 128 bytes per step in four 256-bit values (eight 128-bit
// lanes, each moved forward by x^1024); length a multiple of 16, at least 256.
KX_WIDE_TARGET
#ifdef __i386__
__attribute__((force_align_arg_pointer))
#endif
uint32_t crc32_wide(uint32_t value, const uint8_t* data, size_t length) {
    const __m256i k = _mm256_set_epi64x(0x014a7fe880LL, 0x01e88ef372LL, 0x014a7fe880LL,
                                        0x01e88ef372LL);  // x^(1024-32), x^(1024+32) in each half
    const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009eLL, 0x01751997d0LL);
    __m256i y1 = _mm256_xor_si256(load256(data), _mm256_setr_epi32(static_cast<int>(value), 0, 0, 0, 0, 0, 0, 0));
    __m256i y2 = load256(data + 32), y3 = load256(data + 64), y4 = load256(data + 96);
    data += 128;
    length -= 128;
    while (length >= 128) {
        y1 = fold256(y1, k, load256(data));
        y2 = fold256(y2, k, load256(data + 32));
        y3 = fold256(y3, k, load256(data + 64));
        y4 = fold256(y4, k, load256(data + 96));
        data += 128;
        length -= 128;
    }
    // The eight lanes, in the order of the input, fold into one.
    __m128i x1 = _mm256_castsi256_si128(y1);
    x1 = fold(x1, k3k4, _mm256_extracti128_si256(y1, 1));
    const __m256i rest[3] = {y2, y3, y4};
    for (const __m256i& y : rest) {
        x1 = fold(x1, k3k4, _mm256_castsi256_si128(y));
        x1 = fold(x1, k3k4, _mm256_extracti128_si256(y, 1));
    }
    return clmul_finish(x1, data, length);
}

// The old checksum, sixteen bytes per step while no addition carries.
//
// Rotating a 16-bit value left by one is doubling it modulo 65535, and a
// 16-bit addition that does not carry is addition modulo 65535. So while no
// addition carries, the sum before byte i of a block that starts at s is
// congruent to T_i = rotl(s, i) + P_i (mod 65535), with P_i the sum of
// b_j 2^(i-j) over the bytes j < i before it (from a running sum of
// b_j 2^(16-j), shifted down by 16-i). Folding T_i to 0..0xFFFF gives the sum
// itself: a residue other than 0 names one value, and of the two with residue
// 0, the sum is 0 only when s and every byte before i are 0, which is when T_i
// is 0 and folds to 0; any other T_i with residue 0 folds to 0xFFFF. With the
// sums known, each byte's addition is checked for a carry; a block where one
// carries takes the byte-by-byte rule instead, else its end is T_16 folded.
#define KX_AVX2_TARGET __attribute__((target("avx2")))

inline uint16_t old_sum_bytewise(uint16_t s, const uint8_t* data, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        s = static_cast<uint16_t>(s + data[i]);
        s = static_cast<uint16_t>(s << 1 | s >> 15);
    }
    return s;
}

// x < 2^31 folded to 0..0xFFFF keeping its residue modulo 65535: 0 stays 0,
// any other multiple of 65535 becomes 0xFFFF.
KX_AVX2_TARGET inline __m256i fold_65535(__m256i x) {
    const __m256i low16 = _mm256_set1_epi32(0xFFFF);
    x = _mm256_add_epi32(_mm256_and_si256(x, low16), _mm256_srli_epi32(x, 16));
    return _mm256_add_epi32(_mm256_and_si256(x, low16), _mm256_srli_epi32(x, 16));
}

inline uint32_t fold_65535(uint32_t x) {
    x = (x & 0xFFFF) + (x >> 16);
    return (x & 0xFFFF) + (x >> 16);
}

KX_AVX2_TARGET
#ifdef __i386__
__attribute__((force_align_arg_pointer))
#endif
uint16_t old_checksum_avx2(uint16_t start, const uint8_t* data, size_t length) {
    // Lanes 0..7 hold bytes 0..7 of the block, lanes 8..15 bytes 8..15;
    // down_* is 16 - i for lane i.
    const __m256i down_lo = _mm256_setr_epi32(16, 15, 14, 13, 12, 11, 10, 9);
    const __m256i down_hi = _mm256_setr_epi32(8, 7, 6, 5, 4, 3, 2, 1);
    const __m256i low16 = _mm256_set1_epi32(0xFFFF);
    const __m256i last = _mm256_set1_epi32(7);
    uint32_t s = start;
    size_t i = 0;
    for (; i + 16 <= length; i += 16) {
        __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        __m256i b_lo = _mm256_cvtepu8_epi32(raw);
        __m256i b_hi = _mm256_cvtepu8_epi32(_mm_srli_si128(raw, 8));
        // w_j = b_j 2^(16-j), then running sums over the sixteen lanes.
        __m256i w_lo = _mm256_sllv_epi32(b_lo, down_lo);
        __m256i w_hi = _mm256_sllv_epi32(b_hi, down_hi);
        __m256i q_lo = _mm256_add_epi32(w_lo, _mm256_slli_si256(w_lo, 4));
        __m256i q_hi = _mm256_add_epi32(w_hi, _mm256_slli_si256(w_hi, 4));
        q_lo = _mm256_add_epi32(q_lo, _mm256_slli_si256(q_lo, 8));
        q_hi = _mm256_add_epi32(q_hi, _mm256_slli_si256(q_hi, 8));
        __m256i t = _mm256_shuffle_epi32(q_lo, 0xFF);
        q_lo = _mm256_add_epi32(q_lo, _mm256_permute2x128_si256(t, t, 0x08));
        t = _mm256_shuffle_epi32(q_hi, 0xFF);
        q_hi = _mm256_add_epi32(q_hi, _mm256_permute2x128_si256(t, t, 0x08));
        q_hi = _mm256_add_epi32(q_hi, _mm256_permutevar8x32_epi32(q_lo, last));
        // The block's end: r_16 = 2^16 s + P_16, and 2^16 is 1 modulo 65535.
        uint32_t end = fold_65535(s + static_cast<uint32_t>(_mm256_extract_epi32(q_hi, 7)));
        // P_i from the sums of the lanes before i; 2^i s as s rotated by i.
        __m256i p_lo = _mm256_srlv_epi32(_mm256_sub_epi32(q_lo, w_lo), down_lo);
        __m256i p_hi = _mm256_srlv_epi32(_mm256_sub_epi32(q_hi, w_hi), down_hi);
        __m256i doubled = _mm256_set1_epi32(static_cast<int>(s * 0x10001u));
        // The sums before each byte, and whether adding the byte carries.
        __m256i r_lo = fold_65535(_mm256_add_epi32(_mm256_and_si256(_mm256_srlv_epi32(doubled, down_lo), low16), p_lo));
        __m256i r_hi = fold_65535(_mm256_add_epi32(_mm256_and_si256(_mm256_srlv_epi32(doubled, down_hi), low16), p_hi));
        __m256i carry = _mm256_or_si256(_mm256_cmpgt_epi32(_mm256_add_epi32(r_lo, b_lo), low16),
                                        _mm256_cmpgt_epi32(_mm256_add_epi32(r_hi, b_hi), low16));
        if (_mm256_testz_si256(carry, carry))
            s = end;
        else
            s = old_sum_bytewise(static_cast<uint16_t>(s), data + i, 16);
    }
    return old_sum_bytewise(static_cast<uint16_t>(s), data + i, length - i);
}

#endif

#endif

}  // namespace

void build_crc32_table() {
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t v = i;
        for (int bit = 0; bit < 8; ++bit)
            v = (v & 1) ? (v >> 1) ^ 0xEDB88320u : v >> 1;
        crc32_table[i] = v;
    }
    std::memcpy(slice_table[0], crc32_table, sizeof crc32_table);
    for (int k = 1; k < 8; ++k)
        for (int i = 0; i < 256; ++i) {
            uint32_t prev = slice_table[k - 1][i];
            slice_table[k][i] = crc32_table[prev & 0xFF] ^ (prev >> 8);
        }
    slices_ready = true;
#ifdef KX_CRC_CLMUL
    clmul_ready = processor_has_clmul();
#endif
#ifdef KX_WIDE
    avx2_ready = processor_has_avx2();
    wide_ready = clmul_ready && avx2_ready && processor_has_vpclmulqdq();
#endif
}

bool crc32_uses_clmul() { return clmul_ready; }
bool crc32_uses_wide_clmul() { return wide_ready; }

uint32_t crc32_update_table(uint32_t value, const uint8_t* data, size_t length) {
    // Until the table is built the result must still be what the byte-wise
    // method gives on the (zero) table, so the fast paths wait for the build.
    if (!slices_ready)
        return crc32_bytewise(value, data, length);
    return crc32_sliced(value, data, length);
}

uint32_t crc32_update(uint32_t value, const uint8_t* data, size_t length) {
#ifdef KX_WIDE
    if (wide_ready && length >= WIDE_MIN) {
        size_t folded = length & ~size_t{15};
        value = crc32_wide(value, data, folded);
        data += folded;
        length -= folded;
    }
#endif
#ifdef KX_CRC_CLMUL
    if (clmul_ready && length >= CLMUL_MIN) {
        size_t folded = length & ~size_t{15};
        value = crc32_clmul(value, data, folded);
        data += folded;
        length -= folded;
    }
#endif
    return crc32_update_table(value, data, length);
}

uint32_t old_checksum_update(uint32_t value, const uint8_t* data, size_t length) {
#ifdef KX_WIDE
    if (avx2_ready && length >= 16) return old_checksum_avx2(static_cast<uint16_t>(value), data, length);
#endif
    // 16-bit arithmetic throughout, so that the add wraps and the rotate is one
    // instruction; the chain from byte to byte is what bounds the speed.
    uint16_t s = static_cast<uint16_t>(value);
    auto step = [&s](uint8_t b) {
        s = static_cast<uint16_t>(s + b);
        s = static_cast<uint16_t>(s << 1 | s >> 15);
    };
    size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        step(data[i]);
        step(data[i + 1]);
        step(data[i + 2]);
        step(data[i + 3]);
        step(data[i + 4]);
        step(data[i + 5]);
        step(data[i + 6]);
        step(data[i + 7]);
    }
    for (; i < length; ++i) step(data[i]);
    return s;
}

uint32_t checksum_update(uint32_t value, const uint8_t* data, size_t length, int mode) {
    if (mode == CHECKSUM_OLD)
        return old_checksum_update(value, data, length) & 0xFFFF;
    return crc32_update(value, data, length);
}
