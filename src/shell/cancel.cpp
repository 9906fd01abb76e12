// The user's Cancel during the installation: nothing of the extraction stays.
#include "bundle/extraction_folder.h"
#include "platform/platform.h"
#include "shell/entry.h"
#include "shell/progress.h"
#include "shell/shell_state.h"

void cancel_installation() {
    if (progress_file) {
        platform::file_close(progress_file);
        progress_file = nullptr;
    }
    // Step out of the folder first: a current folder cannot be removed on Windows.
    platform::set_current_directory(platform::system_root());
    const char* folder = shell_state.extraction_folder;
    if (folder[0]) {
        remove_folder_tree(folder);
        platform::remove_directory(folder);
    }
    platform::exit_process(0);
}
