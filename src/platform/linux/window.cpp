// The installer's progress window on Linux: one progress line on the terminal
// (disk mark, fitted file name, bar and percentage of the current file, the
// overall percentage of the whole archive and the "Esc: cancel" hint),
// redrawn in place on every progress message. Esc or "c" stands for a click on
// Cancel and asks the same question as the window. When standard error is no
// terminal, or one that takes no cursor controls (TERM=dumb), plain lines are
// written instead, one per file; under KELVARIX_UNATTENDED nothing is shown.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <termios.h>
#include <unistd.h>

#include "platform/console.h"
#include "platform/platform.h"
#include "platform/progress_window.h"
#include "platform/system_extra.h"
#include "platform/text.h"
#include "platform/text_locale.h"
#include "platform/window.h"

namespace platform {

namespace {

constexpr int BAR_CELLS = 20;
// Columns used besides the name: disk mark and space, space, "[" bar "]",
// " 100%", and one spare so the line never wraps in the last column.
constexpr int FIXED_COLUMNS = 2 + 1 + (BAR_CELLS + 2) + 5 + 1;
constexpr int MIN_NAME_COLUMNS = 8;
constexpr const char OVERALL_FORMAT[] = "  all %3d%%";  // 10 columns
constexpr int OVERALL_COLUMNS = 10;
constexpr const char CANCEL_HINT[] = "  Esc: cancel";
constexpr int CANCEL_HINT_COLUMNS = sizeof CANCEL_HINT - 1;

// How progress reaches the user: nothing, plain lines, or one line redrawn.
enum class Display { none, plain, line };

struct TerminalWindow {
    bool open = false;
    bool shows = false;         // something is written to standard error
    Display display = Display::none;
    bool line_drawn = false;    // a progress line is on the screen (needs a line end)
    bool caption_shown = false;
    bool keys_raw = false;      // the keyboard is in single-key mode now
    bool saved_valid = false;
    termios saved = {};
    void (*on_cancel)() = nullptr;
    ProgressView view;
    char caption[256] = {};
    char fitted[PROGRESS_NAME_CHARS] = {};
    bool fitted_valid = false;
    int fitted_columns = 0;
    int columns = 0;  // terminal width, asked again whenever a new file starts
};

TerminalWindow terminal;

void write_all(const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(2, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        data += n;
        size -= static_cast<size_t>(n);
    }
}

void write_text(const char* text) { write_all(text, std::strlen(text)); }

// Puts the keyboard back the way it was; safe to call at any time.
void keys_restore() {
    if (terminal.keys_raw && terminal.saved_valid) ::tcsetattr(0, TCSANOW, &terminal.saved);
    terminal.keys_raw = false;
}

void restore_at_exit() {
    keys_restore();
    if (terminal.line_drawn) {
        write_text("\n");
        terminal.line_drawn = false;
    }
}

// Single keys without echo and without waiting: read() returns what has been
// typed since the last look, or nothing.
void keys_single() {
    if (terminal.keys_raw || !::isatty(0)) return;
    if (!terminal.saved_valid) {
        if (::tcgetattr(0, &terminal.saved) != 0) return;
        terminal.saved_valid = true;
        std::atexit(restore_at_exit);
    }
    termios raw = terminal.saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    if (::tcsetattr(0, TCSANOW, &raw) == 0) terminal.keys_raw = true;
}

// True when the keys typed since the last look hold Esc (alone, not the start
// of a cursor-key sequence) or "c". Everything else typed is discarded, as
// clicks outside the Cancel button are.
bool cancel_key_pressed() {
    if (!terminal.keys_raw) return false;
    unsigned char keys[64];
    const ssize_t n = ::read(0, keys, sizeof keys);
    for (ssize_t i = 0; i < n; ++i) {
        if (keys[i] == 'c' || keys[i] == 'C') return true;
        if (keys[i] == 0x1B) {
            if (i + 1 < n && (keys[i + 1] == '[' || keys[i + 1] == 'O')) {
                i += 2;  // a cursor or function key: skip its introducer
                while (i < n && !(keys[i] >= 0x40 && keys[i] <= 0x7E)) ++i;
                continue;
            }
            return true;
        }
    }
    return false;
}

// Terminal columns of UTF-8 text: one per character.
int32_t measure_utf8(void*, const char* text, size_t length) {
    int32_t columns = 0;
    for (size_t i = 0; i < length; ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++columns;
    }
    return columns;
}

// The name as the terminal shows it: names that are not UTF-8 are taken as
// Windows-1251, the installer's code page.
void display_name(const char* name, char* out, size_t out_size) {
    if (is_utf8(name)) {
        std::strncpy(out, name, out_size - 1);
        out[out_size - 1] = '\0';
    } else {
        cp1251_to_utf8(name, out, out_size);
    }
}

void fit_name(int columns) {
    char shown[PROGRESS_NAME_CHARS * 3];
    display_name(terminal.view.name, shown, sizeof shown);
    mask_control_chars(shown, TextCoding::utf8);
    // The fitting works on bytes; a cut inside a character leaves stray
    // continuation bytes after the "...", which are dropped here.
    char fitted[sizeof shown];
    size_t n = fit_progress_name(shown, columns, measure_utf8, nullptr, fitted, sizeof fitted);
    if (n > 3) {
        size_t skip = 3;
        while (skip < n && (static_cast<unsigned char>(fitted[skip]) & 0xC0) == 0x80) ++skip;
        std::memmove(fitted + 3, fitted + skip, n - skip + 1);
        n -= skip - 3;
    }
    const size_t keep = n < sizeof terminal.fitted ? n : sizeof terminal.fitted - 1;
    std::memcpy(terminal.fitted, fitted, keep);
    terminal.fitted[keep] = '\0';
    terminal.fitted_valid = true;
    terminal.fitted_columns = columns;
}

// Plain mode: one line per file as it starts, "[all 17%] name", no controls.
void draw_plain(long lparam) {
    if (lparam != 0 || !terminal.view.has_name) return;
    char shown[PROGRESS_NAME_CHARS * 3];
    display_name(terminal.view.name, shown, sizeof shown);
    mask_control_chars(shown, TextCoding::utf8);
    char head[32] = "";
    const int overall = terminal.view.OverallPercent();
    if (overall >= 0) std::snprintf(head, sizeof head, "[all %3d%%] ", static_cast<int>(overall));
    write_text(head);
    write_text(shown);
    write_text("\n");
}

void draw_caption() {
    if (!terminal.caption_shown && terminal.caption[0] != '\0') {
        char caption[sizeof terminal.caption * 3];
        cp1251_to_utf8(localized_text(terminal.caption, message_language()), caption, sizeof caption);
        mask_control_chars(caption, TextCoding::utf8);
        write_text(caption);
        // Plain lines are not redrawn, so the hint goes with the caption.
        if (terminal.display == Display::plain && terminal.keys_raw) write_text(CANCEL_HINT);
        write_text("\n");
        terminal.caption_shown = true;
    }
}

void draw_line() {
    if (terminal.columns == 0) terminal.columns = terminal_columns();
    const int columns = terminal.columns;
    // The hint goes first and then the overall figure when the name would
    // get too little room.
    const int overall = terminal.view.OverallPercent();
    const bool hint_fits = terminal.keys_raw;
    int extra = (overall >= 0 ? OVERALL_COLUMNS : 0) + (hint_fits ? CANCEL_HINT_COLUMNS : 0);
    const bool with_hint = hint_fits && columns - FIXED_COLUMNS - extra >= MIN_NAME_COLUMNS;
    if (hint_fits && !with_hint) extra -= CANCEL_HINT_COLUMNS;
    const bool with_overall = overall >= 0 && columns - FIXED_COLUMNS - extra >= MIN_NAME_COLUMNS;
    if (overall >= 0 && !with_overall) extra -= OVERALL_COLUMNS;
    const bool with_bar = columns - FIXED_COLUMNS - extra >= MIN_NAME_COLUMNS;
    if (!with_bar) extra = 0;
    int name_columns = with_bar ? columns - FIXED_COLUMNS - extra : columns - 3;
    if (name_columns < 1) name_columns = 1;
    if (terminal.view.has_name && (!terminal.fitted_valid || terminal.fitted_columns != name_columns)) {
        fit_name(name_columns);
    }

    char line[PROGRESS_NAME_CHARS * 3 + 128];
    size_t used = 0;
    auto put = [&](const char* text, size_t length) {
        if (used + length >= sizeof line) length = sizeof line - 1 - used;
        std::memcpy(line + used, text, length);
        used += length;
    };
    put("\r", 1);
    put(terminal.view.NextPicture() ? "o " : "O ", 2);
    int name_used = 0;
    if (terminal.view.has_name) {
        put(terminal.fitted, std::strlen(terminal.fitted));
        name_used = measure_utf8(nullptr, terminal.fitted, std::strlen(terminal.fitted));
    }
    if (with_bar) {
        for (; name_used < name_columns; ++name_used) put(" ", 1);
        char bar[BAR_CELLS + 16];
        const int cells = terminal.view.percent * BAR_CELLS / 100;
        bar[0] = ' ';
        bar[1] = '[';
        for (int i = 0; i < BAR_CELLS; ++i) bar[2 + i] = i < cells ? '#' : '.';
        bar[2 + BAR_CELLS] = ']';
        put(bar, BAR_CELLS + 3);
        char percent[16];
        const int digits = std::snprintf(percent, sizeof percent, " %3d%%", static_cast<int>(terminal.view.percent));
        put(percent, static_cast<size_t>(digits));
        if (with_overall) {
            char all[32];
            const int n = std::snprintf(all, sizeof all, OVERALL_FORMAT, static_cast<int>(overall));
            put(all, static_cast<size_t>(n));
        }
        if (with_hint) put(CANCEL_HINT, CANCEL_HINT_COLUMNS);
    }
    put("\x1b[K", 3);  // clear what a longer earlier line left behind
    write_all(line, used);
    terminal.line_drawn = true;
}

// The Cancel question; on OK the clean-up runs and the process ends.
void ask_cancel() {
    keys_restore();
    if (terminal.line_drawn) {
        write_text("\n");
        terminal.line_drawn = false;
    }
    if (message_box(PROGRESS_CANCEL_QUESTION, PROGRESS_CANCEL_CAPTION, MB_OKCANCEL) == IDOK) {
        if (terminal.on_cancel != nullptr) terminal.on_cancel();
        exit_process(0);
    }
    keys_single();
}

}  // namespace

bool progress_window_open(void (*on_cancel)()) {
    terminal = TerminalWindow{};
    terminal.open = true;
    terminal.on_cancel = on_cancel;
    if (unattended())
        terminal.display = Display::none;
    else
        terminal.display = stderr_redraws() ? Display::line : Display::plain;
    terminal.shows = terminal.display != Display::none;
    terminal.view.Reset();
    return true;
}

void progress_window_set_caption(const char* text_cp1251) {
    if (text_cp1251 == nullptr) return;
    std::strncpy(terminal.caption, text_cp1251, sizeof terminal.caption - 1);
    terminal.caption[sizeof terminal.caption - 1] = '\0';
    terminal.caption_shown = false;
}

void progress_window_notify(long lparam, const char* name) {
    if (!terminal.open) return;
    terminal.view.Apply(lparam, name);
    if (lparam == 0) {
        terminal.fitted_valid = false;
        terminal.columns = 0;
    }
    if (!terminal.shows) return;
    keys_single();
    draw_caption();
    if (terminal.display == Display::line)
        draw_line();
    else
        draw_plain(lparam);
    if (cancel_key_pressed()) ask_cancel();
}

void progress_window_set_overall(uint64_t done, uint64_t total) {
    terminal.view.overall_done = done;
    terminal.view.overall_total = total;
}

bool progress_window_shows_overall() { return terminal.shows; }

void* progress_window_handle() { return nullptr; }

int progress_window_close_and_pump() {
    keys_restore();
    if (terminal.line_drawn) {
        write_text("\n");
        terminal.line_drawn = false;
    }
    terminal.open = false;
    return 0;
}

}  // namespace platform
