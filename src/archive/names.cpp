// Masks, the wildcard matcher, archive name completion and search, and the
// small path helpers of the extraction.
#include "archive/names.h"

#include "archive/archive_state.h"
#include "archive/status.h"
#include "platform/platform.h"

#include <cstdlib>
#include <cstring>


namespace {

constexpr size_t COMPARE_CHARS = 512;

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// Copies at most size-1 bytes and terminates.
void copy_bounded(char* out, size_t size, const char* text, size_t length) {
    if (length >= size) length = size - 1;
    std::memcpy(out, text, length);
    out[length] = '\0';
}

void copy_upper(char* out, const char* text) {
    size_t i = 0;
    for (; i < COMPARE_CHARS && text[i]; ++i) out[i] = upper(text[i]);
    out[i < COMPARE_CHARS ? i : COMPARE_CHARS] = '\0';
}

// Appends text and its terminator to a growable buffer; exit code 8 on failure.
void append_string(char*& buffer, size_t& bytes, const char* text) {
    size_t length = std::strlen(text) + 1;
    char* grown = static_cast<char*>(std::realloc(buffer, bytes + length));
    if (!grown) abort_extraction(MEMORY_ERROR);
    buffer = grown;
    std::memcpy(buffer + bytes, text, length);
    bytes += length;
}

bool has_wildcard(const char* text) { return std::strpbrk(text, "*?") != nullptr; }

}  // namespace

bool is_path_separator(char c) { return c == '\\' || c == '/'; }

const char* name_part(const char* path) {
    const char* last = nullptr;
    for (const char* p = path; *p; ++p)
        if (is_path_separator(*p)) last = p;
    if (last) return last + 1;
    if (const char* colon = std::strchr(path, ':')) return colon + 1;
    return path;
}

bool split_folder_and_name(const char* path, char* folder, char* name, bool skip_drive) {
    const char* text = path;
    if (skip_drive) {
        if (const char* colon = std::strchr(path, ':')) text = colon + 1;
    }
    const char* name_start = name_part(text);
    copy_bounded(name, ARCHIVE_PATH_CHARS + 1, name_start, std::strlen(name_start));
    copy_bounded(folder, ARCHIVE_PATH_CHARS + 1, text, static_cast<size_t>(name_start - text));
    return has_wildcard(text);
}

bool wildcard_match(const char* mask_path, const char* name_path) {
    char folder[ARCHIVE_PATH_CHARS + 1];
    char mask[ARCHIVE_PATH_CHARS + 1];
    char name[ARCHIVE_PATH_CHARS + 1];
    split_folder_and_name(mask_path, folder, mask, true);
    split_folder_and_name(name_path, folder, name, true);
    const char* p = mask;
    const char* q = name;
    while (*p) {
        if (*p == '*') {
            const char* mask_dot = std::strchr(p, '.');
            if (!mask_dot) return true;
            p = mask_dot + 1;
            const char* name_dot = std::strchr(q, '.');
            if (!name_dot) return *p == '\0' || *p == '*';
            q = name_dot + 1;
            if (*p == '\0' && *q != '\0') return false;
        } else if (*p == '?') {
            ++p;
            if (*q) ++q;
        } else {
            if (*q == '\0' || upper(*p) != upper(*q)) return false;
            ++p;
            ++q;
        }
    }
    return *q == '\0';
}

bool names_equal(const char* a, const char* b) {
    char ua[COMPARE_CHARS + 1], ub[COMPARE_CHARS + 1];
    copy_upper(ua, a);
    copy_upper(ub, b);
    return std::strcmp(ua, ub) == 0;
}

bool names_prefix_equal(const char* a, const char* b, size_t n) {
    char ua[COMPARE_CHARS + 1], ub[COMPARE_CHARS + 1];
    copy_upper(ua, a);
    copy_upper(ub, b);
    return std::strncmp(ua, ub, n) == 0;
}

bool set_extension(char* path, const char* extension) {
    size_t length = std::strlen(path);
    size_t extension_length = std::strlen(extension);
    char* dot = std::strrchr(path, '.');
    if (dot) {
        if (static_cast<size_t>(dot - path) + 1 + extension_length > ARCHIVE_PATH_CHARS) return false;
        std::memcpy(dot + 1, extension, extension_length + 1);
    } else {
        if (length + 1 + extension_length > ARCHIVE_PATH_CHARS) return false;
        path[length] = '.';
        std::memcpy(path + length + 1, extension, extension_length + 1);
    }
    return true;
}

bool file_exists(const char* path) {
    uint32_t attributes = 0;
    return platform::get_attributes(path, &attributes);
}

bool query_file_info(const char* path, FileInfo* info) {
    platform::DirEntry entry;
    platform::DirList* list = platform::dir_first(path, &entry);
    bool found = false;
    for (bool more = list != nullptr; more; more = platform::dir_next(list, &entry)) {
        const uint32_t passed_over = platform::ATTR_HIDDEN | platform::ATTR_SYSTEM | platform::ATTR_DIRECTORY;
        if ((entry.attributes & passed_over) && !(entry.attributes & platform::ATTR_DIRECTORY)) continue;
        info->attributes = entry.attributes;
        info->date_time = entry.dos_date_time;
        info->size = static_cast<uint32_t>(entry.size);
        info->is_folder = (entry.attributes & platform::ATTR_DIRECTORY) != 0;
        found = true;
        break;
    }
    platform::dir_close(list);
    return found;
}

