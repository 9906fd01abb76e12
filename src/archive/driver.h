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

// Parses the internal argument vector: command word, archive name, then the
// destination folder or a name mask.
void parse_extract_arguments(int argc, const char* const* argv);
// Extracts from every archive the argument parser collected.
void run_extraction();
// Closes the streams (deleting the partly written output file) and/or frees
// the buffers and name lists of the extraction.
void release_extraction_state(bool close_files, bool free_buffers);
// Handler of the interrupt, terminate and break signals: ends with exit code 255.
[[noreturn]] void on_break_signal(int signal_number);
// Runs the 2.0 method (method_20 nonzero) or the 1.5 method on the current entry.
void decompress_entry(uint8_t* window, int solid, int method_20);
