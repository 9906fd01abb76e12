// The extraction folder: a fresh "PTemp_" folder (letters a to z) in the
// system's temporary folder when its drive is fixed and has room for the
// bundle's members, otherwise in a further place that has room (Windows: the
// root of another fixed drive; Linux: /var/tmp or the home folder),
// otherwise inside a folder the user names. Also the removal of such a tree.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

// The system queries the choice is made from; tests give their own.
struct FolderProbe {
    size_t (*temp_path)(char* buffer, size_t size);
    int (*drive_roots)(char (*roots)[260], int max);
    bool (*root_of)(const char* path, char* root, size_t size);
    platform::DriveType (*type)(const char* root);
    bool (*free_bytes)(const char* root, uint64_t* bytes);
    // Asks the user for a folder; false when none was confirmed.
    bool (*ask)(char* folder, size_t size);
    // Told before the question when no place had room for needed bytes;
    // may be null.
    void (*no_room)(uint64_t needed);
};

// The probe made of the real platform calls and the folder dialog. Its
// further places are platform::extraction_fallbacks (Windows: the drive
// roots; Linux: /var/tmp, then the home folder).
const FolderProbe& system_folder_probe();

// Longest extraction folder path handed out (the callers' buffers hold one more).
inline constexpr size_t EXTRACTION_PATH_CHARS = 255;

// Chooses and creates the folder for the members of the bundle at bundle_path
// and copies its full path into folder (at most max_length characters, never
// more than EXTRACTION_PATH_CHARS). False when there is no bundle path, the
// bundle cannot be sized, or no folder could be made and the user confirmed none
// or none could be made in the one confirmed. The folder is private to its
// owner (0700 on Linux).
bool choose_extraction_folder(const char* bundle_path, size_t max_length, char* folder);
bool choose_extraction_folder_with(const FolderProbe& probe, const char* bundle_path, size_t max_length,
                                   char* folder);

// Title of the folder question (Windows-1251): "Укажите временный дирректорий" (sic).
inline constexpr char TITLE_ASK_FOLDER[] =
    "\xD3\xEA\xE0\xE6\xE8\xF2\xE5 \xE2\xF0\xE5\xEC\xE5\xED\xED\xFB\xE9 \xE4\xE8\xF0\xF0\xE5\xEA\xF2\xEE\xF0\xE8\xE9";

// After a run that failed: removes the folder this run made (folder, as
// chosen above) when nothing is in it, and then empties folder. A folder
// that holds anything stays as it is, and so does every folder above it.
void remove_extraction_folder_if_empty(char* folder);

// Shows the folder question; on OK the folder is in folder (size bytes).
bool ask_for_extraction_folder(char* folder, size_t size);

// Deletes everything inside folder, bottom-up; the folder itself stays (the
// caller removes it). Read-only files are made writable first; links and
// junctions are removed without being entered. Entries whose path would not
// fit 259 characters are left alone. False when the folder cannot be listed;
// an empty path deletes nothing and gives true.
bool remove_folder_tree(const char* folder);

// Steps out of folder (a current folder cannot be removed on Windows) and
// removes it with everything inside; an empty path removes nothing.
void remove_extraction_folder(const char* folder);
