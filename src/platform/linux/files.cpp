// Files, folders, listings, attributes, the current folder and file times on
// POSIX systems. Names are byte strings handed to the system unchanged; MS-DOS
// attributes are mapped onto what a POSIX mode can express (read-only clears the
// write bits of a file, a folder is a folder, the rest is dropped).
#include "platform/platform.h"
#include "platform/fault_hooks.h"
#include "platform/system_extra.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace platform {

// An open file: the descriptor and a buffer of its own. Small reads and
// writes go through the buffer; a read or write at least as large as the
// buffer goes straight between the caller's memory and the system, so a
// stored copy or a window flush costs one system call and no extra copy.
// The position is tracked here, so telling it and seeking inside the
// buffered bytes cost no system call.
struct File {
    int fd;
    bool failed;
    signed char char_device;  // -1 not known yet, else 0 or 1
    unsigned char* buffer;    // STREAM_BUFFER bytes once a small transfer needed it
    size_t read_at, read_end; // unread buffered bytes: buffer[read_at, read_end)
    size_t pending;           // buffered bytes not yet written: buffer[0, pending)
    int64_t offset;           // the descriptor's own position
};

namespace {

// Buffer size for small transfers: a read of the archive's headers or small
// entries fetches this much at once.
constexpr size_t STREAM_BUFFER = 256 * 1024;

File* wrap(int fd, signed char char_device = -1) {
    if (fd < 0) return nullptr;
    File* f = static_cast<File*>(std::malloc(sizeof(File)));
    if (!f) {
        ::close(fd);
        return nullptr;
    }
    *f = File{fd, false, char_device, nullptr, 0, 0, 0, 0};
    return f;
}

bool has_buffer(File* f) {
    if (!f->buffer) f->buffer = static_cast<unsigned char*>(std::malloc(STREAM_BUFFER));
    return f->buffer != nullptr;
}

// Writes count bytes from data at the descriptor's position; the number written.
size_t write_all(File* f, const unsigned char* data, size_t count) {
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::write(f->fd, data + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            f->failed = true;
            break;
        }
        done += static_cast<size_t>(n);
        f->offset += n;
    }
    return done;
}

// Reads up to count bytes, stopping early only at the end or on an error.
size_t read_all(File* f, unsigned char* data, size_t count) {
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::read(f->fd, data + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) f->failed = true;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
        f->offset += n;
    }
    return done;
}

// Writes out the buffered bytes; false when that failed.
bool write_pending(File* f) {
    if (f->pending == 0) return true;
    size_t n = write_all(f, f->buffer, f->pending);
    bool ok = n == f->pending;
    f->pending = 0;
    return ok;
}

// Gives up the read-ahead, moving the descriptor back to the logical position.
bool drop_read_ahead(File* f) {
    size_t unread = f->read_end - f->read_at;
    f->read_at = f->read_end = 0;
    if (unread == 0) return true;
    off_t at = ::lseek(f->fd, static_cast<off_t>(f->offset - static_cast<int64_t>(unread)), SEEK_SET);
    if (at < 0) return false;
    f->offset = at;
    return true;
}

uint32_t attributes_of(const struct stat& st) {
    uint32_t attributes = S_ISDIR(st.st_mode) ? ATTR_DIRECTORY : ATTR_ARCHIVE;
    if ((st.st_mode & S_IWUSR) == 0) attributes |= ATTR_READONLY;
    return attributes;
}

// Reads the time zone once per process. mktime would look the zone file up
// again on every call (a stat of /etc/localtime per extracted file);
// localtime_r after this uses what was read here.
void set_up_time_zone() {
    static const bool ready = (::tzset(), true);
    (void)ready;
}

// The system time of a local date and time (the fields are normalised as by
// timegm, so the caller can tell a day beyond the month's end). Two rounds
// find the zone's offset at that instant, summer time included; a local
// time that a clock change skips or repeats maps onto one of its neighbours.
bool local_to_utc(struct tm* fields, time_t* when) {
    set_up_time_zone();
    time_t as_utc = ::timegm(fields);
    if (as_utc == static_cast<time_t>(-1)) return false;
    time_t guess = as_utc;
    for (int round = 0; round < 2; ++round) {
        struct tm local {};
        if (!localtime_r(&guess, &local)) return false;
        guess = as_utc - local.tm_gmtoff;
    }
    *when = guess;
    return true;
}

