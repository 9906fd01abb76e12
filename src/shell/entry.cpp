// The start sequence: the progress window first, whatever the mode, then the
// command line, the mode, in install mode the setup launch, and the end
// through the window's message loop.
#include "shell/entry.h"

#include <cstring>

#include "archive/progress.h"
#include "platform/platform.h"
#include "platform/window.h"
#include "setup/setup_script.h"
#include "shell/command_line.h"
#include "shell/exit_codes.h"
#include "shell/messages.h"
#include "shell/modes.h"
#include "shell/shell_state.h"

namespace {

// Progress messages go to the window together with the name they announce.
void forward_progress(long lparam) {
    platform::progress_window_set_overall(progress_done_bytes(), progress_total_bytes());
    platform::progress_window_notify(lparam, progress_file_name);
}

// Runs setup.spt from the extraction folder, telling the setup program the
// installer's path (as the command line found it, else the system's answer)
// and folder (empty for a bare name).
bool launch_setup() {
    char own_path[SHELL_PATH_CHARS + 1] = {};
    if (shell_state.own_path[0] != '\0') {
        std::memcpy(own_path, shell_state.own_path, sizeof own_path);
        own_path[SHELL_PATH_CHARS] = '\0';
    } else if (platform::own_program_path(own_path, sizeof own_path) == 0) {
        own_path[0] = '\0';
    }
    char own_folder[SHELL_PATH_CHARS + 1] = {};
    if (split_path(sizeof own_folder, own_path, own_folder, PATH_FOLDER_PART) == 0) own_folder[0] = '\0';
    return run_setup_script("setup.spt", SetupPaths{own_path, own_folder, shell_state.extraction_folder});
}

}  // namespace

int installer_main(char* tail) {
    if (!platform::progress_window_open(cancel_installation)) return EXIT_NO_WINDOW;
    set_progress_sink(forward_progress);
    measure_total_bytes(platform::progress_window_shows_overall());

    const int mode = parse_command_line(tail);
    if (mode == RUN_NONE) {
        platform::message_box(TEXT_BAD_COMMAND_LINE, CAPTION_ERROR, platform::MB_ICONERROR);
        return EXIT_BAD_COMMAND_LINE;
    }
    platform::progress_window_set_caption(mode == RUN_PACK ? CAPTION_PACKING : CAPTION_UNPACKING);
    if (!run_selected_mode()) {
        platform::message_box(TEXT_MODE_FAILED, CAPTION_ERROR, platform::MB_ICONERROR);
        return mode == RUN_INSTALL ? EXIT_INSTALL_FAILED : EXIT_MODE_FAILED;
    }
    int code = EXIT_DONE;
    if (mode == RUN_INSTALL) {
        // setup.spt is read from the extraction folder, so it must be current.
        if (!platform::set_current_directory(shell_state.extraction_folder) || !launch_setup()) {
            setup_failure_cleanup(shell_state.extraction_folder);
            code = EXIT_SETUP_FAILED;
        } else if (int setup_code = 0; platform::launched_program_exit_code(&setup_code)) {
            // The launch waited for the setup program (Linux, KELVARIX_WAIT):
            // its result is the installation's.
            code = setup_code;
        }
    }
    // The window's quit message carries 0; a failure shown above wins.
    const int pumped = platform::progress_window_close_and_pump();
    return code != EXIT_DONE ? code : pumped;
}
