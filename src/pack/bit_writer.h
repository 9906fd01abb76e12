// Most-significant-bit-first bit output for the 2.0 packed stream: the first
// bit written becomes the top bit of the first byte, and a multi-bit value is
// written with its most significant bit first, as the decoder's bit input reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pack {

struct BitWriter {
    std::vector<uint8_t>* out = nullptr;
    uint64_t acc = 0;  // pending bits, right-aligned
    int count = 0;     // number of pending bits (0..7 between calls)

    explicit BitWriter(std::vector<uint8_t>& target) : out(&target) {}

    // Appends the low n bits of value (n from 0 to 32).
    void put(uint32_t value, int n) {
        if (n == 0) return;
        acc = (acc << n) | (value & ((n == 32) ? 0xFFFFFFFFu : ((1u << n) - 1)));
        count += n;
        while (count >= 8) {
            count -= 8;
            out->push_back(static_cast<uint8_t>(acc >> count));
        }
    }
    // Writes the pending bits, padded with zero bits to a whole byte.
    void flush() {
        if (count > 0) {
            out->push_back(static_cast<uint8_t>(acc << (8 - count)));
            count = 0;
        }
        acc = 0;
    }
    // Bits written so far, pending ones included.
    uint64_t bit_count() const { return static_cast<uint64_t>(out->size()) * 8 + count; }
};

}  // namespace pack
