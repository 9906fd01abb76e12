// The user's Cancel during the installation: nothing of the extraction stays.
#include "archive/progress.h"
#include "bundle/extraction_folder.h"
#include "platform/platform.h"
#include "shell/entry.h"
#include "shell/shell_state.h"

void cancel_installation() {
    if (progress_file) {
        platform::file_close(progress_file);
        progress_file = nullptr;
    }
    remove_extraction_folder(shell_state.extraction_folder);
    platform::exit_process(0);
}
