// kelvarix-x: looks inside or checks an archive (also one carried inside an
// installer, or a volume chain) with the installer's own extraction core:
// lists its entries, tests every entry's checksum, or extracts it.
// Exit code: the run's status (0, 1, 3) or the core's abort code; every
// non-zero code comes with a message on standard error.
#include "archive/archive_state.h"
#include "archive/driver.h"
#include "archive/progress.h"
#include "archive/status.h"
#include "platform/console.h"
#include "platform/text.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace {

constexpr const char* VERSION_TEXT = "kelvarix-x 1.0\n";

void print_usage(FILE* out) {
    std::fputs("Usage: kelvarix-x [-l | -t] ARCHIVE [DEST]\n"
               "Extracts every entry of ARCHIVE (following its volumes) into DEST,\n"
               "an existing folder (default: the current folder). ARCHIVE may be an\n"
               "installer or the first volume of a set.\n"
               "\n"
               "  -l          list the entries: size, packed size, method, time, CRC, name\n"
               "  -t          test every entry's checksum; nothing is written\n"
               "  --help      show this text\n"
               "  --version   show the version\n"
               "\n"
               "Exit code: 0 all done, 1 something not extracted or tested (missing\n"
               "volume, unsupported method, refused name), 3 damaged data;\n"
               "2, 5, 8 and 255 when the run was aborted.\n",
               out);
}

// ---------------------------------------------------------------- names and messages

const char* archive_shown = "";
bool reported = false;  // a message about a problem has been written

// The name as the terminal shows it: UTF-8 as it is, other names taken as
// Windows-1251 (the installer's code page); control characters become '?'.
void shown_name(const char* name, char* out, size_t out_size) {
#ifdef _WIN32
    std::snprintf(out, out_size, "%s", name);
    platform::mask_control_chars(out, platform::TextCoding::bytes);
#else
    if (platform::is_utf8(name))
        std::snprintf(out, out_size, "%s", name);
    else
        platform::cp1251_to_utf8(name, out, out_size);
    platform::mask_control_chars(out, platform::TextCoding::utf8);
#endif
}

void end_progress_line();

// "kelvarix-x: ARCHIVE[: ENTRY]: reason" on standard error.
void report(const char* archive, const char* entry, const char* reason) {
    end_progress_line();
    char archive_text[1024];
    shown_name(archive, archive_text, sizeof archive_text);
    if (entry != nullptr && entry[0] != '\0') {
        char entry_text[1024];
        shown_name(entry, entry_text, sizeof entry_text);
        std::fprintf(stderr, "kelvarix-x: %s: %s: %s\n", archive_text, entry_text, reason);
    } else {
        std::fprintf(stderr, "kelvarix-x: %s: %s\n", archive_text, reason);
    }
    std::fflush(stderr);
    reported = true;
}

const char* problem_reason(RunProblem problem) {
    switch (problem) {
        case RunProblem::none: return "";
        case RunProblem::damaged: return "damaged data (checksum does not match)";
        case RunProblem::volume_missing: return "next volume missing or not an archive";
        case RunProblem::unsupported: return "packed with a method this program does not have; not extracted";
        case RunProblem::unsafe_name: return "name too long or leads outside the destination; not extracted";
        case RunProblem::cannot_create: return "cannot create the file";
        case RunProblem::cannot_make_folder: return "cannot make the folder";
        case RunProblem::not_found: return "no such file";
        case RunProblem::cannot_open: return "cannot open the file";
        case RunProblem::not_an_archive: return "no archive found in the file";
        case RunProblem::no_entries: return "no entries were handled";
    }
    return "failed";
}

const char* abort_reason(int code) {
    switch (code) {
        case FATAL_ERROR: return "aborted: fatal error reading the archive or closing a file (exit code 2)";
        case WRITE_ERROR: return "aborted: cannot write the output (disk full or a device; exit code 5)";
        case MEMORY_ERROR: return "aborted: out of memory (exit code 8)";
        case USER_BREAK: return "interrupted (exit code 255)";
        default: return "aborted";
    }
}

void on_abort(int code) {
    const ArchiveState& a = archive_state;
    const char* archive = a.volume_name[0] != '\0' ? a.volume_name : archive_shown;
    report(archive, a.file_name, abort_reason(code));
}

// ---------------------------------------------------------------- the listing

struct Totals {
    uint64_t entries = 0;
    uint64_t unpacked = 0;
    uint64_t packed = 0;
};

const char* method_text(const EntryRecord& e) {
    if (e.folder) return "folder";
    switch (e.method) {
        case '0': return "stored";
        case '1': return "fastest";
        case '2': return "fast";
        case '3': return "normal";
        case '4': return "good";
        case '5': return "best";
        default: return "?";
    }
}

void print_entry(const EntryRecord& e) {
    const uint32_t t = e.dos_time;
    char name[1024];
    shown_name(e.name, name, sizeof name);
    char checksum[16];
    if (e.folder)
        std::snprintf(checksum, sizeof checksum, "%s", "-");
    else if (e.old_format)
        std::snprintf(checksum, sizeof checksum, "%04" PRIx32, e.checksum & 0xFFFFu);
    else
        std::snprintf(checksum, sizeof checksum, "%08" PRIx32, e.checksum);
    std::printf("%12" PRIu32 " %12" PRIu64 "  %-7s %u.%u  %04u-%02u-%02u %02u:%02u:%02u  %-8s  %s%s\n",
                e.unpacked_size, e.packed_size, method_text(e), e.version_needed / 10u, e.version_needed % 10u,
                (t >> 25) + 1980u, (t >> 21) & 15u, (t >> 16) & 31u, (t >> 11) & 31u, (t >> 5) & 63u, (t & 31u) * 2u,
                checksum, name, e.folder ? "/" : "");
}

