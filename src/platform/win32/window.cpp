// The installer's progress window on Windows: the "Progress" window class,
// its object (Window / MainWindow), painting with GDI, the disk animation and
// the Cancel button that is looked at while the extraction runs.
// The seam's headers come before <windows.h>: its message-box macros would
// otherwise rewrite the seam's constants of the same names.
#include "platform/platform.h"
#include "platform/progress_window.h"
#include "platform/text.h"
#include "platform/window.h"

#include <windows.h>

#include <cstring>

// The window procedure of the class "Progress", exported under the plain name
// WndProc. A 32-bit stdcall symbol is decorated (WndProc@16), and dllexport
// would export that decorated name, so the export is asked of the linker
// directly, mapping the plain name onto the decorated symbol.
extern "C" LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
#if defined(__i386__)
__asm__(".section .drectve\n\t.ascii \" -export:WndProc=WndProc@16\"\n\t.text");
#else
__asm__(".section .drectve\n\t.ascii \" -export:WndProc\"\n\t.text");
#endif

namespace {

// A window drawn by an object: the object pointer rides in the window's extra
// bytes and receives every message from WM_CREATE on.
class Window {
public:
    virtual LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) = 0;

    HWND handle = nullptr;

protected:
    ~Window() = default;
};

class MainWindow final : public Window {
public:
    LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) override;

    void ResetBar() { view.ResetBar(); }
    void SetPercent() { view.SetPercent(); }
    void LoadPictures();
    void ReleaseDrawing();
    void Paint();

    ProgressView view;
    const char* caption = "";
    void (*on_cancel)() = nullptr;
    const char* pending_name = nullptr;  // the name sent with the next new-file message

private:
    void ProgressCommon();
    void PaintProgress();
    void DrawBar(HDC dc, HBRUSH bar_brush);
    void DrawNameArea(HDC dc);
    void DrawPicture(HDC dc);
    void DrawCancel(HDC dc);

    HDC window_dc = nullptr;
    HDC memory_dc = nullptr;
    HBITMAP slot_a = nullptr;
    HBITMAP slot_b = nullptr;
    HBITMAP initial_picture = nullptr;
    BITMAP picture_info = {};
    // The name as last fitted to the text area; fitting measures once per
    // candidate position, so it is done once per file rather than per paint.
    char fitted[PROGRESS_NAME_CHARS] = {};
    bool fitted_valid = false;
    // What the window shows now, so a progress message redraws only what
    // changed (the picture always changes). -1: the bar was never drawn.
    int32_t shown_filled_width = -1;
    bool name_shown = false;
    HBRUSH progress_brush = nullptr;  // the bar colour, kept while the window draws
    static constexpr DWORD QUEUE_LOOK_MS = 10;
    bool queue_looked = false;
    DWORD last_queue_look = 0;
};

MainWindow main_window;

RECT to_rect(const ProgressRect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }

int32_t measure_in_dc(void* context, const char* text, size_t length) {
    SIZE size = {};
    GetTextExtentPoint32A(static_cast<HDC>(context), text, static_cast<int>(length), &size);
    return size.cx;
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_CREATE:
            return 0;
        case WM_DESTROY:
            ReleaseDrawing();
            PostQuitMessage(0);
            return 0;
        case WM_PAINT:
            Paint();
            return 0;
        case platform::WM_PROGRESS:
            if (lparam == 0) {
                view.SetName(pending_name);
                fitted_valid = false;
                name_shown = false;
                ResetBar();
            } else {
                view.percent = lparam > 100 ? 100 : static_cast<int32_t>(lparam);
                SetPercent();
            }
            ProgressCommon();
            return 0;
        default:
            return DefWindowProcA(handle, message, wparam, lparam);
    }
}

// Repaint at once, then look at one pending click: only a click on Cancel,
// confirmed in the question box, ends the run (through on_cancel).
// Looking at the queue is a round trip to the window system that costs far
// more than the repaint (under wine most of the progress cost), so it is done
// when QUEUE_LOOK_MS have passed since the last look; a click waits in the
// queue meanwhile, so none is missed and Cancel still answers at once to the
// eye.
void MainWindow::ProgressCommon() {
    PaintProgress();
    const DWORD now = GetTickCount();
    if (queue_looked && now - last_queue_look < QUEUE_LOOK_MS) return;
    queue_looked = true;
    last_queue_look = now;
    MSG click;
    if (!PeekMessageA(&click, handle, WM_LBUTTONDOWN, WM_LBUTTONDOWN, PM_REMOVE)) return;
    const int32_t x = static_cast<int16_t>(LOWORD(click.lParam));
    const int32_t y = static_cast<int16_t>(HIWORD(click.lParam));
    if (!view.cancel.contains(x, y)) return;
    if (platform::message_box(PROGRESS_CANCEL_QUESTION, PROGRESS_CANCEL_CAPTION, MB_OKCANCEL) != IDOK) return;
    if (on_cancel != nullptr) on_cancel();
    platform::exit_process(0);
}

