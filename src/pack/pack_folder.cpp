// Walking a folder through the platform's listing calls, and feeding its files
// to the archive writer.
#include "pack/pack_folder.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/system_extra.h"
#include "platform/text.h"

namespace pack {

namespace {

constexpr int MAX_DEPTH = 64;  // bounds the recursion on very deep trees

bool same_name_ignoring_case(const char* a, const char* b) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    for (; *a && *b; ++a, ++b)
        if (lower(*a) != lower(*b)) return false;
    return *a == *b;
}

std::string extension_of(const std::string& name) {
    size_t slash = name.find_last_of('\\');
    size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string ext = name.substr(dot + 1);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return ext;
}

struct Walk {
    std::string root;  // the folder, resolved
    const char* skip_root_name;
    bool follow_links;
    std::vector<std::string>* warnings;
    bool cp1251_names;
    std::vector<TreeEntry> folders, files;
    std::string error;
};

// ": " and the system's reason for the latest failure, or "" when it gave none.
std::string reason() {
    char text[256];
    return platform::system_error_text(text, sizeof text) ? std::string(": ") + text : std::string();
}

void warn(Walk& walk, const std::string& text) {
    if (walk.warnings) walk.warnings->push_back(text);
}

// Decides what a link in the tree becomes: true with t turned into a copy of
// the file it leads to, false with nothing listed (skipped with a warning, or
// refused: then walk.error is set).
bool take_link(Walk& walk, TreeEntry& t) {
    char resolved[platform::RESOLVED_PATH_BYTES];
    platform::EntryInfo target;
    bool found = platform::resolve_path(t.path.c_str(), resolved, sizeof resolved) != 0 &&
                 platform::describe_entry(resolved, true, &target) != platform::EntryKind::missing;
    if (found && target.kind == platform::EntryKind::folder) {
        warn(walk, "link to a folder skipped: " + t.path);
        return false;
    }
    if (!found || target.kind == platform::EntryKind::link) {
        if (!walk.follow_links) walk.error = "link leads nowhere: " + t.path;
        else warn(walk, "link leading nowhere skipped: " + t.path);
        return false;
    }
    if (!walk.follow_links && !platform::path_within(walk.root.c_str(), resolved)) {
        walk.error = "link leads outside the folder: " + t.path + " -> " + resolved;
        return false;
    }
    if (target.kind != platform::EntryKind::file) {
        warn(walk, "not a regular file or folder, skipped: " + t.path);
        return false;
    }
    t.path = resolved;
    t.is_folder = false;
    t.size = target.size;
    t.dos_time = target.dos_date_time;
    t.attributes = target.attributes;
    if (!platform::get_unix_mode(resolved, &t.mode)) t.mode = 0;
    return true;
}

bool walk_folder(Walk& walk, const std::string& folder, const std::string& prefix, int depth) {
    if (depth > MAX_DEPTH) {
        walk.error = "folder tree too deep: " + folder;
        return false;
    }
    const char sep = platform::path_separator();
    std::string pattern = folder + sep + "*";
    platform::DirEntry e;
    std::vector<TreeEntry> here;
    platform::clear_system_error();
    platform::DirList* list = platform::dir_first(pattern.c_str(), &e);
    if (list == nullptr) {
        // An empty folder lists nothing; a folder that cannot be read is an error.
        const std::string why = reason();
        uint32_t attributes = 0;
        if (!platform::get_attributes(folder.c_str(), &attributes) || !(attributes & platform::ATTR_DIRECTORY)) {
            walk.error = "cannot read folder: " + folder + why;
            return false;
        }
        return true;
    }
    do {
        if (std::strcmp(e.name, ".") == 0 || std::strcmp(e.name, "..") == 0) continue;
        if (depth == 0 && walk.skip_root_name && same_name_ignoring_case(e.name, walk.skip_root_name)) {
            warn(walk, "the folder's own " + std::string(e.name) + " is replaced by the generated one: " + folder +
                           sep + e.name);
            continue;
        }
        TreeEntry t;
        t.name = prefix.empty() ? std::string(e.name) : prefix + '\\' + e.name;
        t.path = folder + sep + e.name;
        t.size = e.size;
        t.dos_time = e.dos_date_time;
        t.attributes = e.attributes;
        here.push_back(std::move(t));
    } while (platform::dir_next(list, &e));
    platform::dir_close(list);
    std::sort(here.begin(), here.end(), [](const TreeEntry& a, const TreeEntry& b) { return a.name < b.name; });
    for (TreeEntry& t : here) {
        if (walk.cp1251_names) {
            // Only this entry's own part: the folders before it are converted
            // already. Never longer than the UTF-8 form; the length is checked below.
            const size_t cut = t.name.find_last_of('\\');
            const std::string head = cut == std::string::npos ? std::string() : t.name.substr(0, cut + 1);
            const std::string own = cut == std::string::npos ? t.name : t.name.substr(cut + 1);
            std::vector<char> converted(own.size() + 1);
            if (!platform::utf8_to_cp1251(own.c_str(), converted.data(), converted.size())) {
                walk.error = "name with no Windows-1251 form: " + t.path;
                return false;
            }
            t.name = head + converted.data();
        }
        if (t.name.size() > MAX_NAME_BYTES) {
            walk.error = "name longer than " + std::to_string(MAX_NAME_BYTES) + " bytes: " + t.name;
            return false;
        }
        // The entry itself, not what a link leads to: the listing's own
        // attributes follow links.
        switch (platform::describe_entry(t.path.c_str(), false, nullptr)) {
        case platform::EntryKind::folder: {
            if (!platform::get_unix_mode(t.path.c_str(), &t.mode)) t.mode = 0;
            t.is_folder = true;
            t.size = 0;
            std::string path = t.path, name = t.name;
            walk.folders.push_back(std::move(t));
            if (!walk_folder(walk, path, name, depth + 1)) return false;
            break;
        }
        case platform::EntryKind::file:
            if (!platform::get_unix_mode(t.path.c_str(), &t.mode)) t.mode = 0;
            t.is_folder = false;
            walk.files.push_back(std::move(t));
            break;
        case platform::EntryKind::link:
            if (take_link(walk, t)) walk.files.push_back(std::move(t));
            else if (!walk.error.empty()) return false;
            break;
        case platform::EntryKind::other:
            // Opening a FIFO would wait for a writer; a device has no content to pack.
            warn(walk, "not a regular file or folder, skipped: " + t.path);
            break;
        case platform::EntryKind::missing:
            walk.error = "cannot read: " + t.path;
            return false;
        }
    }
    return true;
}

}  // namespace

