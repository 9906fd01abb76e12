// Writing a bundle's directory.
#include "format/bundle_directory.h"

#include <cstring>

#include "format/little_endian.h"

size_t bundle_directory_bytes(const char* const* names, int count) {
    size_t total = BUNDLE_SIZE_FIELD;
    for (int k = 0; k < count; ++k) total += BUNDLE_ENTRY_FIXED + std::strlen(names[k]);
    return total;
}

size_t encode_bundle_directory(const uint32_t* offsets, const char* const* names, int count, uint8_t* out,
                               size_t out_size) {
    if (count < 1 || count > BUNDLE_MAX_MEMBERS) return 0;
    for (int k = 0; k < count; ++k) {
        const size_t length = std::strlen(names[k]);
        if (length == 0 || length > BUNDLE_MAX_NAME) return 0;
    }
    if (bundle_directory_bytes(names, count) > out_size) return 0;
    size_t d = 0;
    for (int k = 0; k < count; ++k) {
        const size_t length = std::strlen(names[k]);
        store_le32(out + d, offsets[k]);
        out[d + 4] = static_cast<uint8_t>(length);
        std::memcpy(out + d + BUNDLE_ENTRY_FIXED, names[k], length);
        d += BUNDLE_ENTRY_FIXED + length;
    }
    store_le32(out + d, static_cast<uint32_t>(d));
    return d + BUNDLE_SIZE_FIELD;
}