// Local time of a file time as an MS-DOS date-time; 0 outside 1980..2107.
uint32_t dos_time_of(time_t when) {
    set_up_time_zone();
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
    int flags = O_RDWR;
    switch (how) {
    case FileOpen::read:
        flags = O_RDONLY;
        break;
    case FileOpen::read_write_always:
        flags = O_RDWR | O_CREAT | O_TRUNC;
        break;
    case FileOpen::read_write_existing:
        break;
    case FileOpen::read_write_append:
        flags = O_RDWR | O_CREAT;
        break;
    }
    return wrap(::open(path, flags | O_CLOEXEC, 0666));
}

size_t file_read(File* f, void* buffer, size_t count) {
    if (!f || count == 0) return 0;
    if (!write_pending(f)) return 0;
    unsigned char* out = static_cast<unsigned char*>(buffer);
    size_t done = std::min(count, f->read_end - f->read_at);
    if (done > 0) {
        std::memcpy(out, f->buffer + f->read_at, done);
        f->read_at += done;
    }
    if (done == count) return done;
    // The buffer is empty now.
    f->read_at = f->read_end = 0;
    if (count - done >= STREAM_BUFFER || !has_buffer(f)) return done + read_all(f, out + done, count - done);
    while (done < count) {
        ssize_t n = ::read(f->fd, f->buffer, STREAM_BUFFER);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) f->failed = true;
        if (n <= 0) break;
        f->offset += n;
        size_t take = std::min(count - done, static_cast<size_t>(n));
        std::memcpy(out + done, f->buffer, take);
        done += take;
        f->read_at = take;
        f->read_end = static_cast<size_t>(n);
    }
    return done;
}

size_t file_write(File* f, const void* buffer, size_t count) {
    if (!f) return 0;
    if (count == 0) return 0;
    if (fault_on_write(count)) { f->failed = true; return 0; }
    if (!drop_read_ahead(f)) {
        f->failed = true;
        return 0;
    }
    const unsigned char* in = static_cast<const unsigned char*>(buffer);
    if (f->pending + count <= STREAM_BUFFER && has_buffer(f)) {
        std::memcpy(f->buffer + f->pending, in, count);
        f->pending += count;
        return count;
    }
    if (!write_pending(f)) return 0;
    if (count >= STREAM_BUFFER || !has_buffer(f)) return write_all(f, in, count);
    std::memcpy(f->buffer, in, count);
    f->pending = count;
    return count;
}

bool file_seek(File* f, int64_t offset, SeekFrom from) {
    if (!f) return false;
    int64_t target = offset;
    if (from == SeekFrom::current) target += file_tell(f);
    // A place inside the bytes read ahead is reached without the system.
    int64_t buffer_start = f->offset - static_cast<int64_t>(f->read_end);
    if (from != SeekFrom::end && f->read_end > 0 && target >= buffer_start && target <= f->offset) {
        f->read_at = static_cast<size_t>(target - buffer_start);
        return true;
    }
    if (!write_pending(f)) return false;
    f->read_at = f->read_end = 0;
    if (from != SeekFrom::end && target < 0) return false;
    off_t at = ::lseek(f->fd, static_cast<off_t>(target), from == SeekFrom::end ? SEEK_END : SEEK_SET);
    if (at < 0) return false;
    f->offset = at;
    return true;
}

int64_t file_tell(File* f) {
    if (!f) return -1;
    return f->offset + static_cast<int64_t>(f->pending) - static_cast<int64_t>(f->read_end - f->read_at);
}

