// Files, folders, listings, attributes, the current folder and file times on
// Windows. Files are opened with CreateFileA (share modes, creation rules) and
// then wrapped in a buffered C stream, so small reads and writes stay cheap.
// Names are ANSI byte strings passed to the system unchanged.
#include "platform/platform.h"
#include "platform/fault_hooks.h"
#include "platform/system_extra.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {

struct File {
    FILE* stream;
    HANDLE handle;
    bool failed;
    char* buffer;  // the stream's buffer, owned here (null: the C library's own)
    bool reading;  // the last transfer was a read
};

namespace {

// The stream's buffer: small reads and writes are gathered into transfers of
// this size; larger ones go straight between the caller and the system.
constexpr size_t STREAM_BUFFER = 256 * 1024;

uint32_t dos_time_of(const FILETIME& utc) {
    FILETIME local;
    WORD date = 0, time = 0;
    if (!FileTimeToLocalFileTime(&utc, &local)) return 0;
    if (!FileTimeToDosDateTime(&local, &date, &time)) return 0;
    return static_cast<uint32_t>(date) << 16 | time;
}

// Wraps an open handle in a buffered stream (flags and mode as for
// _open_osfhandle and _fdopen); closes the handle and returns null on failure.
File* wrap_handle(HANDLE handle, int flags, const char* mode);

}  // namespace

// ---------------------------------------------------------------- files

