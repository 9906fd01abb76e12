// The folder picker on Windows: an old-style file-open dialog (wide, so the
// title reads right) whose hook, on OK, takes the folder the user has moved
// into (the old-style dialog makes each folder it shows the current directory).
#include "platform/dialogs.h"
#include "platform/platform.h"
#include "platform/system_extra.h"
#include "platform/text.h"

#include <windows.h>
#include <commdlg.h>

#include <cstring>

namespace platform {

namespace {

// Where the hook puts the folder, and whether it did.
char* chosen_folder = nullptr;
size_t chosen_size = 0;
bool chosen = false;

UINT_PTR CALLBACK folder_dialog_hook(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && LOWORD(wparam) == 1 /* IDOK */) {
        char folder[MAX_PATH + 1];
        DWORD n = GetCurrentDirectoryA(sizeof folder, folder);
        if (n > 0 && n < sizeof folder && n + 1 <= chosen_size) {
            std::memcpy(chosen_folder, folder, n + 1);
            chosen = true;
        }
        EndDialog(dialog, 1);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

bool ask_for_folder(const char* title_cp1251, char* folder_out, size_t size) {
    if (unattended()) return false;  // nobody to ask
    // The wide dialog shows the Russian title whatever the system's code page.
    // It gets a name buffer although the hook never reads it: some versions
    // of the common dialogs refuse to start without one.
    wchar_t title[256];
    cp1251_to_utf16(title_cp1251, reinterpret_cast<char16_t*>(title), 256);
    wchar_t name[MAX_PATH + 1] = L"";
    OPENFILENAMEW dialog;
    std::memset(&dialog, 0, sizeof dialog);
    dialog.lStructSize = sizeof dialog;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = name;
    dialog.nMaxFile = MAX_PATH + 1;
    dialog.lpstrTitle = title;
    dialog.lpstrDefExt = L"*";
    dialog.Flags = OFN_HIDEREADONLY | OFN_ENABLEHOOK | OFN_CREATEPROMPT | OFN_NONETWORKBUTTON;
    dialog.lpfnHook = folder_dialog_hook;

    chosen_folder = folder_out;
    chosen_size = size;
    chosen = false;
    if (!GetOpenFileNameW(&dialog)) {
        DWORD code = CommDlgExtendedError();
        if (code != 0) {
            // Written out by hand: the program has no other use for printf.
            static const char prefix[] = "GetOpenFileName returned Error #";
            char text[sizeof prefix + 10];
            std::memcpy(text, prefix, sizeof prefix - 1);
            char digits[10];
            int n = 0;
            do {
                digits[n++] = static_cast<char>('0' + code % 10);
                code /= 10;
            } while (code != 0);
            char* end = text + sizeof prefix - 1;
            while (n > 0) *end++ = digits[--n];
            *end = '\0';
            message_box(text, "WARNING", MB_ICONERROR);
        }
    }
    chosen_folder = nullptr;
    return chosen;
}

void tell_no_room(uint64_t /*needed*/) {}

}  // namespace platform
