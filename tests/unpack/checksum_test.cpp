// CRC-32 and the old 16-bit checksum: known values, chaining, and the
// eight-bytes-per-step CRC against the plain byte-wise table method.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "format/checksum.h"

namespace {

const uint8_t* bytes(const char* s) { return reinterpret_cast<const uint8_t*>(s); }

uint32_t crc_bytewise(uint32_t value, const uint8_t* data, size_t length) {
    for (size_t i = 0; i < length; ++i)
        value = crc32_table[(value ^ data[i]) & 0xFF] ^ (value >> 8);
    return value;
}

class Checksum : public ::testing::Test {
protected:
    void SetUp() override { build_crc32_table(); }
};

TEST_F(Checksum, Crc32KnownValues) {
    EXPECT_EQ(~crc32_update(0xFFFFFFFFu, bytes("123456789"), 9), 0xCBF43926u);
    EXPECT_EQ(crc32_update(0xFFFFFFFFu, bytes("abc"), 3), 0xCADBBE3Du);
    EXPECT_EQ(checksum_update(0xFFFFFFFFu, bytes("abc"), 3, CHECKSUM_CRC32), 0xCADBBE3Du);
    EXPECT_EQ(crc32_update(0x12345678u, nullptr, 0), 0x12345678u);
}

TEST_F(Checksum, OldChecksumKnownValues) {
    EXPECT_EQ(old_checksum_update(0, bytes("abc"), 3), 0x0556u);
    const uint8_t one = 1;
    EXPECT_EQ(old_checksum_update(0xFFFF, &one, 1), 0u);
    std::vector<uint8_t> ff(300, 0xFF);
    EXPECT_EQ(old_checksum_update(0, ff.data(), ff.size()), 0xBE20u);
    EXPECT_EQ(checksum_update(0xABCD1234u, nullptr, 0, CHECKSUM_OLD), 0x1234u);
    EXPECT_EQ(checksum_update(0, bytes("abc"), 3, CHECKSUM_OLD), 0x0556u);
}

TEST_F(Checksum, FastCrcMatchesBytewiseAtEveryLengthAndAlignment) {
    std::mt19937 rng(7);
    std::vector<uint8_t> data(600);
    for (auto& b : data) b = uint8_t(rng());
    for (size_t offset = 0; offset < 9; ++offset)
        for (size_t length = 0; length + offset <= data.size(); length += 1 + length / 16) {
            uint32_t start = rng();
            ASSERT_EQ(crc32_update(start, data.data() + offset, length),
                      crc_bytewise(start, data.data() + offset, length))
                << "offset " << offset << " length " << length;
        }
}

TEST_F(Checksum, ChainedPiecesEqualOneCall) {
    std::mt19937 rng(11);
    std::vector<uint8_t> data(5000);
    for (auto& b : data) b = uint8_t(rng());
    for (int mode : {CHECKSUM_OLD, CHECKSUM_CRC32}) {
        uint32_t start = mode == CHECKSUM_OLD ? 0 : 0xFFFFFFFFu;
        uint32_t whole = checksum_update(start, data.data(), data.size(), mode);
        for (int round = 0; round < 20; ++round) {
            uint32_t v = start;
            size_t pos = 0;
            while (pos < data.size()) {
                size_t piece = std::min<size_t>(rng() % 97, data.size() - pos);
                v = checksum_update(v, data.data() + pos, piece, mode);
                pos += piece;
            }
            EXPECT_EQ(v, whole) << "mode " << mode;
        }
    }
}

}  // namespace