int64_t file_size(File* f) {
    if (!f) return -1;
    if (!write_pending(f)) return -1;
    struct stat st {};
    if (::fstat(f->fd, &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

bool file_flush(File* f) {
    if (!f) return false;
    return write_pending(f);
}

bool file_has_error(File* f) { return f && f->failed; }

bool file_close(File* f) {
    if (!f) return true;
    if (fault_on_close()) f->failed = true;
    bool ok = write_pending(f);
    ok = ::close(f->fd) == 0 && ok && !f->failed;
    std::free(f->buffer);
    std::free(f);
    return ok;
}

bool file_is_char_device(File* f) {
    if (!f) return false;
    if (f->char_device < 0) {
        struct stat st {};
        if (::fstat(f->fd, &st) != 0) return false;
        f->char_device = S_ISCHR(st.st_mode) ? 1 : 0;
    }
    return f->char_device == 1;
}

bool file_set_dos_time(File* f, uint32_t dos_date_time) {
    if (!f) return false;
    if (!write_pending(f)) return false;
    unsigned date = dos_date_time >> 16;
    unsigned time = dos_date_time & 0xFFFF;
    int day = date & 31, month = (date >> 5) & 15, year = static_cast<int>(date >> 9) + 1980;
    int seconds = (time & 31) * 2, minutes = (time >> 5) & 63, hours = time >> 11;
    if (day < 1 || month < 1 || month > 12 || hours > 23 || minutes > 59 || seconds > 59) return false;
    struct tm fields {};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hours;
    fields.tm_min = minutes;
    fields.tm_sec = seconds;
    time_t when = 0;
    if (!local_to_utc(&fields, &when)) return false;
    // A day beyond the month's end (31 February) is not a date.
    if (fields.tm_mday != day || fields.tm_mon != month - 1) return false;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = when;
    times[1].tv_nsec = 0;
    return ::futimens(f->fd, times) == 0;
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

namespace {

// The mode a file gets from MS-DOS attributes: read-only clears every write
// bit, otherwise the owner may write; the rest is ignored.
mode_t mode_with_attributes(mode_t current, uint32_t attributes) {
    mode_t mode = current & 07777;
    if (attributes & ATTR_READONLY)
        mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    else
        mode |= S_IWUSR;
    return mode;
}

// Writes what the open file still buffers and reads its status; false when
// either fails.
bool flushed_status(File* f, struct stat* st) { return f && write_pending(f) && ::fstat(f->fd, st) == 0; }

}  // namespace

bool set_attributes(const char* path, uint32_t attributes) {
    struct stat st {};
    if (!path || ::stat(path, &st) != 0) return false;
    // A read-only folder still takes new files on Windows; clearing its write
    // bits here would lock the extraction out of it, so folders keep their mode.
    if (S_ISDIR(st.st_mode)) return true;
    const mode_t mode = mode_with_attributes(st.st_mode, attributes);
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

// ---------------------------------------------------------------- kinds of entries and resolved paths

EntryKind describe_entry(const char* path, bool follow_links, EntryInfo* info) {
    struct stat st {};
    EntryKind kind = EntryKind::missing;
    if (path && (follow_links ? ::stat(path, &st) : ::lstat(path, &st)) == 0) {
        if (S_ISREG(st.st_mode)) kind = EntryKind::file;
        else if (S_ISDIR(st.st_mode)) kind = EntryKind::folder;
        else if (S_ISLNK(st.st_mode)) kind = EntryKind::link;
        else kind = EntryKind::other;
    }
    if (info) {
        *info = EntryInfo{};
        info->kind = kind;
        if (kind != EntryKind::missing) {
            info->attributes = attributes_of(st);
            info->dos_date_time = dos_time_of(st.st_mtime);
            info->size = kind == EntryKind::file ? static_cast<uint64_t>(st.st_size) : 0;
        }
    }
    return kind;
}

size_t resolve_path(const char* path, char* out, size_t size) {
    if (!path || !*path || !out || size == 0) return 0;
    // Components still to walk, and the resolved part so far ("" is the root).
    std::string pending, done;
    if (path[0] != '/') {
        char here[RESOLVED_PATH_BYTES];
        if (!::getcwd(here, sizeof here)) return 0;
        pending = here;
        pending += '/';
    }
    pending += path;
    int links = 0;
    size_t at = 0;
    while (at < pending.size()) {
        size_t end = pending.find('/', at);
        if (end == std::string::npos) end = pending.size();
        std::string part = pending.substr(at, end - at);
        at = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            done.erase(done.empty() ? 0 : done.find_last_of('/'));
            continue;
        }
        std::string next = done + '/' + part;
        struct stat st {};
        if (::lstat(next.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            if (++links > 40) return 0;  // a loop, as the system itself would judge it
            char target[RESOLVED_PATH_BYTES];
            ssize_t n = ::readlink(next.c_str(), target, sizeof target);
            if (n <= 0 || static_cast<size_t>(n) >= sizeof target) return 0;
            std::string rest = at < pending.size() ? pending.substr(at) : std::string();
            pending.assign(target, static_cast<size_t>(n));
            pending += '/';
            pending += rest;
            at = 0;
            if (target[0] == '/') done.clear();
            continue;
        }
        done = std::move(next);
        if (done.size() >= RESOLVED_PATH_BYTES) return 0;
    }
    if (done.empty()) done.push_back('/');
    if (done.size() >= size) return 0;
    std::memcpy(out, done.c_str(), done.size() + 1);
    return done.size();
}

bool path_within(const char* outer, const char* inner) {
    if (!outer || !inner) return false;
    size_t n = std::strlen(outer);
    while (n > 0 && outer[n - 1] == '/') --n;  // "/" and "/a/" end in a separator
    return std::strncmp(outer, inner, n) == 0 && (inner[n] == '\0' || inner[n] == '/');
}

// ---------------------------------------------------------------- output below a trusted folder

namespace {

constexpr int MAX_COMPONENTS = 256;

// The components of a relative name: empty and "." ones dropped. refused for
// an absolute name, an empty one, or one with a ".." component (or one of
// dots and spaces only, as the Windows side refuses).
struct Components {
    char text[4096];
    const char* part[MAX_COMPONENTS];
    int count;
};

BelowResult split_components(const char* relative, Components* c) {
    size_t length = relative ? std::strlen(relative) : 0;
    if (length == 0 || relative[0] == '/') return BelowResult::refused;
    if (length >= sizeof c->text) return BelowResult::other;
    std::memcpy(c->text, relative, length + 1);
    c->count = 0;
    for (char* p = c->text; *p;) {
        char* start = p;
        while (*p && *p != '/') ++p;
        if (*p) *p++ = '\0';
        if (*start == '\0' || std::strcmp(start, ".") == 0) continue;
        int dots = 0;
        bool dots_and_spaces = true;
        for (const char* q = start; *q; ++q) {
            if (*q == '.') ++dots;
            else if (*q != ' ') dots_and_spaces = false;
        }
        if (dots_and_spaces && dots >= 2) return BelowResult::refused;
        if (c->count == MAX_COMPONENTS) return BelowResult::other;
        c->part[c->count++] = start;
    }
    return c->count > 0 ? BelowResult::created : BelowResult::refused;
}

// base and the first count components joined, for the test-only fault hooks,
// which see whole paths as the by-path calls give them.
void join_for_hooks(const char* base, const Components& c, int count, char* out, size_t size) {
    size_t n = static_cast<size_t>(std::snprintf(out, size, "%s", base));
    for (int i = 0; i < count && n < size; ++i) {
        bool separator = n > 0 && out[n - 1] != '/';
        n += static_cast<size_t>(std::snprintf(out + n, size - n, "%s%s", separator ? "/" : "", c.part[i]));
    }
}

// Why name in dir could not be opened as a folder, from the errno of openat.
BelowResult folder_failure(int dir, const char* name, int error) {
    struct stat st {};
    if (error == ELOOP || (::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)))
        return BelowResult::link;
    return error == ENOENT ? BelowResult::not_found : BelowResult::other;
}

// Opens the folder that holds the last component, walking down from base one
// component at a time with O_NOFOLLOW, so no folder on the way can be a link
// (nor be swapped for one while the walk goes on). Missing folders are made
// (0700) when make_parents is set. On success *dir is open and the result is
// created; otherwise nothing is open.
BelowResult open_parent(const char* base, const Components& c, bool make_parents, int* dir) {
    int fd = ::open(*base ? base : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? BelowResult::not_found : BelowResult::other;
    constexpr int FOLDER = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    for (int i = 0; i + 1 < c.count; ++i) {
        int next = ::openat(fd, c.part[i], FOLDER);
        if (next < 0 && errno == ENOENT && make_parents) {
            char path[4096];
            join_for_hooks(base, c, i + 1, path, sizeof path);
            if (fault_on_make_directory(path) || (::mkdirat(fd, c.part[i], 0700) != 0 && errno != EEXIST)) {
                ::close(fd);
                return BelowResult::other;
            }
            next = ::openat(fd, c.part[i], FOLDER);
        }
        if (next < 0) {
            BelowResult why = folder_failure(fd, c.part[i], errno);
            ::close(fd);
            return why;
        }
        ::close(fd);
        fd = next;
    }
    *dir = fd;
    return BelowResult::created;
}

void set_result(BelowResult* result, BelowResult value) {
    if (result) *result = value;
}

// The folder the last file was created in, kept open: an extraction writes
// file after file into the same folder, and walking down to it again costs
// two system calls per component. Kept only below an absolute base (a
// relative one would change its meaning with the current folder). The
// descriptor was reached by the same link-free walk; entries never turn a
// folder into a link, and a folder removed meanwhile shows as ENOENT, after
// which the walk is done afresh.
struct ParentCache {
    std::string base, parent;
    int fd = -1;
};
ParentCache parent_cache;

std::string parent_key(const Components& c) {
    std::string key;
    for (int i = 0; i + 1 < c.count; ++i) {
        key += c.part[i];
        key += '/';
    }
    return key;
}

void forget_parent() {
    if (parent_cache.fd >= 0) ::close(parent_cache.fd);
    parent_cache.fd = -1;
    parent_cache.base.clear();
    parent_cache.parent.clear();
}

// open_parent through the cache: *dir is the cached descriptor (not to be
// closed) when *cached is set, else a fresh one.
BelowResult open_parent_cached(const char* base, const Components& c, bool make_parents, int* dir,
                               bool* cached, bool reuse) {
    *cached = false;
    if (base[0] != '/') return open_parent(base, c, make_parents, dir);
    std::string key = parent_key(c);
    if (reuse && parent_cache.fd >= 0 && parent_cache.base == base && parent_cache.parent == key) {
        *dir = parent_cache.fd;
        *cached = true;
        return BelowResult::created;
    }
    BelowResult walked = open_parent(base, c, make_parents, dir);
    if (walked != BelowResult::created) return walked;
    forget_parent();
    parent_cache.base = base;
    parent_cache.parent = std::move(key);
    parent_cache.fd = *dir;
    *cached = true;
    return walked;
}

}  // namespace

File* file_create_below(const char* base, const char* relative, bool make_parents, BelowResult* result) {
    set_result(result, BelowResult::other);
    if (!base) return nullptr;
    static Components c;  // large; the extraction is single-threaded
    BelowResult split = split_components(relative, &c);
    if (split != BelowResult::created) {
        set_result(result, split);
        return nullptr;
    }
    char path[4096];
    join_for_hooks(base, c, c.count, path, sizeof path);
    if (fault_on_open(path, FileOpen::read_write_always)) return nullptr;
    int dir = -1;
    bool cached = false;
    BelowResult walked = open_parent_cached(base, c, make_parents, &dir, &cached, true);
    if (walked != BelowResult::created) {
        set_result(result, walked);
        return nullptr;
    }
    const char* last = c.part[c.count - 1];
    BelowResult outcome = BelowResult::created;
    bool is_char = false;  // a new file is a regular one
    // A new file first, so that the caller learns whether it made the file.
    constexpr int CREATE = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::openat(dir, last, CREATE, 0666);
    if (fd < 0 && errno == ENOENT && cached) {
        // The kept folder may have been removed: walk down again.
        forget_parent();
        walked = open_parent_cached(base, c, make_parents, &dir, &cached, false);
        if (walked != BelowResult::created) {
            set_result(result, walked);
            return nullptr;
        }
        fd = ::openat(dir, last, CREATE, 0666);
    }
    if (fd < 0 && errno == EEXIST) {
        outcome = BelowResult::replaced;
        // O_NONBLOCK: a FIFO planted under the name must not hang the open.
        fd = ::openat(dir, last, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        struct stat st {};
        if (fd < 0) {
            outcome = folder_failure(dir, last, errno) == BelowResult::link ? BelowResult::link : BelowResult::other;
        } else if (::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISCHR(st.st_mode)) ||
                   (S_ISREG(st.st_mode) && ::ftruncate(fd, 0) != 0) ||
                   ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
            ::close(fd);
            fd = -1;
            outcome = BelowResult::other;
        } else {
            is_char = S_ISCHR(st.st_mode);
        }
    } else if (fd < 0) {
        outcome = errno == ENOENT ? BelowResult::not_found : BelowResult::other;
    }
    File* f = nullptr;
    if (fd >= 0) {
        f = wrap(fd, is_char ? 1 : 0);
        // Out of memory: a file made just now does not stay behind.
        if (!f && outcome == BelowResult::created) ::unlinkat(dir, last, 0);
        if (!f) outcome = BelowResult::other;
    }
    if (!cached) ::close(dir);
    set_result(result, outcome);
    return f;
}

BelowResult make_directory_below(const char* base, const char* relative, bool make_parents, uint32_t) {
    if (!base) return BelowResult::other;
    static Components c;
    BelowResult split = split_components(relative, &c);
    if (split != BelowResult::created) return split;
    char path[4096];
    join_for_hooks(base, c, c.count, path, sizeof path);
    int dir = -1;
    BelowResult walked = open_parent(base, c, make_parents, &dir);
    if (walked != BelowResult::created) return walked;
    const char* last = c.part[c.count - 1];
    BelowResult outcome = BelowResult::created;
    // Folders keep their mode here: MS-DOS attributes have no meaning for them.
    if (fault_on_make_directory(path)) {
        outcome = BelowResult::other;
    } else if (::mkdirat(dir, last, 0700) != 0) {
        int error = errno;
        struct stat st {};
        if (error == EEXIST)
            outcome = ::fstatat(dir, last, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode) ? BelowResult::link
                                                                                               : BelowResult::exists;
        else
            outcome = error == ENOENT ? BelowResult::not_found : BelowResult::other;
    }
    ::close(dir);
    return outcome;
}

bool delete_file_below(const char* base, const char* relative) {
    if (!base) return false;
    static Components c;
    if (split_components(relative, &c) != BelowResult::created) return false;
    int dir = -1;
    if (open_parent(base, c, false, &dir) != BelowResult::created) return false;
    const char* last = c.part[c.count - 1];
    struct stat st {};
    bool ok = ::fstatat(dir, last, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode) &&
              ::unlinkat(dir, last, 0) == 0;
    ::close(dir);
    return ok;
}

bool file_set_attributes(File* f, uint32_t attributes) {
    struct stat st {};
    if (!flushed_status(f, &st)) return false;
    if (!S_ISREG(st.st_mode)) return true;
    const mode_t mode = mode_with_attributes(st.st_mode, attributes);
    if (mode == (st.st_mode & 07777)) return true;
    return ::fchmod(f->fd, mode) == 0;
}

}  // namespace platform

namespace platform {

bool file_set_unix_mode(File* f, uint32_t mode) {
    struct stat st {};
    if (!flushed_status(f, &st)) return false;
    if (!S_ISREG(st.st_mode)) return true;  // a device given as the output keeps its mode
    // Like tar: permission bits only (an archive never makes a set-id
    // program), and for anyone but root less what the umask withholds. The
    // umask is read by setting it and putting it back; extraction is the
    // only thread that creates files meanwhile.
    mode_t wanted = static_cast<mode_t>(mode) & 0777;
    if (::geteuid() != 0) {
        mode_t mask = ::umask(077);
        (void)::umask(mask);
        wanted &= ~mask;
    }
    if (wanted == (st.st_mode & 07777)) return true;
    return ::fchmod(f->fd, wanted) == 0;
}

bool get_unix_mode(const char* path, uint32_t* mode) {
    struct stat st {};
    if (!path || !mode || ::stat(path, &st) != 0) return false;
    *mode = static_cast<uint32_t>(st.st_mode & 07777);
    return true;
}

bool names_are_utf8() {
    // The character type of the locale, as setlocale would choose it.
    const char* names[] = {"LC_ALL", "LC_CTYPE", "LANG"};
    for (const char* n : names) {
        const char* v = std::getenv(n);
        if (!v || !*v) continue;
        std::string value = v;
        for (char& c : value)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        return value.find("utf-8") != std::string::npos || value.find("utf8") != std::string::npos;
    }
    return false;
}

}  // namespace platform
