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

// Puts the bundle back the way it was: a new one goes, an old one is cut
// back to its former length.
void roll_back(const char* bundle_name, bool created, uint64_t old_size) {
    // Best effort: the build has failed and says so either way.
    if (created) (void)platform::delete_file(bundle_name);
    else (void)platform::truncate_file(bundle_name, old_size);
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
    if (platform::File* existing = platform::file_open(bundle_name, platform::FileOpen::read)) {
        int64_t size = platform::file_size(existing);
        platform::file_close(existing);
        if (size < 0) return false;
        old_size = static_cast<uint64_t>(size);
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
            roll_back(bundle_name, created, old_size);
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
    if (!ok) roll_back(bundle_name, created, old_size);
    return ok;
}

bool walk_bundle_directory(platform::File* bundle, bool (*visit)(const BundleMember&, void*), void* context) {
    int64_t size = platform::file_size(bundle);
    if (size < 4) return false;
    unsigned char tail[4];
    if (!platform::file_seek(bundle, size - 4, platform::SeekFrom::start) ||
        platform::file_read(bundle, tail, 4) != 4)
        return false;
    const uint32_t d = load_le32(tail);
    if (d > MAX_BUNDLE_DIRECTORY || static_cast<uint64_t>(d) > static_cast<uint64_t>(size) - 4) return false;
    const uint64_t directory_start = static_cast<uint64_t>(size) - 4 - d;

    // The directory is read into its own buffer: visit may move the file position.
    static unsigned char directory[MAX_BUNDLE_DIRECTORY];
    if (!platform::file_seek(bundle, static_cast<int64_t>(directory_start), platform::SeekFrom::start) ||
        platform::file_read(bundle, directory, d) != d)
        return false;

    // First a full check, so that nothing is visited in a file that is no bundle.
    uint64_t previous = 0;
    for (uint32_t pos = 0; pos < d;) {
        if (d - pos < 5 || d - pos - 5 < directory[pos + 4]) return false;
        uint64_t offset = load_le32(directory + pos);
        if (offset < previous || offset > directory_start) return false;
        previous = offset;
        pos += 5 + directory[pos + 4];
    }
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