File* file_open(const char* path, FileOpen how, FileShare share) {
    if (fault_on_open(path, how)) return nullptr;
    if (!path || !*path) return nullptr;
    DWORD access = GENERIC_READ | GENERIC_WRITE;
    DWORD disposition = OPEN_EXISTING;
    int flags = _O_BINARY | _O_RDWR;
    const char* mode = "r+b";
    switch (how) {
    case FileOpen::read:
        access = GENERIC_READ;
        flags = _O_BINARY | _O_RDONLY;
        mode = "rb";
        break;
    case FileOpen::read_write_always:
        disposition = CREATE_ALWAYS;
        break;
    case FileOpen::read_write_append:
        disposition = OPEN_ALWAYS;
        break;
    case FileOpen::read_write_existing:
        break;
    }
    DWORD share_mode = share == FileShare::read_only ? FILE_SHARE_READ : (FILE_SHARE_READ | FILE_SHARE_WRITE);
    HANDLE handle = CreateFileA(path, access, share_mode, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    return wrap_handle(handle, flags, mode);
}

namespace {

File* wrap_handle(HANDLE handle, int flags, const char* mode) {
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    FILE* stream = _fdopen(fd, mode);
    if (!stream) {
        _close(fd);
        return nullptr;
    }
    File* f = static_cast<File*>(std::malloc(sizeof(File)));
    if (!f) {
        std::fclose(stream);
        return nullptr;
    }
    f->stream = stream;
    f->handle = handle;
    f->failed = false;
    f->reading = false;
    // The buffer must be given: a size with a null buffer may be ignored.
    f->buffer = static_cast<char*>(std::malloc(STREAM_BUFFER));
    if (f->buffer && std::setvbuf(stream, f->buffer, _IOFBF, STREAM_BUFFER) != 0) {
        std::free(f->buffer);
        f->buffer = nullptr;
    }
    return f;
}

}  // namespace

size_t file_read(File* f, void* buffer, size_t count) {
    if (!f || count == 0) return 0;
    // A C stream needs a flush or seek between a write and a read (and back).
    if (!f->reading && std::fflush(f->stream) != 0) f->failed = true;
    f->reading = true;
    size_t n = std::fread(buffer, 1, count, f->stream);
    if (n < count && std::ferror(f->stream)) f->failed = true;
    return n;
}

size_t file_write(File* f, const void* buffer, size_t count) {
    if (!f || count == 0) return 0;
    if (fault_on_write(count)) { f->failed = true; return 0; }
    if (f->reading && _fseeki64(f->stream, 0, SEEK_CUR) != 0) f->failed = true;
    f->reading = false;
    size_t n = std::fwrite(buffer, 1, count, f->stream);
    if (n < count || std::ferror(f->stream)) f->failed = true;
    return n;
}

bool file_seek(File* f, int64_t offset, SeekFrom from) {
    if (!f) return false;
    int whence = from == SeekFrom::start ? SEEK_SET : from == SeekFrom::current ? SEEK_CUR : SEEK_END;
    return _fseeki64(f->stream, offset, whence) == 0;
}

int64_t file_tell(File* f) {
    if (!f) return -1;
    return _ftelli64(f->stream);
}

int64_t file_size(File* f) {
    if (!f) return -1;
    std::fflush(f->stream);
    LARGE_INTEGER size;
    if (!GetFileSizeEx(f->handle, &size)) return -1;
    return size.QuadPart;
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
    std::free(f->buffer);
    std::free(f);
    return ok;
}

bool file_is_char_device(File* f) { return f && GetFileType(f->handle) == FILE_TYPE_CHAR; }

bool file_set_dos_time(File* f, uint32_t dos_date_time) {
    if (!f) return false;
    if (std::fflush(f->stream) != 0) {
        f->failed = true;
        return false;
    }
    WORD date = static_cast<WORD>(dos_date_time >> 16);
    WORD time = static_cast<WORD>(dos_date_time & 0xFFFF);
    // DosDateTimeToFileTime accepts some out-of-range fields; refuse them here
    // so that a damaged time leaves the file's own time in place.
    unsigned day = date & 31, month = (date >> 5) & 15;
    unsigned seconds = (time & 31) * 2, minutes = (time >> 5) & 63, hours = time >> 11;
    if (day < 1 || month < 1 || month > 12 || hours > 23 || minutes > 59 || seconds > 59) return false;
    unsigned year = 1980u + (date >> 9);
    static const unsigned DAYS[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (day > DAYS[month - 1] || (month == 2 && day == 29 && !leap)) return false;
    FILETIME local, utc;
    if (!DosDateTimeToFileTime(date, time, &local)) return false;
    if (!LocalFileTimeToFileTime(&local, &utc)) return false;
    return SetFileTime(f->handle, nullptr, nullptr, &utc) != 0;
}

// ---------------------------------------------------------------- files and folders by path

DirResult make_directory(const char* path) {
    if (fault_on_make_directory(path)) return DirResult::other;
    if (CreateDirectoryA(path, nullptr)) return DirResult::ok;
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return DirResult::not_found;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
        return DirResult::exists;
    default:
        return DirResult::other;
    }
}

bool remove_directory(const char* path) { return RemoveDirectoryA(path) != 0; }

bool delete_file(const char* path) { return DeleteFileA(path) != 0; }

bool get_attributes(const char* path, uint32_t* attributes) {
    DWORD value = GetFileAttributesA(path);
    if (value == INVALID_FILE_ATTRIBUTES) return false;
    if (attributes) *attributes = value;
    return true;
}

bool set_attributes(const char* path, uint32_t attributes) { return SetFileAttributesA(path, attributes) != 0; }

size_t get_current_directory(char* buffer, size_t size) {
    if (!buffer || size == 0) return 0;
    DWORD n = GetCurrentDirectoryA(static_cast<DWORD>(size), buffer);
    if (n == 0 || n >= size) return 0;
    return n;
}

bool set_current_directory(const char* path) { return path && SetCurrentDirectoryA(path) != 0; }

// ---------------------------------------------------------------- listings

struct DirList {
    HANDLE find;
};

namespace {

bool fill_entry(const WIN32_FIND_DATAA& data, DirEntry* entry) {
    size_t length = std::strlen(data.cFileName);
    if (length >= sizeof(entry->name)) return false;
    std::memcpy(entry->name, data.cFileName, length + 1);
    entry->attributes = data.dwFileAttributes;
    entry->dos_date_time = dos_time_of(data.ftLastWriteTime);
    entry->size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

}  // namespace

DirList* dir_first(const char* pattern, DirEntry* entry) {
    if (!pattern || !entry) return nullptr;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(pattern, &data);
    if (find == INVALID_HANDLE_VALUE) return nullptr;
    DirList* list = static_cast<DirList*>(std::malloc(sizeof(DirList)));
    if (!list) {
        FindClose(find);
        return nullptr;
    }
    list->find = find;
    while (!fill_entry(data, entry)) {
        if (!FindNextFileA(find, &data)) {
            dir_close(list);
            return nullptr;
        }
    }
    return list;
}

bool dir_next(DirList* list, DirEntry* entry) {
    if (!list || !entry) return false;
    WIN32_FIND_DATAA data;
    while (FindNextFileA(list->find, &data))
        if (fill_entry(data, entry)) return true;
    return false;
}

void dir_close(DirList* list) {
    if (!list) return;
    FindClose(list->find);
    std::free(list);
}

// ---------------------------------------------------------------- kinds of entries and resolved paths

EntryKind describe_entry(const char* path, bool follow_links, EntryInfo* info) {
    EntryKind kind = EntryKind::missing;
    DWORD attributes = 0, size_high = 0, size_low = 0;
    FILETIME written{};
    if (path && !follow_links) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
            attributes = data.dwFileAttributes;
            size_high = data.nFileSizeHigh, size_low = data.nFileSizeLow;
            written = data.ftLastWriteTime;
            kind = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? EntryKind::link
                   : (attributes & FILE_ATTRIBUTE_DIRECTORY)   ? EntryKind::folder
                   : (attributes & FILE_ATTRIBUTE_DEVICE)      ? EntryKind::other
                                                               : EntryKind::file;
        }
    } else if (path) {
        // Opening without any access right follows links and reads nothing.
        HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            BY_HANDLE_FILE_INFORMATION data;
            if (GetFileType(h) != FILE_TYPE_DISK) {
                kind = EntryKind::other;
            } else if (GetFileInformationByHandle(h, &data)) {
                attributes = data.dwFileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT);
                size_high = data.nFileSizeHigh, size_low = data.nFileSizeLow;
                written = data.ftLastWriteTime;
                kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::folder : EntryKind::file;
            }
            CloseHandle(h);
        }
    }
    if (info) {
        *info = EntryInfo{};
        info->kind = kind;
        info->attributes = attributes;
        if (kind == EntryKind::file || kind == EntryKind::folder || kind == EntryKind::link)
            info->dos_date_time = dos_time_of(written);
        if (kind == EntryKind::file) info->size = static_cast<uint64_t>(size_high) << 32 | size_low;
    }
    return kind;
}

