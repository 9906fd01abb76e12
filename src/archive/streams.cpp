// The reader's stream calls: a failed write or close ends the extraction.
#include "archive/streams.h"

#include "archive/status.h"

size_t stream_read(platform::File* stream, void* buffer, size_t count) {
    return platform::file_read(stream, buffer, count);
}

size_t stream_write_checked(platform::File* stream, const void* buffer, size_t count) {
    size_t written = platform::file_write(stream, buffer, count);
    if (written < count || platform::file_has_error(stream)) abort_extraction(WRITE_ERROR);
    return written;
}

bool stream_seek(platform::File* stream, int64_t offset, platform::SeekFrom origin) {
    return platform::file_seek(stream, offset, origin);
}

void stream_close_checked(platform::File* stream) {
    if (!stream) return;
    if (!platform::file_close(stream)) abort_extraction(FATAL_ERROR);
}
