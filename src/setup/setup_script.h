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

// Reads the script in the current folder and launches the program it names
// from paths.extraction_folder; true when the launch succeeded.
bool run_setup_script(const char* script_name, const SetupPaths& paths);
// The failure path after run_setup_script returned false: the error box, then
// the removal of the extraction folder.
void setup_failure_cleanup(const char* extraction_folder);
