// Choosing, creating and removing the extraction folder.
#include "bundle/extraction_folder.h"

#include <cstring>

#include "bundle/bundle.h"
#include "platform/dialogs.h"
#include "platform/system_extra.h"

namespace {

constexpr size_t NAME_CHARS = 7;  // "PTemp_" and one letter

// Appends a separator unless text is empty or already ends with one.
void end_with_separator(char* text, size_t size) {
    size_t n = std::strlen(text);
    if (n == 0 || platform::is_separator(text[n - 1]) || n + 2 > size) return;
    text[n] = platform::path_separator();
    text[n + 1] = '\0';
}

// Creates the first free folder PTemp_a .. PTemp_z inside location (which
// ends with a separator) and copies its full path into folder. Gives up when
// the path would be longer than max_length or a folder cannot be made there
// for any reason other than the name being taken.
bool make_numbered_folder(const char* location, size_t max_length, char* folder) {
    const size_t n = std::strlen(location);
    if (n + NAME_CHARS > max_length || n + NAME_CHARS > platform::MAX_PATH_CHARS) return false;
    char path[platform::MAX_PATH_CHARS + 1];
    std::memcpy(path, location, n);
    std::memcpy(path + n, "PTemp__", NAME_CHARS + 1);
    for (char letter = 'a'; letter <= 'z'; ++letter) {
        path[n + NAME_CHARS - 1] = letter;
        platform::DirResult made = platform::make_private_directory(path);
        if (made == platform::DirResult::ok) {
            std::memcpy(folder, path, n + NAME_CHARS + 1);
            return true;
        }
        if (made != platform::DirResult::exists) return false;
    }
    return false;
}

// A drive qualifies when it is fixed and has strictly more free bytes than needed.
bool drive_has_room(const FolderProbe& probe, const char* root, uint64_t needed) {
    uint64_t free = 0;
    return probe.type(root) == platform::DriveType::fixed && probe.free_bytes(root, &free) && free > needed;
}

// Passes has_room on and remembers that some place had room.
bool note_room(bool has_room, bool* room_seen) {
    *room_seen = *room_seen || has_room;
    return has_room;
}

bool ask_with_dialog(char* folder, size_t size) { return ask_for_extraction_folder(folder, size); }

const FolderProbe system_probe = {
    platform::get_temp_path, platform::extraction_fallbacks, platform::drive_root_of,
    platform::drive_type,    platform::drive_free_bytes,     ask_with_dialog,
    platform::tell_no_room,
};

}  // namespace

const FolderProbe& system_folder_probe() { return system_probe; }

bool ask_for_extraction_folder(char* folder, size_t size) {
    return platform::ask_for_folder(TITLE_ASK_FOLDER, folder, size);
}

bool choose_extraction_folder(const char* bundle_path, size_t max_length, char* folder) {
    return choose_extraction_folder_with(system_probe, bundle_path, max_length, folder);
}

