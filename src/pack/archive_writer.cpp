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
std::vector<uint8_t> make_header(const ArchiveWriter& w, const char* name, uint16_t flags, uint32_t packed,
                                 uint32_t unpacked, uint32_t crc, uint32_t dos_time, uint8_t version, uint8_t method,
                                 uint32_t attributes) {
    size_t name_size = std::strlen(name);
    std::vector<uint8_t> h(FILE_HEADER_BYTES + name_size, 0);
    h[FIELD_TYPE] = BLOCK_FILE;
    store_le16(&h[FIELD_FLAGS], flags);
    store_le16(&h[FIELD_SIZE], static_cast<uint32_t>(h.size()));
    store_le32(&h[FILE_PACKED_SIZE], packed);
    store_le32(&h[FILE_UNPACKED_SIZE], unpacked);
    h[FILE_HOST_OS] = w.options.unix_host ? HOST_UNIX : HOST_WINDOWS;
    store_le32(&h[FILE_CRC32], crc);
    store_le32(&h[FILE_TIME], dos_time);
    h[FILE_VERSION] = version;
    h[FILE_METHOD] = method;
    store_le16(&h[FILE_NAME_SIZE], static_cast<uint32_t>(name_size));
    store_le32(&h[FILE_ATTRIBUTES], attributes);
    std::memcpy(&h[FILE_HEADER_BYTES], name, name_size);
    return h;
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

WriteResult fail(ArchiveWriter& w, WriteResult r) {
    if (w.entry_result == WriteResult::ok) w.entry_result = r;
    w.failed = true;
    return r;
}

// Writes the open entry's header for a new part (size and CRC filled in later).
bool start_part(ArchiveWriter& w, uint16_t part_flags) {
    OpenEntry& e = w.entry;
    e.part_fresh = w.volume_used == sizeof(BLOCK_MARKER) + MAIN_HEADER_BYTES;
    e.header_offset = w.volume_used;
    e.part_flags = part_flags;
    e.part_size = 0;
    e.part_crc = 0xFFFFFFFFu;
    e.writing = true;
    return write_bytes(w, e.header.data(), e.header.size());
}

// Completes the part's header in place with its flags, size and CRC.
bool finish_part(ArchiveWriter& w, uint16_t extra_flags, uint32_t crc) {
    OpenEntry& e = w.entry;
    std::vector<uint8_t>& h = e.header;
    uint16_t flags = load_le16(&h[FIELD_FLAGS]);
    store_le16(&h[FIELD_FLAGS], flags | e.part_flags | extra_flags);
    store_le32(&h[FILE_PACKED_SIZE], static_cast<uint32_t>(e.part_size));
    store_le32(&h[FILE_CRC32], crc);
    store_le16(&h[FIELD_CRC], header_crc(h.data(), h.size()));
    bool ok = !w.failed && platform::file_seek(w.file, static_cast<int64_t>(e.header_offset), platform::SeekFrom::start) &&
              platform::file_write(w.file, h.data(), h.size()) == h.size() &&
              platform::file_seek(w.file, static_cast<int64_t>(w.volume_used), platform::SeekFrom::start);
    store_le16(&h[FIELD_FLAGS], flags);
    e.writing = false;
    if (!ok) w.failed = true;
    return ok;
}

// Appends bytes to the current part, splitting the entry where the volume is
// full (the caller guarantees that more data follows these bytes).
bool part_write(ArchiveWriter& w, const uint8_t* data, size_t size) {
    OpenEntry& e = w.entry;
    while (size > 0) {
        uint64_t r = room(w);
        if (r == 0) {
            if (!finish_part(w, FILE_CONTINUES_IN_NEXT, ~e.part_crc) || !next_volume(w)) return false;
            if (room(w) < e.header.size() + 1) {
                fail(w, WriteResult::volume_too_small);
                return false;
            }
            if (!start_part(w, FILE_CONTINUED_FROM_PREVIOUS)) return false;
            continue;
        }
        size_t n = static_cast<size_t>(std::min<uint64_t>(size, r));
        if (!write_bytes(w, data, n)) return false;
        e.part_crc = crc32_update(e.part_crc, data, n);
        e.part_size += n;
        data += n;
        size -= n;
    }
    return true;
}

// Streams entry data. In a volume set the last byte so far is held back, so
// that a part only ends at a full volume while data still follows it.
bool data_put(ArchiveWriter& w, const uint8_t* data, size_t size) {
    OpenEntry& e = w.entry;
    if (w.failed || size == 0) return !w.failed;
    if (!volumes(w)) {
        if (!write_bytes(w, data, size)) return false;
        e.part_crc = crc32_update(e.part_crc, data, size);
        e.part_size += size;
        return true;
    }
    if (e.holding && !part_write(w, &e.held, 1)) return false;
    if (!part_write(w, data, size - 1)) return false;
    e.held = data[size - 1];
    e.holding = true;
    return true;
}

PackedSink data_sink(ArchiveWriter& w) {
    PackedSink s;
    s.context = &w;
    s.write = [](void* context, const uint8_t* data, size_t size) {
        data_put(*static_cast<ArchiveWriter*>(context), data, size);
    };
    return s;
}

// Finishes the held-back entry so that need_after bytes of room remain behind
// it: its last byte stays in this volume when there is room, else the entry
// ends in a part of one byte at the start of the next volume.
WriteResult settle_tail(ArchiveWriter& w, uint64_t need_after) {
    OpenEntry& e = w.entry;
    if (!e.tail) return WriteResult::ok;
    e.tail = false;
    e.holding = false;
    if (room(w) < 1 + need_after) {
        if (e.part_fresh && e.part_size == 0) return WriteResult::volume_too_small;
        if (!finish_part(w, FILE_CONTINUES_IN_NEXT, ~e.part_crc) || !next_volume(w)) return WriteResult::write_failed;
        if (room(w) < e.header.size() + 1 + need_after) return WriteResult::volume_too_small;
        if (!start_part(w, FILE_CONTINUED_FROM_PREVIOUS)) return WriteResult::write_failed;
    }
    if (!write_bytes(w, &e.held, 1)) return WriteResult::write_failed;
    e.part_size += 1;
    return finish_part(w, 0, e.file_crc) ? WriteResult::ok : WriteResult::write_failed;
}

// Opens an entry with data: places what waits, then writes its first header.
WriteResult begin_data(ArchiveWriter& w, std::vector<uint8_t> header) {
    w.entry_result = WriteResult::ok;
    if (volumes(w)) {
        WriteResult r = settle_tail(w, header.size() + 1);
        if (r != WriteResult::ok) return fail(w, r);
        if (!place_waiting(w, header.size() + 1)) return fail(w, WriteResult::write_failed);
        if (room(w) < header.size() + 1) return fail(w, WriteResult::volume_too_small);
    }
    w.entry.header = std::move(header);
    w.entry.holding = false;
    return start_part(w, 0) ? WriteResult::ok : fail(w, WriteResult::write_failed);
}

// Goes back to the start of the open entry's data (single archives only), to
// write different data over it with the given header.
bool restart_data(ArchiveWriter& w, std::vector<uint8_t> header) {
    OpenEntry& e = w.entry;
    uint64_t data_start = e.header_offset + e.header.size();
    if (w.failed || header.size() != e.header.size() ||
        !platform::file_seek(w.file, static_cast<int64_t>(data_start), platform::SeekFrom::start)) {
        w.failed = true;
        return false;
    }
    w.bytes_out -= w.volume_used - data_start;
    w.volume_used = data_start;
    e.header = std::move(header);
    e.part_size = 0;
    e.part_crc = 0xFFFFFFFFu;
    return true;
}

// Ends the open entry's data: a single archive completes the header now, a
// volume set holds the last byte back (settle_tail).
WriteResult end_data(ArchiveWriter& w, uint32_t file_crc) {
    if (w.failed) return w.entry_result != WriteResult::ok ? w.entry_result : WriteResult::write_failed;
    if (!volumes(w)) return finish_part(w, 0, file_crc) ? WriteResult::ok : WriteResult::write_failed;
    w.entry.file_crc = file_crc;
    w.entry.tail = true;
    return WriteResult::ok;
}

// An entry without data (folder, empty file).
WriteResult add_empty(ArchiveWriter& w, std::vector<uint8_t> header) {
    store_le16(&header[0], header_crc(header.data(), header.size()));
    if (!volumes(w)) return write_bytes(w, header.data(), header.size()) ? WriteResult::ok : WriteResult::write_failed;
    w.waiting.push_back(std::move(header));
    return WriteResult::ok;
}

// The entry's input with the CRC-32 of what it gave since the last rewind.
struct CrcInput {
    EntryInput inner;
    uint32_t crc = 0xFFFFFFFFu;
    uint64_t bytes = 0;

    bool rewind() {
        crc = 0xFFFFFFFFu;
        bytes = 0;
        return inner.rewind != nullptr && inner.rewind(inner.context);
    }
    EntryInput input() {
        EntryInput in;
        in.context = this;
        in.read = [](void* context, uint8_t* buffer, size_t count) {
            auto* c = static_cast<CrcInput*>(context);
            size_t n = c->inner.read(c->inner.context, buffer, count);
            c->crc = crc32_update(c->crc, buffer, n);
            c->bytes += n;
            return n;
        };
        in.rewind = [](void* context) { return static_cast<CrcInput*>(context)->rewind(); };
        return in;
    }
};

// Streams the input as stored data behind the open entry's header.
WriteResult stream_stored(ArchiveWriter& w, CrcInput& in, uint64_t size) {
    if (!in.rewind()) return fail(w, WriteResult::bad_argument);
    w.piece.resize(1 << 20);
    for (uint64_t done = 0; done < size;) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(w.piece.size(), size - done));
        size_t got = in.inner.read(in.inner.context, w.piece.data(), want);
        in.crc = crc32_update(in.crc, w.piece.data(), got);
        if (got != want) return fail(w, WriteResult::bad_argument);
        if (!data_put(w, w.piece.data(), got)) return fail(w, WriteResult::write_failed);
        done += got;
    }
    return end_data(w, ~in.crc);
}

