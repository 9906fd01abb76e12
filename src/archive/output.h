// Output folders and files of the extraction, with their MS-DOS times and
// attributes. Nothing here shows anything; failures are results.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Makes one folder and applies attributes to it: 0, or -1 with the failure
// kind in *failure (not_found when a parent is missing, exists, other).
int make_folder(const char* path, uint32_t attributes, platform::DirResult* failure = nullptr);
// Makes every folder named by a prefix of path that ends at a separator;
// each separator becomes the system's own. Existing folders keep their attributes.
void make_parent_folders(char* path);
// Creates or truncates path for reading and writing (making missing parent
// folders on a second attempt); null when both attempts fail.
platform::File* create_output_file(char* path);
// Sets the open file's last-write time from an MS-DOS local date-time.
void apply_file_time(platform::File* file, uint32_t dos_date_time);
// Applies attributes to a closed file by path.
void apply_attributes(const char* path, uint32_t attributes);
// Entries from Unix (and foreign) hosts: folder or plain file attributes.
void normalize_foreign_attributes();
