// The progress window's layout and state, free of any drawing calls: the bar
// arithmetic, the Cancel button's place, the name fitted with "..." and the
// disk-picture flag. The Windows window paints from it with GDI; the Linux
// terminal line uses the same rules with characters as its unit of width.
// Everything is inline: it needs no library of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

inline constexpr int32_t PROGRESS_WINDOW_WIDTH = 400;
inline constexpr int32_t PROGRESS_WINDOW_HEIGHT = 125;
inline constexpr size_t PROGRESS_NAME_CHARS = 256;

// The question asked when Cancel is clicked, and its caption (Windows-1251):
// "Установка будет прекращена !" / "Предупреждение".
inline constexpr const char* PROGRESS_CANCEL_QUESTION =
    "\xD3\xF1\xF2\xE0\xED\xEE\xE2\xEA\xE0 \xE1\xF3\xE4\xE5\xF2 \xEF\xF0\xE5\xEA\xF0\xE0\xF9\xE5\xED\xE0 !";
inline constexpr const char* PROGRESS_CANCEL_CAPTION = "\xCF\xF0\xE5\xE4\xF3\xEF\xF0\xE5\xE6\xE4\xE5\xED\xE8\xE5";

struct ProgressRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    int32_t width() const { return right - left; }
    // Left and top inclusive, right and bottom exclusive.
    bool contains(int32_t x, int32_t y) const { return x >= left && x < right && y >= top && y < bottom; }
    bool operator==(const ProgressRect&) const = default;
};

// Measures the width of length characters of text in the unit the caller
// draws in (pixels of the window's font, or terminal columns).
using MeasureText = int32_t (*)(void* context, const char* text, size_t length);

// Top-left corner of the window position that centres the window on a screen.
inline void progress_window_origin(int32_t screen_width, int32_t screen_height, int32_t* x, int32_t* y) {
    *x = screen_width / 2 - PROGRESS_WINDOW_WIDTH / 2;
    *y = screen_height / 2 - 62;
}

// Shortens name so it fits available_width: when the whole name does not fit
// in the area less the width of "...", the first position k whose tail fits is
// found and the text drawn is "..." over the first three characters of the
// tail that starts at k + 1. Writes the text to draw into out (terminated) and
// returns its length. name itself is never changed, so every repaint fits the
// same original name and shows the same text.
inline size_t fit_progress_name(const char* name, int32_t area_width, MeasureText measure, void* context, char* out,
                                size_t out_size) {
    if (out_size == 0) return 0;
    size_t length = std::strlen(name);
    if (length >= out_size) length = out_size - 1;
    const int32_t available = area_width - measure(context, "...", 3);
    if (measure(context, name, length) <= available) {
        std::memcpy(out, name, length);
        out[length] = '\0';
        return length;
    }
    size_t k = 0;
    while (k < length && measure(context, name + k, length - k) > available) ++k;
    const size_t start = k + 1 <= length ? k + 1 : length;
    const size_t shown = length - start;
    std::memcpy(out, name + start, shown);
    out[shown] = '\0';
    // A tail shorter than three characters is covered only as far as it goes.
    for (size_t i = 0; i < 3 && i < shown; ++i) out[i] = '.';
    return shown;
}

// The part of MainWindow that does not draw: its bar, Cancel button, percent,
// the name of the file being written and the disk-picture flag.
struct ProgressView {
    int32_t filled_width = 0;
    ProgressRect bar;
    ProgressRect cancel;
    float pixels_per_percent = 0.0f;
    int32_t percent = 0;
    char name[PROGRESS_NAME_CHARS] = {};
    bool has_name = false;
    bool picture_flag = false;
    // Bytes of the whole archive done and in all (total 0: not known). The
    // Windows window does not show them; the Linux line does.
    uint64_t overall_done = 0;
    uint64_t overall_total = 0;

    // Puts the view as it is before the first file: no name, empty bar, the
    // Cancel button at its place, the bar derived from it.
    void Reset() {
        *this = ProgressView{};
        cancel = ProgressRect{163, 70, 238, 95};
        ResetBar();
    }

    // The bar sits 10 pixels above the Cancel button, 20 high, from x 12 to 380.
    void ResetBar() {
        bar.bottom = cancel.top - 10;
        bar.top = bar.bottom - 20;
        bar.left = 12;
        bar.right = 380;
        filled_width = 0;
        // Computed in double and stored as float: 3.68f lies just above 3.68,
        // so percent * pixels_per_percent truncates to percent * 368 / 100.
        pixels_per_percent = static_cast<float>((bar.right - bar.left) * 0.01);
        percent = 0;
    }

    // Takes percent (limited to 0..100) into the filled width, truncated.
    void SetPercent() {
        if (percent > 100) percent = 100;
        if (percent < 0) percent = 0;
        filled_width = static_cast<int32_t>(static_cast<float>(percent) * pixels_per_percent);
    }

    // Copies the name of the file that starts now (cut to the name buffer).
    void SetName(const char* file_name) {
        has_name = file_name != nullptr;
        if (file_name == nullptr) {
            name[0] = '\0';
            return;
        }
        std::strncpy(name, file_name, PROGRESS_NAME_CHARS - 1);
        name[PROGRESS_NAME_CHARS - 1] = '\0';
    }

    // One progress message: lparam 0 starts a new file with file_name, any
    // other value is the current file's percentage.
    void Apply(long lparam, const char* file_name) {
        if (lparam == 0) {
            SetName(file_name);
            ResetBar();
        } else {
            percent = lparam > 100 ? 100 : static_cast<int32_t>(lparam);
            SetPercent();
        }
    }

    // The coloured part of the bar; empty (right <= left) while the filled
    // width is below 6.
    ProgressRect FilledRect() const {
        return ProgressRect{bar.left + 2, bar.top + 2, bar.left + filled_width - 3, bar.bottom - 3};
    }

    // Where the name is drawn: the bar moved up by 25 with its left side
    // moved right by 38, i.e. (50, 15)-(380, 35).
    ProgressRect TextArea() const { return ProgressRect{bar.left + 38, bar.top - 25, bar.right, bar.bottom - 25}; }

    // Overall percentage 0..100, or -1 when the total is not known.
    int32_t OverallPercent() const {
        if (overall_total == 0) return -1;
        const uint64_t done = overall_done < overall_total ? overall_done : overall_total;
        return static_cast<int32_t>(done * 100 / overall_total);
    }

    // Flips the picture flag; true means the second picture is shown now.
    bool NextPicture() {
        picture_flag = !picture_flag;
        return picture_flag;
    }
};