// Recognises a PCM sound file from its first bytes (head); the sample count
// reaches to the end of the file (size bytes), not only of what head holds.
bool detect_wav_head(const uint8_t* head, size_t head_size, uint64_t size, WavLayout* wav) {
    if (!detect_wav(head, head_size, wav)) return false;
    if (head_size < size) {
        const uint8_t* p = head + wav->data_offset - 4;
        uint64_t chunk = uint64_t(p[0]) | uint64_t(p[1]) << 8 | uint64_t(p[2]) << 16 | uint64_t(p[3]) << 24;
        wav->data_size = static_cast<size_t>(std::min<uint64_t>(chunk, size - wav->data_offset));
    }
    return audio_applies(*wav, size);
}

constexpr size_t WAV_HEAD = 65536;  // bytes looked at to recognise a sound file

bool sniff_wav(CrcInput& in, uint64_t size, WavLayout* wav) {
    std::vector<uint8_t> head(static_cast<size_t>(std::min<uint64_t>(size, WAV_HEAD)));
    if (!in.rewind() || in.inner.read(in.inner.context, head.data(), head.size()) != head.size()) return false;
    return detect_wav_head(head.data(), head.size(), size, wav);
}

// The stored attributes of a file or folder entry.
uint32_t entry_attributes(const ArchiveWriter& w, uint32_t attributes, bool folder) {
    constexpr uint32_t UNIX_FILE = 0100000, UNIX_FOLDER = 040000;
    if (w.options.unix_host) {
        attributes &= 07777;
        if (attributes == 0) attributes = folder ? 0755 : 0644;
        return (folder ? UNIX_FOLDER : UNIX_FILE) | attributes;
    }
    if (folder) return 0x10;
    attributes &= 0x27;  // read-only, hidden, system, archive
    return attributes == 0 ? 0x20 : attributes;
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
    w.entry = OpenEntry{};
    w.entry_result = WriteResult::ok;
    w.waiting.clear();
    if (options.level > 0 && !w.encoder_ready) {
        encoder_init(w.encoder, settings_for_level(options.level));
        w.encoder.solid_set = w.options.solid;
        w.encoder_ready = true;
    }
    return start_volume(w, first_volume_path) ? WriteResult::ok : WriteResult::write_failed;
}

