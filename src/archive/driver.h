// The one entry into the archive reader: extract every entry of an archive
// (following it across volumes) into a destination folder.
#pragma once

#include <cstdint>

inline constexpr int SUCCESS = 0;
inline constexpr int WARNING = 1;
inline constexpr int FATAL_ERROR = 2;
inline constexpr int CRC_ERROR = 3;
inline constexpr int WRITE_ERROR = 5;
inline constexpr int MEMORY_ERROR = 8;
inline constexpr int USER_BREAK = 255;

// Returns 0, 1 or 3; fatal errors end the process through abort_extraction.
int extract_archive(const char* archive_path, const char* destination);
// Releases everything, deletes the partial output file, ends the process with code.
[[noreturn]] void abort_extraction(int code);
