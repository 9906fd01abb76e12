// The one entry into the archive reader: extract every entry of an archive
// (following it across volumes) into a destination folder.
#pragma once

#include <cstdint>

#include "archive/status.h"

// Returns 0, 1 or 3; fatal errors end the process through abort_extraction.
int extract_archive(const char* archive_path, const char* destination);

// Parses the internal argument vector: command word, archive name, then the
// destination folder or a name mask.
void parse_extract_arguments(int argc, const char* const* argv);
// Extracts from every archive the argument parser collected.
void run_extraction();
// Runs the 2.0 method (method_20 nonzero) or the 1.5 method on the current entry.
void decompress_entry(uint8_t* window, int solid, int method_20);
