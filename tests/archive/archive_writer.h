// Test-only archive writer: builds block-format and old-format archives byte
// by byte (marker, main header, file headers with stored data, arbitrary
// blocks), so tests can craft well-formed and hostile inputs without blobs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "format/checksum.h"
#include "support/scratch.h"

namespace archive_test {

namespace fs = std::filesystem;
using Bytes = std::string;

inline void put16(Bytes& b, uint32_t v) {
    b += static_cast<char>(v & 0xFF);
    b += static_cast<char>((v >> 8) & 0xFF);
}
inline void put32(Bytes& b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

inline uint32_t crc32_of(const Bytes& data) {
    build_crc32_table();
    return crc32_update(0xFFFFFFFFu, reinterpret_cast<const uint8_t*>(data.data()), data.size()) ^ 0xFFFFFFFFu;
}
inline uint32_t old_sum_of(const Bytes& data) {
    return old_checksum_update(0, reinterpret_cast<const uint8_t*>(data.data()), data.size()) & 0xFFFF;
}

struct Entry {
    std::string name;
    Bytes data;                  // stored bytes that follow the header
    uint16_t flags = 0x8000;     // 0x8000 is always added
    uint8_t version = 20;
    uint8_t method = '0';
    uint8_t host = 2;
    uint32_t attributes = 0x20;
    uint32_t time = 0x2A43645C;  // 2001-02-03 12:34:56
    int64_t unpacked_size = -1;  // -1: data.size()
    int64_t packed_size = -1;    // -1: data.size()
    int64_t crc = -1;            // -1: CRC-32 of data
    int header_extra = 0;        // bytes after the name inside the header
    bool bad_header_crc = false;
};

class BlockArchive {
public:
    Bytes bytes;

    // Marker, plain main header and the entries.
    static BlockArchive of(std::initializer_list<Entry> entries) {
        BlockArchive a;
        a.marker().main_header();
        for (const Entry& e : entries) a.file(e);
        return a;
    }
    BlockArchive& marker() {
        bytes += std::string("Rar!\x1A\x07\x00", 7);
        return *this;
    }
    // Main header; extra bytes (an archive comment, say) extend it beyond 13.
    BlockArchive& main_header(uint16_t flags = 0, int extra = 0) {
        Bytes h;
        h += static_cast<char>(0x73);
        put16(h, flags);
        put16(h, static_cast<uint32_t>(13 + extra));
        put16(h, 0);
        put32(h, 0);
        h += Bytes(static_cast<size_t>(extra), 'c');
        finish(h);
        return *this;
    }
    BlockArchive& file(const Entry& e) {
        Bytes h;
        h += static_cast<char>(0x74);
        put16(h, e.flags | 0x8000u);
        put16(h, static_cast<uint32_t>(32 + e.name.size() + static_cast<size_t>(e.header_extra)));
        put32(h, static_cast<uint32_t>(e.packed_size >= 0 ? e.packed_size : static_cast<int64_t>(e.data.size())));
        put32(h, static_cast<uint32_t>(e.unpacked_size >= 0 ? e.unpacked_size : static_cast<int64_t>(e.data.size())));
        h += static_cast<char>(e.host);
        put32(h, static_cast<uint32_t>(e.crc >= 0 ? e.crc : crc32_of(e.data)));
        put32(h, e.time);
        h += static_cast<char>(e.version);
        h += static_cast<char>(e.method);
        put16(h, static_cast<uint32_t>(e.name.size()));
        put32(h, e.attributes);
        h += e.name;
        h += Bytes(static_cast<size_t>(e.header_extra), 'x');
        finish(h, e.bad_header_crc);
        bytes += e.data;
        return *this;
    }
    BlockArchive& folder(const std::string& name) {
        Entry e;
        e.name = name;
        e.flags = 0x80E0;
        e.attributes = 0x10;
        return file(e);
    }
    // Any block: type, flags, header size as stored (the header is padded or
    // cut to it) and, with flag 0x8000, added data.
    BlockArchive& block(uint8_t type, uint16_t flags, uint16_t header_size, const Bytes& added = {}) {
        Bytes h;
        h += static_cast<char>(type);
        put16(h, flags);
        put16(h, header_size);
        if (flags & 0x8000) put32(h, static_cast<uint32_t>(added.size()));
        Bytes whole = Bytes(2, '\0') + h;
        whole.resize(header_size < 7 ? 7 : header_size, '\0');
        bytes += whole;
        bytes += added;
        return *this;
    }
    void save(const fs::path& path) const { scratch::write_file(path, bytes); }

private:
    void finish(const Bytes& body, bool bad_crc = false) {
        uint32_t crc = crc32_of(body) & 0xFFFF;
        if (bad_crc) crc ^= 0x5A5A;
        put16(bytes, crc);
        bytes += body;
    }
};

class OldArchive {
public:
    Bytes bytes;

    OldArchive& main_header(uint8_t flags = 0, int extra = 0) {
        bytes += "RE~^";
        put16(bytes, static_cast<uint32_t>(7 + extra));
        bytes += static_cast<char>(flags);
        bytes += Bytes(static_cast<size_t>(extra), 'c');
        return *this;
    }
    // Raw fields, so tests can break any check.
    OldArchive& file(const std::string& name, const Bytes& data, uint8_t flags = 0, uint8_t version = 2,
                     uint8_t method = 0, int header_size = -1, int64_t sum = -1, int name_size = -1) {
        put32(bytes, static_cast<uint32_t>(data.size()));
        put32(bytes, static_cast<uint32_t>(data.size()));
        put16(bytes, static_cast<uint32_t>(sum >= 0 ? sum : old_sum_of(data)));
        put16(bytes, static_cast<uint32_t>(header_size >= 0 ? header_size : static_cast<int>(21 + name.size())));
        put32(bytes, 0x2A43645C);
        bytes += static_cast<char>(0x20);
        bytes += static_cast<char>(flags);
        bytes += static_cast<char>(version);
        bytes += static_cast<char>(name_size >= 0 ? name_size : static_cast<int>(name.size()));
        bytes += static_cast<char>(method);
        bytes += name;
        // A header longer than 21 + name carries a comment.
        int comment = (header_size >= 0 ? header_size : 0) - 21 - static_cast<int>(name.size());
        if (comment > 0) bytes += Bytes(static_cast<size_t>(comment), 'k');
        bytes += data;
        return *this;
    }
    void save(const fs::path& path) const { scratch::write_file(path, bytes); }
};

}  // namespace archive_test
