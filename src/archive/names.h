// Name work of the extraction: the masks that select entries, the MS-DOS style
// wildcard matcher, the archive name's completion and the search that turns it
// into a list of archive files, and small path helpers. Names are byte strings;
// only ASCII letters are case-folded.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/archive_state.h"

struct FileInfo {
    uint32_t attributes;
    uint32_t date_time;
    uint32_t size;
    bool is_folder;
};


// Appends a mask (ends the run with exit code 8 when the list cannot grow).
void add_name_mask(const char* mask);
// Whether the current entry's file_name is selected by some mask.
bool is_entry_selected();
// Counts one extracted entry; true once every plain name has been extracted.
bool all_names_done();

bool wildcard_match(const char* mask, const char* name);
// Splits path into folder (with its trailing separator, or empty) and name
// (both 260 bytes); returns whether the path has a wildcard.
bool split_folder_and_name(const char* path, char* folder, char* name, bool skip_drive);
// The position in path where its name part begins.
const char* name_part(const char* path);
// Replaces everything after the last '.' (or appends '.' and the extension);
// path holds 260 bytes. False (path unchanged) when the result would not fit.
bool set_extension(char* path, const char* extension);
bool names_equal(const char* a, const char* b);
bool names_prefix_equal(const char* a, const char* b, size_t n);
bool is_path_separator(char c);
bool file_exists(const char* path);
bool query_file_info(const char* path, FileInfo* info);

// Appends ".rar" to volume_name when its name part has no dot and no such file
// exists, and sets drive_index. False when the name would grow too long.
bool complete_archive_name();
// Fills the archive list from volume_name.
void find_archives();
// Moves the next collected path into volume_name; false when none is left.
bool next_archive();
