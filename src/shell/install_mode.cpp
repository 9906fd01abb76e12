// Install mode and the mode dispatch: the archive is read straight out of the
// running program into a fresh extraction folder.
#include "archive/driver.h"
#include "bundle/extraction_folder.h"
#include "platform/platform.h"
#include "shell/messages.h"
#include "shell/modes.h"
#include "shell/shell_state.h"

bool run_install_mode() {
    ShellState& s = shell_state;
    bool ok = s.archive_path && choose_extraction_folder(s.archive_path, SHELL_PATH_CHARS, s.extraction_folder) &&
              extract_archive(s.archive_path, s.extraction_folder) == SUCCESS;
    if (!ok) {
        platform::message_box(TEXT_INTEGRITY_ERROR, CAPTION_ERROR_RU, platform::MB_OK);
        // Nothing extracted (or every damaged file deleted again): the
        // folder made for this run goes too.
        remove_extraction_folder_if_empty(s.extraction_folder);
    }
    return ok;
}

bool run_selected_mode() {
    switch (shell_state.run_mode) {
    case RUN_HELP: return run_help_mode();
    case RUN_PACK: return run_pack_mode();
    case RUN_UNPACK: return run_unpack_mode();
    case RUN_INSTALL: return run_install_mode();
    default: return false;
    }
}
