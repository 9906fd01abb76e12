// Test-side helper: runs the project's 2.0 decoder over packed bytes held in
// memory and collects what it writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pack_test {

// Decodes one entry of unpacked size size; solid continues the previous call's window.
std::vector<uint8_t> decode_v20(const std::vector<uint8_t>& packed, size_t size, bool solid);
// Drops the window kept between solid calls.
void decode_reset();

// Deterministic data generators.
std::vector<uint8_t> random_bytes(size_t size, uint32_t seed);
std::vector<uint8_t> text_like(size_t size, uint32_t seed);
std::vector<uint8_t> make_wav(int channels, int bits, size_t frames, uint32_t seed);

}  // namespace pack_test