bool choose_extraction_folder_with(const FolderProbe& probe, const char* bundle_path, size_t max_length,
                                   char* folder) {
    if (!bundle_path) return false;
    if (max_length > EXTRACTION_PATH_CHARS) max_length = EXTRACTION_PATH_CHARS;

    char start[EXTRACTION_PATH_CHARS + 2];
    if (platform::get_current_directory(start, EXTRACTION_PATH_CHARS + 1) == 0) start[0] = '\0';
    end_with_separator(start, sizeof start);

    const int64_t size = bundle_content_size(bundle_path, start);
    if (size < 0) return false;
    const uint64_t needed = static_cast<uint64_t>(size);

    char chosen[EXTRACTION_PATH_CHARS + 1];
    char root[260];

    // The system's temporary folder, when its drive qualifies.
    char temp[EXTRACTION_PATH_CHARS + 1];
    bool room_seen = false;
    if (probe.temp_path(temp, sizeof temp) > 0 && probe.root_of(temp, root, sizeof root) &&
        platform::set_current_directory(temp) && note_room(drive_has_room(probe, root, needed), &room_seen) &&
        make_numbered_folder(temp, max_length, chosen)) {
        std::memcpy(folder, chosen, std::strlen(chosen) + 1);
        return true;
    }

    // The further places on fixed drives that have room, in the system's
    // order (Windows: the drive roots).
    if (start[0]) (void)platform::set_current_directory(start);  // the places below are absolute
    static char roots[32][260];
    const int count = probe.drive_roots(roots, 32);
    for (int k = 0; k < count; ++k) {
        end_with_separator(roots[k], sizeof roots[k]);
        if (note_room(drive_has_room(probe, roots[k], needed), &room_seen) &&
            make_numbered_folder(roots[k], max_length, chosen)) {
            std::memcpy(folder, chosen, std::strlen(chosen) + 1);
            return true;
        }
    }

    // Last the user. The named folder is only where the fresh folder goes:
    // the clean-ups remove what this run made, never the user's folder or
    // what was in it before.
    if (!room_seen && probe.no_room) probe.no_room(needed);
    char named[EXTRACTION_PATH_CHARS + 2];
    if (!probe.ask(named, EXTRACTION_PATH_CHARS + 1)) return false;
    end_with_separator(named, sizeof named);
    if (!make_numbered_folder(named, max_length, chosen)) return false;
    std::memcpy(folder, chosen, std::strlen(chosen) + 1);
    return true;
}

void remove_extraction_folder_if_empty(char* folder) {
    if (!folder || !folder[0]) return;
    // Step out of the folder first: a current folder cannot be removed on Windows.
    (void)platform::set_current_directory(platform::system_root());  // a failure shows as the removal's
    // Removing a folder removes only an empty one: nothing inside is touched.
    if (platform::remove_directory(folder)) folder[0] = '\0';
}

bool remove_folder_tree(const char* folder) {
    if (!folder) return false;
    if (!folder[0]) return true;
    const size_t n = std::strlen(folder);
    const bool has_separator = platform::is_separator(folder[n - 1]);
    char pattern[platform::MAX_PATH_CHARS + 1];
    if (n + (has_separator ? 0 : 1) + 3 > platform::MAX_PATH_CHARS) return false;
    std::memcpy(pattern, folder, n);
    size_t base = n;
    if (!has_separator) pattern[base++] = platform::path_separator();
    std::memcpy(pattern + base, "*.*", 4);

    platform::DirEntry entry;
    platform::DirList* list = platform::dir_first(pattern, &entry);
    if (!list) return false;
    do {
        if (!std::strcmp(entry.name, ".") || !std::strcmp(entry.name, "..") || !entry.name[0]) continue;
        const size_t name_length = std::strlen(entry.name);
        if (base + name_length > platform::MAX_PATH_CHARS) continue;  // never act on a cut path
        char path[platform::MAX_PATH_CHARS + 1];
        std::memcpy(path, pattern, base);
        std::memcpy(path + base, entry.name, name_length + 1);
        // Best effort throughout: what cannot be removed stays, the rest goes.
        if (platform::is_symbolic_link(path)) {
            if (!platform::delete_file(path)) (void)platform::remove_directory(path);
        } else if (entry.attributes & platform::ATTR_DIRECTORY) {
            remove_folder_tree(path);
            if (!platform::remove_directory(path) && (entry.attributes & platform::ATTR_READONLY)) {
                (void)platform::set_attributes(path, platform::ATTR_DIRECTORY);
                (void)platform::remove_directory(path);
            }
        } else if (!platform::delete_file(path) && (entry.attributes & platform::ATTR_READONLY)) {
            (void)platform::set_attributes(path, platform::ATTR_NORMAL);
            (void)platform::delete_file(path);
        }
    } while (platform::dir_next(list, &entry));
    platform::dir_close(list);
    return true;
}

void remove_extraction_folder(const char* folder) {
    // Best effort: leaving the folder fails only when the root is gone, and
    // whatever cannot be removed stays.
    (void)platform::set_current_directory(platform::system_root());
    if (!folder || !folder[0]) return;
    remove_folder_tree(folder);
    (void)platform::remove_directory(folder);
}
