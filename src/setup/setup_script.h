// Reading setup.spt and launching the product's setup program.
#pragma once

#include <cstddef>

// Position of the value of key in section header, or 0 when there is no usable entry.
size_t find_setup_value(const char* text, size_t length, const char* header, const char* key);
// What the setup program is told after the script's own parameters: the
// installer's path and folder, and the extraction folder it runs in.
struct SetupPaths {
    const char* own_path;
    const char* own_folder;
    const char* extraction_folder;
};

// Reads the script in the current folder and launches the program it names;
// true when the launch succeeded. The script is read from the front only as
// far as the entry's line, never whole into memory; a value line longer than
// a command line can carry (32767 characters) is no usable entry. A program
// found in paths.extraction_folder is started by its full path there.
bool run_setup_script(const char* script_name, const SetupPaths& paths);
// The failure path after run_setup_script returned false: the error box, then
// the removal of the extraction folder.
void setup_failure_cleanup(const char* extraction_folder);
