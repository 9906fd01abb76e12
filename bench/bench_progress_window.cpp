// What the progress display adds to an extraction, measured inside one
// process so start-up, the window's creation and the setup launch stay out:
// the same archive is extracted in turns with the progress messages going
// nowhere and going to the progress window (Windows: the real window; Linux:
// the terminal line, drawn only when standard error is a terminal).
//
// Usage: bench-progress-window ARCHIVE [RUNS]   (default 5 runs)
// Prints best and median seconds of each side and the ratio of the bests,
// then the cost of one progress message alone (new file and percentage
// messages in turn, no extraction), which a loaded machine disturbs less.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/archive_state.h"
#include "archive/driver.h"
#include "archive/progress.h"
#include "platform/window.h"

namespace fs = std::filesystem;

namespace {

long messages = 0;

void to_window(long lparam) {
    ++messages;
    platform::progress_window_notify(lparam, progress_file_name);
}

void to_nothing(long) { ++messages; }

// Seconds one extraction of archive into a fresh folder takes.
double extract_once(const std::string& archive, const fs::path& folder, ProgressSink sink) {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    fs::create_directories(folder);
    reset_archive_state();
    set_progress_sink(sink);
    messages = 0;
    const auto start = std::chrono::steady_clock::now();
    const int result = extract_archive(archive.c_str(), folder.string().c_str());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    set_progress_sink(nullptr);
    if (result != SUCCESS) std::fprintf(stderr, "extraction result %d\n", result);
    fs::remove_all(folder, ignored);
    return seconds;
}

void print_side(const char* label, std::vector<double> times) {
    std::sort(times.begin(), times.end());
    std::printf("%-34s best %.3f s  median %.3f s\n", label, times.front(), times[times.size() / 2]);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("Usage: bench-progress-window ARCHIVE [RUNS]\n", stderr);
        return 2;
    }
    const std::string archive = argv[1];
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    if (!platform::progress_window_open(nullptr)) {
        std::fputs("the progress window cannot be opened (no display?)\n", stderr);
        return 1;
    }
    platform::progress_window_set_caption("Orvanta Installer (unpacking...)");
    const fs::path folder = fs::temp_directory_path() / "kx-progress-window-cost";

    std::vector<double> quiet, shown;
    long shown_messages = 0;
    for (int run = 0; run < runs; ++run) {
        quiet.push_back(extract_once(archive, folder, to_nothing));
        shown.push_back(extract_once(archive, folder, to_window));
        shown_messages = messages;
    }
    // The messages alone: a new file and its percentages, as a run of small
    // files sends them.
    constexpr int MESSAGES = 4000;
    char name[128];
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < MESSAGES; i += 2) {
        std::snprintf(name, sizeof name, "C:\\Temp\\PTemp_a\\data\\file%05d.dat", i / 2);
        progress_file_name = name;
        platform::progress_window_notify(0, name);
        platform::progress_window_notify(1 + i % 100, name);
    }
    const double alone = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    progress_file_name = nullptr;
    platform::progress_window_close_and_pump();

    std::printf("%s, %d runs, %ld progress messages per extraction\n", archive.c_str(), runs, shown_messages);
    print_side("progress messages to nothing:", quiet);
    print_side("progress messages to the window:", shown);
    std::printf("ratio (best with window / best without): %.3f\n",
                *std::min_element(shown.begin(), shown.end()) / *std::min_element(quiet.begin(), quiet.end()));
    std::sort(quiet.begin(), quiet.end());
    std::printf("%d progress messages alone: %.3f s, %.4f ms each; at %ld messages that is %.1f%% of the median "
                "extraction without window\n",
                MESSAGES, alone, 1000.0 * alone / MESSAGES, shown_messages,
                100.0 * alone / MESSAGES * static_cast<double>(shown_messages) / quiet[quiet.size() / 2]);
    return 0;
}
