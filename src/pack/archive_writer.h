// Writes archives of the 1.5-2.x block format: the marker, a main header per
// volume, folder entries and file entries (stored, or packed with the 2.0
// method), solid runs, and volume sets split at a given size.
//
// In a volume set every volume but the last ends inside an entry whose data
// continues in the next volume (flag 0x02; the continuation carries 0x01),
// because that is how a reader finds the next volume. Entries without data
// (folders, empty files) cannot continue, so the writer places them where
// room is left and keeps the last file entry back until it knows whether it
// must be split. Non-last parts of an entry store the CRC-32 of their own
// packed bytes; the last part stores the CRC-32 of the whole file.
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
};

enum class WriteResult { ok, bad_argument, write_failed, volume_too_small };

// One entry waiting to be written (volume sets only).
struct PendingEntry {
    std::vector<uint8_t> header;  // fixed part and name, CRC and flags filled in per part
    std::vector<uint8_t> data;    // packed bytes
    uint32_t file_crc = 0;
    bool in_use = false;
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
    PendingEntry pending;
    std::vector<std::vector<uint8_t>> waiting;  // headers of entries without data
    // Figures for the summary.
    uint64_t files = 0, folders = 0, bytes_in = 0, bytes_out = 0;
    uint32_t audio_entries = 0;
};

// Creates the first volume at first_volume_path. Further volumes are named from
// naming_path (null: first_volume_path) by the rule in format/volume_name.h.
WriteResult writer_open(ArchiveWriter& w, const char* first_volume_path, const char* naming_path,
                        const WriterOptions& options);
// Adds a folder entry (name relative, backslash separators).
WriteResult writer_add_folder(ArchiveWriter& w, const char* name, uint32_t dos_time);
// Adds a file entry with its whole content in memory.
WriteResult writer_add_file(ArchiveWriter& w, const char* name, const uint8_t* data, size_t size, uint32_t dos_time,
                            uint32_t attributes, bool try_audio = true);
// Writes what is still held back and closes the last volume.
WriteResult writer_close(ArchiveWriter& w);
// Closes and leaves whatever was written (after a failure).
void writer_abandon(ArchiveWriter& w);

}  // namespace pack
