// The header CRC of the block format.
#include "format/archive_format.h"

#include "format/checksum.h"

uint16_t header_crc(const uint8_t* header, size_t size) {
    return static_cast<uint16_t>(~crc32_update(0xFFFFFFFFu, header + FIELD_TYPE, size - FIELD_TYPE) & 0xFFFF);
}
