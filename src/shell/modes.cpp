// Help, pack and unpack modes.
#include "shell/modes.h"

#include "bundle/bundle.h"
#include "bundle/extraction_folder.h"
#include "platform/platform.h"
#include "shell/command_line.h"
#include "shell/messages.h"
#include "shell/shell_state.h"

bool run_help_mode() {
    platform::message_box(HELP_TEXT, CAPTION_HELP, platform::MB_OK);
    return true;
}

bool run_pack_mode() {
    const ShellState& s = shell_state;
    if (!s.archive_path) return false;  // the first word was a key
    if (s.file_last < 0) return true;
    // Only the name part counts: the bundle is made in the current folder.
    char name[SHELL_PATH_CHARS + 1];
    if (split_path(sizeof name, s.archive_path, name, PATH_NAME_PART) > sizeof name) return false;
    return build_bundle(name, s.file_last, s.file_list);
}

bool run_unpack_mode() {
    ShellState& s = shell_state;
    if (!s.archive_path) return false;
    char folder[SHELL_PATH_CHARS + 1];
    size_t needed = split_path(sizeof folder, s.archive_path, folder, PATH_FOLDER_PART);
    if (needed > sizeof folder) return false;
    if (needed == 0 && platform::get_current_directory(folder, sizeof folder) == 0) return false;
    char name[SHELL_PATH_CHARS + 1];
    if (split_path(sizeof name, s.archive_path, name, PATH_NAME_PART) > sizeof name) return false;
    if (!choose_extraction_folder(s.archive_path, SHELL_PATH_CHARS, s.extraction_folder)) return false;
    if (unpack_bundle(folder, name, s.extraction_folder)) return true;
    remove_extraction_folder_if_empty(s.extraction_folder);
    return false;
}
