// Writes archives of the 1.5-2.x block format: the marker, a main header per
// volume, folder entries and file entries (stored, or packed with the 2.0
// method), solid runs, and volume sets split at a given size.
//
// In a volume set every volume but the last ends inside an entry whose data
// continues in the next volume (flag 0x02; the continuation carries 0x01),
// because that is how a reader finds the next volume. Entries without data
// (folders, empty files) cannot continue, so the writer places them where
// room is left and holds the last byte of the latest file entry back until it
// knows whether the entry must be split. Non-last parts of an entry store the
// CRC-32 of their own packed bytes; the last part stores the CRC-32 of the
// whole file.
//
// Entry data streams: files are read and packed in pieces and the packed bytes
// go straight into the volume, behind a header that is completed in place
// once the part is done, so memory does not grow with the sizes of files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "format/archive_format.h"
#include "pack/v20_encoder.h"
#include "platform/platform.h"

namespace pack {

inline constexpr int MAX_NAME_BYTES = 259;  // what readers keep of a stored name
inline constexpr uint64_t MIN_VOLUME_SIZE = 512;

struct WriterOptions {
    int level = 3;             // 0 stored, 1 fastest .. 5 best
    bool solid = false;        // one window and table chain across all packed files
    uint64_t volume_size = 0;  // 0: one file; else the largest size of a volume
    int threads = 1;           // files of a non-solid single archive packed side by side (pack_tree)
    bool unix_host = false;    // entries of a Unix host: attributes are st_mode permission bits, not DOS ones
};

enum class WriteResult { ok, bad_argument, write_failed, volume_too_small };

// The entry whose data is being written: the header of its current part
// (completed in place when the part ends) and the part's running figures.
struct OpenEntry {
    std::vector<uint8_t> header;  // fixed part and name; flags, size and CRC set per part
    bool writing = false;         // a part's header is in the volume, its data follows
    bool tail = false;            // volume sets: data complete, the last byte held back
    bool part_fresh = false;      // the part began a volume
    uint64_t header_offset = 0;   // offset of the part's header in the current volume
    uint16_t part_flags = 0;      // FILE_CONTINUED_FROM on parts after the first
    uint64_t part_size = 0;
    uint32_t part_crc = 0xFFFFFFFFu;  // running CRC-32 of the part's bytes
    bool holding = false;
    uint8_t held = 0;
    uint32_t file_crc = 0;
};

struct ArchiveWriter {
    WriterOptions options;
    char volume_path[platform::MAX_PATH_CHARS + 1] = {};  // the volume being written
    char naming_path[platform::MAX_PATH_CHARS + 1] = {};  // further volumes are named from this
    platform::File* file = nullptr;
    int volume_count = 0;
    uint64_t volume_used = 0;
    bool failed = false;
    V20Encoder encoder;
    bool encoder_ready = false;
    bool packed_any = false;  // a packed entry was written: later ones may be solid
    OpenEntry entry;
    WriteResult entry_result = WriteResult::ok;  // first failure while data streamed
    std::vector<uint8_t> piece;                  // stored data passes through here
    std::vector<std::vector<uint8_t>> waiting;  // headers of entries without data
    // Figures for the summary.
    uint64_t files = 0, folders = 0, bytes_in = 0, bytes_out = 0;
    uint32_t audio_entries = 0;
};

// Creates the first volume at first_volume_path. Further volumes are named from
// naming_path (null: first_volume_path) by the rule in format/volume_name.h.
WriteResult writer_open(ArchiveWriter& w, const char* first_volume_path, const char* naming_path,
                        const WriterOptions& options);
// Attributes given to the calls below are MS-DOS ones (only read-only, hidden,
// system and archive are kept; none gives archive), or with options.unix_host
// the permission bits of a mode (0: 0644 for files, 0755 for folders; set-id
// and sticky bits kept as given, the reader decides what to apply).
// Adds a folder entry (name relative, backslash separators).
WriteResult writer_add_folder(ArchiveWriter& w, const char* name, uint32_t dos_time, uint32_t attributes = 0);
// Adds a file entry with its whole content in memory.
WriteResult writer_add_file(ArchiveWriter& w, const char* name, const uint8_t* data, size_t size, uint32_t dos_time,
                            uint32_t attributes, bool try_audio = true);
// Adds a file entry of size bytes read from input in pieces (from the start,
// possibly more than once). bad_argument when the input ends early or cannot
// start over; the archive is then incomplete.
WriteResult writer_add_file_from(ArchiveWriter& w, const char* name, const EntryInput& input, uint64_t size,
                                 uint32_t dos_time, uint32_t attributes, bool try_audio = true);
// A file entry packed ahead of its turn (non-solid single archives): the bytes
// the writer would write for it, stored or packed.
struct PreparedEntry {
    std::vector<uint8_t> data;
    uint32_t file_crc = 0;
    bool stored = true;
    bool audio = false;
};
// Packs a file held in memory (size at least 1) with enc exactly as
// writer_add_file would in a non-solid archive at this level (1 to 5). Entries
// of such an archive do not depend on each other, so any encoder with the
// level's settings gives the same bytes.
void prepare_entry(V20Encoder& enc, int level, const uint8_t* data, size_t size, bool try_audio, PreparedEntry& out);
// Adds a prepared file entry (its size is out.data's unless stored).
WriteResult writer_add_prepared(ArchiveWriter& w, const char* name, uint64_t size, uint32_t dos_time,
                                uint32_t attributes, const PreparedEntry& entry);

// Writes what is still held back and closes the last volume.
WriteResult writer_close(ArchiveWriter& w);
// Closes and leaves whatever was written (after a failure).
void writer_abandon(ArchiveWriter& w);

}  // namespace pack
