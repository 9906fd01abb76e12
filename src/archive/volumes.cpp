// Following an entry into the next volume of a chain: its name, where it is
// (its own folder, a sibling folder, or a disk the user inserts), and the
// position of the entry's continued data in it.
#include "archive/volumes.h"

#include "archive/archive_state.h"
#include "archive/driver.h"
#include "archive/headers.h"
#include "archive/packed_io.h"

#include <cstdio>
#include <cstring>

namespace {

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

void show_error(const char* text) {
    platform::message_box(text, archive_state.volume_name, platform::MB_OK | platform::MB_ICONHAND);
}

// The switch failed: nothing more can be read for this entry, and whatever
// the attempt left open is closed so no later step positions by stale values.
int fail_switch(const char* text) {
    ArchiveState& a = archive_state;
    show_error(text);
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

bool join(char* out, size_t size, const char* a, const char* b, const char* c = "", const char* d = "") {
    int n = std::snprintf(out, size, "%s%s%s%s", a, b, c, d);
    return n >= 0 && static_cast<size_t>(n) < size;
}

}  // namespace

void skip_rest_of_main_header() {
    ArchiveState& a = archive_state;
    int rest = static_cast<int>(a.main_header.header_size) - a.main_header_bytes;
    if (rest > 0) stream_seek(a.archive_file, rest, platform::SeekFrom::current);
}

bool advance_volume_name() {
    char* name = archive_state.volume_name;
    size_t length = std::strlen(name);
    // Only a dot in the file name starts an extension: a dot in a folder name
    // (x.d/setup) would otherwise turn the next volume into x.d00.
    char* name_part = name;
    for (char* p = name; *p; ++p)
        if (platform::is_separator(*p)) name_part = p + 1;
    char* dot = std::strrchr(name_part, '.');
    if (!dot) {
        if (length + 4 > ARCHIVE_PATH_CHARS) return false;
        std::memcpy(name + length, ".rar", 5);
        dot = name + length;
    }
    char* ext = dot + 1;
    if (ext[0] == '\0') {
        if (length + 3 > ARCHIVE_PATH_CHARS) return false;
        std::memcpy(ext, "rar", 4);
    } else if (upper(ext[0]) == 'E' && upper(ext[1]) == 'X' && upper(ext[2]) == 'E' && ext[3] == '\0') {
        std::memcpy(ext, "rar", 4);
    }
    if (!(is_digit(ext[1]) && is_digit(ext[2]))) {
        if (static_cast<size_t>(ext + 3 - name) > ARCHIVE_PATH_CHARS) return false;
        ext[1] = '0';
        ext[2] = '0';
        ext[3] = '\0';
        return true;
    }
    char* p = ext + 2;
    ++*p;
    while (*p == '9' + 1) {
        if (p[-1] == '.') {
            *p = 'A';
            break;
        }
        *p = '0';
        --p;
        ++*p;
    }
    return true;
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
    platform::set_current_directory(remembered);
    return result;
}

bool is_removable_drive(int drive_number) {
    const char* path = archive_state.archive_path;
    char root[ARCHIVE_PATH_CHARS + 1];
    if (path && path[0] != '\0' && path[1] == ':') {
        std::snprintf(root, sizeof root, "%c:\\", path[0]);
    } else if (path) {
        if (!platform::drive_root_of(path, root, sizeof root)) return false;
    } else {
        std::snprintf(root, sizeof root, "%c:\\", 'A' + drive_number);
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
        if (a.drive_index == -1 || !is_removable_drive(a.drive_index)) return fail_switch(TEXT_NEXT_VOLUME_MISSING);
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