// ---------------------------------------------------------------- output below a trusted folder

namespace {

constexpr int MAX_DEPTH = 128;

// A path being walked down from base, one component at a time. Each folder
// passed is held open (without delete sharing, so it cannot be renamed or
// replaced by a junction while the walk goes on) after its attributes showed
// it is a real folder, not a reparse point.
struct Walk {
    char path[MAX_PATH_CHARS + 1];
    size_t length;
    HANDLE held[MAX_DEPTH];
    int depth;
};

void release(Walk* w) {
    for (int i = 0; i < w->depth; ++i) CloseHandle(w->held[i]);
    w->depth = 0;
}

// Appends one component (with a separator when needed); false when too long.
bool append(Walk* w, const char* part, size_t n) {
    bool separator = w->length > 0 && !is_separator(w->path[w->length - 1]) && w->path[w->length - 1] != ':';
    if (w->length + separator + n > MAX_PATH_CHARS) return false;
    if (separator) w->path[w->length++] = '\\';
    std::memcpy(w->path + w->length, part, n);
    w->length += n;
    w->path[w->length] = '\0';
    return true;
}

// A component that names the parent once Windows has trimmed its trailing
// dots and spaces (".." ,"...", ".. "), or that carries a drive or stream (':').
bool is_refused_component(const char* part, size_t n) {
    int dots = 0;
    bool dots_and_spaces = true;
    for (size_t i = 0; i < n; ++i) {
        if (part[i] == ':') return true;
        if (part[i] == '.') ++dots;
        else if (part[i] != ' ') dots_and_spaces = false;
    }
    return dots_and_spaces && dots >= 2;
}

BelowResult failure_of(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return BelowResult::not_found;
    default:
        return BelowResult::other;
    }
}

