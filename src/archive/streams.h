// Thin wrappers over the seam's file calls that turn write and close failures
// into an abort of the extraction.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

size_t stream_read(platform::File* stream, void* buffer, size_t count);
// Aborts with exit code 5 when the write is short or leaves the stream in error.
size_t stream_write_checked(platform::File* stream, const void* buffer, size_t count);
bool stream_seek(platform::File* stream, int64_t offset, platform::SeekFrom origin);
// Ignores a null stream; aborts with exit code 2 when closing fails.
void stream_close_checked(platform::File* stream);
