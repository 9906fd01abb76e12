// CRC-32 and the old 16-bit checksum: known values, chaining, and every fast
// method against the plain byte-wise rules at every length and alignment.
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

uint32_t old_sum_bytewise(uint32_t value, const uint8_t* data, size_t length) {
    uint32_t s = value & 0xFFFF;
    for (size_t i = 0; i < length; ++i) {
        s = (s + data[i]) & 0xFFFF;
        s = ((s << 1) | (s >> 15)) & 0xFFFF;
    }
    return s;
}

// The run-time choice (carry-less folding where the processor has it: 256-bit
// from 256 bytes on where it has the wide form, 128-bit below that) and the
// table method both equal the byte-wise rule; lengths cross every fold step.
TEST_F(Checksum, FastMethodsMatchBytewiseAtEveryLengthAndAlignment) {
    std::mt19937 rng(7);
    std::vector<uint8_t> data(16 + 700);
    for (auto& b : data) b = uint8_t(rng());
    for (size_t offset = 0; offset < 16; ++offset)
        for (size_t length = 0; length + offset <= data.size(); ++length) {
            const uint8_t* p = data.data() + offset;
            uint32_t start = rng();
            uint32_t want = crc_bytewise(start, p, length);
            ASSERT_EQ(crc32_update(start, p, length), want) << "offset " << offset << " length " << length;
            ASSERT_EQ(crc32_update_table(start, p, length), want) << "offset " << offset << " length " << length;
            ASSERT_EQ(old_checksum_update(start, p, length), old_sum_bytewise(start, p, length))
                << "offset " << offset << " length " << length;
        }
    std::vector<uint8_t> big(1 << 20);
    for (auto& b : big) b = uint8_t(rng());
    EXPECT_EQ(crc32_update(0xFFFFFFFFu, big.data(), big.size()), crc_bytewise(0xFFFFFFFFu, big.data(), big.size()));
}

// Data that drives the old checksum where its block method must give way to
// the byte-by-byte rule: additions that carry (by exactly one or more), sums of
// exactly 0xFFFF or 0 (which share their residue modulo 65535), runs of 0xFF
// and of 0; each from several start values, at every length 0..300 and at 32
// alignments.
TEST_F(Checksum, OldChecksumOnDataMadeToCarryOrHitTheSharedResidue) {
    std::mt19937 rng(13);
    // Each byte chosen from the running sum s: 0 random, 1 sum to 0xFFFF,
    // 2 carry by one, 3 sum to 0 (wrap exactly), 4 0xFF, 5 0.
    auto steer = [&rng](uint16_t s, int how) -> uint8_t {
        int want = how == 1 ? 0xFFFF - s : how == 2 ? 0x10000 - s : how == 3 ? 0x10000 - s : -1;
        if (how == 4) return 0xFF;
        if (how == 5) return 0;
        if (want >= 0 && want <= 0xFF) return uint8_t(want);
        return uint8_t(rng());
    };
    struct Shape {
        uint16_t start;
        int mix;  // ways in use: bit k for way k
    };
    const Shape shapes[] = {{0, 0b000001}, {0xFFFF, 0b000111}, {0xFFFE, 0b001011}, {1, 0b010111},
                            {0x8000, 0b111111}, {0x7FFF, 0b010000}, {0xFFFF, 0b100000}, {0, 0b110000}};
    std::vector<uint8_t> storage(32 + 300);
    for (const Shape& shape : shapes) {
        std::vector<uint8_t> data(300);
        uint16_t s = shape.start;
        for (auto& b : data) {
            int how;
            do how = int(rng() % 6); while (!(shape.mix >> how & 1));
            b = steer(s, how);
            s = uint16_t(old_sum_bytewise(s, &b, 1));
        }
        for (size_t offset = 0; offset < 32; ++offset) {
            std::copy(data.begin(), data.end(), storage.begin() + offset);
            for (size_t length = 0; length <= data.size(); ++length)
                ASSERT_EQ(old_checksum_update(shape.start, storage.data() + offset, length),
                          old_sum_bytewise(shape.start, data.data(), length))
                    << "start " << shape.start << " mix " << shape.mix << " offset " << offset << " length " << length;
        }
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
