// The one process-wide record of the archive being read: the headers of the
// current volume and entry, the packed-data and output streams, and the
// extraction driver's own fields. There is only ever one archive open.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/archive_format.h"

namespace platform { struct File; }

// Path buffers hold at most 259 characters and the terminator.
inline constexpr int ARCHIVE_PATH_CHARS = 259;

inline constexpr int FORMAT_UNKNOWN = 0;
inline constexpr int FORMAT_OLD = 1;    // archives that start with "RE~^"
inline constexpr int FORMAT_BLOCK = 2;  // the 1.5-2.x block format

struct MainHeader {
    uint16_t header_crc;
    uint8_t header_type;
    uint16_t flags;
    uint16_t header_size;
    uint16_t reserved1;
    uint32_t reserved2;
};

struct FileHeader {
    uint16_t header_crc;
    uint8_t header_type;
    uint16_t flags;
    uint16_t header_size;
    uint32_t packed_size;
    uint32_t unpacked_size;
    uint8_t host_os;
    uint32_t file_crc;
    uint32_t file_time;
    uint8_t version_needed;
    uint8_t method;
    uint16_t name_size;
    uint32_t attributes;
    // Beside the stored fields: the mode of an entry from a Unix host (its
    // stored attributes, before they are replaced by MS-DOS ones; 0 for other
    // hosts), and a name that no longer fits once shown in UTF-8.
    uint32_t unix_mode;
    bool name_too_long;
};

// The old format's entry header as stored (21 bytes).
struct OldFileHeader {
    uint32_t packed_size;
    uint32_t unpacked_size;
    uint16_t checksum;
    uint16_t header_size;
    uint32_t file_time;
    uint8_t attributes;
    uint8_t flags;
    uint8_t version;
    uint8_t name_size;
    uint8_t method;
};

struct BlockHeader {
    uint16_t header_crc;
    uint8_t header_type;
    uint16_t flags;
    uint16_t header_size;
    uint32_t added_size;
};

struct ArchiveState {
    // ---- headers of the current volume and entry
    platform::File* archive_file;
    char volume_name[ARCHIVE_PATH_CHARS + 1];
    int format;
    int main_header_bytes;
    MainHeader main_header;
    bool is_solid;
    FileHeader file_header;
    OldFileHeader old_file_header;
    char file_name[ARCHIVE_PATH_CHARS + 1];
    BlockHeader block_header;
    int64_t block_start;
    int64_t next_block;
    uint8_t* search_buffer;  // lives only during the marker search

    // ---- packed-data input and unpacked output
    bool continues_in_next;
    uint32_t packed_left;
    platform::File* packed_source;
    platform::File* output_file;
    bool no_output;
    bool no_checksum;
    uint32_t unpacked_done;  // entries never deliver more than their 32-bit size
    uint32_t data_checksum;
    int drive_index;
    bool volume_switch_failed;  // the current entry's data could not be followed
    const char* archive_path;  // the path the run was asked to extract
    bool silent;  // a headers-only measuring walk: no message, no question

    // ---- the extraction driver
    char command_word[ARCHIVE_PATH_CHARS + 1];
    char destination[ARCHIVE_PATH_CHARS + 1];
    int status;
    platform::File* entry_file;
    char entry_file_name[ARCHIVE_PATH_CHARS + 1];  // the file being written, as a name below destination
    uint8_t* window;
};

extern ArchiveState archive_state;

// Zeroes every field (no stream is closed, no buffer freed); drive_index -1.
void reset_archive_state();

// The names that select entries, and the archive files a name stands for.
struct NameMaskList {
    char* masks;  // the masks back to back, each terminated
    size_t bytes;
    int count;
    bool has_wildcards;
    int done;
    int cursor_index;
    size_t cursor_offset;
    char current_mask[260];
};

struct ArchiveList {
    char* paths;  // full paths back to back, each terminated
    size_t bytes;
    int remaining;
    int collected;
    size_t offset;
    char search_folder[260];
    char search_name[260];
};

extern NameMaskList name_masks;
extern ArchiveList archive_list;

// Free a list and put its record back to empty.
void release_name_masks();
void release_archive_list();
