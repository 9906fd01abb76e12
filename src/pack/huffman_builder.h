// Canonical prefix codes for the encoder: code lengths limited to a maximum
// from symbol frequencies, and the code words that the decoder's table build
// assigns to them (ordered by length, then by symbol number).
#pragma once

#include <cstdint>

namespace pack {

inline constexpr int MAX_CODE_LENGTH = 15;

// Fills lengths[0..n-1] with code lengths (0 for a symbol of frequency 0) of
// an optimal prefix code whose longest code is at most max_length bits.
// A single used symbol gets length 1. n is at most 1028.
void build_code_lengths(const uint32_t* freq, int n, int max_length, uint8_t* lengths);

// Assigns canonical code words: codes of shorter length first, and within one
// length in increasing symbol order, starting from 0.
void assign_codes(const uint8_t* lengths, int n, uint16_t* codes);

// Sum of freq[i] * lengths[i].
uint64_t coded_bits(const uint32_t* freq, const uint8_t* lengths, int n);

}  // namespace pack
