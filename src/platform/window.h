// The progress window of the installer, behind the platform seam.
// Windows: the real "Progress" window class with its painting and Cancel button.
// Linux: a progress line on the terminal (nothing when standard error is no terminal).
#pragma once

#include <cstdint>

namespace platform {

// The window's private progress message (WM_USER + 1); its lparam is what
// progress_window_notify passes on.
inline constexpr unsigned WM_PROGRESS = 0x0400 + 1;

// Registers the class, creates and shows the window. on_cancel runs when the
// user confirms Cancel (it is expected not to return). False when the window
// cannot be registered or created.
bool progress_window_open(void (*on_cancel)());
// Sets the window caption (Windows-1251 text).
void progress_window_set_caption(const char* text_cp1251);
// Delivers one progress message synchronously: lparam 0 starts a new file
// (name_cp1251 is its name), 1..100 is the current file's percentage.
void progress_window_notify(long lparam, const char* name);
// Tells the window the bytes of the whole archive done and in all, ahead of
// the next progress message. Only the Linux line shows them.
void progress_window_set_overall(uint64_t done, uint64_t total);
// True when the window shows the overall progress (it is worth measuring).
bool progress_window_shows_overall();
// The native window handle (owner for launched programs), or null.
void* progress_window_handle();
// Destroys the window's drawing state, runs the message loop until the quit
// message and returns its value.
int progress_window_close_and_pump();

}  // namespace platform
