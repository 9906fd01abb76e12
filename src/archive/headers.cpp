// Recognising an archive and walking its headers. Both on-disk formats are
// decoded into the one FileHeader shape, so nothing after this file looks at
// the old layout. All multi-byte fields are little-endian and unaligned.
#include "archive/headers.h"

#include "archive/archive_state.h"
#include "archive/status.h"
#include "archive/streams.h"
#include "bundle/bundle.h"
#include "format/little_endian.h"
#include "platform/platform.h"
#include "platform/text.h"

#include <cstdlib>
#include <cstring>

namespace {

// Reads up to count bytes; the bytes that are not there read as zeros.
int read_fixed(uint8_t* buffer, int count) {
    std::memset(buffer, 0, static_cast<size_t>(count));
    return static_cast<int>(stream_read(archive_state.archive_file, buffer, static_cast<size_t>(count)));
}

void clear_block_header() { archive_state.block_header = BlockHeader{}; }

// Reads the name that follows a file header into file_name and applies the
// rules every stored name goes through.
void read_name() {
    ArchiveState& a = archive_state;
    FileHeader& h = a.file_header;
    if (h.name_size >= ARCHIVE_PATH_CHARS) h.name_size = ARCHIVE_PATH_CHARS;
    std::memset(a.file_name, 0, sizeof a.file_name);
    stream_read(a.archive_file, a.file_name, h.name_size);
    a.file_name[h.name_size] = '\0';
    h.unix_mode = h.host_os == 3 ? h.attributes : 0;
    h.name_too_long = false;
    if (h.host_os > 3) {
        h.host_os = 0;
        h.attributes = (h.flags & FILE_DICTIONARY_BITS) == FILE_DICTIONARY_BITS ? platform::ATTR_DIRECTORY
                                                                                : platform::ATTR_ARCHIVE;
    }
    // Names from MS-DOS, OS/2 and Windows hosts are Windows-1251 bytes; where
    // the user's names are UTF-8 they are made in UTF-8 (as the messages are
    // shown). Unix names stay as stored. A name that grows past the path
    // limit is kept as stored and refused by the driver, never cut.
    if (h.host_os <= 2 && platform::names_are_utf8()) {
        if (platform::cp1251_utf8_length(a.file_name) > static_cast<size_t>(ARCHIVE_PATH_CHARS)) {
            h.name_too_long = true;
        } else {
            char converted[ARCHIVE_PATH_CHARS + 1];
            platform::cp1251_to_utf8(a.file_name, converted, sizeof converted);
            std::memcpy(a.file_name, converted, sizeof converted);
        }
    }
    char separator = platform::path_separator();
    for (char* p = a.file_name; *p; ++p)
        if (platform::is_separator(*p)) *p = separator;
}

// One window of the marker search: reads up to SEARCH_READ_BYTES from file
// offset base and scans them for a marker, lowest offset first. origin is the
// start of the file (or bundle member) the window belongs to: the old format
// is recognised only with "RSFX" at origin + 28, or right at a member's start.
bool search_window(int64_t base, int64_t origin, bool member) {
    ArchiveState& a = archive_state;
    uint8_t* buffer = a.search_buffer;
    std::memset(buffer, 0, SEARCH_BUFFER_BYTES);
    if (!stream_seek(a.archive_file, base, platform::SeekFrom::start)) return false;
    size_t n = stream_read(a.archive_file, buffer, SEARCH_READ_BYTES);
    const int64_t rsfx_index = origin + OLD_SFX_SIGNATURE_AT - base;
    bool rsfx = rsfx_index >= 0 && rsfx_index + 4 <= static_cast<int64_t>(SEARCH_BUFFER_BYTES) &&
                std::memcmp(buffer + rsfx_index, OLD_SFX_SIGNATURE, 4) == 0;
    static_assert(OLD_MARKER[0] == BLOCK_MARKER[0]);
    for (size_t k = 0; k < n; ++k) {
        if (buffer[k] != BLOCK_MARKER[0]) continue;
        const int64_t at = base + static_cast<int64_t>(k);
        if (std::memcmp(buffer + k + 1, OLD_MARKER + 1, 3) == 0 && (rsfx || (member && at == origin))) {
            a.format = FORMAT_OLD;
            stream_seek(a.archive_file, at, platform::SeekFrom::start);
            load_fixed_header(BLOCK_MAIN);
            return true;
        }
        if (std::memcmp(buffer + k + 1, BLOCK_MARKER + 1, MARKER_BYTES - 1) == 0 &&
            buffer[k + MARKER_BYTES + FIELD_TYPE] == BLOCK_MAIN) {
            a.format = FORMAT_BLOCK;
            stream_seek(a.archive_file, at, platform::SeekFrom::start);
            uint8_t marker[MARKER_BYTES];
            stream_read(a.archive_file, marker, sizeof marker);
            load_fixed_header(BLOCK_MAIN);
            return true;
        }
    }
    return false;
}

struct MemberStarts {
    int64_t offsets[64];
    int count;
};

bool collect_member(const BundleMember& member, void* context) {
    MemberStarts* starts = static_cast<MemberStarts*>(context);
    if (starts->count < 64) starts->offsets[starts->count++] = static_cast<int64_t>(member.offset);
    return true;
}

// Marker search inside another file; the stream stands 7 bytes in. The first
// window covers file offsets 7 to 0x1FFF6. Our own executables are larger than
// that window, so when the file is an installer bundle each appended member is
// searched the same way from its own start.
bool search_marker() {
    ArchiveState& a = archive_state;
    a.search_buffer = static_cast<uint8_t*>(std::malloc(SEARCH_BUFFER_BYTES));
    if (!a.search_buffer) abort_extraction(MEMORY_ERROR);
    int64_t base = platform::file_tell(a.archive_file);
    if (base < 0) base = MARKER_BYTES;
    bool found = search_window(base, 0, false);
    if (!found) {
        MemberStarts starts{};
        if (walk_bundle_directory(a.archive_file, collect_member, &starts)) {
            for (int i = 0; i < starts.count && !found; ++i)
                if (starts.offsets[i] >= base) found = search_window(starts.offsets[i], starts.offsets[i], true);
        }
    }
    std::free(a.search_buffer);
    a.search_buffer = nullptr;
    return found;
}

int fetch_old_entry() {
    ArchiveState& a = archive_state;
    a.block_start = platform::file_tell(a.archive_file);
    int n = load_fixed_header(BLOCK_FILE);
    const OldFileHeader& o = a.old_file_header;
    // A header cut short by the end of the file ends the archive.
    if (n < OLD_FILE_HEADER_BYTES || o.method > 7 || o.name_size < 1 || o.name_size > 80 || o.version < 1 ||
        o.version > 20 || o.header_size < 22 || (o.flags < 8 && o.header_size != OLD_FILE_HEADER_BYTES + o.name_size)) {
        clear_block_header();
        return 0;
    }
    FileHeader& h = a.file_header;
    h = FileHeader{};
    h.header_type = BLOCK_FILE;
    h.flags = static_cast<uint16_t>(o.flags | FILE_LONG_BLOCK);
    h.header_size = o.header_size;
    h.packed_size = o.packed_size;
    h.unpacked_size = o.unpacked_size;
    h.file_time = o.file_time;
    h.name_size = o.name_size;
    h.attributes = o.attributes;
    h.file_crc = o.checksum;
    h.version_needed = o.version == 2 ? 13 : 10;
    h.method = static_cast<uint8_t>('0' + o.method);
    h.host_os = 0;
    a.next_block = a.block_start + o.header_size + static_cast<int64_t>(o.packed_size);
    a.block_header = BlockHeader{0, BLOCK_FILE, h.flags, h.header_size, h.packed_size};
    read_name();
    return OLD_FILE_HEADER_BYTES + h.name_size;
}

}  // namespace

