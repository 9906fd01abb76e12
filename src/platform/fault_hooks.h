// Test-only fault injection at the platform seam. The file and process calls
// consult these optional callbacks at their entry, so tests and fuzzers can
// make a chosen call fail the way the system would (a write that fails, a
// close that fails, a file that cannot be opened, a folder that cannot be
// made) or see the process end. The program never sets them; with every
// callback null each call behaves exactly as without this layer.
#pragma once

#include <cstddef>

#include "platform/platform.h"

namespace platform {

struct FaultHooks {
    // Each returns true to make that call fail.
    bool (*open)(const char* path, FileOpen how) = nullptr;
    bool (*write)(size_t count) = nullptr;
    bool (*close)() = nullptr;
    bool (*make_directory)(const char* path) = nullptr;
    // Runs in exit_process before the process ends; a fuzzer may leave it
    // with longjmp to carry on with the next input.
    void (*exit)(int code) = nullptr;
};

extern FaultHooks fault_hooks;

// Clears every callback.
void reset_fault_hooks();

inline bool fault_on_open(const char* path, FileOpen how) { return fault_hooks.open && fault_hooks.open(path, how); }
inline bool fault_on_write(size_t count) { return fault_hooks.write && fault_hooks.write(count); }
inline bool fault_on_close() { return fault_hooks.close && fault_hooks.close(); }
inline bool fault_on_make_directory(const char* path) {
    return fault_hooks.make_directory && fault_hooks.make_directory(path);
}
inline void fault_on_exit(int code) {
    if (fault_hooks.exit) fault_hooks.exit(code);
}

}  // namespace platform
