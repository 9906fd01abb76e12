// The progress contract: the two values the receiver reads, the percentage
// rule, and delivery of WM_PROGRESS to whatever sink the program installed.
#include "archive/progress.h"

#include "archive/archive_state.h"

const char* progress_file_name = nullptr;
platform::File* progress_file = nullptr;

namespace {
ProgressSink progress_sink = nullptr;

struct Overall {
    bool measure = false;
    uint64_t total = 0;
    uint64_t finished = 0;  // entries announced before the current one
    uint32_t current = 0;   // size of the current entry
};

Overall overall;
}  // namespace

void set_progress_sink(ProgressSink sink) { progress_sink = sink; }

void measure_total_bytes(bool on) { overall.measure = on; }
bool total_bytes_wanted() { return overall.measure; }

void reset_overall_progress(uint64_t total) { overall = Overall{overall.measure, total, 0, 0}; }

uint64_t progress_total_bytes() { return overall.total; }

uint64_t progress_done_bytes() {
    const uint64_t done = overall.finished + archive_state.unpacked_done;
    return overall.total != 0 && done > overall.total ? overall.total : done;
}

void announce_entry() {
    // A new entry: the one before it is done whatever it delivered.
    overall.finished += overall.current;
    overall.current = archive_state.file_header.unpacked_size;
    archive_state.unpacked_done = 0;
    send_progress(0);
}

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
    // Sizes are 32-bit unsigned; halving both keeps a size of 2 GiB or more
    // (and the count, which never passes it) inside the signed rule.
    uint32_t done = archive_state.unpacked_done;
    uint32_t total = archive_state.file_header.unpacked_size;
    if (total > 0x7FFFFFFFu || done > 0x7FFFFFFFu) {
        done >>= 1;
        total >>= 1;
    }
    send_progress(percent_of(static_cast<int32_t>(done), static_cast<int32_t>(total)));
}
