// The progress contract: the two values the receiver reads, the percentage
// rule, and delivery of WM_PROGRESS to whatever sink the program installed.
#include "archive/progress.h"

#include "archive/archive_state.h"

const char* progress_file_name = nullptr;
platform::File* progress_file = nullptr;

namespace {
ProgressSink progress_sink = nullptr;
}

void set_progress_sink(ProgressSink sink) { progress_sink = sink; }

void send_progress(long lparam) {
    if (progress_sink) progress_sink(lparam);
}

int32_t percent_of(int32_t done, int32_t total) {
    // Scaling keeps done * 100 within 32 bits.
    if (done > 10000) {
        done /= 100;
        total /= 100;
    }
    if (total == 0) return 0;
    if (done > total) return 100;
    if (done < 0 || total < 0) return 0;
    return done * 100 / total;
}

void report_progress() {
    send_progress(percent_of(archive_state.unpacked_done,
                             static_cast<int32_t>(archive_state.file_header.unpacked_size)));
}