int load_fixed_header(uint8_t block_type) {
    ArchiveState& a = archive_state;
    uint8_t b[FILE_HEADER_BYTES];
    if (a.format == FORMAT_OLD) {
        if (block_type == BLOCK_MAIN) {
            int n = read_fixed(b, OLD_MAIN_HEADER_BYTES);
            a.main_header = MainHeader{};
            a.main_header.header_size = load_le16(b + OLD_MAIN_SIZE);
            a.main_header.flags = b[OLD_MAIN_FLAGS] & 0x3F;
            return n;
        }
        int n = read_fixed(b, OLD_FILE_HEADER_BYTES);
        OldFileHeader& o = a.old_file_header;
        o.packed_size = load_le32(b + OLD_PACKED_SIZE);
        o.unpacked_size = load_le32(b + OLD_UNPACKED_SIZE);
        o.checksum = load_le16(b + OLD_CHECKSUM);
        o.header_size = load_le16(b + OLD_HEADER_SIZE);
        o.file_time = load_le32(b + OLD_TIME);
        o.attributes = b[OLD_ATTRIBUTES];
        o.flags = b[OLD_FLAGS];
        o.version = b[OLD_VERSION];
        o.name_size = b[OLD_NAME_SIZE];
        o.method = b[OLD_METHOD];
        return n;
    }
    if (block_type == BLOCK_MAIN) {
        int n = read_fixed(b, MAIN_HEADER_BYTES);
        MainHeader& m = a.main_header;
        m.header_crc = load_le16(b + FIELD_CRC);
        m.header_type = b[FIELD_TYPE];
        m.flags = load_le16(b + FIELD_FLAGS);
        m.header_size = load_le16(b + FIELD_SIZE);
        m.reserved1 = load_le16(b + MAIN_RESERVED1);
        m.reserved2 = load_le32(b + MAIN_RESERVED2);
        return n;
    }
    int n = read_fixed(b, FILE_HEADER_BYTES);
    FileHeader& h = a.file_header;
    h.header_crc = load_le16(b + FIELD_CRC);
    h.header_type = b[FIELD_TYPE];
    h.flags = load_le16(b + FIELD_FLAGS);
    h.header_size = load_le16(b + FIELD_SIZE);
    h.packed_size = load_le32(b + FILE_PACKED_SIZE);
    h.unpacked_size = load_le32(b + FILE_UNPACKED_SIZE);
    h.host_os = b[FILE_HOST_OS];
    h.file_crc = load_le32(b + FILE_CRC32);
    h.file_time = load_le32(b + FILE_TIME);
    h.version_needed = b[FILE_VERSION];
    h.method = b[FILE_METHOD];
    h.name_size = load_le16(b + FILE_NAME_SIZE);
    h.attributes = load_le32(b + FILE_ATTRIBUTES);
    return n;
}

