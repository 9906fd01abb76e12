// The process-wide records of the reader, their reset and release.
#include "archive/archive_state.h"

#include <cstdlib>
#include <cstring>

ArchiveState archive_state;
NameMaskList name_masks;
ArchiveList archive_list;

void reset_archive_state() {
    std::memset(&archive_state, 0, sizeof archive_state);
    archive_state.drive_index = -1;
}

void release_name_masks() {
    std::free(name_masks.masks);
    name_masks = NameMaskList{};
}

void release_archive_list() {
    std::free(archive_list.paths);
    archive_list = ArchiveList{};
}
