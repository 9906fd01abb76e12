// The operations behind the modes of the command line. Each returns true on
// success; the entry turns false into the "Error 2" box.
#pragma once

// Runs the operation of shell_state.run_mode.
bool run_selected_mode();

// The help box; always succeeds.
bool run_help_mode();
// Builds the bundle named by the name part of archive_path in the current
// folder from the file list; an empty list succeeds without touching anything.
bool run_pack_mode();
// Writes the members of archive_path into a fresh extraction folder.
bool run_unpack_mode();
// Chooses the extraction folder and extracts the archive carried by the
// program into it; on failure shows the integrity error box first.
bool run_install_mode();
