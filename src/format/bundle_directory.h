// The directory at the end of a bundle (the program's own executable with
// files appended behind it). From the end of the file backwards: the
// directory size D (4 bytes, little-endian), then D bytes of entries
// (offset: 4 bytes little-endian, name length: 1 byte, name bytes), one per
// member in member order. Members lie back to back; each ends where the next
// begins, the last where the directory begins.
#pragma once

#include <cstddef>
#include <cstdint>

// Most members one packing run writes, and the longest member name.
inline constexpr int BUNDLE_MAX_MEMBERS = 50;
inline constexpr size_t BUNDLE_MAX_NAME = 255;
// Bytes of an entry before its name, and of the size field at the very end.
inline constexpr size_t BUNDLE_ENTRY_FIXED = 5;
inline constexpr size_t BUNDLE_SIZE_FIELD = 4;

// Largest directory a bundle may carry: the packer writes at most
// BUNDLE_MAX_MEMBERS entries of at most 260 bytes; anything larger is not a bundle.
inline constexpr uint32_t MAX_BUNDLE_DIRECTORY = 64 * 1024;
static_assert(BUNDLE_MAX_MEMBERS * (BUNDLE_ENTRY_FIXED + BUNDLE_MAX_NAME) <= MAX_BUNDLE_DIRECTORY);

// Bytes encode_bundle_directory writes for these names (entries and size field).
size_t bundle_directory_bytes(const char* const* names, int count);

// Writes the directory of count members (offsets[k] where member k begins,
// names[k] its name) and its size field into out. Returns the bytes written,
// 0 when count is outside 1..BUNDLE_MAX_MEMBERS, a name is empty or longer
// than BUNDLE_MAX_NAME, or out_size is too small.
[[nodiscard]] size_t encode_bundle_directory(const uint32_t* offsets, const char* const* names, int count,
                                             uint8_t* out, size_t out_size);
