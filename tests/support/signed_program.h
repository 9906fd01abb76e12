// A minimal Windows program header and the signing step as Authenticode
// tools do it, for the bundle tests: zero bytes up to a multiple of 8, then
// a certificate table, with the PE header's certificate entry pointing at it.
#pragma once

#include <cstdint>
#include <string>

#include "support/scratch.h"

namespace signed_program {

inline constexpr uint32_t PE_OFFSET = 0x40;

// Where the optional header's data directories begin (PE32 or PE32+).
inline uint32_t directories_at(bool wide) { return PE_OFFSET + 24 + (wide ? 112 : 96); }
// Where the certificate entry (data directory 4) lies.
inline uint32_t certificate_entry_at(bool wide) { return directories_at(wide) + 4 * 8; }

// DOS header, "PE\0\0", file header and an optional header with 16 empty
// data directories: the start of a program image.
inline std::string program_head(bool wide) {
    std::string h(directories_at(wide) + 16 * 8, '\0');
    h[0] = 'M', h[1] = 'Z';
    h.replace(0x3C, 4, scratch::le32(PE_OFFSET));
    h.replace(PE_OFFSET, 4, std::string("PE\0\0", 4));
    const uint32_t optional_size = directories_at(wide) + 16 * 8 - (PE_OFFSET + 24);
    h[PE_OFFSET + 20] = static_cast<char>(optional_size), h[PE_OFFSET + 21] = static_cast<char>(optional_size >> 8);
    h[PE_OFFSET + 24] = 0x0B, h[PE_OFFSET + 25] = wide ? 0x02 : 0x01;
    h.replace(directories_at(wide) - 4, 4, scratch::le32(16));
    return h;
}

// file (beginning with program_head) signed: aligned, a certificate table
// whose last bytes can never pass for a bundle directory size, entry set.
inline std::string sign(std::string file) {
    const bool wide = file[PE_OFFSET + 25] == 0x02;
    file.append((8 - file.size() % 8) % 8, '\0');
    const std::string table = scratch::le32(24) + std::string("\x00\x02\x02\x00", 4) + scratch::pattern(12, 9) +
                              std::string(4, '\xFF');
    const uint32_t start = static_cast<uint32_t>(file.size());
    file.replace(certificate_entry_at(wide), 8, scratch::le32(start) + scratch::le32(24));
    return file + table;
}

}  // namespace signed_program
