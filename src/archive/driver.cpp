// The extraction driver: walks every collected archive header by header,
// makes folders and files, moves each entry's data through the stored copy or
// a decoder, verifies its checksum and finishes the file. Problems with single
// entries lower the status; fatal ones end the process through one abort.
#include "archive/driver.h"

#include "archive/archive_state.h"
#include "archive/headers.h"
#include "archive/names.h"
#include "archive/output.h"
#include "archive/packed_io.h"
#include "archive/progress.h"
#include "archive/volumes.h"
#include "platform/platform.h"
#include "format/checksum.h"
#include "unpack/decoder.h"

#include <cstdlib>
#include <cstring>

namespace {

// Working values of one extract_archive call.
struct DriverState {
    int files_processed;
    int entries_decoded;
    bool stop_early;
    int restarts;  // solid sets started over from their first volume, per archive taken
    char output_path[ARCHIVE_PATH_CHARS + 1];
};

DriverState driver;

// The mode and observer of the run; extract and none outside run_archive.
struct RunSettings {
    RunMode mode = RunMode::extract;
    RunObserver observer = nullptr;
    void* context = nullptr;
};

RunSettings run;

// The entry being listed: its packed size grows with every volume it spans.
struct Listing {
    bool open = false;
    uint64_t packed = 0;
};

Listing listing;

EntryRecord current_record(uint64_t packed_size) {
    const ArchiveState& a = archive_state;
    const FileHeader& h = a.file_header;
    EntryRecord r{};
    r.name = a.file_name;
    r.unpacked_size = h.unpacked_size;
    r.packed_size = packed_size;
    r.checksum = h.file_crc;
    r.dos_time = h.file_time;
    r.method = h.method;
    r.version_needed = h.version_needed;
    r.host_os = h.host_os;
    r.folder = (h.attributes & platform::ATTR_DIRECTORY) != 0;
    r.old_format = a.format == FORMAT_OLD;
    return r;
}

void report_entry(RunProblem problem, uint64_t packed_size) {
    if (!run.observer) return;
    EntryRecord r = current_record(packed_size);
    run.observer(&r, problem, archive_state.volume_name, run.context);
}

void report_entry(RunProblem problem) { report_entry(problem, archive_state.file_header.packed_size); }

void report_archive(RunProblem problem, const char* archive) {
    if (run.observer) run.observer(nullptr, problem, archive, run.context);
}

// List mode: every entry is reported once, when its last part is read; its
// data is stepped over.
void list_entry() {
    const ArchiveState& a = archive_state;
    const FileHeader& h = a.file_header;
    if (h.attributes & platform::ATTR_LABEL) return;
    if (!listing.open || !(h.flags & FILE_CONTINUED_FROM_PREVIOUS)) listing = Listing{true, 0};
    listing.packed += h.packed_size;
    if (h.flags & FILE_CONTINUES_IN_NEXT) return;
    ++driver.files_processed;
    report_entry(RunProblem::none, listing.packed);
    listing.open = false;
}

enum class WalkEnd { ended, left, restart };

void copy_text(char* out, const char* text) {
    size_t length = std::strlen(text);
    if (length > ARCHIVE_PATH_CHARS) length = ARCHIVE_PATH_CHARS;
    std::memcpy(out, text, length);
    out[length] = '\0';
}

// Output path = destination + file_name; false when it would not fit.
bool compose_output_path() {
    size_t a = std::strlen(archive_state.destination);
    size_t b = std::strlen(archive_state.file_name);
    if (a + b > ARCHIVE_PATH_CHARS) return false;
    std::memcpy(driver.output_path, archive_state.destination, a);
    std::memcpy(driver.output_path + a, archive_state.file_name, b + 1);
    return true;
}

// A folder that is there already keeps its attributes and is no problem; one
// that cannot be made (a link in its name among the reasons) is a warning.
void make_folder_entry() {
    const ArchiveState& a = archive_state;
    platform::BelowResult made = make_folder(a.destination, a.file_name, a.file_header.attributes);
    if (made != platform::BelowResult::created && made != platform::BelowResult::exists) {
        archive_state.status = WARNING;
        report_entry(RunProblem::cannot_make_folder);
    }
}

// A continued entry at the start of a solid walk: the set can only be decoded
// from its first volume. Starts over from it at most once per archive taken.
WalkEnd solid_set_started_later() {
    ArchiveState& a = archive_state;
    platform::File* f = a.archive_file;
    a.archive_file = nullptr;
    stream_close_checked(f);
    const char* dot = std::strrchr(a.volume_name, '.');
    bool named_rar = dot && names_equal(dot, ".rar");
    if (!named_rar && driver.restarts == 0) {
        const char* extensions[] = {"rar", "exe"};
        for (const char* extension : extensions) {
            char candidate[ARCHIVE_PATH_CHARS + 1];
            copy_text(candidate, a.volume_name);
            if (set_extension(candidate, extension) && file_exists(candidate)) {
                copy_text(a.volume_name, candidate);
                ++driver.restarts;
                return WalkEnd::restart;
            }
        }
    }
    if (archive_list.collected > 1) return WalkEnd::left;
    abort_extraction(FATAL_ERROR);
}

void after_the_data(bool discard, bool& checksum_failed) {
    ArchiveState& a = archive_state;
    if (!discard) driver.stop_early = all_names_done();
    if (a.archive_file) stream_seek(a.archive_file, a.next_block, platform::SeekFrom::start);
    if (!discard) {
        bool good = a.format == FORMAT_OLD ? a.data_checksum == a.file_header.file_crc
                                           : ~a.data_checksum == a.file_header.file_crc;
        if (a.volume_switch_failed) {
            // The rest of the data is on a volume that could not be opened:
            // the file was not extracted (not a damaged-data case).
            a.status = WARNING;
            checksum_failed = true;
            report_entry(RunProblem::volume_missing);
        } else if (!good) {
            a.status = CRC_ERROR;
            checksum_failed = true;
            report_entry(RunProblem::damaged);
        }
    }
    if (a.no_output) {
        a.no_output = false;
    } else {
        apply_file_time(a.entry_file, a.file_header.file_time);
        // Attributes go to the open file, never by path; a damaged file gets
        // none, so a read-only one can still be removed.
        // Entries from a Unix host bring their permission bits as well.
        if (!checksum_failed) {
            apply_attributes(a.entry_file, a.file_header.attributes);
            if (a.file_header.unix_mode) apply_unix_mode(a.entry_file, a.file_header.unix_mode);
        }
        platform::File* f = a.entry_file;
        a.entry_file = nullptr;
        // The progress window must not hold on to a closed stream.
        if (progress_file == f) progress_file = nullptr;
        stream_close_checked(f);
        if (checksum_failed) platform::delete_file_below(a.destination, a.entry_file_name);
    }
    a.entry_file_name[0] = '\0';
}

// Walks the headers of the open archive.
WalkEnd walk_headers() {
    ArchiveState& a = archive_state;
    for (;;) {
        int n = fetch_block(BLOCK_FILE, true);
        if (n <= 0 && !a.continues_in_next) return WalkEnd::ended;
        if (a.block_header.header_type == BLOCK_SUB) {
            stream_seek(a.archive_file, a.next_block, platform::SeekFrom::start);
            continue;
        }
        if (driver.stop_early) return WalkEnd::ended;
        make_relative_name(a.file_name, a.file_name);
        normalize_foreign_attributes();
        if (n > 0 && (a.file_header.flags & FILE_CONTINUED_FROM_PREVIOUS) && a.is_solid &&
            run.mode != RunMode::list)
            return solid_set_started_later();
        if (a.continues_in_next && n <= 0) {
            if (!switch_to_next_volume()) {
                a.status = WARNING;
                report_archive(RunProblem::volume_missing, a.volume_name);
                if (a.archive_file) {
                    platform::File* f = a.archive_file;
                    a.archive_file = nullptr;
                    stream_close_checked(f);
                }
                return WalkEnd::left;
            }
            make_relative_name(a.file_name, a.file_name);
            normalize_foreign_attributes();
        }
        const FileHeader& h = a.file_header;
        a.continues_in_next = (h.flags & FILE_CONTINUES_IN_NEXT) != 0;
        if (run.mode == RunMode::list) {
            list_entry();
            stream_seek(a.archive_file, a.next_block, platform::SeekFrom::start);
            continue;
        }
        const bool testing = run.mode == RunMode::test;
        stream_seek(a.archive_file, a.next_block - h.packed_size, platform::SeekFrom::start);
        a.no_output = false;
        bool selected = false, discard = false, checksum_failed = false;
        bool passed_over = false;

        if (!is_entry_selected() || (h.flags & FILE_CONTINUED_FROM_PREVIOUS)) {
            if (!a.is_solid)
                passed_over = true;
            else
                discard = true;
        }
        if (!passed_over) {
            bool path_ok = !h.name_too_long && compose_output_path() && is_safe_relative_name(a.file_name);
            if (!path_ok) driver.output_path[0] = '\0';
            selected = !discard;
            if (h.version_needed < 13 || h.version_needed > 20) {
                selected = false;
                a.status = WARNING;
                if (!discard) report_entry(RunProblem::unsupported);
            }
            if (h.attributes & platform::ATTR_LABEL) {
                stream_seek(a.archive_file, a.next_block, platform::SeekFrom::start);
                continue;
            }
            // A name that is too long or would lead outside the destination is
            // refused; a test reads its data all the same, nothing is written.
            if (!path_ok && !discard && selected) {
                a.status = WARNING;
                report_entry(RunProblem::unsafe_name);
            }
            if (!path_ok && !discard && !testing) {
                a.status = WARNING;
                selected = false;
                if (h.attributes & platform::ATTR_DIRECTORY) {
                    stream_seek(a.archive_file, a.next_block, platform::SeekFrom::start);
                    continue;
                }
            } else if (h.attributes & platform::ATTR_DIRECTORY) {
                if (!discard) {
                    ++driver.files_processed;
                    if (!testing) make_folder_entry();
                }
                stream_seek(a.archive_file, a.next_block, platform::SeekFrom::start);
                continue;
            } else if (selected && testing) {
                // Decoded into no file: only the checksum is kept.
                a.entry_file = nullptr;
                a.no_output = true;
                progress_file = nullptr;
                progress_file_name = a.file_name;
                announce_entry();
            } else if (selected) {
                a.entry_file = create_output_file(a.destination, a.file_name);
                progress_file = a.entry_file;
                progress_file_name = driver.output_path;
                announce_entry();
                if (!a.entry_file) {
                    a.status = WARNING;
                    report_entry(RunProblem::cannot_create);
                    selected = false;
                    driver.stop_early = all_names_done();
                }
            }
            if (!selected && a.is_solid) {
                discard = true;
                a.no_output = true;
                selected = true;
            }
            passed_over = !selected;
        }

        if (!passed_over) {
            if (!discard) {
                if (!testing && platform::file_is_char_device(a.entry_file)) abort_extraction(WRITE_ERROR);
                ++driver.files_processed;
            }
            ++driver.entries_decoded;
            // The name below the destination, for removing a partly written file.
            if (!discard && !testing) copy_text(a.entry_file_name, a.file_name);

            a.unpacked_done = 0;
            a.volume_switch_failed = false;
            a.data_checksum = a.format == FORMAT_OLD ? 0u : 0xFFFFFFFFu;
            a.packed_left = h.packed_size;
            decoder_bytes_left() = h.unpacked_size;
            a.packed_source = a.archive_file;
            a.output_file = a.entry_file;
            a.no_checksum = discard;
            if (h.method == '0')
                copy_stored_data();
            else if (h.version_needed > 15)
                decompress_entry(a.window, h.flags & FILE_SOLID, 1);
            else
                decompress_entry(a.window, (driver.entries_decoded > 1 && a.is_solid) ? 1 : 0, 0);
            after_the_data(discard, checksum_failed);
        }

        if (!a.archive_file) return WalkEnd::left;
        if (passed_over && !a.is_solid) stream_seek(a.archive_file, a.next_block, platform::SeekFrom::start);
        if (driver.stop_early) return WalkEnd::ended;
    }
}

}  // namespace

