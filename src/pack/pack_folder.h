// Packs a folder tree into an archive: every file and folder below it, with
// names relative to it (backslash separators, bytes as they are on disk),
// their DOS times and attributes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pack/archive_writer.h"

namespace pack {

struct TreeEntry {
    std::string name;  // relative, backslash separators
    std::string path;  // as the platform opens it (a link's resolved target)
    bool is_folder = false;
    uint64_t size = 0;
    uint32_t dos_time = 0;
    uint32_t attributes = 0;
    uint32_t mode = 0;  // permission bits where the system has them (else 0)
};

// What the writer stores as the entry's attributes: its mode for a Unix-host
// archive, its MS-DOS attributes otherwise.
inline uint32_t stored_attributes(const ArchiveWriter& w, const TreeEntry& t) {
    return w.options.unix_host ? t.mode : t.attributes;
}

// Lists the tree below folder, folders before the files inside them, names in
// byte order (files of a solid archive grouped by extension, which helps the
// shared window). An entry whose name equals skip_root_name (case-insensitive)
// at the top level is left out. Only what lies in the folder is listed:
// - a link to a file inside the folder is listed as a copy of that file (its
//   path is the resolved target); a link to a file outside the folder, or one
//   that leads nowhere, makes the listing fail naming it, unless follow_links
//   is set: then the file outside is listed as a copy too and a dangling link
//   is skipped with a warning;
// - links to folders are never followed (they may lead out of the tree or
//   back into it): skipped with a warning;
// - anything that is neither a regular file nor a folder (FIFO, device,
//   socket), also behind a link, is skipped with a warning and never opened.
// Warnings (one line each, naming the entry's path) go to warnings when given.
// With cp1251_names the names (UTF-8 on disk) are stored in Windows-1251, the
// code page Windows programs read them in; a name without such a form makes
// the listing fail naming it.
// False with a message in error when the tree cannot be listed, a link is
// refused, or a name is too long for the format.
bool list_tree(const char* folder, bool solid, const char* skip_root_name, std::vector<TreeEntry>& entries,
               std::string& error, bool follow_links = false, std::vector<std::string>* warnings = nullptr,
               bool cp1251_names = false);

// Called after each file with the bytes of the tree read so far.
using PackProgressFn = void (*)(const char* name, uint64_t done, uint64_t total, void* context);

// Adds the listed entries to the archive. On failure error names the file.
// The result tells input errors (bad_argument: a file could not be read) from
// write errors.
// With options.threads above 1 a non-solid single archive (level 1 to 5) is
// packed by pack_tree_parallel; the archive is the same byte for byte.
WriteResult pack_tree(ArchiveWriter& w, const std::vector<TreeEntry>& entries, PackProgressFn progress,
                      void* context, std::string& error);

// Adds one listed file, read in pieces through the platform.
WriteResult add_tree_file(ArchiveWriter& w, const TreeEntry& t, std::string& error);

// pack_tree for a non-solid single archive on options.threads threads: files
// up to PREPARE_LIMIT bytes are packed ahead of their turn by whichever thread
// is free (their entries do not depend on each other), larger ones stream on
// the calling thread, and everything is written in list order.
inline constexpr uint64_t PREPARE_LIMIT = 4u << 20;
WriteResult pack_tree_parallel(ArchiveWriter& w, const std::vector<TreeEntry>& entries, PackProgressFn progress,
                               void* context, std::string& error);

}  // namespace pack
