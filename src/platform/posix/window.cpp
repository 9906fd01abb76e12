// Placeholder progress window: accepts every call and shows nothing.
#include "platform/window.h"

namespace platform {

bool progress_window_open(void (*)()) { return true; }
void progress_window_set_caption(const char*) {}
void progress_window_notify(long, const char*) {}
void* progress_window_handle() { return nullptr; }
int progress_window_close_and_pump() { return 0; }

}  // namespace platform
