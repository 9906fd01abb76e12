// Recognising an archive (also inside an executable) and walking its headers
// block by block, for both the old format and the 1.5-2.x block format.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/entry_names.h"
#include "format/archive_format.h"

// The marker search looks at most this far into a file (the buffer keeps 16
// zero bytes behind the data so comparisons may run past the last byte read).
inline constexpr size_t SEARCH_BUFFER_BYTES = 0x20000;
inline constexpr size_t SEARCH_READ_BYTES = 0x1FFF0;

// 1 when archive_file (positioned at its start) holds an archive, 0 when not.
// On 1 the stream stands right after the fixed part of the main header.
int identify_archive();
// Reads and decodes the fixed part of a main (0x73) or file (0x74) header at
// the current position; returns the bytes read.
int load_fixed_header(uint8_t block_type);
// Reads the next header of the wanted type (the program always wants 0x74),
// stepping over other blocks; with accept_sub_blocks a sub-block (0x77) is
// returned too. Returns the header bytes read, 0 at the end or on a malformed
// header (block_header then has type 0).
int fetch_block(uint8_t wanted_type, bool accept_sub_blocks);
