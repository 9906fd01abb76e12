// How an extraction ends: its status codes, and the one abort that releases
// everything and ends the process (also taken on the break signals).
#pragma once

inline constexpr int SUCCESS = 0;
inline constexpr int WARNING = 1;
inline constexpr int FATAL_ERROR = 2;
inline constexpr int CRC_ERROR = 3;
inline constexpr int WRITE_ERROR = 5;
inline constexpr int MEMORY_ERROR = 8;
inline constexpr int USER_BREAK = 255;

// Releases everything, deletes the partial output file, ends the process with code.
[[noreturn]] void abort_extraction(int code);
// Called with the code by abort_extraction and the break handler before
// anything is released (the current archive and entry are still known), so
// a program can say why it ends. Null (the default) calls nothing.
using AbortObserver = void (*)(int code);
void set_abort_observer(AbortObserver observer);
// Closes the streams (deleting the partly written output file) and/or frees
// the buffers and name lists of the extraction.
void release_extraction_state(bool close_files, bool free_buffers);
// Handler of the interrupt, terminate and break signals: ends with exit code 255.
[[noreturn]] void on_break_signal(int signal_number);
// Frees the decoding window.
void release_window();