WriteResult writer_add_folder(ArchiveWriter& w, const char* name, uint32_t dos_time, uint32_t attributes) {
    if (!valid_name(name)) return WriteResult::bad_argument;
    if (w.failed) return WriteResult::write_failed;
    ++w.folders;
    return add_empty(w, make_header(w, name, FILE_LONG_BLOCK | FILE_DIRECTORY, 0, 0, 0, dos_time, 20, '0',
                                    entry_attributes(w, attributes, true)));
}

WriteResult writer_add_file(ArchiveWriter& w, const char* name, const uint8_t* data, size_t size, uint32_t dos_time,
                            uint32_t attributes, bool try_audio) {
    MemoryInput m{data, size};
    return writer_add_file_from(w, name, m.input(), size, dos_time, attributes, try_audio);
}

WriteResult writer_add_file_from(ArchiveWriter& w, const char* name, const EntryInput& input, uint64_t size,
                                 uint32_t dos_time, uint32_t attributes, bool try_audio) {
    if (!valid_name(name) || size > 0xFFFFFFFFu || input.read == nullptr) return WriteResult::bad_argument;
    if (w.failed) return WriteResult::write_failed;
    attributes = entry_attributes(w, attributes, false);
    const uint32_t usize = static_cast<uint32_t>(size);
    ++w.files;
    w.bytes_in += size;
    const uint16_t flags = FILE_LONG_BLOCK | FILE_DICTIONARY_1M;
    auto header = [&](uint16_t f, uint8_t method) {
        return make_header(w, name, f, 0, usize, 0, dos_time, 20, method, attributes);
    };
    CrcInput in{input};
    if (size == 0) return add_empty(w, header(flags, '0'));
    WriteResult r;
    if (w.options.level == 0) {
        if ((r = begin_data(w, header(flags, '0'))) != WriteResult::ok) return r;
        return stream_stored(w, in, size);
    }

    // Stand-alone entries of a non-solid archive are stored when packing does
    // not make them smaller (stored costs nothing to decode). A single archive
    // streams the packed bytes at once, at most size of them, and writes the
    // stored bytes over them when that happens; a volume set cannot go back
    // across volumes, so it measures first (packing is deterministic, so the
    // second run writes exactly what was measured).
    const bool solid = w.options.solid && w.packed_any;
    const bool may_store = !w.options.solid;
    const bool single = !volumes(w);
    const uint8_t method = static_cast<uint8_t>('0' + w.options.level);
    const uint16_t packed_flags = static_cast<uint16_t>(flags | (solid ? FILE_SOLID : 0));
    const uint64_t no_cap = UINT64_MAX;
    V20Encoder& enc = w.encoder;
    WavLayout wav;
    const bool is_wav = try_audio && sniff_wav(in, size, &wav);
    encoder_start_entry(enc, solid);
    auto input_failed = [&](const V20Encoder& e) { return e.lz.input_failed; };
    auto store = [&](bool begun) {
        if (begun ? !restart_data(w, header(flags, '0')) : begin_data(w, header(flags, '0')) != WriteResult::ok)
            return fail(w, WriteResult::write_failed);
        return stream_stored(w, in, size);
    };
    auto packed_pass = [&](V20Encoder& e, PackedSink& sink, bool give_up) {
        if (!in.rewind()) return EntryCoding::incompressible;
        return encode_entry_normal(e, in.input(), size, solid, sink, give_up);
    };

    if (!is_wav) {
        if (single || !may_store) {
            if ((r = begin_data(w, header(packed_flags, method))) != WriteResult::ok) return r;
            PackedSink sink = data_sink(w);
            sink.cap = may_store ? size : no_cap;
            EntryCoding coding = packed_pass(enc, sink, may_store);
            if (input_failed(enc)) return fail(w, WriteResult::bad_argument);
            if (may_store && (coding == EntryCoding::incompressible || sink.total >= size)) return store(true);
            w.packed_any = true;
            return end_data(w, ~in.crc);
        }
        PackedSink count;
        EntryCoding coding = packed_pass(enc, count, true);
        if (input_failed(enc)) return fail(w, WriteResult::bad_argument);
        if (coding == EntryCoding::incompressible || count.total >= size) return store(false);
        encoder_start_entry(enc, solid);
        if ((r = begin_data(w, header(packed_flags, method))) != WriteResult::ok) return r;
        PackedSink sink = data_sink(w);
        packed_pass(enc, sink, true);
        if (input_failed(enc)) return fail(w, WriteResult::bad_argument);
        w.packed_any = true;
        return end_data(w, ~in.crc);
    }

    // A sound file: the audio coding is measured on a copy of the encoder, the
    // normal coding runs (or is measured), and the shorter is written.
    const V20Encoder start = enc;
    uint64_t audio_size;
    {
        V20Encoder trial = start;
        PackedSink count;
        if (!in.rewind()) return fail(w, WriteResult::bad_argument);
        encode_entry_audio(trial, in.input(), size, solid, wav, count);
        if (input_failed(trial)) return fail(w, WriteResult::bad_argument);
        audio_size = count.total;
        // The normal coding starts from the literal estimate the audio
        // coding's leading normal part left behind.
        enc.literal_cost = trial.literal_cost;
    }
    uint64_t normal_size;
    V20Encoder measured;
    if (single) {
        if ((r = begin_data(w, header(packed_flags, method))) != WriteResult::ok) return r;
        PackedSink sink = data_sink(w);
        sink.cap = may_store ? std::min(audio_size, size) : audio_size;
        packed_pass(enc, sink, false);
        normal_size = sink.total;
    } else {
        measured = enc;
        PackedSink count;
        packed_pass(measured, count, false);
        normal_size = count.total;
    }
    if (input_failed(single ? enc : measured)) return fail(w, WriteResult::bad_argument);
    const bool audio = audio_size < normal_size;
    if (may_store && std::min(audio_size, normal_size) >= size) return store(single);
    if (!audio) {
        if (!single) {
            if ((r = begin_data(w, header(packed_flags, method))) != WriteResult::ok) return r;
            PackedSink sink = data_sink(w);
            packed_pass(enc, sink, false);
            if (input_failed(enc)) return fail(w, WriteResult::bad_argument);
        }
        w.packed_any = true;
        return end_data(w, ~in.crc);
    }
    if (single) {
        if (!restart_data(w, header(packed_flags, method))) return fail(w, WriteResult::write_failed);
    } else {
        enc = std::move(measured);  // the matcher as the normal coding left it, as in the single case
        if ((r = begin_data(w, header(packed_flags, method))) != WriteResult::ok) return r;
    }
    V20Encoder trial = start;
    PackedSink sink = data_sink(w);
    if (!in.rewind()) return fail(w, WriteResult::bad_argument);
    encode_entry_audio(trial, in.input(), size, solid, wav, sink);
    if (input_failed(trial)) return fail(w, WriteResult::bad_argument);
    enc.state = trial.state;
    ++w.audio_entries;
    w.packed_any = true;
    return end_data(w, ~in.crc);
}

