// Archive writer: headers, entries and volumes.
#include "pack/archive_writer.h"

#include <algorithm>
#include <cstring>

#include "format/checksum.h"
#include "format/little_endian.h"
#include "format/volume_name.h"

namespace pack {

namespace {

uint32_t crc32_of(const uint8_t* data, size_t size) { return ~crc32_update(0xFFFFFFFFu, data, size); }

bool volumes(const ArchiveWriter& w) { return w.options.volume_size != 0; }

uint64_t room(const ArchiveWriter& w) {
    if (!volumes(w)) return UINT64_MAX;
    return w.volume_used < w.options.volume_size ? w.options.volume_size - w.volume_used : 0;
}

bool write_bytes(ArchiveWriter& w, const uint8_t* data, size_t size) {
    if (w.failed || w.file == nullptr) return false;
    if (size != 0 && platform::file_write(w.file, data, size) != size) {
        w.failed = true;
        return false;
    }
    w.volume_used += size;
    w.bytes_out += size;
    return true;
}

bool start_volume(ArchiveWriter& w, const char* path) {
    w.file = platform::file_open(path, platform::FileOpen::read_write_always, platform::FileShare::read_only);
    if (w.file == nullptr) {
        w.failed = true;
        return false;
    }
    std::strncpy(w.volume_path, path, platform::MAX_PATH_CHARS);
    w.volume_used = 0;
    ++w.volume_count;
    uint8_t main[MAIN_HEADER_BYTES] = {};
    uint16_t flags = static_cast<uint16_t>((w.options.solid ? MAIN_SOLID : 0) | (volumes(w) ? MAIN_VOLUME : 0));
    main[FIELD_TYPE] = BLOCK_MAIN;
    store_le16(main + FIELD_FLAGS, flags);
    store_le16(main + FIELD_SIZE, MAIN_HEADER_BYTES);
    store_le16(main + FIELD_CRC, header_crc(main, MAIN_HEADER_BYTES));
    return write_bytes(w, BLOCK_MARKER, sizeof(BLOCK_MARKER)) && write_bytes(w, main, sizeof(main));
}

bool close_volume(ArchiveWriter& w) {
    bool ok = platform::file_close(w.file);
    w.file = nullptr;
    if (!ok) w.failed = true;
    return ok;
}

bool next_volume(ArchiveWriter& w) {
    if (!close_volume(w)) return false;
    if (!next_volume_name(w.naming_path)) {
        w.failed = true;
        return false;
    }
    return start_volume(w, w.naming_path);
}

// Fixed part and name of a file or folder header; CRC filled in by write_header.
std::vector<uint8_t> make_header(const char* name, uint16_t flags, uint32_t packed, uint32_t unpacked, uint32_t crc,
                                 uint32_t dos_time, uint8_t version, uint8_t method, uint32_t attributes) {
    size_t name_size = std::strlen(name);
    std::vector<uint8_t> h(FILE_HEADER_BYTES + name_size, 0);
    h[FIELD_TYPE] = BLOCK_FILE;
    store_le16(&h[FIELD_FLAGS], flags);
    store_le16(&h[FIELD_SIZE], static_cast<uint32_t>(h.size()));
    store_le32(&h[FILE_PACKED_SIZE], packed);
    store_le32(&h[FILE_UNPACKED_SIZE], unpacked);
    h[FILE_HOST_OS] = HOST_WINDOWS;
    store_le32(&h[FILE_CRC32], crc);
    store_le32(&h[FILE_TIME], dos_time);
    h[FILE_VERSION] = version;
    h[FILE_METHOD] = method;
    store_le16(&h[FILE_NAME_SIZE], static_cast<uint32_t>(name_size));
    store_le32(&h[FILE_ATTRIBUTES], attributes);
    std::memcpy(&h[FILE_HEADER_BYTES], name, name_size);
    return h;
}

// Writes a header with this part's flags, packed size and CRC, then the part's data.
bool write_part(ArchiveWriter& w, std::vector<uint8_t>& header, uint16_t extra_flags, const uint8_t* data,
                size_t size, uint32_t crc) {
    uint16_t flags = load_le16(&header[FIELD_FLAGS]);
    store_le16(&header[FIELD_FLAGS], flags | extra_flags);
    store_le32(&header[FILE_PACKED_SIZE], static_cast<uint32_t>(size));
    store_le32(&header[FILE_CRC32], crc);
    store_le16(&header[FIELD_CRC], header_crc(header.data(), header.size()));
    bool ok = write_bytes(w, header.data(), header.size()) && write_bytes(w, data, size);
    store_le16(&header[FIELD_FLAGS], flags);
    return ok;
}

// Writes entries without data while each leaves keep bytes of room behind it.
bool place_waiting(ArchiveWriter& w, uint64_t keep) {
    size_t n = 0;
    while (n < w.waiting.size() && room(w) >= w.waiting[n].size() + keep) {
        if (!write_bytes(w, w.waiting[n].data(), w.waiting[n].size())) return false;
        ++n;
    }
    w.waiting.erase(w.waiting.begin(), w.waiting.begin() + static_cast<std::ptrdiff_t>(n));
    return true;
}

uint64_t waiting_bytes(const ArchiveWriter& w) {
    uint64_t total = 0;
    for (const auto& h : w.waiting) total += h.size();
    return total;
}

// Writes the held-back entry so that need_after bytes of room remain behind
// it, splitting it across volumes where it must. closing: need_after is
// ignored and the waiting entries must all follow it.
WriteResult place_pending(ArchiveWriter& w, uint64_t need_after, bool closing) {
    PendingEntry& p = w.pending;
    const uint64_t header_size = p.header.size();
    if (!place_waiting(w, header_size + 1)) return WriteResult::write_failed;
    if (closing) need_after = waiting_bytes(w);
    size_t offset = 0, rest = p.data.size();
    uint16_t from = 0;
    for (;;) {
        uint64_t r = room(w);
        if (r >= header_size + rest + need_after) {
            if (!write_part(w, p.header, from, p.data.data() + offset, rest, p.file_crc))
                return WriteResult::write_failed;
            break;
        }
        bool fresh_volume = w.volume_used == sizeof(BLOCK_MARKER) + MAIN_HEADER_BYTES;
        if (r < header_size + 1 || (fresh_volume && rest == 1)) return WriteResult::volume_too_small;
        size_t part = static_cast<size_t>(std::min<uint64_t>(rest - 1, r - header_size));
        const uint8_t* data = p.data.data() + offset;
        if (!write_part(w, p.header, from | FILE_CONTINUES_IN_NEXT, data, part, crc32_of(data, part)))
            return WriteResult::write_failed;
        offset += part;
        rest -= part;
        from = FILE_CONTINUED_FROM_PREVIOUS;
        if (!next_volume(w)) return WriteResult::write_failed;
    }
    p.in_use = false;
    p.data.clear();
    return WriteResult::ok;
}

WriteResult add_entry(ArchiveWriter& w, std::vector<uint8_t> header, std::vector<uint8_t>&& data,
                      uint32_t file_crc) {
    if (!volumes(w)) {
        return write_part(w, header, 0, data.data(), data.size(), file_crc) ? WriteResult::ok
                                                                             : WriteResult::write_failed;
    }
    if (data.empty()) {
        store_le16(&header[FIELD_CRC], header_crc(header.data(), header.size()));
        w.waiting.push_back(std::move(header));
        return WriteResult::ok;
    }
    if (w.pending.in_use) {
        WriteResult r = place_pending(w, header.size() + 1, false);
        if (r != WriteResult::ok) return r;
    }
    w.pending.header = std::move(header);
    w.pending.data = std::move(data);
    w.pending.file_crc = file_crc;
    w.pending.in_use = true;
    return WriteResult::ok;
}

bool valid_name(const char* name) {
    size_t n = name ? std::strlen(name) : 0;
    return n > 0 && n <= MAX_NAME_BYTES;
}

}  // namespace

WriteResult writer_open(ArchiveWriter& w, const char* first_volume_path, const char* naming_path,
                        const WriterOptions& options) {
    if (first_volume_path == nullptr || std::strlen(first_volume_path) > platform::MAX_PATH_CHARS ||
        options.level < 0 || options.level > 5 ||
        (options.volume_size != 0 && options.volume_size < MIN_VOLUME_SIZE))
        return WriteResult::bad_argument;
    if (naming_path == nullptr) naming_path = first_volume_path;
    if (std::strlen(naming_path) > platform::MAX_PATH_CHARS) return WriteResult::bad_argument;
    build_crc32_table();
    w.options = options;
    if (options.level == 0) w.options.solid = false;  // nothing is packed, so nothing is solid
    std::strncpy(w.naming_path, naming_path, platform::MAX_PATH_CHARS);
    w.naming_path[platform::MAX_PATH_CHARS] = '\0';
    w.failed = false;
    w.volume_count = 0;
    w.files = w.folders = w.bytes_in = w.bytes_out = 0;
    w.audio_entries = 0;
    w.packed_any = false;
    w.pending = PendingEntry{};
    w.waiting.clear();
    if (options.level > 0 && !w.encoder_ready) {
        encoder_init(w.encoder, settings_for_level(options.level));
        w.encoder_ready = true;
    }
    return start_volume(w, first_volume_path) ? WriteResult::ok : WriteResult::write_failed;
}

WriteResult writer_add_folder(ArchiveWriter& w, const char* name, uint32_t dos_time) {
    if (!valid_name(name)) return WriteResult::bad_argument;
    if (w.failed) return WriteResult::write_failed;
    ++w.folders;
    return add_entry(w, make_header(name, FILE_LONG_BLOCK | FILE_DIRECTORY, 0, 0, 0, dos_time, 20, '0', 0x10), {}, 0);
}

WriteResult writer_add_file(ArchiveWriter& w, const char* name, const uint8_t* data, size_t size, uint32_t dos_time,
                            uint32_t attributes, bool try_audio) {
    if (!valid_name(name) || size > 0xFFFFFFFFu) return WriteResult::bad_argument;
    if (w.failed) return WriteResult::write_failed;
    attributes &= 0x27;  // read-only, hidden, system, archive
    if (attributes == 0) attributes = 0x20;
    uint32_t crc = crc32_of(data, size);
    uint32_t usize = static_cast<uint32_t>(size);
    ++w.files;
    w.bytes_in += size;
    uint16_t flags = FILE_LONG_BLOCK | FILE_DICTIONARY_1M;
    if (size == 0 || w.options.level == 0)
        return add_entry(w, make_header(name, flags, 0, usize, crc, dos_time, 20, '0', attributes),
                         std::vector<uint8_t>(data, data + size), crc);

    std::vector<uint8_t> packed;
    packed.reserve(size / 2 + 64);
    bool solid = w.options.solid && w.packed_any;
    WavLayout wav;
    bool is_wav = try_audio && detect_wav(data, size, &wav);
    EntryCoding coding =
        encode_entry(w.encoder, data, size, solid, is_wav ? &wav : nullptr, packed, !w.options.solid);
    if (!w.options.solid && (coding == EntryCoding::incompressible || packed.size() >= size)) {
        // Incompressible: stored costs nothing to decode and is never larger.
        return add_entry(w, make_header(name, flags, 0, usize, crc, dos_time, 20, '0', attributes),
                         std::vector<uint8_t>(data, data + size), crc);
    }
    if (coding == EntryCoding::audio) ++w.audio_entries;
    w.packed_any = true;
    if (solid) flags |= FILE_SOLID;
    uint8_t method = static_cast<uint8_t>('0' + w.options.level);
    return add_entry(w, make_header(name, flags, 0, usize, crc, dos_time, 20, method, attributes), std::move(packed),
                     crc);
}

WriteResult writer_close(ArchiveWriter& w) {
    WriteResult result = WriteResult::ok;
    if (!w.failed && volumes(w)) {
        if (w.pending.in_use) result = place_pending(w, 0, true);
        if (result == WriteResult::ok) {
            uint64_t need = waiting_bytes(w);
            if (need > room(w)) result = WriteResult::volume_too_small;
            else if (!place_waiting(w, 0)) result = WriteResult::write_failed;
        }
    }
    if (w.file != nullptr && !close_volume(w) && result == WriteResult::ok) result = WriteResult::write_failed;
    if (w.failed && result == WriteResult::ok) result = WriteResult::write_failed;
    return result;
}

void writer_abandon(ArchiveWriter& w) {
    if (w.file != nullptr) platform::file_close(w.file);
    w.file = nullptr;
    w.pending = PendingEntry{};
    w.waiting.clear();
}

}  // namespace pack