// Opens the folder w->path as it stands now, refusing a reparse point.
BelowResult hold_folder(Walk* w) {
    HANDLE h = CreateFileA(w->path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return failure_of(GetLastError());
    BY_HANDLE_FILE_INFORMATION info;
    BelowResult result = BelowResult::created;
    // The attributes by path as well: some systems (wine among them) show a
    // folder link as a reparse point there but open its target regardless.
    const DWORD by_path = GetFileAttributesA(w->path);
    if (!GetFileInformationByHandle(h, &info))
        result = BelowResult::other;
    else if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
             (by_path != INVALID_FILE_ATTRIBUTES && (by_path & FILE_ATTRIBUTE_REPARSE_POINT)))
        result = BelowResult::link;
    else if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        result = BelowResult::other;
    if (result != BelowResult::created || w->depth == MAX_DEPTH) {
        CloseHandle(h);
        return result == BelowResult::created ? BelowResult::other : result;
    }
    w->held[w->depth++] = h;
    return result;
}

// Walks from base to the folder that holds the last component of relative,
// making missing folders with make_parents. On created, w->path is the full
// path of the last component and the folders on the way are held (release
// them); otherwise nothing is held.
BelowResult walk_to_last(const char* base, const char* relative, bool make_parents, Walk* w) {
    w->depth = 0;
    w->length = 0;
    w->path[0] = '\0';
    if (!base || !relative || !*relative || is_separator(relative[0])) return BelowResult::refused;
    if (!append(w, base, std::strlen(base))) return BelowResult::other;
    // The components, empty and "." ones dropped.
    const char* parts[MAX_DEPTH + 1];
    size_t sizes[MAX_DEPTH + 1];
    int count = 0;
    for (const char* p = relative; *p;) {
        const char* start = p;
        while (*p && !is_separator(*p)) ++p;
        size_t n = static_cast<size_t>(p - start);
        if (*p) ++p;
        if (n == 0 || (n == 1 && *start == '.')) continue;
        if (is_refused_component(start, n)) return BelowResult::refused;
        if (count == MAX_DEPTH + 1) return BelowResult::other;
        parts[count] = start;
        sizes[count++] = n;
    }
    if (count == 0) return BelowResult::refused;
    for (int i = 0; i + 1 < count; ++i) {
        if (!append(w, parts[i], sizes[i])) {
            release(w);
            return BelowResult::other;
        }
        BelowResult held = hold_folder(w);
        if (held == BelowResult::not_found && make_parents) {
            if (fault_on_make_directory(w->path) ||
                (!CreateDirectoryA(w->path, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)) {
                release(w);
                return BelowResult::other;
            }
            held = hold_folder(w);
        }
        if (held != BelowResult::created) {
            release(w);
            return held;
        }
    }
    if (!append(w, parts[count - 1], sizes[count - 1])) {
        release(w);
        return BelowResult::other;
    }
    return BelowResult::created;
}

// Attributes set through an open handle (NtSetInformationFile with the basic
// information class exists on every Windows NT; zero times mean "unchanged").
bool set_handle_attributes(HANDLE handle, DWORD attributes) {
    struct BasicInformation {
        LARGE_INTEGER creation, last_access, last_write, change;
        ULONG attributes;
    };
    struct StatusBlock {
        union {
            LONG status;
            void* pointer;
        };
        ULONG_PTR information;
    };
    using SetInformation = LONG(WINAPI*)(HANDLE, StatusBlock*, void*, ULONG, int);
    constexpr int FILE_BASIC_INFORMATION_CLASS = 4;
    // Looked up on each call: a function-local static would need the C++
    // runtime's guarded initialisation, which brings its exception machinery
    // into the installer.
    const SetInformation set_information = reinterpret_cast<SetInformation>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtSetInformationFile")));
    if (!set_information) return false;
    BasicInformation info{};
    info.attributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    StatusBlock status{};
    return set_information(handle, &status, &info, sizeof info, FILE_BASIC_INFORMATION_CLASS) >= 0;
}

void set_result(BelowResult* result, BelowResult value) {
    if (result) *result = value;
}

}  // namespace

