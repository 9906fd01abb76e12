// Output folders and files of the extraction, with their times and attributes.
#include "archive/output.h"

#include "archive/archive_state.h"

int make_folder(const char* path, uint32_t attributes, platform::DirResult* failure) {
    platform::DirResult result = platform::make_directory(path);
    if (failure) *failure = result;
    if (result != platform::DirResult::ok) return -1;
    (void)platform::set_attributes(path, attributes);  // the folder exists; its attributes are best effort
    return 0;
}

void make_parent_folders(char* path) {
    const char separator = platform::path_separator();
    for (char* p = path; *p; ++p) {
        if (!platform::is_separator(*p)) continue;
        // The root itself ("/" or "\") is no folder to make.
        if (p != path) {
            *p = '\0';
            // Folders made here get plain folder attributes: they only need to
            // exist and take the files written into them.
            make_folder(path, platform::ATTR_DIRECTORY);
        }
        *p = separator;
    }
}

platform::File* create_output_file(char* path) {
    platform::File* file = platform::file_open(path, platform::FileOpen::read_write_always);
    if (file) return file;
    make_parent_folders(path);
    return platform::file_open(path, platform::FileOpen::read_write_always);
}

void apply_file_time(platform::File* file, uint32_t dos_date_time) {
    (void)platform::file_set_dos_time(file, dos_date_time);  // best effort, like the attributes
}

// Best effort: the content is what counts; attributes the system refuses are left.
void apply_attributes(const char* path, uint32_t attributes) { (void)platform::set_attributes(path, attributes); }

void normalize_foreign_attributes() {
    FileHeader& h = archive_state.file_header;
    if (h.host_os >= 3)
        h.attributes = (h.flags & FILE_DICTIONARY_BITS) == FILE_DICTIONARY_BITS ? platform::ATTR_DIRECTORY
                                                                                : platform::ATTR_ARCHIVE;
}