void decompress_entry(uint8_t* window, int solid, int method_20) {
    decoder_io.read_packed = read_packed_data;
    decoder_io.write_unpacked = write_unpacked_data;
    if (method_20)
        decompress_v20(window, solid);
    else
        decompress_v15(window, solid);
}

void parse_extract_arguments(int argc, const char* const* argv) {
    ArchiveState& a = archive_state;
    a.destination[0] = '\0';
    std::memset(a.command_word, 0, sizeof a.command_word);
    a.volume_name[0] = '\0';
    release_name_masks();
    release_archive_list();
    bool mask_added = false;
    bool refused = false;
    for (int i = 0; i < argc; ++i) {
        const char* argument = argv[i] ? argv[i] : "";
        size_t length = std::strlen(argument);
        if (i == 0) {
            for (size_t k = 0; k < length && k < ARCHIVE_PATH_CHARS; ++k) {
                char c = argument[k];
                a.command_word[k] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
            }
        } else if (i == 1) {
            // A name that does not fit is refused rather than cut to another file's name.
            if (length == 0 || length > ARCHIVE_PATH_CHARS) {
                refused = true;
                continue;
            }
            std::memcpy(a.volume_name, argument, length + 1);
            if (!complete_archive_name()) {
                a.volume_name[0] = '\0';
                refused = true;
                continue;
            }
            find_archives();
        } else if (i == 2) {
            char last = length ? argument[length - 1] : '\0';
            FileInfo info;
            if (last == ':' || is_path_separator(last)) {
                if (length > ARCHIVE_PATH_CHARS) {
                    refused = true;
                    continue;
                }
                std::memcpy(a.destination, argument, length + 1);
            } else if (length > 0 && !std::strpbrk(argument, "*?") && query_file_info(argument, &info) &&
                       info.is_folder) {
                if (length + 1 > ARCHIVE_PATH_CHARS) {
                    refused = true;
                    continue;
                }
                std::memcpy(a.destination, argument, length);
                a.destination[length] = platform::path_separator();
                a.destination[length + 1] = '\0';
            } else {
                add_name_mask(argument);
                mask_added = true;
            }
        }
    }
    if (refused) {
        release_archive_list();
        a.volume_name[0] = '\0';
    }
    if (!mask_added && a.volume_name[0] != '\0') add_name_mask("*.*");
}