bool list_tree(const char* folder, bool solid, const char* skip_root_name, std::vector<TreeEntry>& entries,
               std::string& error, bool follow_links, std::vector<std::string>* warnings, bool cp1251_names) {
    std::string root = folder;
    while (root.size() > 1 && platform::is_separator(root.back())) root.pop_back();
    uint32_t attributes = 0;
    char resolved[platform::RESOLVED_PATH_BYTES];
    if (!platform::get_attributes(root.c_str(), &attributes) || !(attributes & platform::ATTR_DIRECTORY) ||
        platform::resolve_path(root.c_str(), resolved, sizeof resolved) == 0) {
        error = "not a folder: " + std::string(folder);
        return false;
    }
    Walk walk{resolved, skip_root_name, follow_links, warnings, cp1251_names, {}, {}, {}};
    if (!walk_folder(walk, root, "", 0)) {
        error = walk.error;
        return false;
    }
    std::vector<TreeEntry>& files = walk.files;
    if (solid) {
        std::stable_sort(files.begin(), files.end(), [](const TreeEntry& a, const TreeEntry& b) {
            return extension_of(a.name) < extension_of(b.name);
        });
    }
    entries = std::move(walk.folders);
    entries.insert(entries.end(), std::make_move_iterator(files.begin()), std::make_move_iterator(files.end()));
    return true;
}

WriteResult add_tree_file(ArchiveWriter& w, const TreeEntry& t, std::string& error) {
    platform::File* f = platform::file_open(t.path.c_str(), platform::FileOpen::read);
    int64_t size = f ? platform::file_size(f) : -1;
    if (f == nullptr || size < 0 || size > 0xFFFFFFFFll) {
        platform::file_close(f);
        error = size > 0xFFFFFFFFll ? "file of 4 GiB or more: " + t.path : "cannot open: " + t.path + reason();
        return WriteResult::bad_argument;
    }
    // The writer reads the file in pieces as it packs (and from the start
    // again where it measures before writing).
    EntryInput input;
    input.context = f;
    input.read = [](void* file, uint8_t* buffer, size_t count) {
        return platform::file_read(static_cast<platform::File*>(file), buffer, count);
    };
    input.rewind = [](void* file) {
        return platform::file_seek(static_cast<platform::File*>(file), 0, platform::SeekFrom::start);
    };
    WriteResult r = writer_add_file_from(w, t.name.c_str(), input, static_cast<uint64_t>(size), t.dos_time,
                                         stored_attributes(w, t));
    platform::file_close(f);
    if (r == WriteResult::bad_argument) {
        const std::string why = reason();
        error = "cannot read: " + t.path + (why.empty() ? ": the file became shorter" : why);
    }
    return r;
}

WriteResult pack_tree(ArchiveWriter& w, const std::vector<TreeEntry>& entries, PackProgressFn progress,
                      void* context, std::string& error) {
    if (w.options.threads > 1 && !w.options.solid && w.options.level > 0 && w.options.volume_size == 0)
        return pack_tree_parallel(w, entries, progress, context, error);
    uint64_t total = 0, done = 0;
    for (const TreeEntry& t : entries) total += t.size;
    for (const TreeEntry& t : entries) {
        WriteResult r;
        platform::clear_system_error();
        if (t.is_folder) {
            r = writer_add_folder(w, t.name.c_str(), t.dos_time, stored_attributes(w, t));
        } else {
            r = add_tree_file(w, t, error);
            if (r == WriteResult::bad_argument) return r;
            done += t.size;
        }
        if (r != WriteResult::ok) {
            error = r == WriteResult::volume_too_small ? "volume size too small near: " + t.name
                                                       : "cannot write entry: " + t.name + reason();
            return r;
        }
        if (progress) progress(t.name.c_str(), done, total, context);
    }
    return WriteResult::ok;
}

}  // namespace pack
