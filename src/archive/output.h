// Output folders and files of the extraction, with their MS-DOS times and
// attributes. Every path is a name below the destination, which is the only
// folder trusted as given: nothing is made, written or changed through a link
// in the name. Nothing here shows anything; failures are results.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Makes the folder name below destination, with any missing parent folders,
// and applies attributes to it when it is new. created or exists when the
// folder is there afterwards; otherwise the reason (link, not_found, ...).
platform::BelowResult make_folder(const char* destination, const char* name, uint32_t attributes);
// Creates or empties the file name below destination for reading and
// writing, making missing parent folders; null on failure (*result, when
// given, says why: link for a link in the name).
platform::File* create_output_file(const char* destination, const char* name, platform::BelowResult* result = nullptr);
// Sets the open file's last-write time from an MS-DOS local date-time.
void apply_file_time(platform::File* file, uint32_t dos_date_time);
// Applies attributes to the open file (before it is closed, never by path).
void apply_attributes(platform::File* file, uint32_t attributes);
// Applies the permission bits of a Unix mode to the open file where the
// system has modes (never set-id or sticky bits; the umask is honoured for
// anyone but root); on Windows nothing (the MS-DOS attributes stay).
void apply_unix_mode(platform::File* file, uint32_t mode);
// Entries from Unix (and foreign) hosts: folder or plain file attributes.
void normalize_foreign_attributes();