void run_extraction() {
    ArchiveState& a = archive_state;
    if (archive_list.remaining == 0) report_archive(RunProblem::not_found, a.volume_name);
    for (;;) {
        release_window();
        if (!next_archive()) break;
        driver.restarts = 0;
        for (;;) {
            driver.entries_decoded = 0;
            driver.stop_early = false;
            name_masks.done = 0;
            a.archive_file = platform::file_open(a.volume_name, platform::FileOpen::read, platform::FileShare::read_only);
            if (!a.archive_file) {
                report_archive(RunProblem::cannot_open, a.volume_name);
                break;
            }
            if (!identify_archive()) {
                report_archive(RunProblem::not_an_archive, a.volume_name);
                platform::File* f = a.archive_file;
                a.archive_file = nullptr;
                stream_close_checked(f);
                break;
            }
            a.window = static_cast<uint8_t*>(std::malloc(WINDOW_SIZE));
            if (!a.window) abort_extraction(MEMORY_ERROR);
            skip_rest_of_main_header();
            a.continues_in_next = false;
            WalkEnd end = walk_headers();
            release_window();
            platform::File* f = a.archive_file;
            a.archive_file = nullptr;
            stream_close_checked(f);
            if (end != WalkEnd::restart) break;
        }
    }
    if (driver.files_processed == 0) {
        a.status = WARNING;
        report_archive(RunProblem::no_entries, a.archive_path ? a.archive_path : a.volume_name);
    }
}

