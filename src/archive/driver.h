// The one entry into the archive reader: extract every entry of an archive
// (following it across volumes) into a destination folder.
#pragma once

#include <cstdint>

#include "archive/status.h"

// Returns 0, 1 or 3; fatal errors end the process through abort_extraction.
int extract_archive(const char* archive_path, const char* destination);

// What a run does with the entries: extract them, test them (decode and check
// each checksum, nothing is made or written), or list them (headers only, no
// data is read).
enum class RunMode { extract, test, list };

// Why an entry, or the archive itself, was not handled in full.
enum class RunProblem {
    none,                // a listed entry
    damaged,             // the data does not match its checksum
    volume_missing,      // the next volume could not be opened
    unsupported,         // packed with a method this reader does not have
    unsafe_name,         // too long, or would lead outside the destination
    cannot_create,       // the output file could not be created
    cannot_make_folder,  // the folder could not be made
    not_found,           // no file answers the archive name
    cannot_open,         // the archive file could not be opened
    not_an_archive,      // no archive in the file
    no_entries,          // nothing was listed, tested or extracted
};

// One entry as the headers give it; for an entry that spans volumes the
// packed size is the sum of its parts, the rest comes from its last part.
struct EntryRecord {
    const char* name;  // stored name, below the archive's root
    uint32_t unpacked_size;
    uint64_t packed_size;
    uint32_t checksum;  // CRC-32, or the old format's 16-bit sum
    uint32_t dos_time;
    uint8_t method;  // '0' stored ... '5'
    uint8_t version_needed;
    uint8_t host_os;
    bool folder;
    bool old_format;
};

// Receives every listed entry (list mode, problem none) and every problem:
// entry is null for the archive-level ones, archive names the file concerned.
using RunObserver = void (*)(const EntryRecord* entry, RunProblem problem, const char* archive, void* context);

// Runs mode over the archive (following its volumes) and returns 0, 1 or 3;
// destination is used in extract mode only. Aborts as extract_archive does.
int run_archive(const char* archive_path, const char* destination, RunMode mode, RunObserver observer,
                void* context);

// Parses the internal argument vector: command word, archive name, then the
// destination folder or a name mask.
void parse_extract_arguments(int argc, const char* const* argv);
// Extracts from every archive the argument parser collected.
void run_extraction();
// Runs the 2.0 method (method_20 nonzero) or the 1.5 method on the current entry.
void decompress_entry(uint8_t* window, int solid, int method_20);
