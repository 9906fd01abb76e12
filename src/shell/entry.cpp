// The start sequence: the progress window first, whatever the mode, then the
// command line, the mode, in install mode the setup launch, and the end
// through the window's message loop.
#include "shell/entry.h"

#include "platform/platform.h"
#include "platform/window.h"
#include "setup/setup_script.h"
#include "shell/command_line.h"
#include "shell/exit_codes.h"
#include "shell/messages.h"
#include "shell/modes.h"
#include "shell/progress.h"
#include "shell/shell_state.h"

namespace {

// Progress messages go to the window together with the name they announce.
void forward_progress(long lparam) { platform::progress_window_notify(lparam, progress_file_name); }

}  // namespace

int installer_main(char* tail) {
    if (!platform::progress_window_open(cancel_installation)) return EXIT_NO_WINDOW;
    set_progress_sink(forward_progress);

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
        platform::set_current_directory(shell_state.extraction_folder);
        if (!run_setup_script("setup.spt")) {
            setup_failure_cleanup();
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
