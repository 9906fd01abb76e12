// The archive formats as stored: markers, block types and flags, and where each
// header field lies. The reader (archive/) and the writer (pack/) both take
// them from here.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- markers
inline constexpr int MARKER_BYTES = 7;
// The block format (1.5-2.x) starts with this marker block.
inline constexpr uint8_t BLOCK_MARKER[MARKER_BYTES] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
// The older format starts with "RE~^". Inside another file (a self-extracting
// program) it counts only when that file carries "RSFX" at offset 28.
inline constexpr uint8_t OLD_MARKER[4] = {0x52, 0x45, 0x7E, 0x5E};
inline constexpr char OLD_SFX_SIGNATURE[4] = {'R', 'S', 'F', 'X'};
inline constexpr int OLD_SFX_SIGNATURE_AT = 28;

// ---- block types
inline constexpr uint8_t BLOCK_MAIN = 0x73;
inline constexpr uint8_t BLOCK_FILE = 0x74;
inline constexpr uint8_t BLOCK_SUB = 0x77;

// ---- flags of the main header
inline constexpr uint16_t MAIN_VOLUME = 0x01;
inline constexpr uint16_t MAIN_SOLID = 0x08;

// ---- flags of a file header
inline constexpr uint16_t FILE_CONTINUED_FROM_PREVIOUS = 0x01;
inline constexpr uint16_t FILE_CONTINUES_IN_NEXT = 0x02;
inline constexpr uint16_t FILE_ENCRYPTED = 0x04;
inline constexpr uint16_t FILE_HAS_COMMENT = 0x08;
inline constexpr uint16_t FILE_SOLID = 0x10;
inline constexpr uint16_t FILE_DICTIONARY_BITS = 0xE0;
inline constexpr uint16_t FILE_DICTIONARY_1M = 0x80;
inline constexpr uint16_t FILE_DIRECTORY = 0xE0;  // every dictionary bit set
// Of every block: data of packed_size bytes follows the header.
inline constexpr uint16_t FILE_LONG_BLOCK = 0x8000;

inline constexpr uint8_t HOST_WINDOWS = 2;
inline constexpr uint8_t HOST_UNIX = 3;  // attributes hold the st_mode (type and permission bits)

// ---- header layout of the block format (byte offsets into the header)
// Common to every block.
inline constexpr int FIELD_CRC = 0;    // 2 bytes: low half of the CRC-32 from FIELD_TYPE on
inline constexpr int FIELD_TYPE = 2;   // 1 byte
inline constexpr int FIELD_FLAGS = 3;  // 2 bytes
inline constexpr int FIELD_SIZE = 5;   // 2 bytes: the whole header
// Main header.
inline constexpr int MAIN_RESERVED1 = 7;  // 2 bytes
inline constexpr int MAIN_RESERVED2 = 9;  // 4 bytes
inline constexpr int MAIN_HEADER_BYTES = 13;
// File header (the name follows the fixed part).
inline constexpr int FILE_PACKED_SIZE = 7;     // 4 bytes (the added size of a long block)
inline constexpr int FILE_UNPACKED_SIZE = 11;  // 4 bytes
inline constexpr int FILE_HOST_OS = 15;        // 1 byte
inline constexpr int FILE_CRC32 = 16;          // 4 bytes
inline constexpr int FILE_TIME = 20;           // 4 bytes, MS-DOS date and time
inline constexpr int FILE_VERSION = 24;        // 1 byte
inline constexpr int FILE_METHOD = 25;         // 1 byte, '0'..'5'
inline constexpr int FILE_NAME_SIZE = 26;      // 2 bytes
inline constexpr int FILE_ATTRIBUTES = 28;     // 4 bytes
inline constexpr int FILE_HEADER_BYTES = 32;

// ---- header layout of the old format
inline constexpr int OLD_MAIN_SIZE = 4;  // 2 bytes: the main header's size
inline constexpr int OLD_MAIN_FLAGS = 6;  // 1 byte
inline constexpr int OLD_MAIN_HEADER_BYTES = 7;
inline constexpr int OLD_PACKED_SIZE = 0;    // 4 bytes
inline constexpr int OLD_UNPACKED_SIZE = 4;  // 4 bytes
inline constexpr int OLD_CHECKSUM = 8;       // 2 bytes
inline constexpr int OLD_HEADER_SIZE = 10;   // 2 bytes
inline constexpr int OLD_TIME = 12;          // 4 bytes
inline constexpr int OLD_ATTRIBUTES = 16;    // 1 byte
inline constexpr int OLD_FLAGS = 17;         // 1 byte
inline constexpr int OLD_VERSION = 18;       // 1 byte
inline constexpr int OLD_NAME_SIZE = 19;     // 1 byte
inline constexpr int OLD_METHOD = 20;        // 1 byte
inline constexpr int OLD_FILE_HEADER_BYTES = 21;

// The stored header CRC: the low 16 bits of the CRC-32 of the header from
// FIELD_TYPE on.
uint16_t header_crc(const uint8_t* header, size_t size);
