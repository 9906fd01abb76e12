// Volume chains: naming the next volume, finding it (also in sibling folders,
// one folder per disk), asking for the next disk on removable drives, and
// positioning the new volume at the continued entry's data.
#pragma once

#include "platform/platform.h"

// The boxes of the volume switch (Windows-1251).
inline constexpr char TEXT_NEXT_VOLUME_MISSING[] =
    "\xCD\xE5 \xEC\xEE\xE3\xF3 \xED\xE0\xE9\xF2\xE8 \xF1\xEB\xE5\xE4\xF3\xFE\xF9\xE8\xE9 \xF4\xE0\xE9\xEB "
    "\xE0\xF0\xF5\xE8\xE2\xE0 !";                                        // cannot find the next archive file
inline constexpr char TEXT_BAD_ARCHIVE[] = "\xCF\xEB\xEE\xF5\xEE\xE9 \xE0\xF0\xF5\xE8\xE2 !";  // bad archive
inline constexpr char TEXT_INSERT_NEXT_DISK[] =
    "\xC2\xF1\xF2\xE0\xE2\xFC\xF2\xE5 \xF1\xEB\xE5\xE4\xF3\xFE\xF9\xE8\xE9 \xE4\xE8\xF1\xEA";  // insert the next disk

// 1 when the next volume is open and positioned at the continued entry's data,
// 0 when it could not be found, is not an archive or holds no file header.
int switch_to_next_volume();
// Rewrites volume_name into the next volume's name (x.rar -> x.r00 -> x.r01 ...
// x.r99 -> x.s00). False when the longer name would not fit.
bool advance_volume_name();
// Opens path (read), looking in the sibling folders of its folder when it is
// not where it was asked; the current folder is the same afterwards.
platform::File* open_volume_file(const char* path);
// Whether the drive of the archive is removable.
bool is_removable_drive(int drive_number);
// Asks for the next disk; returns only when the user confirmed (Cancel ends
// the run with exit code 255).
void ask_for_next_disk();
// Moves the stream from the fixed part of the main header to the first block.
void skip_rest_of_main_header();
