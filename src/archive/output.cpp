// Output folders and files of the extraction, with their times and attributes.
#include "archive/output.h"

#include "archive/archive_state.h"

platform::BelowResult make_folder(const char* destination, const char* name, uint32_t attributes) {
    return platform::make_directory_below(destination, name, true, attributes);
}

platform::File* create_output_file(const char* destination, const char* name, platform::BelowResult* result) {
    return platform::file_create_below(destination, name, true, result);
}

void apply_file_time(platform::File* file, uint32_t dos_date_time) {
    (void)platform::file_set_dos_time(file, dos_date_time);  // best effort, like the attributes
}

void apply_attributes(platform::File* file, uint32_t attributes) { platform::file_set_attributes(file, attributes); }

void apply_unix_mode(platform::File* file, uint32_t mode) {
    (void)platform::file_set_unix_mode(file, mode);  // best effort, like the attributes
}

void normalize_foreign_attributes() {
    FileHeader& h = archive_state.file_header;
    if (h.host_os >= 3)
        h.attributes = (h.flags & FILE_DICTIONARY_BITS) == FILE_DICTIONARY_BITS ? platform::ATTR_DIRECTORY
                                                                                : platform::ATTR_ARCHIVE;
}
