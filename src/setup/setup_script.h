// Reading setup.spt and launching the product's setup program.
#pragma once

#include <cstddef>

// Position of the value of key in section header, or 0 when there is no usable entry.
size_t find_setup_value(const char* text, size_t length, const char* header, const char* key);
// Reads the script in the current folder and launches the program it names;
// true when the launch succeeded.
bool run_setup_script(const char* script_name);
// The failure path after run_setup_script returned false: the error box, then
// the removal of the extraction folder.
void setup_failure_cleanup();