void observe(const EntryRecord* entry, RunProblem problem, const char* archive, void* context) {
    auto* totals = static_cast<Totals*>(context);
    if (problem == RunProblem::none) {
        if (totals == nullptr || entry == nullptr) return;
        ++totals->entries;
        totals->unpacked += entry->unpacked_size;
        totals->packed += entry->packed_size;
        print_entry(*entry);
        return;
    }
    // "Nothing handled" only adds something when no other reason was given.
    if (problem == RunProblem::no_entries && reported) return;
    report(archive, entry ? entry->name : nullptr, problem_reason(problem));
}

// ---------------------------------------------------------------- the progress line

struct Progress {
    bool on = false;
    bool drawn = false;
    int last_permille = -1;
    const char* last_name = nullptr;
};

Progress progress;

void end_progress_line() {
    if (progress.drawn) {
        std::fputs("\n", stderr);
        progress.drawn = false;
    }
}

// "\r 42.0% of 12345678 bytes  name" fitted to the terminal's width; spaces
// clear what a longer earlier line left, so no control sequence is needed.
void draw_progress(long lparam) {
    const uint64_t total = progress_total_bytes();
    const uint64_t done = progress_done_bytes();
    const int permille = total ? static_cast<int>(done * 1000 / total) : 1000;
    const char* name = progress_file_name ? progress_file_name : "";
    if (permille == progress.last_permille && name == progress.last_name && lparam != 0) return;
    progress.last_permille = permille;
    progress.last_name = name;

    const int columns = platform::terminal_columns();
    char head[96];
    const int head_length = std::snprintf(head, sizeof head, "\r%3d.%d%% of %" PRIu64 " bytes  ", permille / 10,
                                          permille % 10, total);
    char shown[1024];
    shown_name(name, shown, sizeof shown);
    // One column spare so the line never wraps in the last column.
    const int room = columns - (head_length - 1) - 1;
    char fitted[1024];
    size_t fitted_length = room > 0 ? platform::fit_utf8_tail(shown, static_cast<size_t>(room), fitted, sizeof fitted) : 0;
    if (room <= 0) fitted[0] = '\0';
    const size_t used = static_cast<size_t>(head_length - 1) + platform::utf8_columns(fitted, fitted_length);
    std::fputs(head, stderr);
    std::fputs(fitted, stderr);
    for (size_t i = used; i + 1 < static_cast<size_t>(columns); ++i) std::fputc(' ', stderr);
    std::fflush(stderr);
    progress.drawn = true;
}

}  // namespace

int main(int argc, char** argv) {
    RunMode mode = RunMode::extract;
    int first = 1;
    if (argc >= 2) {
        if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
            print_usage(stdout);
            return 0;
        }
        if (std::strcmp(argv[1], "--version") == 0) {
            std::fputs(VERSION_TEXT, stdout);
            return 0;
        }
        if (std::strcmp(argv[1], "-l") == 0) {
            mode = RunMode::list;
            first = 2;
        } else if (std::strcmp(argv[1], "-t") == 0) {
            mode = RunMode::test;
            first = 2;
        } else if (std::strcmp(argv[1], "--") == 0) {
            first = 2;
        } else if (argv[1][0] == '-' && argv[1][1] != '\0') {
            std::fprintf(stderr, "kelvarix-x: unknown option %s\n", argv[1]);
            print_usage(stderr);
            return 1;
        }
    }
    const int operands = argc - first;
    if (operands < 1 || operands > (mode == RunMode::extract ? 2 : 1)) {
        std::fputs("kelvarix-x: wrong number of arguments\n", stderr);
        print_usage(stderr);
        return 1;
    }
    const char* archive = argv[first];
    const char* destination = operands == 2 ? argv[first + 1] : nullptr;
    archive_shown = archive;
    set_abort_observer(on_abort);

    if (mode == RunMode::list) {
        std::printf("%12s %12s  %-7s %-3s  %-19s  %-8s  %s\n", "Size", "Packed", "Method", "Ver", "Time", "CRC",
                    "Name");
        Totals totals;
        const int status = run_archive(archive, nullptr, RunMode::list, observe, &totals);
        std::printf("%12" PRIu64 " %12" PRIu64 "  %" PRIu64 " entries\n", totals.unpacked, totals.packed,
                    totals.entries);
        if (status != SUCCESS && !reported) report(archive, nullptr, "listing incomplete");
        return status;
    }

    progress.on = platform::stderr_redraws();
    if (progress.on) {
        // A first walk over the headers gives the size of the whole archive.
        measure_total_bytes(true);
        set_progress_sink(draw_progress);
    }
    const int status = run_archive(archive, destination, mode, observe, nullptr);
    end_progress_line();
    if (status != SUCCESS && !reported)
        report(archive, nullptr, mode == RunMode::test ? "not every entry was tested" : "not everything was extracted");
    if (status == SUCCESS && mode == RunMode::test) std::fputs("All entries OK\n", stdout);
    return status;
}
