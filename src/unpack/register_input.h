// Bit inputs for the decoding loops: RegisterInput keeps the position and a
// 64-bit bit buffer in registers, StateInput works on the state itself. Both
// read exactly the bits peek_bits and skip_bits would.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "unpack/decoder_state.h"
#include "unpack/huff_table.h"

// The bit input of the decoders' register loops. Window stores may alias the
// state, so state fields would be reloaded after every byte; this copy lives
// in registers and is written back before anything else looks at the state.
struct RegisterInput {
    const uint8_t* buf;
    uint32_t bitpos;  // in_pos * 8 + in_bit
    // The bits from bitpos on, first bit at the top; avail of them are valid.
    // A reload reads eight bytes at in_pos, which stays below 8162 + 8 in
    // the decoding loops and below 8187 + 4 in the table reader, inside the
    // buffer and its spare bytes.
    uint64_t bitbuf = 0;
    uint32_t avail = 0;

    const uint32_t frame_bit;

    RegisterInput()
        : buf(decoder_state.input.in_buffer),
          bitpos(input_bit_position()),
          frame_bit(decoder_state.input.frame_bit) {}

    void reload() {
        static_assert(MAIN_REFILL_LIMIT + 16 <= IN_BUFFER_SIZE + IN_BUFFER_SPARE);
        static_assert(LENGTH_REFILL_LIMIT + 4 + 8 <= IN_BUFFER_SIZE + IN_BUFFER_SPARE);
        uint64_t x;
        std::memcpy(&x, buf + (bitpos >> 3), 8);
        if constexpr (std::endian::native == std::endian::little)
            x = __builtin_bswap64(x);
        bitbuf = x << (bitpos & 7);
        avail = 64 - (bitpos & 7);
    }
    uint32_t peek() {
        if (avail < 16)
            reload();
        return uint32_t(bitbuf >> 48);
    }
    void consume(uint32_t n) {
        bitbuf <<= n;
        avail -= n;
        bitpos += n;
    }
    uint32_t bits(uint32_t n) {
        if (n == 0)
            return 0;
        if (avail < 16)
            reload();
        uint32_t x = uint32_t(bitbuf >> (64 - n));
        consume(n);
        return x;
    }
    // One code of a table built without values (see huff_table.h).
    template <class Table>
    uint32_t decode(const Table& t) {
        if (avail < 16)
            reload();
        uint32_t e = huff_lookup(t, uint32_t(bitbuf >> 48), nullptr);
        consume(e & ENTRY_LENGTH_MASK);
        return entry_value(e);
    }
    // The frame's test before the next item: a refill is due, or the packed
    // data has been read to its end.
    bool refill_due() const { return bitpos >= frame_bit; }
    uint32_t byte_pos() const { return bitpos >> 3; }
    void write_back() const {
        decoder_state.input.in_pos = int32_t(bitpos >> 3);
        decoder_state.input.in_bit = int32_t(bitpos & 7);
    }
    // After a refill moved the state's position.
    void read_back() {
        bitpos = input_bit_position();
        avail = 0;
    }
};

// Loads the 64 bits from bitpos on, first bit at the top (the register
// loops' refill).
inline uint64_t load_bits(const uint8_t* buf, uint32_t bitpos) {
    uint64_t x;
    std::memcpy(&x, buf + (bitpos >> 3), 8);
    if constexpr (std::endian::native == std::endian::little)
        x = __builtin_bswap64(x);
    return x << (bitpos & 7);
}

// The state's own bit input, with RegisterInput's interface.
struct StateInput {
    uint32_t peek() { return peek_bits(); }
    void consume(uint32_t n) { skip_bits(int(n)); }
    uint32_t bits(uint32_t n) { return read_bits(int(n)); }
    uint32_t byte_pos() const { return uint32_t(decoder_state.input.in_pos); }
    void write_back() const {}
    void read_back() {}
};

// The frame's test before the next item: a flush is due.
inline bool flush_due(uint32_t out, uint32_t flushed = decoder_state.flushed_pos) {
    return ((flushed - out) & WINDOW_MASK) < FLUSH_MARGIN && flushed != out;
}
