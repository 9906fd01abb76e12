// CRC-32 (reflected, generator 0xEDB88320) and the old format's 16-bit
// add-and-rotate checksum. The CRC runs eight bytes per step on tables derived
// from crc32_table; its result is identical to the byte-wise table method.
#include "format/checksum.h"

#include <cstring>

uint32_t crc32_table[256];

namespace {

// slice_table[k][i]: CRC of byte i followed by k zero bytes. Row 0 is crc32_table.
uint32_t slice_table[8][256];
bool slices_ready = false;

uint32_t crc32_bytewise(uint32_t value, const uint8_t* data, size_t length) {
    for (size_t i = 0; i < length; ++i)
        value = crc32_table[(value ^ data[i]) & 0xFF] ^ (value >> 8);
    return value;
}

inline uint32_t load_le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

void build_crc32_table() {
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t v = i;
        for (int bit = 0; bit < 8; ++bit)
            v = (v & 1) ? (v >> 1) ^ 0xEDB88320u : v >> 1;
        crc32_table[i] = v;
    }
    std::memcpy(slice_table[0], crc32_table, sizeof crc32_table);
    for (int k = 1; k < 8; ++k)
        for (int i = 0; i < 256; ++i) {
            uint32_t prev = slice_table[k - 1][i];
            slice_table[k][i] = crc32_table[prev & 0xFF] ^ (prev >> 8);
        }
    slices_ready = true;
}

uint32_t crc32_update(uint32_t value, const uint8_t* data, size_t length) {
    // Until the table is built the result must still be what the byte-wise
    // method gives on the (zero) table, so the fast path waits for the build.
    if (!slices_ready)
        return crc32_bytewise(value, data, length);
    while (length >= 8) {
        uint32_t lo = load_le32(data) ^ value;
        uint32_t hi = load_le32(data + 4);
        value = slice_table[7][lo & 0xFF] ^ slice_table[6][(lo >> 8) & 0xFF] ^
                slice_table[5][(lo >> 16) & 0xFF] ^ slice_table[4][lo >> 24] ^
                slice_table[3][hi & 0xFF] ^ slice_table[2][(hi >> 8) & 0xFF] ^
                slice_table[1][(hi >> 16) & 0xFF] ^ slice_table[0][hi >> 24];
        data += 8;
        length -= 8;
    }
    return crc32_bytewise(value, data, length);
}

uint32_t old_checksum_update(uint32_t value, const uint8_t* data, size_t length) {
    uint32_t s = value & 0xFFFF;
    for (size_t i = 0; i < length; ++i) {
        s = (s + data[i]) & 0xFFFF;
        s = ((s << 1) | (s >> 15)) & 0xFFFF;
    }
    return s;
}

uint32_t checksum_update(uint32_t value, const uint8_t* data, size_t length, int mode) {
    if (mode == CHECKSUM_OLD)
        return old_checksum_update(value, data, length) & 0xFFFF;
    return crc32_update(value, data, length);
}