void prepare_entry(V20Encoder& enc, int level, const uint8_t* data, size_t size, bool try_audio, PreparedEntry& out) {
    if (!enc.lz.head.size()) encoder_init(enc, settings_for_level(level));
    out.file_crc = crc32_of(data, size);
    WavLayout wav;
    bool is_wav = try_audio && detect_wav_head(data, std::min(size, WAV_HEAD), size, &wav);
    out.data.clear();
    EntryCoding coding = encode_entry(enc, data, size, false, is_wav ? &wav : nullptr, out.data, true);
    out.stored = coding == EntryCoding::incompressible || out.data.size() >= size;
    out.audio = !out.stored && coding == EntryCoding::audio;
    if (out.stored) out.data.assign(data, data + size);
}

WriteResult writer_add_prepared(ArchiveWriter& w, const char* name, uint64_t size, uint32_t dos_time,
                                uint32_t attributes, const PreparedEntry& entry) {
    if (!valid_name(name) || size == 0 || size > 0xFFFFFFFFu || w.options.solid || volumes(w) ||
        w.options.level == 0)
        return WriteResult::bad_argument;
    if (w.failed) return WriteResult::write_failed;
    attributes = entry_attributes(w, attributes, false);
    ++w.files;
    w.bytes_in += size;
    uint8_t method = entry.stored ? '0' : static_cast<uint8_t>('0' + w.options.level);
    WriteResult r = begin_data(
        w, make_header(w, name, FILE_LONG_BLOCK | FILE_DICTIONARY_1M, 0, static_cast<uint32_t>(size), 0, dos_time, 20,
                       method, attributes));
    if (r != WriteResult::ok) return r;
    if (!data_put(w, entry.data.data(), entry.data.size())) return fail(w, WriteResult::write_failed);
    if (!entry.stored) w.packed_any = true;
    if (entry.audio) ++w.audio_entries;
    return end_data(w, entry.file_crc);
}

WriteResult writer_close(ArchiveWriter& w) {
    WriteResult result = WriteResult::ok;
    if (!w.failed && volumes(w)) {
        result = settle_tail(w, waiting_bytes(w));
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
    w.entry = OpenEntry{};
    w.waiting.clear();
}

}  // namespace pack
