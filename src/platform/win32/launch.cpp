// Launching the product's setup program: ShellExecuteA with the verb "open".
#include "platform/platform.h"

#include <windows.h>
#include <shellapi.h>

namespace platform {

intptr_t shell_execute_open(void* owner_window, const char* file, const char* parameters) {
    const HINSTANCE result = ShellExecuteA(static_cast<HWND>(owner_window), "open", file, parameters, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<intptr_t>(result);
}

}  // namespace platform