int identify_archive() {
    ArchiveState& a = archive_state;
    a.is_solid = false;
    a.format = FORMAT_UNKNOWN;
    uint8_t head[MARKER_BYTES];
    if (stream_read(a.archive_file, head, sizeof head) < sizeof head) return 0;
    if (std::memcmp(head, OLD_MARKER, 4) == 0) {
        a.format = FORMAT_OLD;
        stream_seek(a.archive_file, 0, platform::SeekFrom::start);
        load_fixed_header(BLOCK_MAIN);
    } else if (std::memcmp(head, BLOCK_MARKER, MARKER_BYTES) == 0) {
        a.format = FORMAT_BLOCK;
        if (load_fixed_header(BLOCK_MAIN) != MAIN_HEADER_BYTES) {
            a.format = FORMAT_UNKNOWN;
            return 0;
        }
    } else if (!search_marker()) {
        a.format = FORMAT_UNKNOWN;
        return 0;
    }
    a.main_header_bytes = a.format == FORMAT_OLD ? OLD_MAIN_HEADER_BYTES : MAIN_HEADER_BYTES;
    a.is_solid = (a.main_header.flags & MAIN_SOLID) != 0;
    return 1;
}

int fetch_block(uint8_t wanted_type, bool accept_sub_blocks) {
    ArchiveState& a = archive_state;
    if (a.format == FORMAT_OLD) return fetch_old_entry();

    const FileHeader saved = a.file_header;
    int n = 0;
    for (;;) {
        a.block_start = platform::file_tell(a.archive_file);
        n = load_fixed_header(BLOCK_FILE);
        const FileHeader& h = a.file_header;
        // Nothing left, or a fragment too short to say where the next block is.
        if (n < 7 || a.block_start < 0 || ((h.flags & FILE_LONG_BLOCK) && n < 11) || h.header_size < 7) {
            a.file_header = saved;
            clear_block_header();
            return 0;
        }
        a.next_block = a.block_start + h.header_size;
        if (h.flags & FILE_LONG_BLOCK) a.next_block += h.packed_size;
        if (a.next_block <= a.block_start) {
            a.file_header = saved;
            clear_block_header();
            return 0;
        }
        if (h.header_type == wanted_type || (accept_sub_blocks && h.header_type == BLOCK_SUB)) break;
        stream_seek(a.archive_file, a.next_block, platform::SeekFrom::start);
    }
    const FileHeader& h = a.file_header;
    a.block_header = BlockHeader{h.header_crc, h.header_type, h.flags, h.header_size,
                                 (h.flags & FILE_LONG_BLOCK) ? h.packed_size : 0u};
    if (h.header_type == wanted_type) {
        // A file header needs its whole fixed part.
        if (n < FILE_HEADER_BYTES || h.header_size < FILE_HEADER_BYTES) {
            a.file_header = saved;
            clear_block_header();
            return 0;
        }
        // Without the long-block flag no data follows: the entry's data then
        // starts where the next block does, never before the header's end.
        if (!(a.file_header.flags & FILE_LONG_BLOCK)) a.file_header.packed_size = 0;
        read_name();
        return FILE_HEADER_BYTES + a.file_header.name_size;
    }
    a.file_header = saved;
    stream_seek(a.archive_file, a.block_start, platform::SeekFrom::start);
    return n;
}
