// kelvarix-pack: builds an installer in one step. It packs a folder into an
// archive (with a setup.spt naming the product's setup program), and appends
// that archive behind an installer stub with the bundle directory, exactly as
// "kelvarix1 OUT -i archive.rar" would. Volume sets put the first volume into
// the installer and the further ones beside it (OUT.r00, OUT.r01 ...).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "bundle/bundle.h"
#include "format/bundle_directory.h"
#include "format/volume_name.h"
#include "pack/archive_writer.h"
#include "pack/pack_folder.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "platform/system_extra.h"
#include "platform/text.h"

namespace {

constexpr int EXIT_OK = 0, EXIT_USAGE = 1, EXIT_INPUT = 2, EXIT_WRITE = 3;

void print_usage(FILE* out) {
    std::fputs(
        "Usage: kelvarix-pack [options] FOLDER SETUP_PROGRAM [PARAMETERS...]\n"
        "Packs FOLDER into an installer that extracts it and runs SETUP_PROGRAM\n"
        "(a path relative to FOLDER, without spaces) with PARAMETERS. Options go\n"
        "before FOLDER; everything after SETUP_PROGRAM is passed to it as it is.\n"
        "\n"
        "Options:\n"
        "  -o, --output OUT        installer to write (default: installer.exe,\n"
        "                          or installer for the linux target)\n"
        "  --target win32|win64|linux\n"
        "                          the installer's system (default: this program's)\n"
        "  --stub PATH             the installer program to use; by default it is\n"
        "                          looked for beside kelvarix-pack: kelvarix1-w32.exe,\n"
        "                          kelvarix1-w64.exe, kelvarix1-linux or kelvarix1(.exe)\n"
        "  --level N               0 stored, 1 fastest ... 3 normal (default) ... 5 best\n"
        "  --solid                 one compression stream over all files\n"
        "  --threads N             threads packing the files of a non-solid archive\n"
        "                          (default: one per processor, at most 8; the\n"
        "                          archive is the same whatever the number)\n"
        "  --volume-size N[k|m]    split into volumes of at most N bytes; the first\n"
        "                          goes into the installer, the others beside it as\n"
        "                          OUT.r00, OUT.r01 ... (copy them along)\n"
        "  --archive               write only the archive to OUT (no installer);\n"
        "                          SETUP_PROGRAM may then be left out (no setup.spt)\n"
        "  --follow-links          pack links to files outside FOLDER as copies of\n"
        "                          their targets, skip links that lead nowhere\n"
        "                          (without it both are refused)\n"
        "  -q, --quiet             no progress and no summary\n"
        "  -h, --help              this text\n"
        "\n"
        "Only what lies in FOLDER is packed: links to files inside it become copies,\n"
        "links to folders and anything but files and folders (FIFOs, devices) are\n"
        "skipped with a warning. The output must not be inside FOLDER or an input.\n"
        "\n"
        "Exit codes: 0 done, 1 usage error, 2 input error, 3 write error.\n",
        out);
}

int usage_error(const char* message, const char* detail = "") {
    std::fprintf(stderr, "kelvarix-pack: %s%s\nTry 'kelvarix-pack --help'.\n", message, detail);
    return EXIT_USAGE;
}

bool parse_size(const char* text, uint64_t* size) {
    char* end = nullptr;
    unsigned long long v = std::strtoull(text, &end, 10);
    if (end == text) return false;
    uint64_t unit = 1;
    if (*end == 'k' || *end == 'K') unit = 1024, ++end;
    else if (*end == 'm' || *end == 'M') unit = 1024 * 1024, ++end;
    if (*end != '\0' || v == 0 || v > 0xFFFFFFFFull / unit) return false;
    *size = v * unit;
    return true;
}

std::string folder_of(const std::string& path) {
    size_t cut = std::string::npos;
    for (size_t i = 0; i < path.size(); ++i)
        if (platform::is_separator(path[i])) cut = i;
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

std::string name_of(const std::string& path) {
    std::string folder = folder_of(path);
    return folder.empty() && !(path.size() && platform::is_separator(path[0])) ? path
                                                                                : path.substr(folder.size() + 1);
}

std::string join(const std::string& a, const std::string& b) {
    return a.empty() ? b : a + platform::path_separator() + b;
}

// The setup program's name with "." and ".." steps taken and backslash
// separators, as the archive names it; false when the name is rooted or
// steps above FOLDER.
bool name_in_folder(const std::string& program, std::string& name) {
    if (platform::is_absolute_path(program.c_str()) || platform::is_separator(program[0]) ||
        (program.size() > 1 && program[1] == ':'))
        return false;
    std::vector<std::string> parts;
    size_t at = 0;
    while (at <= program.size()) {
        size_t end = at;
        while (end < program.size() && !platform::is_separator(program[end])) ++end;
        std::string part = program.substr(at, end - at);
        at = end + 1;
        if (part.empty() || part == ".") continue;
        if (part != "..") parts.push_back(part);
        else if (parts.empty()) return false;
        else parts.pop_back();
    }
    name.clear();
    for (const std::string& p : parts) name += (name.empty() ? "" : "\\") + p;
    return !name.empty();
}

bool same_name(const std::string& a, const std::string& b) {
    if (platform::path_separator() == '/') return a == b;
    // Windows finds a file whatever the letter case of its name.
    if (a.size() != b.size()) return false;
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

// Names read from disk may hold control characters; shown as '?' so they
// cannot drive the terminal.
std::string printable(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return text;
}

std::string resolved(const std::string& path) {
    char out[platform::RESOLVED_PATH_BYTES];
    return platform::resolve_path(path.c_str(), out, sizeof out) ? std::string(out) : std::string();
}

// Every file this run may write: OUT (with the archive being built beside it
// as OUT.part) and, for a volume set, the further volumes' names up to a bound
// no volume set of this tree can exceed.
std::vector<std::string> output_names(const std::string& output, bool archive_only, uint64_t volume_size,
                                      const std::vector<pack::TreeEntry>& entries) {
    std::vector<std::string> names{output};
    if (!archive_only) names.push_back(output + ".part");
    if (volume_size) {
        uint64_t bytes = 8192;
        for (const pack::TreeEntry& t : entries) bytes += t.size + t.size / 64 + 320;
        uint64_t volumes = bytes / (volume_size / 2) + 2;
        char name[platform::MAX_PATH_CHARS + 1];
        std::snprintf(name, sizeof name, "%s", output.c_str());
        for (uint64_t i = 1; i < volumes && i < 10000; ++i) {
            if (!next_volume_name(name)) break;  // the writer refuses a set that runs out of names
            names.push_back(name);
        }
    }
    return names;
}

bool file_exists(const std::string& path) {
    uint32_t attributes = 0;
    return platform::get_attributes(path.c_str(), &attributes) && !(attributes & platform::ATTR_DIRECTORY);
}

// The stub of the target: given, or found beside this program.
bool find_stub(const std::string& target, std::string& stub) {
    char own[platform::MAX_PATH_CHARS + 1];
    if (platform::own_program_path(own, sizeof own) == 0) return false;
    std::string here = folder_of(own);
    bool windows_build = platform::path_separator() == '\\';
    bool wide_build = sizeof(void*) == 8;
    std::vector<std::string> names;
    if (target == "win32") {
        names = {"kelvarix1-w32.exe"};
        if (windows_build && !wide_build) names.push_back("kelvarix1.exe");
    } else if (target == "win64") {
        names = {"kelvarix1-w64.exe"};
        if (windows_build && wide_build) names.push_back("kelvarix1.exe");
    } else {
        names = {"kelvarix1-linux"};
        if (!windows_build) names.push_back("kelvarix1");
    }
    for (const std::string& n : names) {
        std::string candidate = join(here, n);
        if (file_exists(candidate)) {
            stub = candidate;
            return true;
        }
    }
    return false;
}

// Checks that the stub is a program of the target's kind.
bool stub_matches(const std::string& stub, const std::string& target) {
    platform::File* f = platform::file_open(stub.c_str(), platform::FileOpen::read);
    if (!f) return false;
    unsigned char head[4] = {};
    size_t n = platform::file_read(f, head, 4);
    platform::file_close(f);
    if (n < 4) return false;
    if (target == "linux") return std::memcmp(head, "\x7F" "ELF", 4) == 0;
    return head[0] == 'M' && head[1] == 'Z';
}

uint32_t dos_time_now() {
    std::time_t t = std::time(nullptr);
    std::tm* l = std::localtime(&t);
    if (!l || l->tm_year < 80) return (1u << 21) | (1u << 16);  // 1980-01-01
    return static_cast<uint32_t>((l->tm_year - 80) << 25 | (l->tm_mon + 1) << 21 | l->tm_mday << 16 |
                                 l->tm_hour << 11 | l->tm_min << 5 | l->tm_sec / 2);
}

struct ProgressLine {
    bool on = false;
    int last_percent = -1;
};

// "\r[bar] 42% name" fitted to the terminal: the bar narrows on a small
// terminal, the name keeps its tail and is cut between UTF-8 characters, and
// spaces clear what a longer earlier line left (no control sequences).
void show_progress(const char* name, uint64_t done, uint64_t total, void* context) {
    ProgressLine* line = static_cast<ProgressLine*>(context);
    if (!line->on) return;
    const int percent = total ? static_cast<int>(done * 100 / total) : 100;
    const int columns = platform::terminal_columns();
    int cells = (columns - 8) / 3;  // the name keeps about two thirds of the line
    if (cells > 30) cells = 30;
    if (cells < 0) cells = 0;
    char head[64];
    int used = 0;
    head[used++] = '\r';
    if (cells > 0) {
        head[used++] = '[';
        for (int i = 0; i < cells; ++i) head[used++] = i < percent * cells / 100 ? '#' : '.';
        head[used++] = ']';
        head[used++] = ' ';
    }
    used += std::snprintf(head + used, sizeof head - static_cast<size_t>(used), "%3d%% ", percent);
    std::string shown = name;
#ifndef _WIN32
    for (char& c : shown)
        if (c == '\\') c = '/';
    if (!platform::is_utf8(shown.c_str())) {
        std::string converted(shown.size() * 3 + 1, '\0');
        converted.resize(platform::cp1251_to_utf8(shown.c_str(), converted.data(), converted.size()));
        shown = converted;
    }
    shown.resize(platform::mask_control_chars(shown.data(), platform::TextCoding::utf8));
#else
    shown.resize(platform::mask_control_chars(shown.data(), platform::TextCoding::bytes));
#endif
    // One column spare so the line never wraps in the last column.
    const size_t room = columns - (used - 1) - 1 > 0 ? static_cast<size_t>(columns - (used - 1) - 1) : 0;
#ifndef _WIN32
    std::string fitted(shown.size() + 4, '\0');
    fitted.resize(platform::fit_utf8_tail(shown.c_str(), room, fitted.data(), fitted.size()));
    size_t width = static_cast<size_t>(used - 1) + platform::utf8_columns(fitted.data(), fitted.size());
#else
    // Names in the ANSI code page: one byte, one column.
    std::string fitted = shown.size() <= room ? shown : room < 3 ? std::string(room, '.')
                                                                  : "..." + shown.substr(shown.size() - (room - 3));
    size_t width = static_cast<size_t>(used - 1) + fitted.size();
#endif
    std::fputs(head, stderr);
    std::fputs(fitted.c_str(), stderr);
    for (; width + 1 < static_cast<size_t>(columns); ++width) std::fputc(' ', stderr);
    std::fflush(stderr);
    line->last_percent = percent;
}

void remove_outputs(const std::vector<std::string>& paths) {
    for (const std::string& p : paths) (void)platform::delete_file(p.c_str());  // best effort after a failure
}

// Appends the bundle directory for one member behind the installer.
bool write_bundle_directory(const std::string& installer, int64_t member_offset, const std::string& member_name) {
    const uint32_t offset = static_cast<uint32_t>(member_offset);
    const char* name = member_name.c_str();
    uint8_t d[BUNDLE_ENTRY_FIXED + BUNDLE_MAX_NAME + BUNDLE_SIZE_FIELD];
    const size_t size = encode_bundle_directory(&offset, &name, 1, d, sizeof d);
    if (size == 0) return false;
    platform::File* f = platform::file_open(installer.c_str(), platform::FileOpen::read_write_existing);
    if (!f) return false;
    bool ok = platform::file_seek(f, 0, platform::SeekFrom::end) && platform::file_write(f, d, size) == size;
    return platform::file_close(f) && ok;
}

}  // namespace

int main(int argc, char** argv) {
    std::string output, target, stub;
    int level = 3;
    bool solid = false, archive_only = false, quiet = false, follow_links = false;
    uint64_t volume_size = 0;
    int threads = static_cast<int>(std::min(8u, std::max(1u, std::thread::hardware_concurrency())));
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (!positional.empty()) {
            positional.push_back(a);  // parameters of the setup program, passed as they are
        } else if (a == "-h" || a == "--help") {
            print_usage(stdout);
            return EXIT_OK;
        } else if (a == "-o" || a == "--output") {
            const char* v = value();
            if (!v || !*v) return usage_error("missing value for ", a.c_str());
            output = v;
        } else if (a == "--target") {
            const char* v = value();
            if (!v) return usage_error("missing value for --target");
            target = v;
            if (target != "win32" && target != "win64" && target != "linux")
                return usage_error("unknown target (win32, win64 or linux): ", v);
        } else if (a == "--stub") {
            const char* v = value();
            if (!v || !*v) return usage_error("missing value for --stub");
            stub = v;
        } else if (a == "--level") {
            const char* v = value();
            if (!v || std::strlen(v) != 1 || v[0] < '0' || v[0] > '5')
                return usage_error("--level takes a number from 0 to 5");
            level = v[0] - '0';
        } else if (a == "--solid") {
            solid = true;
        } else if (a == "--threads") {
            const char* v = value();
            if (!v || std::strlen(v) != 1 || v[0] < '1' || v[0] > '8')
                return usage_error("--threads takes a number from 1 to 8");
            threads = v[0] - '0';
        } else if (a == "--volume-size") {
            const char* v = value();
            if (!v || !parse_size(v, &volume_size))
                return usage_error("--volume-size takes a size such as 1440k or 100m");
            if (volume_size < pack::MIN_VOLUME_SIZE) return usage_error("--volume-size must be at least 512 bytes");
        } else if (a == "--archive") {
            archive_only = true;
        } else if (a == "--follow-links") {
            follow_links = true;
        } else if (a == "-q" || a == "--quiet") {
            quiet = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return usage_error("unknown option ", a.c_str());
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() < (archive_only ? 1u : 2u)) return usage_error("FOLDER and SETUP_PROGRAM are required");
    const std::string folder = positional[0];
    const std::string program = positional.size() > 1 ? positional[1] : std::string();
    std::string parameters;
    for (size_t i = 2; i < positional.size(); ++i) parameters += (i > 2 ? " " : "") + positional[i];

    if (target.empty()) {
        bool windows_build = platform::path_separator() == '\\';
        target = windows_build ? (sizeof(void*) == 8 ? "win64" : "win32") : "linux";
    }
    if (output.empty()) output = archive_only ? "installer.rar" : (target == "linux" ? "installer" : "installer.exe");

    uint32_t folder_attributes = 0;
    if (!platform::get_attributes(folder.c_str(), &folder_attributes) ||
        !(folder_attributes & platform::ATTR_DIRECTORY)) {
        std::fprintf(stderr, "kelvarix-pack: not a folder: %s\n", folder.c_str());
        return EXIT_INPUT;
    }
    // The setup program: one word, present in the folder unless it names its own root.
    if (program.find(' ') != std::string::npos || program.find('\t') != std::string::npos) {
        std::fprintf(stderr, "kelvarix-pack: the setup program's name must not contain spaces: %s\n", program.c_str());
        return EXIT_INPUT;
    }
    // It must be one of the files packed: the installer runs whatever lies at
    // that place, so a name leading out of the extraction folder is refused.
    std::string program_name;
    if (!program.empty() && !name_in_folder(program, program_name)) {
        std::fprintf(stderr, "kelvarix-pack: the setup program must lie inside %s: %s\n", folder.c_str(),
                     program.c_str());
        return EXIT_INPUT;
    }
    if (!archive_only) {
        if (stub.empty() && !find_stub(target, stub)) {
            std::fprintf(stderr,
                         "kelvarix-pack: no installer program for target %s beside kelvarix-pack; "
                         "give one with --stub PATH\n",
                         target.c_str());
            return EXIT_INPUT;
        }
        const std::string stub_path = resolved(stub), output_path = resolved(output);
        if (stub_path.empty() || output_path.empty()) {
            std::fprintf(stderr, "kelvarix-pack: cannot resolve the path of %s or %s\n", stub.c_str(), output.c_str());
            return EXIT_INPUT;
        }
        if (platform::path_within(stub_path.c_str(), output_path.c_str())) {
            std::fprintf(stderr, "kelvarix-pack: the installer cannot be written over its own stub %s\n",
                         stub.c_str());
            return EXIT_INPUT;
        }
        if (!stub_matches(stub, target)) {
            std::fprintf(stderr, "kelvarix-pack: %s is not a %s program\n", stub.c_str(), target.c_str());
            return EXIT_INPUT;
        }
    }

    std::vector<pack::TreeEntry> entries;
    std::vector<std::string> warnings;
    std::string error;
    bool listed = pack::list_tree(folder.c_str(), solid, program.empty() ? nullptr : "setup.spt", entries, error,
                                  follow_links, &warnings);
    for (const std::string& w : warnings) std::fprintf(stderr, "kelvarix-pack: warning: %s\n", printable(w).c_str());
    if (!listed) {
        std::fprintf(stderr, "kelvarix-pack: %s\n", printable(error).c_str());
        return EXIT_INPUT;
    }
    if (!program.empty()) {
        bool packed = false;
        for (const pack::TreeEntry& t : entries) packed = packed || (!t.is_folder && same_name(t.name, program_name));
        if (!packed) {
            std::fprintf(stderr, "kelvarix-pack: the setup program is not a file packed from %s: %s\n",
                         folder.c_str(), program.c_str());
            return EXIT_INPUT;
        }
    }
    // Nothing written may land in FOLDER or on an input (compared resolved,
    // so other spellings and links are caught).
    {
        const std::string root = resolved(folder), stub_path = archive_only ? std::string() : resolved(stub);
        // Inputs outside FOLDER: the stub and the targets of followed links.
        std::vector<const std::string*> outside;
        if (!stub_path.empty()) outside.push_back(&stub_path);
        for (const pack::TreeEntry& t : entries)
            if (platform::is_absolute_path(t.path.c_str()) && !platform::path_within(root.c_str(), t.path.c_str()))
                outside.push_back(&t.path);
        for (const std::string& name : output_names(output, archive_only, volume_size, entries)) {
            std::string path = resolved(name);
            if (path.empty()) {
                std::fprintf(stderr, "kelvarix-pack: cannot resolve the output path %s\n", name.c_str());
                return EXIT_INPUT;
            }
            bool clash = root.empty() || platform::path_within(root.c_str(), path.c_str());
            for (size_t i = 0; i < outside.size() && !clash; ++i)
                clash = platform::path_within(outside[i]->c_str(), path.c_str());
            if (clash) {
                std::fprintf(stderr, "kelvarix-pack: the output must not be inside %s or an input file: %s\n",
                             folder.c_str(), name.c_str());
                return EXIT_INPUT;
            }
        }
    }

    auto started = std::chrono::steady_clock::now();
    std::string member_name = name_of(output);
    {
        size_t dot = member_name.find_last_of('.');
        member_name = (dot == std::string::npos ? member_name : member_name.substr(0, dot)) + ".rar";
    }
    std::string first_volume = archive_only ? output : output + ".part";
    std::vector<std::string> created;

    pack::ArchiveWriter* writer = new pack::ArchiveWriter;
    pack::WriterOptions options{level, solid, volume_size, threads};
    pack::WriteResult r = pack::writer_open(*writer, first_volume.c_str(), output.c_str(), options);
    if (r != pack::WriteResult::ok) {
        std::fprintf(stderr, "kelvarix-pack: cannot create %s\n", first_volume.c_str());
        delete writer;
        return r == pack::WriteResult::bad_argument ? EXIT_USAGE : EXIT_WRITE;
    }
    created.push_back(first_volume);

    std::string script = "[Values]\r\nSetupFile=" + program + (parameters.empty() ? "" : " " + parameters) + "\r\n";
    if (!program.empty())
        r = pack::writer_add_file(*writer, "setup.spt", reinterpret_cast<const uint8_t*>(script.data()),
                                  script.size(), dos_time_now(), platform::ATTR_ARCHIVE);
    ProgressLine line;
    line.on = !quiet && platform::stderr_redraws();
    if (r == pack::WriteResult::ok) r = pack::pack_tree(*writer, entries, show_progress, &line, error);
    if (r == pack::WriteResult::ok) r = pack::writer_close(*writer);
    else pack::writer_abandon(*writer);
    if (line.on) std::fputs("\n", stderr);

    // Every volume written so far, for the clean-up after a failure.
    {
        char name[platform::MAX_PATH_CHARS + 1];
        std::snprintf(name, sizeof name, "%s", output.c_str());
        for (int i = 1; i < writer->volume_count && next_volume_name(name); ++i) created.push_back(name);
    }
    if (r != pack::WriteResult::ok) {
        std::fprintf(stderr, "kelvarix-pack: %s\n",
                     error.empty() ? (r == pack::WriteResult::volume_too_small ? "volume size too small"
                                                                                : "cannot write the archive")
                                   : error.c_str());
        remove_outputs(created);
        delete writer;
        return r == pack::WriteResult::bad_argument ? EXIT_INPUT : EXIT_WRITE;
    }

    if (!archive_only) {
        int64_t copied = append_file(stub.c_str(), output.c_str(), platform::FileOpen::read_write_always);
        int64_t offset = copied == 0 ? append_file(first_volume.c_str(), output.c_str(),
                                                   platform::FileOpen::read_write_append)
                                     : -1;
        if (copied != 0 || offset < 0 || offset > 0xFFFFFFFFll ||
            !write_bundle_directory(output, offset, member_name)) {
            std::fprintf(stderr, "kelvarix-pack: cannot write the installer %s\n", output.c_str());
            created.push_back(output);
            remove_outputs(created);
            delete writer;
            return EXIT_WRITE;
        }
        if (!platform::delete_file(first_volume.c_str()))
            std::fprintf(stderr, "kelvarix-pack: cannot remove %s\n", first_volume.c_str());
        // The installer is a program: let it be run (nothing to do on Windows).
        if (target == "linux" && !platform::make_executable(output.c_str()))
            std::fprintf(stderr, "kelvarix-pack: cannot mark %s as executable\n", output.c_str());
    }

    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (!quiet) {
        uint64_t in = writer->bytes_in, out = writer->bytes_out;
        std::fprintf(stderr, "%s: %llu files, %llu folders, %llu bytes -> %llu bytes (%.1f%%) in %.2f s\n",
                     output.c_str(), static_cast<unsigned long long>(writer->files - (program.empty() ? 0 : 1)),
                     static_cast<unsigned long long>(writer->folders), static_cast<unsigned long long>(in),
                     static_cast<unsigned long long>(out), in ? 100.0 * static_cast<double>(out) / in : 100.0,
                     seconds);
        if (writer->volume_count > 1) {
            char next[platform::MAX_PATH_CHARS + 1];
            std::snprintf(next, sizeof next, "%s", output.c_str());
            if (!next_volume_name(next)) next[0] = '\0';
            std::fprintf(stderr, "%d volumes: keep %s and the %d further ones (%s ...) together\n",
                         writer->volume_count, output.c_str(), writer->volume_count - 1, next);
        }
    }
    delete writer;
    return EXIT_OK;
}