File* file_create_below(const char* base, const char* relative, bool make_parents, BelowResult* result) {
    static Walk w;  // the extraction is single-threaded
    BelowResult walked = walk_to_last(base, relative, make_parents, &w);
    set_result(result, walked == BelowResult::created ? BelowResult::other : walked);
    if (walked != BelowResult::created) return nullptr;
    File* f = nullptr;
    if (!fault_on_open(w.path, FileOpen::read_write_always)) {
        // OPEN_ALWAYS with the reparse point itself opened: a link under the
        // name is seen and refused before anything is written.
        HANDLE handle = CreateFileA(w.path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        DWORD error = GetLastError();
        BelowResult outcome = error == ERROR_ALREADY_EXISTS ? BelowResult::replaced : BelowResult::created;
        if (handle == INVALID_HANDLE_VALUE) {
            outcome = failure_of(error);
        } else if (GetFileType(handle) != FILE_TYPE_CHAR) {
            BY_HANDLE_FILE_INFORMATION info;
            if (!GetFileInformationByHandle(handle, &info))
                outcome = BelowResult::other;
            else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                outcome = BelowResult::link;
            else if (outcome == BelowResult::replaced &&
                     (SetFilePointer(handle, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER || !SetEndOfFile(handle)))
                outcome = BelowResult::other;
        }
        if (handle != INVALID_HANDLE_VALUE) {
            if (outcome == BelowResult::created || outcome == BelowResult::replaced) {
                f = wrap_handle(handle, _O_BINARY | _O_RDWR, "r+b");
                if (!f && outcome == BelowResult::created) DeleteFileA(w.path);
                if (!f) outcome = BelowResult::other;
            } else {
                CloseHandle(handle);
            }
        }
        set_result(result, outcome);
    }
    release(&w);
    return f;
}

BelowResult make_directory_below(const char* base, const char* relative, bool make_parents, uint32_t attributes) {
    static Walk w;
    BelowResult outcome = walk_to_last(base, relative, make_parents, &w);
    if (outcome != BelowResult::created) return outcome;
    if (fault_on_make_directory(w.path)) {
        outcome = BelowResult::other;
    } else if (CreateDirectoryA(w.path, nullptr)) {
        // The new folder's attributes go through a handle on the folder itself.
        HANDLE h = CreateFileA(w.path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                               nullptr);
        BY_HANDLE_FILE_INFORMATION info;
        if (h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(h, &info) &&
            !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            set_handle_attributes(h, attributes);
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    } else {
        DWORD error = GetLastError();
        if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
            DWORD present = GetFileAttributesA(w.path);
            outcome = present != INVALID_FILE_ATTRIBUTES && (present & FILE_ATTRIBUTE_REPARSE_POINT)
                          ? BelowResult::link
                          : BelowResult::exists;
        } else {
            outcome = failure_of(error);
        }
    }
    release(&w);
    return outcome;
}

bool delete_file_below(const char* base, const char* relative) {
    static Walk w;
    if (walk_to_last(base, relative, false, &w) != BelowResult::created) return false;
    // DeleteFileA removes a link itself, never its target, and never a folder.
    bool ok = DeleteFileA(w.path) != 0;
    release(&w);
    return ok;
}

bool file_set_attributes(File* f, uint32_t attributes) {
    if (!f) return false;
    if (std::fflush(f->stream) != 0) {
        f->failed = true;
        return false;
    }
    constexpr DWORD SETTABLE = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                               FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_TEMPORARY |
                               FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    return set_handle_attributes(f->handle, attributes & SETTABLE);
}

}  // namespace platform

namespace platform {

// Windows files carry MS-DOS attributes, no modes.
bool file_set_unix_mode(File* f, uint32_t) { return f != nullptr; }
bool get_unix_mode(const char*, uint32_t*) { return false; }
bool names_are_utf8() { return false; }

}  // namespace platform
