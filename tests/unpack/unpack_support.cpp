// Test-only helpers for the decoders (see unpack_support.h).
#include "unpack/unpack_support.h"

#include <cstring>

#include "format/checksum.h"
#include "support/scratch.h"

namespace unpack_test {

MemoryIo memory_io;

namespace {

int32_t memory_read(uint8_t* buffer, int32_t count) {
    MemoryIo& io = memory_io;
    ++io.read_calls;
    size_t left = io.source.size() - io.source_pos;
    size_t n = count > 0 ? std::min(left, size_t(count)) : 0;
    if (io.max_read > 0 && n > size_t(io.max_read))
        n = size_t(io.max_read);
    if (n)
        std::memcpy(buffer, io.source.data() + io.source_pos, n);
    io.source_pos += n;
    return int32_t(n);
}

int32_t memory_write(const uint8_t* buffer, int32_t count) {
    memory_io.write_sizes.push_back(count);
    if (count > 0)
        memory_io.output.insert(memory_io.output.end(), buffer, buffer + count);
    return count;
}

uint32_t le16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t le32(const uint8_t* p) { return le16(p) | le16(p + 2) << 16; }

}  // namespace

void use_memory_io(const std::vector<uint8_t>& source) {
    decoder_io.read_packed = memory_read;
    decoder_io.write_unpacked = memory_write;
    memory_io = MemoryIo{};
    memory_io.source = source;
}

void set_source(const std::vector<uint8_t>& source) {
    memory_io.source = source;
    memory_io.source_pos = 0;
}

uint8_t* test_window() {
    static std::vector<uint8_t> window(WINDOW_SIZE);
    return window.data();
}

std::vector<uint8_t> decode(const std::vector<uint8_t>& packed, int64_t unpacked_size, int method,
                            int solid, bool reference) {
    int32_t max_read = memory_io.max_read;
    use_memory_io(packed);
    memory_io.max_read = max_read;
    decoder_bytes_left() = unpacked_size;
    if (method >= 20)
        (reference ? decompress_v20_reference : decompress_v20)(test_window(), solid);
    else
        (reference ? decompress_v15_reference : decompress_v15)(test_window(), solid);
    return memory_io.output;
}

void BitWriter::put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
        if (bits_ % 8 == 0)
            bytes_.push_back(0);
        if ((value >> i) & 1)
            bytes_.back() |= uint8_t(0x80 >> (bits_ % 8));
        ++bits_;
    }
}

std::vector<uint8_t> BitWriter::finish(size_t extra_zero_bytes) {
    std::vector<uint8_t> out = bytes_;
    out.resize(out.size() + extra_zero_bytes, 0);
    return out;
}

std::vector<uint8_t> read_file(const std::string& path) {
    std::string data = scratch::read_file(path);
    return {data.begin(), data.end()};
}

std::string corpus_path(const std::string& name) { return std::string(KX_CORPUS_DIR) + "/" + name; }

namespace {

void add_part(std::vector<CorpusEntry>& entries, CorpusEntry e) {
    if ((e.flags & 0x01) && !entries.empty()) {
        CorpusEntry& prev = entries.back();
        prev.packed.insert(prev.packed.end(), e.packed.begin(), e.packed.end());
        prev.checksum = e.checksum;  // the last part carries the whole entry's sum
        prev.flags = (prev.flags & ~0x02u) | (e.flags & 0x02u);
        return;
    }
    entries.push_back(std::move(e));
}

void read_old_volume(const std::vector<uint8_t>& a, std::vector<CorpusEntry>& entries) {
    bool solid = (a[6] & 0x08) != 0;
    size_t pos = le16(&a[4]);
    while (pos + 21 <= a.size()) {
        const uint8_t* h = &a[pos];
        CorpusEntry e;
        uint32_t packed = le32(h);
        e.unpacked_size = le32(h + 4);
        e.checksum = le16(h + 8);
        uint32_t header_size = le16(h + 10);
        e.flags = h[17];
        e.version = h[18] + 11;  // version byte 2 -> 13, as the header reader maps it
        e.method = h[20];
        e.name.assign(reinterpret_cast<const char*>(h + 21), h[19]);
        e.old_format = true;
        e.archive_solid = solid;
        size_t data = pos + header_size;
        if (header_size < 21 || data + packed > a.size())
            break;
        e.packed.assign(a.begin() + long(data), a.begin() + long(data + packed));
        add_part(entries, std::move(e));
        pos = data + packed;
    }
}

void read_block_volume(const std::vector<uint8_t>& a, std::vector<CorpusEntry>& entries) {
    size_t pos = 7;  // marker block
    bool solid = false;
    while (pos + 7 <= a.size()) {
        const uint8_t* h = &a[pos];
        uint32_t type = h[2];
        uint32_t flags = le16(h + 3);
        uint32_t header_size = le16(h + 5);
        if (header_size < 7)
            break;
        uint64_t add = (flags & 0x8000) && pos + 11 <= a.size() ? le32(h + 7) : 0;
        if (type == 0x73)
            solid = (flags & 0x08) != 0;
        if (type == 0x74 && pos + 32 <= a.size()) {
            CorpusEntry e;
            uint32_t packed = le32(h + 7);
            add = packed;
            e.unpacked_size = le32(h + 11);
            e.checksum = le32(h + 16);
            e.version = h[24];
            e.method = h[25] - 0x30;
            e.flags = flags;
            e.name.assign(reinterpret_cast<const char*>(h + 32), le16(h + 26));
            e.archive_solid = solid;
            size_t data = pos + header_size;
            if (data + packed > a.size())
                break;
            e.packed.assign(a.begin() + long(data), a.begin() + long(data + packed));
            if ((flags & 0xE0) != 0xE0)  // folder entries carry no data
                add_part(entries, std::move(e));
        }
        if (type == 0x7B)
            break;
        pos += header_size + add;
    }
}

}  // namespace

std::vector<CorpusEntry> read_archive(const std::vector<std::string>& volumes) {
    std::vector<CorpusEntry> entries;
    for (const std::string& name : volumes) {
        std::vector<uint8_t> a = read_file(corpus_path(name));
        if (a.size() >= 7 && std::memcmp(a.data(), "RE~^", 4) == 0)
            read_old_volume(a, entries);
        else if (a.size() >= 7 && std::memcmp(a.data(), "Rar!\x1a\x07\x00", 7) == 0)
            read_block_volume(a, entries);
    }
    return entries;
}

uint32_t entry_checksum(const CorpusEntry& e, const std::vector<uint8_t>& data) {
    build_crc32_table();
    if (e.old_format)
        return checksum_update(0, data.data(), data.size(), CHECKSUM_OLD);
    return ~checksum_update(0xFFFFFFFFu, data.data(), data.size(), CHECKSUM_CRC32);
}

}  // namespace unpack_test