void MainWindow::LoadPictures() {
    const HINSTANCE module = GetModuleHandleA(nullptr);
    slot_a = LoadBitmapA(module, "disk1");
    slot_b = LoadBitmapA(module, "disk2");
    if (slot_a != nullptr) GetObjectA(slot_a, sizeof picture_info, &picture_info);
    window_dc = GetDC(handle);
    if (window_dc != nullptr) {
        SelectObject(window_dc, GetStockObject(ANSI_VAR_FONT));
        SetTextColor(window_dc, RGB(0, 0, 0));
        SetBkMode(window_dc, TRANSPARENT);
    }
    progress_brush = CreateSolidBrush(RGB(0, 0, 255));
    memory_dc = CreateCompatibleDC(window_dc);
    if (memory_dc != nullptr && slot_a != nullptr) {
        initial_picture = static_cast<HBITMAP>(SelectObject(memory_dc, slot_a));
    }
}

void MainWindow::ReleaseDrawing() {
    // Released once: WM_DESTROY may arrive again when the user closes the
    // window after the program sent its own.
    if (memory_dc != nullptr) DeleteDC(memory_dc);
    memory_dc = nullptr;
    if (window_dc != nullptr) ReleaseDC(handle, window_dc);
    window_dc = nullptr;
    if (progress_brush != nullptr) DeleteObject(progress_brush);
    progress_brush = nullptr;
}

// The bar: background, the coloured part when percent is not 0 (empty below
// 6 pixels), the sunken edge drawn in XOR mode.
void MainWindow::DrawBar(HDC dc, HBRUSH bar_brush) {
    const int old_mix = SetROP2(dc, R2_XORPEN);
    RECT bar = to_rect(view.bar);
    FillRect(dc, &bar, static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH)));
    if (view.percent != 0) {
        const RECT filled = to_rect(view.FilledRect());
        FillRect(dc, &filled, bar_brush);
    }
    DrawEdge(dc, &bar, BDR_SUNKENOUTER, BF_TOPLEFT);
    DrawEdge(dc, &bar, BDR_SUNKENOUTER, BF_BOTTOMRIGHT);
    SetROP2(dc, old_mix);
    shown_filled_width = view.filled_width;
}

// The text area above the bar and the name fitted into it; dc has the
// window's font, black text and a transparent background.
void MainWindow::DrawNameArea(HDC dc) {
    RECT area = to_rect(view.TextArea());
    FillRect(dc, &area, static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH)));
    if (view.has_name) {
        if (!fitted_valid) {
            fit_progress_name(view.name, area.right - area.left, measure_in_dc, dc, fitted, sizeof fitted);
            fitted_valid = true;
        }
        DrawTextA(dc, fitted, -1, &area, DT_SINGLELINE);
    }
    name_shown = true;
}

// The next frame of the disk animation at (12, 5): the two pictures swap
// slots on every call, so the first shows DISK2, the second DISK1 ...
void MainWindow::DrawPicture(HDC dc) {
    if (memory_dc == nullptr || slot_a == nullptr || slot_b == nullptr) {
        view.NextPicture();
        return;
    }
    if (view.NextPicture()) {
        slot_a = static_cast<HBITMAP>(SelectObject(memory_dc, slot_b));
    } else {
        slot_b = static_cast<HBITMAP>(SelectObject(memory_dc, slot_a));
    }
    BitBlt(dc, 12, 5, picture_info.bmWidth, picture_info.bmHeight, memory_dc, 0, 0, SRCCOPY);
}