int extract_archive(const char* archive_path, const char* destination) {
    return run_archive(archive_path, destination, RunMode::extract, nullptr, nullptr);
}

namespace {

void add_entry_size(const EntryRecord* entry, RunProblem problem, const char*, void* context) {
    if (problem == RunProblem::none && entry != nullptr) *static_cast<uint64_t*>(context) += entry->unpacked_size;
}

// The unpacked bytes of every entry, by a headers-only walk that shows nothing.
uint64_t measure_archive(const char* archive_path) {
    uint64_t total = 0;
    build_crc32_table();
    reset_archive_state();
    driver = DriverState{};
    run = RunSettings{RunMode::list, add_entry_size, &total};
    listing = Listing{};
    archive_state.archive_path = archive_path;
    archive_state.silent = true;
    const char* argv[2] = {"X", archive_path ? archive_path : ""};
    parse_extract_arguments(2, argv);
    run_extraction();
    release_name_masks();
    release_archive_list();
    release_extraction_state(false, true);
    run = RunSettings{};
    return total;
}

}  // namespace

int run_archive(const char* archive_path, const char* destination, RunMode mode, RunObserver observer,
                void* context) {
    reset_overall_progress(mode != RunMode::list && total_bytes_wanted() ? measure_archive(archive_path) : 0);
    run = RunSettings{mode, observer, context};
    listing = Listing{};
    if (mode != RunMode::extract) destination = nullptr;
    build_crc32_table();
    reset_archive_state();
    driver = DriverState{};
    archive_state.archive_path = archive_path;
    platform::route_break_signals(on_break_signal);
    const char* argv[3] = {"X", archive_path ? archive_path : "", destination};
    parse_extract_arguments(destination ? 3 : 2, argv);
    run_extraction();
    release_name_masks();
    release_archive_list();
    release_extraction_state(false, true);
    run = RunSettings{};
    return archive_state.status;
}
