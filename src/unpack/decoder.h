// The entries of the two decompression methods and what their callers set.
// The decoders read packed bytes and write unpacked bytes only through the two
// callbacks in decoder_io; the extraction driver points them at the archive's
// packed-data reader and output writer before an entry is decoded. The
// decoders never fail: damaged data shows as a checksum mismatch, a shorter
// output (data used up far before the entry's size), never a longer one.
#pragma once

#include <cstdint>

inline constexpr uint32_t WINDOW_SIZE = 0x100000;
inline constexpr uint32_t WINDOW_MASK = WINDOW_SIZE - 1;

// Returns the number of bytes placed in buffer (0 when the packed data is exhausted).
using PackedReadFn = int32_t (*)(uint8_t* buffer, int32_t count);
// Handles count unpacked bytes; returns count (fatal write errors do not return).
using UnpackedWriteFn = int32_t (*)(const uint8_t* buffer, int32_t count);

// The fields every user of the decoders sets or reads. The decoder state
// itself, with each method's tables, is in decoder_state.h.
struct DecoderIo {
    PackedReadFn read_packed = nullptr;
    UnpackedWriteFn write_unpacked = nullptr;
};

extern DecoderIo decoder_io;

// Unpacked bytes still owed for the current entry; set by the caller to the
// entry's unpacked size (any 32-bit value) before an entry is decoded or copied.
int64_t& decoder_bytes_left();

// window: WINDOW_SIZE bytes, the same buffer for every entry of a solid run.
// Its contents need not be cleared: a match that reaches back before the
// first byte of a fresh (non-solid) start reads zero bytes.
//
// Decodes one entry packed with the 2.0 method; solid is the entry's flag 0x10 (0 or nonzero).
void decompress_v20(uint8_t* window, int solid);
// Decodes one entry packed with the 1.5 method; solid is 0 or 1.
void decompress_v15(uint8_t* window, int solid);
// Clears the whole decoder state (tests and the start of a run).
void reset_decoder_state();

// Plain decoders that follow the methods' rules step by step (limit search,
// scanned fixed codes, byte-wise copies). The entries above give the same
// output and leave the same state for every input, damaged input included;
// tests and the benchmark compare the two.
void decompress_v20_reference(uint8_t* window, int solid);
void decompress_v15_reference(uint8_t* window, int solid);