void MainWindow::DrawCancel(HDC dc) {
    RECT cancel = to_rect(view.cancel);
    DrawFrameControl(dc, &cancel, DFC_BUTTON, DFCS_BUTTONPUSH);
    DrawTextA(dc, "Cancel", -1, &cancel, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

// The complete picture, for WM_PAINT: the bar inside BeginPaint/EndPaint,
// then name, disk picture and Cancel button on the window's drawing context.
void MainWindow::Paint() {
    const HBRUSH bar_brush = CreateSolidBrush(RGB(0, 0, 255));
    PAINTSTRUCT ps;
    const HDC paint_dc = BeginPaint(handle, &ps);
    DrawBar(paint_dc, bar_brush);

    const HDC dc = GetDC(handle);
    SelectObject(dc, GetStockObject(ANSI_VAR_FONT));
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkMode(dc, TRANSPARENT);
    DrawNameArea(dc);
    DrawPicture(dc);
    EndPaint(handle, &ps);
    DrawCancel(dc);

    DeleteObject(bar_brush);
    ReleaseDC(handle, dc);
}

// The repaint on every progress message, kept cheap because it runs after
// every block written: it draws on the drawing context held since the
// pictures were loaded, with the brush made then, and only what changed -
// the bar when its filled width moved, the name when a new file started,
// and the next animation picture. The Cancel button never changes; WM_PAINT
// draws it.
void MainWindow::PaintProgress() {
    if (window_dc == nullptr) return;
    if (view.filled_width != shown_filled_width) DrawBar(window_dc, progress_brush);
    if (!name_shown) DrawNameArea(window_dc);
    DrawPicture(window_dc);
}

}  // namespace

extern "C" LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* object = reinterpret_cast<Window*>(GetWindowLongPtrA(window, 0));
    if (object == nullptr) {
        if (message != WM_CREATE) return DefWindowProcA(window, message, wparam, lparam);
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lparam);
        object = static_cast<Window*>(create->lpCreateParams);
        if (object == nullptr) return DefWindowProcA(window, message, wparam, lparam);
        object->handle = window;
        SetWindowLongPtrA(window, 0, reinterpret_cast<LONG_PTR>(object));
    }
    return object->HandleMessage(message, wparam, lparam);
}

namespace platform {

bool progress_window_open(void (*on_cancel)()) {
    const HINSTANCE module = GetModuleHandleA(nullptr);
    WNDCLASSA window_class = {};
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = WndProc;
    // The window object's pointer: 4 bytes on the 32-bit product, 8 on 64-bit.
    window_class.cbWndExtra = sizeof(void*);
    window_class.hInstance = module;
    window_class.hIcon = LoadIconA(module, "progress");
    window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
    window_class.lpszClassName = "Progress";
    if (RegisterClassA(&window_class) == 0) return false;

    main_window.view.Reset();
    main_window.on_cancel = on_cancel;
    int32_t x = 0;
    int32_t y = 0;
    progress_window_origin(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), &x, &y);
    const HWND window = CreateWindowExA(0, "Progress", main_window.caption, WS_BORDER | WS_SYSMENU, x, y,
                                        PROGRESS_WINDOW_WIDTH, PROGRESS_WINDOW_HEIGHT, nullptr, nullptr, module,
                                        static_cast<Window*>(&main_window));
    if (window == nullptr) return false;
    main_window.handle = window;

    // The bar is placed from the Cancel button, so the button comes first.
    main_window.view.cancel = ProgressRect{163, 70, 238, 95};
    main_window.ResetBar();
    main_window.LoadPictures();

    // SW_SHOWDEFAULT takes the show command the program was started with.
    ShowWindow(window, SW_SHOWDEFAULT);
    UpdateWindow(window);
    return true;
}

void progress_window_set_caption(const char* text_cp1251) {
    if (main_window.handle == nullptr || text_cp1251 == nullptr) return;
    char16_t wide[256];
    cp1251_to_utf16(text_cp1251, wide, sizeof wide / sizeof wide[0]);
    SetWindowTextW(main_window.handle, reinterpret_cast<const wchar_t*>(wide));
}

void progress_window_notify(long lparam, const char* name) {
    if (main_window.handle == nullptr) return;
    main_window.pending_name = name;
    SendMessageA(main_window.handle, WM_PROGRESS, 0, static_cast<LPARAM>(lparam));
}

void* progress_window_handle() { return main_window.handle; }

// The window keeps its own layout: the overall bytes are not drawn here.
void progress_window_set_overall(uint64_t, uint64_t) {}
bool progress_window_shows_overall() { return false; }

int progress_window_close_and_pump() {
    if (main_window.handle == nullptr) return 0;
    SendMessageA(main_window.handle, WM_DESTROY, 0, 0);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

}  // namespace platform
