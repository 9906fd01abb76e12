// The plumbing between the archive and the decoders: packed bytes in (across
// volumes), unpacked bytes out (with checksum and progress), the stored copy,
// and the stream wrappers (streams.h) every reader part uses.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/streams.h"

// Packed bytes of the current entry into buffer, crossing into the next
// volume when the entry continues there; 0 when the data is exhausted or the
// next volume could not be opened.
int32_t read_packed_data(uint8_t* buffer, int32_t count);
// Writes (unless no_output), checksums (unless no_checksum) and reports
// progress; returns count. A failed write ends the run with exit code 5.
int32_t write_unpacked_data(const uint8_t* buffer, int32_t count);
// Moves a stored entry from read_packed_data to write_unpacked_data through
// the driver's window (through a buffer of its own in a solid archive, whose
// window the next entry goes on with); bytes beyond the unpacked size are
// read and dropped.
void copy_stored_data();

// Bytes moved per stored-copy step: the whole window, so the buffered streams
// pass large pieces straight to the system; in a solid archive, 64 KiB.
inline constexpr int32_t STORED_CHUNK = 0x100000;
inline constexpr int32_t STORED_SOLID_CHUNK = 0x10000;
