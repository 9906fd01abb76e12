// Test-only helpers for the decoders: an in-memory packed source and output
// sink behind decoder_io, a bit writer for crafted streams, and a tiny archive
// reader that lifts the packed bytes of the reference archives' entries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "unpack/decoder.h"

namespace unpack_test {

// ---- in-memory I/O through decoder_io

struct MemoryIo {
    std::vector<uint8_t> source;
    size_t source_pos = 0;
    // When nonzero, no read delivers more than this many bytes.
    int32_t max_read = 0;
    std::vector<uint8_t> output;
    std::vector<int32_t> write_sizes;
    int read_calls = 0;
};

extern MemoryIo memory_io;

// Points decoder_io at memory_io, takes source as the packed data, clears the output.
void use_memory_io(const std::vector<uint8_t>& source);
// Just replaces the packed source (for the next entry of a solid run).
void set_source(const std::vector<uint8_t>& source);

// The shared 1 MiB window the tests decode into.
uint8_t* test_window();

// Decodes one entry of size unpacked_size from packed with the given method
// (20 or 15), fast or reference path; returns the entry's output. The
// decoder state carries over between calls (for solid runs); call
// reset_decoder_state() first for a fresh start.
std::vector<uint8_t> decode(const std::vector<uint8_t>& packed, int64_t unpacked_size, int method,
                            int solid, bool reference = false);

// ---- bit writer (first bit of a field is its most significant)

class BitWriter {
public:
    void put(uint32_t value, int bits);
    // Pads the last byte with zero bits and adds extra zero bytes.
    std::vector<uint8_t> finish(size_t extra_zero_bytes = 8);
    size_t bit_count() const { return bits_; }

private:
    std::vector<uint8_t> bytes_;
    size_t bits_ = 0;
};

// ---- reference archives

struct CorpusEntry {
    std::string name;
    std::vector<uint8_t> packed;
    uint32_t unpacked_size = 0;
    uint32_t checksum = 0;  // CRC-32, or the old 16-bit sum
    int version = 0;
    int method = 0;  // 0 = stored
    uint32_t flags = 0;
    bool old_format = false;
    bool archive_solid = false;
};

std::vector<uint8_t> read_file(const std::string& path);
std::string corpus_path(const std::string& name);
// Reads the file entries of an archive given as its volumes in order; parts
// of an entry that continues across volumes are joined.
std::vector<CorpusEntry> read_archive(const std::vector<std::string>& volumes);
// Runs the entry's checksum over data (CRC-32 complemented, or the old sum).
uint32_t entry_checksum(const CorpusEntry& e, const std::vector<uint8_t>& data);

}  // namespace unpack_test
