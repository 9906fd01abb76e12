// The progress contract between the extraction and whatever shows it: the
// messages sent to an installed sink and two process-wide values set before a
// new file starts.
#pragma once

#include <cstdint>

namespace platform { struct File; }

// Path of the output file being written; null until the first file starts.
extern const char* progress_file_name;
// Stream of that output file, or null when it could not be created.
extern platform::File* progress_file;

// Receiver of progress messages: lparam 0 announces a new file, 1..100 is the
// percentage of the current file. Installed by the program (the progress
// window, a terminal line, or nothing).
using ProgressSink = void (*)(long lparam);
void set_progress_sink(ProgressSink sink);
// Sends one progress message to the installed sink (synchronously).
void send_progress(long lparam);
// Announces the entry in archive_state.file_header: the overall count moves
// past the entry before it, and the message that starts a new file (0) goes
// out. A percentage of 0 sent later is only that, never a new entry.
void announce_entry();

// Overall progress: the unpacked bytes of the whole archive (0 until they
// are measured) and those written or tested so far in this run.
uint64_t progress_total_bytes();
uint64_t progress_done_bytes();
// With on, every extract or test run first walks the headers (silently) to
// measure the whole archive's bytes; off by default, as the walk costs a pass
// over the headers of every volume.
void measure_total_bytes(bool on);
// Starts the overall count of a run over; total is what was measured.
void reset_overall_progress(uint64_t total);
bool total_bytes_wanted();

// Percentage of done against total, 0..100.
int32_t percent_of(int32_t done, int32_t total);
// Sends the current entry's percentage (unpacked_done against unpacked_size).
void report_progress();
