// Files, folders, listings, attributes, the current folder and file times on
// POSIX systems. Names are byte strings handed to the system unchanged; MS-DOS
// attributes are mapped onto what a POSIX mode can express (read-only clears the
// write bits of a file, a folder is a folder, the rest is dropped).
#include "platform/platform.h"
#include "platform/fault_hooks.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace platform {

struct File {
    FILE* stream;
    bool failed;
};

namespace {

// Large stdio buffers keep the number of system calls low for stored copies.
constexpr size_t STREAM_BUFFER = 256 * 1024;

File* wrap(FILE* stream) {
    if (!stream) return nullptr;
    File* f = static_cast<File*>(std::malloc(sizeof(File)));
    if (!f) {
        std::fclose(stream);
        return nullptr;
    }
    f->stream = stream;
    f->failed = false;
    std::setvbuf(stream, nullptr, _IOFBF, STREAM_BUFFER);
    return f;
}

uint32_t attributes_of(const struct stat& st) {
    uint32_t attributes = S_ISDIR(st.st_mode) ? ATTR_DIRECTORY : ATTR_ARCHIVE;
    if ((st.st_mode & S_IWUSR) == 0) attributes |= ATTR_READONLY;
    return attributes;
}

// Local time of a file time as an MS-DOS date-time; 0 outside 1980..2107.
uint32_t dos_time_of(time_t when) {
    struct tm local {};
    if (!localtime_r(&when, &local)) return 0;
    int year = local.tm_year + 1900;
    if (year < 1980 || year > 2107) return 0;
    uint32_t date = static_cast<uint32_t>(((year - 1980) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
    uint32_t time = static_cast<uint32_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
    return date << 16 | time;
}

// Windows-style wildcard match of one name: '*' any run, '?' any one
// character, ASCII letters compared without case. "*.*" matches every name,
// as the system's listing does.
char fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

bool glob_match(const char* mask, const char* name) {
    if (std::strcmp(mask, "*.*") == 0) return true;
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name) {
        if (*mask == '*') {
            star = ++mask;
            resume = name;
        } else if (*mask == '?' || (*mask && fold(*mask) == fold(*name))) {
            ++mask;
            ++name;
        } else if (star) {
            mask = star;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*mask == '*') ++mask;
    return *mask == '\0';
}

bool has_wildcards(const char* text) { return std::strpbrk(text, "*?") != nullptr; }

}  // namespace

// ---------------------------------------------------------------- files

File* file_open(const char* path, FileOpen how, FileShare) {
    if (fault_on_open(path, how)) return nullptr;
    if (!path || !*path) return nullptr;
    switch (how) {
    case FileOpen::read:
        return wrap(std::fopen(path, "rb"));
    case FileOpen::read_write_always:
        return wrap(std::fopen(path, "w+b"));
    case FileOpen::read_write_existing:
        return wrap(std::fopen(path, "r+b"));
    case FileOpen::read_write_append: {
        int fd = ::open(path, O_RDWR | O_CREAT, 0666);
        if (fd < 0) return nullptr;
        FILE* stream = ::fdopen(fd, "r+b");
        if (!stream) {
            ::close(fd);
            return nullptr;
        }
        return wrap(stream);
    }
    }
    return nullptr;
}

size_t file_read(File* f, void* buffer, size_t count) {
    if (!f || count == 0) return 0;
    size_t n = std::fread(buffer, 1, count, f->stream);
    if (n < count && std::ferror(f->stream)) f->failed = true;
    return n;
}

size_t file_write(File* f, const void* buffer, size_t count) {
    if (!f) return 0;
    if (count == 0) return 0;
    if (fault_on_write(count)) { f->failed = true; return 0; }
    size_t n = std::fwrite(buffer, 1, count, f->stream);
    if (n < count || std::ferror(f->stream)) f->failed = true;
    return n;
}

bool file_seek(File* f, int64_t offset, SeekFrom from) {
    if (!f) return false;
    int whence = from == SeekFrom::start ? SEEK_SET : from == SeekFrom::current ? SEEK_CUR : SEEK_END;
    return ::fseeko(f->stream, static_cast<off_t>(offset), whence) == 0;
}

int64_t file_tell(File* f) {
    if (!f) return -1;
    return static_cast<int64_t>(::ftello(f->stream));
}

int64_t file_size(File* f) {
    if (!f) return -1;
    std::fflush(f->stream);
    struct stat st {};
    if (::fstat(::fileno(f->stream), &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

bool file_flush(File* f) {
    if (!f) return false;
    if (std::fflush(f->stream) != 0) {
        f->failed = true;
        return false;
    }
    return true;
}

bool file_has_error(File* f) { return f && (f->failed || std::ferror(f->stream)); }

bool file_close(File* f) {
    if (!f) return true;
    if (fault_on_close()) f->failed = true;
    bool ok = std::fclose(f->stream) == 0 && !f->failed;
    std::free(f);
    return ok;
}

bool file_is_char_device(File* f) {
    if (!f) return false;
    struct stat st {};
    if (::fstat(::fileno(f->stream), &st) != 0) return false;
    return S_ISCHR(st.st_mode);
}

bool file_set_dos_time(File* f, uint32_t dos_date_time) {
    if (!f) return false;
    if (std::fflush(f->stream) != 0) {
        f->failed = true;
        return false;
    }
    unsigned date = dos_date_time >> 16;
    unsigned time = dos_date_time & 0xFFFF;
    int day = date & 31, month = (date >> 5) & 15, year = static_cast<int>(date >> 9) + 1980;
    int seconds = (time & 31) * 2, minutes = (time >> 5) & 63, hours = time >> 11;
    if (day < 1 || month < 1 || month > 12 || hours > 23 || minutes > 59 || seconds > 59) return false;
    struct tm local {};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hours;
    local.tm_min = minutes;
    local.tm_sec = seconds;
    local.tm_isdst = -1;
    time_t when = std::mktime(&local);
    if (when == static_cast<time_t>(-1)) return false;
    // A day beyond the month's end (31 February) is not a date.
    if (local.tm_mday != day || local.tm_mon != month - 1) return false;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = when;
    times[1].tv_nsec = 0;
    return ::futimens(::fileno(f->stream), times) == 0;
}

// ---------------------------------------------------------------- files and folders by path

DirResult make_directory(const char* path) {
    if (fault_on_make_directory(path)) return DirResult::other;
    if (::mkdir(path, 0777) == 0) return DirResult::ok;
    switch (errno) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
        return DirResult::not_found;
    case EEXIST:
        return DirResult::exists;
    default:
        return DirResult::other;
    }
}

bool remove_directory(const char* path) { return ::rmdir(path) == 0; }

bool delete_file(const char* path) {
    struct stat st {};
    if (::lstat(path, &st) != 0 || S_ISDIR(st.st_mode)) return false;
    return ::unlink(path) == 0;
}

bool get_attributes(const char* path, uint32_t* attributes) {
    struct stat st {};
    if (!path || ::stat(path, &st) != 0) return false;
    if (attributes) *attributes = attributes_of(st);
    return true;
}

bool set_attributes(const char* path, uint32_t attributes) {
    struct stat st {};
    if (!path || ::stat(path, &st) != 0) return false;
    // A read-only folder still takes new files on Windows; clearing its write
    // bits here would lock the extraction out of it, so folders keep their mode.
    if (S_ISDIR(st.st_mode)) return true;
    mode_t mode = st.st_mode & 07777;
    if (attributes & ATTR_READONLY)
        mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    else
        mode |= S_IWUSR;
    if (mode == (st.st_mode & 07777)) return true;
    return ::chmod(path, mode) == 0;
}

size_t get_current_directory(char* buffer, size_t size) {
    if (!buffer || size == 0) return 0;
    if (!::getcwd(buffer, size)) return 0;
    return std::strlen(buffer);
}

bool set_current_directory(const char* path) { return path && ::chdir(path) == 0; }

// ---------------------------------------------------------------- listings

struct DirList {
    DIR* dir;                // null for a single-entry lookup
    char folder[4096];       // folder part with a trailing '/', or empty
    char mask[260];
};

namespace {

bool fill_entry(const char* folder, const char* name, DirEntry* entry) {
    size_t name_length = std::strlen(name);
    if (name_length >= sizeof(entry->name)) return false;
    char full[4096 + 260];
    std::snprintf(full, sizeof(full), "%s%s", folder, name);
    struct stat st {};
    if (::stat(full, &st) != 0 && ::lstat(full, &st) != 0) return false;
    std::memcpy(entry->name, name, name_length + 1);
    entry->attributes = attributes_of(st);
    entry->dos_date_time = dos_time_of(st.st_mtime);
    entry->size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
    return true;
}

bool read_next(DirList* list, DirEntry* entry) {
    while (struct dirent* d = ::readdir(list->dir)) {
        if (!glob_match(list->mask, d->d_name)) continue;
        if (fill_entry(list->folder, d->d_name, entry)) return true;
    }
    return false;
}

}  // namespace

DirList* dir_first(const char* pattern, DirEntry* entry) {
    if (!pattern || !entry) return nullptr;
    size_t length = std::strlen(pattern);
    const char* last = nullptr;
    for (const char* p = pattern; *p; ++p)
        if (is_separator(*p)) last = p;
    const char* mask = last ? last + 1 : pattern;
    size_t folder_length = last ? static_cast<size_t>(last - pattern) + 1 : 0;
    size_t mask_length = length - folder_length;
    if (mask_length == 0 || mask_length >= sizeof(DirList::mask) || folder_length >= sizeof(DirList::folder))
        return nullptr;

    DirList* list = static_cast<DirList*>(std::calloc(1, sizeof(DirList)));
    if (!list) return nullptr;
    std::memcpy(list->folder, pattern, folder_length);
    if (folder_length > 0) list->folder[folder_length - 1] = '/';
    std::memcpy(list->mask, mask, mask_length + 1);

    if (!has_wildcards(list->mask)) {
        if (fill_entry(list->folder, list->mask, entry)) return list;
        std::free(list);
        return nullptr;
    }
    list->dir = ::opendir(folder_length > 0 ? list->folder : ".");
    if (list->dir && read_next(list, entry)) return list;
    dir_close(list);
    return nullptr;
}

bool dir_next(DirList* list, DirEntry* entry) {
    if (!list || !list->dir || !entry) return false;
    return read_next(list, entry);
}

void dir_close(DirList* list) {
    if (!list) return;
    if (list->dir) ::closedir(list->dir);
    std::free(list);
}

}  // namespace platform
