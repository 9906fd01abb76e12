// The decoder fuzz targets' shared body. Input layout:
//   byte 0      bit 0: a second entry follows as a solid continuation,
//               bit 1: reads deliver at most 7 bytes at a time
//               bit 2: the first entry, too, is decoded as a solid one (with
//                      no tables or dictionary before it)
//   bytes 1-2   unpacked size of each entry, in units of 4 bytes
//   bytes 3-4   length of the first entry's packed data (when bit 0 is set)
//   the rest    packed data
// Each input is decoded by the fast path and by the reference path; both must
// end, write no more than the unpacked size and one last match and produce the same bytes.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "unpack/decoder.h"

namespace fuzz {

struct MemorySource {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t pos = 0;
    int32_t max_read = 0;
    std::vector<uint8_t> output;
};

inline MemorySource memory_source;

inline int32_t memory_read(uint8_t* buffer, int32_t count) {
    MemorySource& m = memory_source;
    size_t n = count > 0 ? static_cast<size_t>(count) : 0;
    if (n > m.size - m.pos) n = m.size - m.pos;
    if (m.max_read > 0 && n > static_cast<size_t>(m.max_read)) n = static_cast<size_t>(m.max_read);
    if (n) std::memcpy(buffer, m.data + m.pos, n);
    m.pos += n;
    return static_cast<int32_t>(n);
}

inline int32_t memory_write(const uint8_t* buffer, int32_t count) {
    if (count < 0) finding("negative write");
    memory_source.output.insert(memory_source.output.end(), buffer, buffer + count);
    return count;
}

inline uint8_t* fuzz_window() {
    static std::vector<uint8_t> window(WINDOW_SIZE);
    return window.data();
}

using DecodeFn = void (*)(uint8_t*, int);

// Decodes the input's entries with decode; returns the output of each.
inline std::vector<std::vector<uint8_t>> decode_entries(DecodeFn decode, const uint8_t* data, size_t size,
                                                        bool solid_flag_20) {
    std::vector<std::vector<uint8_t>> outputs;
    if (size < 5) return outputs;
    bool two = data[0] & 1;
    int32_t unpacked = static_cast<int32_t>((data[1] | data[2] << 8) * 4);
    size_t first = two ? (data[3] | data[4] << 8) : size - 5;
    const uint8_t* packed = data + 5;
    size_t packed_size = size - 5;
    if (first > packed_size) first = packed_size;

    reset_decoder_state();
    std::memset(fuzz_window(), 0, WINDOW_SIZE);
    decoder_io.read_packed = memory_read;
    decoder_io.write_unpacked = memory_write;
    for (int entry = 0; entry < (two ? 2 : 1); ++entry) {
        MemorySource& m = memory_source;
        m = MemorySource{};
        m.max_read = (data[0] & 2) ? 7 : 0;
        m.data = entry == 0 ? packed : packed + first;
        m.size = entry == 0 ? first : packed_size - first;
        decoder_bytes_left() = unpacked;
        // The 2.0 method takes the entry's flag 0x10, the 1.5 method 0 or 1.
        bool solid = entry > 0 || (data[0] & 4);
        decode(fuzz_window(), solid ? (solid_flag_20 ? 0x10 : 1) : 0);
        // The last match may run past the size (the loop only checks before
        // each item); it is never longer than 270 bytes.
        if (m.output.size() > static_cast<size_t>(unpacked) + 270)
            finding("output runs far past the unpacked size", std::to_string(m.output.size()));
        outputs.push_back(std::move(m.output));
    }
    return outputs;
}

inline void compare_paths(DecodeFn fast, DecodeFn reference, const uint8_t* data, size_t size, bool flag_20) {
    std::vector<std::vector<uint8_t>> a = decode_entries(fast, data, size, flag_20);
    std::vector<std::vector<uint8_t>> b = decode_entries(reference, data, size, flag_20);
    if (a != b) finding("fast and reference decoders differ");
}

}  // namespace fuzz
