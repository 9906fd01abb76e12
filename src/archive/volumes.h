// Volume chains: naming the next volume, finding it (also in sibling folders,
// one folder per disk), asking for the next disk on removable drives, and
// positioning the new volume at the continued entry's data.
#pragma once

#include "platform/platform.h"

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