void add_name_mask(const char* mask) {
    append_string(name_masks.masks, name_masks.bytes, mask);
    ++name_masks.count;
    if (has_wildcard(mask)) name_masks.has_wildcards = true;
}

bool is_entry_selected() {
    char mask_folder[ARCHIVE_PATH_CHARS + 1], mask_name[ARCHIVE_PATH_CHARS + 1];
    char entry_folder[ARCHIVE_PATH_CHARS + 1], entry_name[ARCHIVE_PATH_CHARS + 1];
    split_folder_and_name(archive_state.file_name, entry_folder, entry_name, true);
    name_masks.cursor_index = 0;
    name_masks.cursor_offset = 0;
    while (name_masks.cursor_index < name_masks.count) {
        const char* mask = name_masks.masks + name_masks.cursor_offset;
        size_t length = std::strlen(mask);
        copy_bounded(name_masks.current_mask, sizeof name_masks.current_mask, mask, length);
        name_masks.cursor_offset += length + 1;
        ++name_masks.cursor_index;
        bool wildcards = split_folder_and_name(name_masks.current_mask, mask_folder, mask_name, true);
        if (!wildcard_match(mask_name, entry_name)) continue;
        if (names_equal(mask_folder, entry_folder)) return true;
        if (wildcards && names_prefix_equal(mask_folder, entry_folder, std::strlen(mask_folder))) return true;
    }
    return false;
}

bool all_names_done() {
    if (name_masks.has_wildcards) return false;
    ++name_masks.done;
    return name_masks.done >= name_masks.count;
}

bool complete_archive_name() {
    ArchiveState& a = archive_state;
    if (!std::strchr(name_part(a.volume_name), '.') && !file_exists(a.volume_name)) {
        size_t length = std::strlen(a.volume_name);
        if (length + 4 > ARCHIVE_PATH_CHARS) return false;
        std::memcpy(a.volume_name + length, ".rar", 5);
    }
    const char* v = a.volume_name;
    a.drive_index = -1;
    if (v[0] >= 'a' && v[0] <= 'z' && v[1] == ':') {
        a.drive_index = v[0] - 'a';
    } else {
        char here[4096];
        if (platform::get_current_directory(here, sizeof here) > 1 && here[1] == ':') {
            char letter = upper(here[0]);
            if (letter >= 'A' && letter <= 'Z') a.drive_index = letter - 'A';
        }
    }
    return true;
}

void find_archives() {
    ArchiveList& l = archive_list;
    l.remaining = 0;
    l.offset = 0;
    split_folder_and_name(archive_state.volume_name, l.search_folder, l.search_name, false);

    char folder[ARCHIVE_PATH_CHARS + 8];
    const char* rest = l.search_folder;
    size_t prefix = (rest[0] != '\0' && rest[1] == ':') ? 2 : 0;
    std::memcpy(folder, rest, prefix);
    rest += prefix;
    size_t rest_length = std::strlen(rest);
    if (rest_length == 0) {
        std::memcpy(folder + prefix, ".", 2);
    } else if (rest_length == 1 && is_path_separator(rest[0])) {
        folder[prefix] = rest[0];
        std::memcpy(folder + prefix + 1, ".", 2);
    } else {
        if (is_path_separator(rest[rest_length - 1])) --rest_length;
        std::memcpy(folder + prefix, rest, rest_length);
        folder[prefix + rest_length] = '\0';
    }
    char pattern[ARCHIVE_PATH_CHARS + 16];
    size_t folder_length = std::strlen(folder);
    folder[folder_length] = platform::path_separator();
    std::memcpy(folder + folder_length + 1, "*.*", 4);
    std::memcpy(pattern, folder, folder_length + 5);

    platform::DirEntry entry;
    platform::DirList* list = platform::dir_first(pattern, &entry);
    for (bool more = list != nullptr; more; more = platform::dir_next(list, &entry)) {
        char full[ARCHIVE_PATH_CHARS + 1];
        size_t a = std::strlen(l.search_folder), b = std::strlen(entry.name);
        if (a + b > ARCHIVE_PATH_CHARS) continue;
        std::memcpy(full, l.search_folder, a);
        std::memcpy(full + a, entry.name, b + 1);
        FileInfo info;
        if (!query_file_info(full, &info) || info.is_folder) continue;
        if (!wildcard_match(l.search_name, entry.name)) continue;
        append_string(l.paths, l.bytes, full);
        ++l.remaining;
    }
    platform::dir_close(list);
    l.collected = l.remaining;
    l.offset = 0;
}

bool next_archive() {
    ArchiveList& l = archive_list;
    if (l.remaining == 0) return false;
    const char* path = l.paths + l.offset;
    size_t length = std::strlen(path);
    copy_bounded(archive_state.volume_name, sizeof archive_state.volume_name, path, length);
    l.offset += length + 1;
    --l.remaining;
    return true;
}
