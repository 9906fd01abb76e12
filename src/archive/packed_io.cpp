// Packed bytes in, unpacked bytes out. The decoders and the stored copy touch
// the archive and the output file only through read_packed_data and
// write_unpacked_data, so one entry's checksum and progress span all volumes.
#include "archive/packed_io.h"

#include "archive/archive_state.h"
#include "archive/streams.h"
#include "archive/volumes.h"
#include "archive/progress.h"
#include "format/checksum.h"
#include "unpack/decoder.h"

int32_t read_packed_data(uint8_t* buffer, int32_t count) {
    ArchiveState& a = archive_state;
    int32_t total = 0;
    if (count <= 0) return 0;
    for (;;) {
        uint32_t n = static_cast<uint32_t>(count) < a.packed_left ? static_cast<uint32_t>(count) : a.packed_left;
        // A failed volume switch leaves no stream to read from.
        if (!a.archive_file || !a.packed_source) return 0;
        size_t r = n ? stream_read(a.packed_source, buffer + total, n) : 0;
        total += static_cast<int32_t>(r);
        count -= static_cast<int32_t>(r);
        a.packed_left -= static_cast<uint32_t>(r);
        if (a.packed_left != 0) break;
        if (!a.continues_in_next) break;
        switch_to_next_volume();
        if (count <= 0) break;
    }
    return total;
}

int32_t write_unpacked_data(const uint8_t* buffer, int32_t count) {
    ArchiveState& a = archive_state;
    if (count < 0) count = 0;
    if (!a.no_output && count > 0)
        count = static_cast<int32_t>(stream_write_checked(a.output_file, buffer, static_cast<size_t>(count)));
    a.unpacked_done += count;
    if (!a.no_checksum && count > 0)
        a.data_checksum = checksum_update(a.data_checksum, buffer, static_cast<size_t>(count),
                                          a.format == FORMAT_OLD ? CHECKSUM_OLD : CHECKSUM_CRC32);
    report_progress();
    return count;
}

void copy_stored_data() {
    ArchiveState& a = archive_state;
    int64_t& bytes_left = decoder_bytes_left();
    // In a solid archive the window holds what the next packed entry copies
    // from, so the bytes go through a buffer of their own there.
    static uint8_t solid_buffer[STORED_SOLID_CHUNK];
    uint8_t* const buffer = a.is_solid ? solid_buffer : a.window;
    const int32_t chunk = a.is_solid ? STORED_SOLID_CHUNK : STORED_CHUNK;
    for (;;) {
        int32_t n = read_packed_data(buffer, chunk);
        if (n == 0) break;
        // Packed bytes beyond the unpacked size are read and dropped.
        if (bytes_left <= 0)
            n = 0;
        else if (n > bytes_left)
            n = static_cast<int32_t>(bytes_left);
        write_unpacked_data(buffer, n);
        if (bytes_left >= 0) bytes_left -= n;
    }
}
