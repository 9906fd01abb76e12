// Checksums of unpacked data: CRC-32 for the block format and the old format's
// 16-bit add-and-rotate sum, behind one selector used by the output path.
#pragma once

#include <cstddef>
#include <cstdint>

// Filled by build_crc32_table; entry i is the reflected CRC-32 remainder of byte i.
extern uint32_t crc32_table[256];

// Builds the table (and the derived tables of the fast methods) and picks the
// fastest CRC method the processor offers. Building it again changes nothing.
void build_crc32_table();
// Running CRC-32 update; neither the start value nor the result is inverted.
// Before build_crc32_table it gives what the byte-wise rule gives on the
// all-zero table.
uint32_t crc32_update(uint32_t value, const uint8_t* data, size_t length);
// The table method alone (eight bytes per step), whatever the processor offers:
// the fallback of crc32_update and the reference its fast method is tested against.
uint32_t crc32_update_table(uint32_t value, const uint8_t* data, size_t length);
// True when build_crc32_table found carry-less multiplication and crc32_update
// folds with it.
bool crc32_uses_clmul();
// True when crc32_update folds 256 bits per instruction (the wide form of
// carry-less multiplication, with the system saving 256-bit registers).
bool crc32_uses_wide_clmul();
// Old format: add each byte to the low 16 bits, then rotate them left by one.
uint32_t old_checksum_update(uint32_t value, const uint8_t* data, size_t length);

inline constexpr int CHECKSUM_OLD = 1;
inline constexpr int CHECKSUM_CRC32 = 2;
// mode 1: old_checksum_update (low 16 bits); any other mode: crc32_update.
uint32_t checksum_update(uint32_t value, const uint8_t* data, size_t length, int mode);
