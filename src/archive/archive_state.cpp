// The process-wide archive record and its reset.
#include "archive/archive_state.h"

#include <cstring>

ArchiveState archive_state;

void reset_archive_state() {
    std::memset(&archive_state, 0, sizeof archive_state);
    archive_state.drive_index = -1;
}
