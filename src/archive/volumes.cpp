// Following an entry into the next volume of a chain: its name, where it is
// (its own folder, a sibling folder, or a disk the user inserts), and the
// position of the entry's continued data in it.
#include "archive/volumes.h"

#include "archive/archive_state.h"
#include "archive/headers.h"
#include "archive/status.h"
#include "archive/streams.h"
#include "format/volume_name.h"

#include <cstring>

namespace {


void show_error(const char* text) {
    platform::message_box(text, archive_state.volume_name, platform::MB_OK | platform::MB_ICONHAND);
}

// The switch failed: nothing more can be read for this entry, and whatever
// the attempt left open is closed so no later step positions by stale values.
int fail_switch(const char* text) {
    ArchiveState& a = archive_state;
    if (!a.silent) show_error(text);
    a.volume_switch_failed = true;
    a.status = WARNING;
    if (a.archive_file) {
        platform::File* f = a.archive_file;
        a.archive_file = nullptr;
        platform::file_close(f);
    }
    a.packed_source = nullptr;
    a.packed_left = 0;
    a.continues_in_next = false;
    return 0;
}

// Joins up to four texts into out (size bytes with the terminator); false,
// with out left empty, when they do not fit.
bool join(char* out, size_t size, const char* a, const char* b, const char* c = "", const char* d = "") {
    const char* parts[] = {a, b, c, d};
    size_t used = 0;
    for (const char* part : parts) {
        size_t n = std::strlen(part);
        if (n >= size - used) {
            if (size > 0) out[0] = '\0';
            return false;
        }
        std::memcpy(out + used, part, n);
        used += n;
    }
    out[used] = '\0';
    return true;
}

}  // namespace

void skip_rest_of_main_header() {
    ArchiveState& a = archive_state;
    int rest = static_cast<int>(a.main_header.header_size) - a.main_header_bytes;
    if (rest > 0) stream_seek(a.archive_file, rest, platform::SeekFrom::current);
}

bool advance_volume_name() {
    static_assert(ARCHIVE_PATH_CHARS == platform::MAX_PATH_CHARS);
    return next_volume_name(archive_state.volume_name);
}

platform::File* open_volume_file(const char* path) {
    char remembered[4096];
    if (platform::get_current_directory(remembered, sizeof remembered) == 0)
        return platform::file_open(path, platform::FileOpen::read);

    const char* last = nullptr;
    for (const char* p = path; *p; ++p)
        if (platform::is_separator(*p)) last = p;
    const char* file_name = path;
    if (last && last != path) {
        char folder[ARCHIVE_PATH_CHARS + 2];
        size_t folder_length = static_cast<size_t>(last - path);
        if (folder_length > ARCHIVE_PATH_CHARS) return nullptr;
        std::memcpy(folder, path, folder_length);
        // A bare drive ("X:") would mean that drive's current folder, not its root.
        if (folder[folder_length - 1] == ':') folder[folder_length++] = platform::path_separator();
        folder[folder_length] = '\0';
        if (!platform::set_current_directory(folder)) return platform::file_open(path, platform::FileOpen::read);
        file_name = last + 1;
    }

    platform::File* result = platform::file_open(file_name, platform::FileOpen::read);
    if (!result) {
        // Look for the same name in the sibling folders (one folder per disk).
        char here[ARCHIVE_PATH_CHARS + 1];
        size_t here_length = platform::get_current_directory(here, sizeof here);
        size_t cut = 0;
        for (size_t i = 0; i < here_length; ++i)
            if (platform::is_separator(here[i])) cut = i + 1;
        // A root ("C:\" or "/") has no parent to search.
        if (here_length > 0 && cut > 0 && cut < here_length) {
            here[cut] = '\0';
            char pattern[ARCHIVE_PATH_CHARS + 1];
            platform::DirEntry entry;
            platform::DirList* list = nullptr;
            if (join(pattern, sizeof pattern, here, "*.*")) list = platform::dir_first(pattern, &entry);
            const char separator[2] = {platform::path_separator(), '\0'};
            for (bool more = list != nullptr; more; more = platform::dir_next(list, &entry)) {
                if (entry.attributes != platform::ATTR_DIRECTORY) continue;
                char candidate[ARCHIVE_PATH_CHARS + 1];
                if (!join(candidate, sizeof candidate, here, entry.name, separator, file_name)) continue;
                platform::DirEntry found;
                platform::DirList* probe = platform::dir_first(candidate, &found);
                if (!probe) continue;
                platform::dir_close(probe);
                platform::File* f = platform::file_open(candidate, platform::FileOpen::read);
                if (!f) continue;
                // The last folder in listing order wins; earlier matches are closed.
                platform::file_close(result);
                result = f;
            }
            platform::dir_close(list);
        }
    }
    (void)platform::set_current_directory(remembered);  // the volume is found (or not) either way
    return result;
}

bool is_removable_drive(int drive_number) {
    const char* path = archive_state.archive_path;
    char root[ARCHIVE_PATH_CHARS + 1];
    if (path && path[0] != '\0' && path[1] == ':') {
        const char drive_root[] = {path[0], ':', '\\', '\0'};
        std::memcpy(root, drive_root, sizeof drive_root);
    } else if (path) {
        if (!platform::drive_root_of(path, root, sizeof root)) return false;
    } else {
        const char drive_root[] = {static_cast<char>('A' + drive_number), ':', '\\', '\0'};
        std::memcpy(root, drive_root, sizeof drive_root);
    }
    return platform::drive_type(root) == platform::DriveType::removable;
}

void ask_for_next_disk() {
    if (platform::message_box(TEXT_INSERT_NEXT_DISK, archive_state.volume_name, platform::MB_OKCANCEL) !=
        platform::IDOK)
        abort_extraction(USER_BREAK);
}

int switch_to_next_volume() {
    ArchiveState& a = archive_state;
    platform::File* previous = a.archive_file;
    a.archive_file = nullptr;
    a.packed_source = nullptr;
    stream_close_checked(previous);

    if (!advance_volume_name()) return fail_switch(TEXT_NEXT_VOLUME_MISSING);
    for (;;) {
        a.archive_file = open_volume_file(a.volume_name);
        if (a.archive_file) break;
        if (a.silent || a.drive_index == -1 || !is_removable_drive(a.drive_index)) return fail_switch(TEXT_NEXT_VOLUME_MISSING);
        ask_for_next_disk();
    }
    if (!identify_archive()) return fail_switch(TEXT_BAD_ARCHIVE);
    skip_rest_of_main_header();
    // The first file header continues the entry; without one there is nothing
    // to position by.
    if (fetch_block(BLOCK_FILE, false) <= 0) return fail_switch(TEXT_BAD_ARCHIVE);
    a.continues_in_next = (a.file_header.flags & FILE_CONTINUES_IN_NEXT) != 0;
    stream_seek(a.archive_file, a.next_block - a.file_header.packed_size, platform::SeekFrom::start);
    a.packed_left = a.file_header.packed_size;
    a.packed_source = a.archive_file;
    return 1;
}
