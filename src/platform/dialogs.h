// The folder picker used when no extraction folder can be made automatically.
// Windows: the old-style file-open dialog with a hook that takes the folder
// the user has moved into when OK is pressed. Linux: a question on the
// terminal when there is one; no terminal means no choice.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Asks the user for a folder, title given in Windows-1251. On OK the chosen
// folder's full path is copied into folder_out (size bytes, terminated) and
// the result is true. Closing the dialog, cancelling, a path that does not
// fit, or no way to ask gives false and leaves folder_out unchanged. When the
// dialog itself fails, the box "GetOpenFileName returned Error #<code>" is
// shown first.
bool ask_for_folder(const char* title_cp1251, char* folder_out, size_t size);

// Said before the folder question when no place had room for needed bytes.
// Linux: how much is needed and that TMPDIR chooses the place (standard
// error and the message log). Windows: nothing (the dialog follows as ever).
void tell_no_room(uint64_t needed);

}  // namespace platform
