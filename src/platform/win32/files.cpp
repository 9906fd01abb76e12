// Files, folders, listings, attributes, the current folder and file times on
// Windows. Files are opened with CreateFileA (share modes, creation rules) and
// then wrapped in a buffered C stream, so small reads and writes stay cheap.
// Names are ANSI byte strings passed to the system unchanged.
#include "platform/platform.h"
#include "platform/fault_hooks.h"

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
};

namespace {

constexpr size_t STREAM_BUFFER = 256 * 1024;

uint32_t dos_time_of(const FILETIME& utc) {
    FILETIME local;
    WORD date = 0, time = 0;
    if (!FileTimeToLocalFileTime(&utc, &local)) return 0;
    if (!FileTimeToDosDateTime(&local, &date, &time)) return 0;
    return static_cast<uint32_t>(date) << 16 | time;
}

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
    std::setvbuf(stream, nullptr, _IOFBF, STREAM_BUFFER);
    return f;
}

size_t file_read(File* f, void* buffer, size_t count) {
    if (!f || count == 0) return 0;
    size_t n = std::fread(buffer, 1, count, f->stream);
    if (n < count && std::ferror(f->stream)) f->failed = true;
    return n;
}

size_t file_write(File* f, const void* buffer, size_t count) {
    if (!f || count == 0) return 0;
    if (fault_on_write(count)) { f->failed = true; return 0; }
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

}  // namespace platform
