// Most-significant-bit-first bit output for the 2.0 packed stream: the first
// bit written becomes the top bit of the first byte, and a multi-bit value is
// written with its most significant bit first, as the decoder's bit input reads it.
// Bytes gather in a small buffer that drain() passes on to a PackedSink, so a
// stream of any length needs bounded memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pack {

// Receives a packed stream in order. Bytes up to cap are passed to write (when
// set); all bytes are counted in total.
struct PackedSink {
    void (*write)(void* context, const uint8_t* data, size_t size) = nullptr;
    void* context = nullptr;
    uint64_t cap = UINT64_MAX;
    uint64_t total = 0;

    void put(const uint8_t* data, size_t size) {
        if (write != nullptr && total < cap) {
            uint64_t pass = cap - total < size ? cap - total : size;
            write(context, data, static_cast<size_t>(pass));
        }
        total += size;
    }
};

// A sink that appends to a vector (whole streams in memory).
inline PackedSink vector_sink(std::vector<uint8_t>& out) {
    PackedSink s;
    s.context = &out;
    s.write = [](void* context, const uint8_t* data, size_t size) {
        auto* v = static_cast<std::vector<uint8_t>*>(context);
        v->insert(v->end(), data, data + size);
    };
    return s;
}

struct BitWriter {
    static constexpr size_t DRAIN_AT = 64 * 1024;
    std::vector<uint8_t>* out = nullptr;  // bytes not yet drained
    PackedSink* sink = nullptr;
    uint64_t drained = 0;
    uint64_t acc = 0;  // pending bits, right-aligned
    int count = 0;     // number of pending bits (0..7 between calls)
    std::vector<uint8_t> own;

    // Appends to target (no sink: drain() keeps everything there).
    explicit BitWriter(std::vector<uint8_t>& target) : out(&target) {}
    // Passes the stream to sink as it grows.
    explicit BitWriter(PackedSink& target) : out(&own), sink(&target) { own.reserve(DRAIN_AT + 4096); }

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
    // Passes the whole bytes gathered so far to the sink once there are enough of them.
    void drain(bool all = false) {
        if (sink == nullptr || (!all && out->size() < DRAIN_AT)) return;
        sink->put(out->data(), out->size());
        drained += out->size();
        out->clear();
    }
    // Writes the pending bits, padded with zero bits to a whole byte, and drains.
    void flush() {
        if (count > 0) {
            out->push_back(static_cast<uint8_t>(acc << (8 - count)));
            count = 0;
        }
        acc = 0;
        drain(true);
    }
    // Bits written so far, pending ones included.
    uint64_t bit_count() const { return (drained + static_cast<uint64_t>(out->size())) * 8 + count; }
};

}  // namespace pack
