// The end of an extraction by abort or break signal: what is open is closed,
// the partly written output file deleted, every buffer freed.
#include "archive/status.h"

#include <cstdlib>

#include "archive/archive_state.h"
#include "archive/progress.h"
#include "platform/platform.h"

namespace {
AbortObserver abort_observer = nullptr;
}

void set_abort_observer(AbortObserver observer) { abort_observer = observer; }

void release_window() {
    std::free(archive_state.window);
    archive_state.window = nullptr;
}

void release_extraction_state(bool close_files, bool free_buffers) {
    ArchiveState& a = archive_state;
    if (close_files) {
        platform::File* archive = a.archive_file;
        platform::File* entry = a.entry_file;
        a.archive_file = nullptr;
        a.entry_file = nullptr;
        a.packed_source = nullptr;
        a.output_file = nullptr;
        if (progress_file == entry) progress_file = nullptr;
        platform::file_close(archive);
        platform::file_close(entry);
        release_name_masks();
        // Best effort: the process ends right after.
        if (a.entry_file_name[0] != '\0') (void)platform::delete_file_below(a.destination, a.entry_file_name);
        a.entry_file_name[0] = '\0';
    }
    if (free_buffers) {
        release_window();
        std::free(a.search_buffer);
        a.search_buffer = nullptr;
        release_name_masks();
        release_archive_list();
    }
}

void abort_extraction(int code) {
    if (abort_observer) abort_observer(code);
    release_extraction_state(true, true);
    platform::exit_process(code);
}

void on_break_signal(int) {
    if (abort_observer) abort_observer(USER_BREAK);
    release_extraction_state(true, true);
    platform::exit_process(USER_BREAK);
}
