// Packing and unpacking bundles. Files are copied through one bounded buffer,
// so memory use does not grow with the size of a member.
#include "bundle/bundle.h"

#include <cstring>

#include "format/entry_names.h"
#include "format/little_endian.h"
#include "platform/system_extra.h"

namespace {

constexpr size_t COPY_CHUNK = 1 << 20;
unsigned char copy_buffer[COPY_CHUNK];
unsigned char directory_buffer[MAX_BUNDLE_DIRECTORY + 4];
// The directory being walked, read whole: a visit may move the file position.
unsigned char directory[MAX_BUNDLE_DIRECTORY];
// A signature taken off a bundle that gets new members: the bytes behind the
// bundle (alignment and certificate table), kept to put it back on failure.
unsigned char saved_signature[MAX_SIGNATURE_BYTES];

// Copies count bytes from the current position of from to that of to.
bool copy_bytes(platform::File* from, platform::File* to, uint64_t count) {
    while (count > 0) {
        size_t chunk = count < COPY_CHUNK ? static_cast<size_t>(count) : COPY_CHUNK;
        if (platform::file_read(from, copy_buffer, chunk) != chunk) return false;
        if (platform::file_write(to, copy_buffer, chunk) != chunk) return false;
        count -= chunk;
    }
    return true;
}

bool read_at(platform::File* f, uint64_t offset, unsigned char* buffer, size_t count) {
    return platform::file_seek(f, static_cast<int64_t>(offset), platform::SeekFrom::start) &&
           platform::file_read(f, buffer, count) == count;
}

// A Windows program's certificate entry (data directory 4 of the optional
// header): where it lies in the file, and the table's file offset and size.
struct CertificateEntry {
    uint64_t at;
    uint32_t start;
    uint32_t size;
};

// Finds the certificate entry of a PE file. Every field is checked against
// the bytes actually read; false for anything that is not a well-formed PE
// header with at least five data directories.
bool find_certificate_entry(platform::File* f, uint64_t file_size, CertificateEntry* entry) {
    unsigned char dos[64];
    if (file_size < sizeof dos || !read_at(f, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
    const uint64_t pe = load_le32(dos + 0x3C);
    // "PE\0\0", the 20-byte file header, then the optional header up to the
    // end of the fifth data directory of the larger (PE32+) layout.
    constexpr size_t FILE_HEADER_END = 24;
    unsigned char h[FILE_HEADER_END + 112 + 5 * 8];
    if (pe >= file_size || file_size - pe < FILE_HEADER_END + 2) return false;
    const size_t got = file_size - pe < sizeof h ? static_cast<size_t>(file_size - pe) : sizeof h;
    if (!read_at(f, pe, h, got) || std::memcmp(h, "PE\0\0", 4) != 0) return false;
    const uint16_t optional_size = load_le16(h + 20);
    const uint16_t magic = load_le16(h + FILE_HEADER_END);
    const size_t directories = magic == 0x10B ? 96 : magic == 0x20B ? 112 : 0;  // PE32 or PE32+
    if (directories == 0) return false;
    const size_t certificates = directories + 4 * 8;
    if (optional_size < certificates + 8 || got < FILE_HEADER_END + certificates + 8) return false;
    // The count of data directories stands right before them.
    if (load_le32(h + FILE_HEADER_END + directories - 4) < 5) return false;
    entry->at = pe + FILE_HEADER_END + certificates;
    entry->start = load_le32(h + FILE_HEADER_END + certificates);
    entry->size = load_le32(h + FILE_HEADER_END + certificates + 4);
    return true;
}

// Reads the directory of a bundle that ends at end (its size field is the 4
// bytes before end) into directory and checks all of it: the size, every
// entry inside the directory, offsets in order and none past the directory.
bool load_directory(platform::File* bundle, uint64_t end, uint32_t* size, uint64_t* start) {
    if (end < 4) return false;
    unsigned char tail[4];
    if (!read_at(bundle, end - 4, tail, 4)) return false;
    const uint32_t d = load_le32(tail);
    if (d > MAX_BUNDLE_DIRECTORY || d > end - 4) return false;
    const uint64_t directory_start = end - 4 - d;
    if (!read_at(bundle, directory_start, directory, d)) return false;
    uint64_t previous = 0;
    for (uint32_t pos = 0; pos < d;) {
        if (d - pos < 5 || d - pos - 5 < directory[pos + 4]) return false;
        uint64_t offset = load_le32(directory + pos);
        if (offset < previous || offset > directory_start) return false;
        previous = offset;
        pos += 5 + directory[pos + 4];
    }
    *size = d;
    *start = directory_start;
    return true;
}

// Finds and checks the directory (see load_directory). It ends the file, or
// on a signed Windows program it ends where the certificate table begins, or
// up to 7 zero bytes before: signing aligns the table to 8 bytes. There the
// first non-empty directory found from the table backwards is taken. end, when
// given, receives where the bundle ends.
bool locate_directory(platform::File* bundle, uint32_t* size, uint64_t* start, uint64_t* end = nullptr) {
    const int64_t file_size = platform::file_size(bundle);
    if (file_size < 0) return false;
    const int64_t table = certificate_table_start(bundle);
    if (table < 0) {
        if (end) *end = static_cast<uint64_t>(file_size);
        return load_directory(bundle, static_cast<uint64_t>(file_size), size, start);
    }
    unsigned char gap[8];
    const size_t before = table < 8 ? static_cast<size_t>(table) : 8;
    if (!read_at(bundle, static_cast<uint64_t>(table) - before, gap, before)) return false;
    for (size_t padding = 0; padding < before; ++padding) {
        if (padding > 0 && gap[before - padding] != 0) break;
        const uint64_t candidate = static_cast<uint64_t>(table) - padding;
        if (load_directory(bundle, candidate, size, start) && *size > 0) {
            if (end) *end = candidate;
            return true;
        }
    }
    return false;
}

// What build_bundle took off an existing signed bundle: the certificate
// entry's place and bytes, and where the bundle ended (the table and its
// alignment are in saved_signature).
struct StrippedSignature {
    bool done = false;
    uint64_t entry_at = 0;
    unsigned char entry[8] = {};
    uint64_t bundle_end = 0;
    size_t tail_size = 0;
};

bool write_at(const char* path, uint64_t offset, const void* bytes, size_t count) {
    platform::File* f = platform::file_open(path, platform::FileOpen::read_write_existing);
    bool ok = f && platform::file_seek(f, static_cast<int64_t>(offset), platform::SeekFrom::start) &&
              platform::file_write(f, bytes, count) == count;
    return platform::file_close(f) && ok;
}

// Puts the bundle back the way it was: a new one goes, an old one is cut
// back to its former length and gets a signature back that was taken off.
void roll_back(const char* bundle_name, bool created, uint64_t old_size, const StrippedSignature* signature = nullptr) {
    // Best effort: the build has failed and says so either way.
    if (created) {
        (void)platform::delete_file(bundle_name);
        return;
    }
    (void)platform::truncate_file(bundle_name, old_size);
    if (signature && signature->done) {
        write_at(bundle_name, signature->bundle_end, saved_signature, signature->tail_size);
        write_at(bundle_name, signature->entry_at, signature->entry, sizeof signature->entry);
    }
}

// The name a member is written under: always below the destination. A drive
// and a leading separator are dropped, as for archive entries; a name with a
// ".." component (or one the system may trim to "..") is refused. False when
// refused.
bool name_below_destination(const char* stored, char* name) {
    if (has_parent_component(stored)) return false;
    make_relative_name(name, stored);
    return is_safe_relative_name(name);
}

// Writes one member below the destination, which is the current folder by
// now; folders in its name are made there. Nothing is followed through a link
// and only a file made by this call is removed when the member fails.
bool unpack_member(const BundleMember& member, void* context) {
    platform::File* bundle = static_cast<platform::File*>(context);
    char name[platform::MAX_PATH_CHARS + 1];
    if (!name_below_destination(member.name, name)) return false;
    platform::BelowResult made = platform::BelowResult::other;
    platform::File* out = platform::file_create_below("", name, true, &made);
    bool ok = out && platform::file_seek(bundle, static_cast<int64_t>(member.offset), platform::SeekFrom::start) &&
              copy_bytes(bundle, out, member.length);
    ok = platform::file_close(out) && ok;
    if (!ok && out && made == platform::BelowResult::created) platform::delete_file_below("", name);
    return ok;
}

struct UnpackRun {
    platform::File* bundle;
    bool all_written;
};

bool unpack_visit(const BundleMember& member, void* context) {
    UnpackRun* run = static_cast<UnpackRun*>(context);
    if (!unpack_member(member, run->bundle)) run->all_written = false;
    return true;  // a member that fails does not stop the others
}

bool sum_visit(const BundleMember& member, void* context) {
    *static_cast<uint64_t*>(context) += member.length;
    return true;
}

// Notes in signature what stripping the signature of an existing bundle of
// size bytes takes off (nothing when it is not signed). False when the
// signature is too large to be kept for a roll-back or cannot be read.
bool read_signature(platform::File* bundle, uint64_t size, StrippedSignature* signature) {
    const int64_t table = certificate_table_start(bundle);
    if (table < 0) return true;
    CertificateEntry entry;
    uint32_t d = 0;
    uint64_t start = 0, end = static_cast<uint64_t>(table);
    // A signed file that is no bundle keeps the alignment bytes as part of the program.
    if (!locate_directory(bundle, &d, &start, &end)) end = static_cast<uint64_t>(table);
    if (size - end > sizeof saved_signature || !find_certificate_entry(bundle, size, &entry) ||
        !read_at(bundle, entry.at, signature->entry, sizeof signature->entry) ||
        !read_at(bundle, end, saved_signature, static_cast<size_t>(size - end)))
        return false;
    signature->done = true;
    signature->entry_at = entry.at;
    signature->bundle_end = end;
    signature->tail_size = static_cast<size_t>(size - end);
    return true;
}

}  // namespace

int64_t append_file(const char* source, const char* target, platform::FileOpen how) {
    platform::File* in = platform::file_open(source, platform::FileOpen::read);
    if (!in) return -1;
    int64_t size = platform::file_size(in);
    platform::File* out = platform::file_open(target, how);
    int64_t offset = -1;
    if (size >= 0 && out && platform::file_seek(out, 0, platform::SeekFrom::end)) {
        offset = platform::file_tell(out);
        if (offset < 0 || !copy_bytes(in, out, static_cast<uint64_t>(size))) offset = -1;
    }
    platform::file_close(in);
    if (!platform::file_close(out)) offset = -1;
    return offset;
}

bool build_bundle(const char* bundle_name, int last_index, char* const* files) {
    char folder[256];
    if (platform::get_current_directory(folder, sizeof folder) == 0) return false;
    if (last_index < 0) return true;
    if (last_index >= BUNDLE_MAX_MEMBERS) return false;

    // Everything that can be checked is checked before the bundle is touched.
    for (int k = 0; k <= last_index; ++k) {
        size_t length = std::strlen(files[k]);
        if (length == 0 || length > BUNDLE_MAX_NAME) return false;
        platform::File* probe = platform::file_open(files[k], platform::FileOpen::read);
        if (!probe) return false;
        platform::file_close(probe);
    }

    bool created = false;
    uint64_t old_size = 0;
    StrippedSignature signature;
    if (platform::File* existing = platform::file_open(bundle_name, platform::FileOpen::read)) {
        int64_t size = platform::file_size(existing);
        bool ok = size >= 0 && read_signature(existing, static_cast<uint64_t>(size), &signature);
        platform::file_close(existing);
        if (!ok) return false;
        old_size = static_cast<uint64_t>(size);
        // Members behind a certificate table would leave a broken signature:
        // the signature goes, and the bundle is signed again afterwards.
        if (signature.done) {
            if (!platform::truncate_file(bundle_name, signature.bundle_end)) return false;
            static const unsigned char no_entry[8] = {};
            if (!write_at(bundle_name, signature.entry_at, no_entry, sizeof no_entry)) {
                roll_back(bundle_name, false, signature.bundle_end, &signature);
                return false;
            }
            old_size = signature.bundle_end;
        }
    } else {
        char program[platform::MAX_PATH_CHARS + 1];
        created = true;
        if (platform::own_program_path(program, sizeof program) == 0 ||
            append_file(program, bundle_name, platform::FileOpen::read_write_always) != 0 ||
            !platform::make_executable(bundle_name)) {
            roll_back(bundle_name, created, 0);
            return false;
        }
    }

    // Members, remembering where each begins. Offsets are 32-bit in the directory.
    uint32_t offsets[BUNDLE_MAX_MEMBERS];
    for (int k = 0; k <= last_index; ++k) {
        int64_t offset = append_file(files[k], bundle_name, platform::FileOpen::read_write_append);
        if (offset < 0 || offset > 0xFFFFFFFFll) {
            roll_back(bundle_name, created, old_size, &signature);
            return false;
        }
        offsets[k] = static_cast<uint32_t>(offset);
    }

    // The directory and its size, written at once.
    const size_t d =
        encode_bundle_directory(offsets, files, last_index + 1, directory_buffer, sizeof directory_buffer);
    platform::File* bundle = d ? platform::file_open(bundle_name, platform::FileOpen::read_write_existing) : nullptr;
    bool ok = bundle && platform::file_seek(bundle, 0, platform::SeekFrom::end) &&
              platform::file_write(bundle, directory_buffer, d) == d;
    ok = platform::file_close(bundle) && ok;
    if (!ok) roll_back(bundle_name, created, old_size, &signature);
    return ok;
}

int64_t certificate_table_start(platform::File* file) {
    const int64_t size = platform::file_size(file);
    CertificateEntry entry;
    if (size < 0 || !find_certificate_entry(file, static_cast<uint64_t>(size), &entry)) return -1;
    // The table is at least one certificate header and lies behind the
    // headers; only a table that ends the file hides the directory.
    if (entry.start == 0 || entry.size < 8 || entry.start < entry.at + 8 ||
        static_cast<uint64_t>(entry.start) + entry.size != static_cast<uint64_t>(size))
        return -1;
    return entry.start;
}

bool walk_bundle_directory(platform::File* bundle, bool (*visit)(const BundleMember&, void*), void* context) {
    uint32_t d = 0;
    uint64_t directory_start = 0;
    // The directory is checked whole first, so that nothing is visited in a file that is no bundle.
    if (!locate_directory(bundle, &d, &directory_start)) return false;
    for (uint32_t pos = 0; pos < d;) {
        BundleMember member;
        member.offset = load_le32(directory + pos);
        const uint32_t name_length = directory[pos + 4];
        std::memcpy(member.name, directory + pos + 5, name_length);
        member.name[name_length] = '\0';
        pos += 5 + name_length;
        const uint64_t end = pos < d ? load_le32(directory + pos) : directory_start;
        member.length = end - member.offset;
        if (visit && !visit(member, context)) return false;
    }
    return true;
}

bool unpack_bundle(const char* source_folder, const char* bundle_name, const char* destination) {
    if (source_folder && *source_folder && !platform::set_current_directory(source_folder)) return false;
    platform::File* bundle = platform::file_open(bundle_name, platform::FileOpen::read);
    if (!bundle) return false;
    // Check the directory before anything is created.
    bool ok = walk_bundle_directory(bundle, nullptr, nullptr);
    if (ok) {
        (void)platform::make_directory(destination);  // it may exist already; entering it is the check
        ok = platform::set_current_directory(destination);
    }
    UnpackRun run{bundle, true};
    if (ok) ok = walk_bundle_directory(bundle, unpack_visit, &run) && run.all_written;
    platform::file_close(bundle);
    return ok;
}

int64_t bundle_content_size(const char* bundle_path, const char* folder) {
    if (folder && *folder && !platform::set_current_directory(folder)) return -1;
    platform::File* bundle = platform::file_open(bundle_path, platform::FileOpen::read);
    if (!bundle) return -1;
    uint64_t total = 0;
    bool ok = walk_bundle_directory(bundle, sum_visit, &total);
    platform::file_close(bundle);
    return ok ? static_cast<int64_t>(total) : -1;
}
