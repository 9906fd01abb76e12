// kelvarix-pack: builds an installer in one step. It packs a folder into an
// archive (with a setup.spt naming the product's setup program), and appends
// that archive behind an installer stub with the bundle directory, exactly as
// "kelvarix1 OUT -i archive.rar" would. Volume sets put the first volume into
// the installer and the further ones beside it (OUT.r00, OUT.r01 ...). A
// Windows installer can be signed with osslsigncode as the last step.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
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
constexpr char VERSION[] = "1.1";

void print_usage(FILE* out) {
    std::fputs(
        "Usage: kelvarix-pack [options] [--] FOLDER SETUP_PROGRAM [PARAMETERS...]\n"
        "Packs FOLDER into an installer that extracts it and runs SETUP_PROGRAM\n"
        "(a path relative to FOLDER, without spaces) with PARAMETERS. Options go\n"
        "before FOLDER; everything after SETUP_PROGRAM is passed to it as it is.\n"
        "An option's value may follow as the next word, after '=' (--level=5) or,\n"
        "for -o, glued to it (-oOUT); '--' ends the options.\n"
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
        "                          (default: one per processor, at most 8; at most\n"
        "                          3 work at once, 2 at level 5, which keeps memory\n"
        "                          under 64 MiB; the archive is the same whatever\n"
        "                          the number)\n"
        "  --volume-size N[k|m]    split into volumes of at most N bytes; the first\n"
        "                          goes into the installer, the others beside it as\n"
        "                          OUT.r00, OUT.r01 ... (copy them along)\n"
        "  --archive               write only the archive to OUT (no installer);\n"
        "                          SETUP_PROGRAM may then be left out (no setup.spt)\n"
        "  --follow-links          pack links to files outside FOLDER as copies of\n"
        "                          their targets, skip links that lead nowhere\n"
        "                          (without it both are refused)\n"
        "  --sign-cert FILE, --sign-key FILE\n"
        "                          sign the Windows installer (Authenticode) with\n"
        "                          this certificate (PEM or DER) and its private key,\n"
        "                          by running osslsigncode\n"
        "  -q, --quiet             no progress and no summary\n"
        "  -h, --help              this text\n"
        "  --version               the version of kelvarix-pack\n"
        "\n"
        "Only what lies in FOLDER is packed: links to files inside it become copies,\n"
        "links to folders and anything but files and folders (FIFOs, devices) are\n"
        "skipped with a warning. The output must not be inside FOLDER or an input.\n"
        "\n"
        "Exit codes: 0 done, 1 usage error, 2 input error, 3 write or signing error.\n",
        out);
}

int usage_error(const char* message, const char* detail = "") {
    std::fprintf(stderr, "kelvarix-pack: %s%s\nTry 'kelvarix-pack --help'.\n", message, detail);
    return EXIT_USAGE;
}

// ": " and the system's reason for the latest failure, or "" when it gave none.
std::string reason() {
    char text[256];
    return platform::system_error_text(text, sizeof text) ? std::string(": ") + text : std::string();
}

// The options that take a value, and those that take none.
const char* const VALUE_OPTIONS[] = {"-o", "--output", "--target", "--stub", "--level", "--volume-size",
                                     "--threads", "--sign-cert", "--sign-key"};
const char* const FLAG_OPTIONS[] = {"-h", "--help", "--version", "--solid", "--archive", "--follow-links",
                                    "-q", "--quiet"};

bool is_one_of(const std::string& word, const char* const* names, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (word == names[i]) return true;
    return false;
}

// True for a word after SETUP_PROGRAM that most likely was meant as one of
// our options: "-o", "-oOUT", "--level=5", "--solid" ... (not -q and -h,
// which setup programs commonly take themselves).
bool looks_like_option(const std::string& word) {
    if (word.compare(0, 2, "-o") == 0) return word.size() == 2 || word[2] != '-';
    const std::string name = word.substr(0, word.find('='));
    return name.compare(0, 2, "--") == 0 && (is_one_of(name, VALUE_OPTIONS, std::size(VALUE_OPTIONS)) ||
                                             is_one_of(word, FLAG_OPTIONS, std::size(FLAG_OPTIONS)));
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
// as OUT.part, and the signed installer as OUT.signed) and, for a volume set, the further volumes' names up to a bound
// no volume set of this tree can exceed.
std::vector<std::string> output_names(const std::string& output, bool archive_only, bool signing,
                                      uint64_t volume_size, const std::vector<pack::TreeEntry>& entries) {
    std::vector<std::string> names{output};
    if (!archive_only) names.push_back(output + ".part");
    if (signing) names.push_back(output + ".signed");
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

// Reads the first bytes of a file into head (the rest zeros); false with the
// system's reason in why when it cannot be opened.
bool read_head(const std::string& path, unsigned char (&head)[4], std::string& why) {
    std::memset(head, 0, sizeof head);
    platform::clear_system_error();
    platform::File* f = platform::file_open(path.c_str(), platform::FileOpen::read);
    if (!f) {
        why = reason();
        return false;
    }
    (void)platform::file_read(f, head, sizeof head);  // a shorter file leaves zeros: no program's head
    platform::file_close(f);
    return true;
}

bool is_elf(const unsigned char (&head)[4]) { return std::memcmp(head, "\x7F" "ELF", 4) == 0; }

// Checks that the stub is a program of the target's kind.
bool stub_matches(const unsigned char (&head)[4], const std::string& target) {
    if (target == "linux") return is_elf(head);
    return head[0] == 'M' && head[1] == 'Z';
}

// Why the installer could not start the setup program on the target, or ""
// when it can. Linux runs ELF programs and scripts with a "#!" line (the
// installer gives them the execute bit); Windows opens other kinds of files
// with whatever program their type is associated with, if any.
std::string cannot_run_reason(const std::string& target, const std::string& name, const unsigned char (&head)[4]) {
    if (target == "linux")
        return is_elf(head) || (head[0] == '#' && head[1] == '!') ? ""
                                                                     : "it is neither an ELF program nor a script "
                                                                       "starting with #!";
    size_t dot = name.find_last_of('.');
    std::string extension = dot == std::string::npos ? "" : name.substr(dot);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    for (const char* runnable : {".exe", ".com", ".bat", ".cmd", ".msi"})
        if (extension == runnable) return "";
    return "Windows runs only .exe, .com, .bat, .cmd and .msi files as programs";
}

// Signs the installer with osslsigncode: writes the signed copy to signed_path
// and puts it in place of installer. False with a message on standard error.
bool sign_installer(const std::string& installer, const std::string& signed_path, const std::string& cert,
                    const std::string& key) {
    const char* argv[] = {"osslsigncode", "sign", "-certs", cert.c_str(), "-key", key.c_str(), "-h", "sha256",
                          "-in", installer.c_str(), "-out", signed_path.c_str(), nullptr};
    platform::clear_system_error();
    int status = platform::run_program_and_wait(argv);
    if (status != 0) {
        if (status < 0)
            std::fprintf(stderr, "kelvarix-pack: cannot run osslsigncode%s (it signs the installer; Debian package osslsigncode)\n",
                         reason().c_str());
        else
            std::fprintf(stderr, "kelvarix-pack: osslsigncode could not sign %s (exit code %d)\n", installer.c_str(),
                         status);
        return false;
    }
    platform::clear_system_error();
    if (!platform::replace_file(signed_path.c_str(), installer.c_str())) {
        std::fprintf(stderr, "kelvarix-pack: cannot put the signed installer in place of %s%s\n", installer.c_str(),
                     reason().c_str());
        return false;
    }
    return true;
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
    std::string output, target, stub, sign_cert, sign_key;
    int level = 3;
    bool solid = false, archive_only = false, quiet = false, follow_links = false, options_ended = false;
    uint64_t volume_size = 0;
    int threads = static_cast<int>(std::min(8u, std::max(1u, std::thread::hardware_concurrency())));
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (!positional.empty()) {
            // Parameters of the setup program, passed as they are. A word that
            // looks like one of our options most likely was meant as one.
            if (positional.size() >= 2 && looks_like_option(a))
                std::fprintf(stderr,
                             "kelvarix-pack: warning: '%s' follows SETUP_PROGRAM, so it is passed to %s as a "
                             "parameter; kelvarix-pack's options go before FOLDER\n",
                             printable(a).c_str(), printable(positional[1]).c_str());
            positional.push_back(a);
            continue;
        }
        if (options_ended || a.size() < 2 || a[0] != '-') {
            positional.push_back(a);
            continue;
        }
        if (a == "--") {
            options_ended = true;
            continue;
        }
        // "--name=value" and "-oVALUE" carry their value in the same word.
        std::string name = a;
        const char* inline_value = nullptr;
        if (a.compare(0, 2, "--") == 0 && a.find('=') != std::string::npos) {
            name = a.substr(0, a.find('='));
            inline_value = argv[i] + name.size() + 1;
        } else if (a.compare(0, 2, "-o") == 0 && a.size() > 2) {
            name = "-o";
            inline_value = argv[i] + 2;
        }
        const bool takes_value = is_one_of(name, VALUE_OPTIONS, std::size(VALUE_OPTIONS));
        if (!takes_value && !is_one_of(name, FLAG_OPTIONS, std::size(FLAG_OPTIONS)))
            return usage_error("unknown option ", a.c_str());
        if (!takes_value && inline_value) return usage_error("this option takes no value: ", a.c_str());
        const char* v = inline_value ? inline_value : takes_value && i + 1 < argc ? argv[++i] : nullptr;
        if (name == "-h" || name == "--help") {
            print_usage(stdout);
            return EXIT_OK;
        } else if (name == "--version") {
            std::printf("kelvarix-pack %s\n", VERSION);
            return EXIT_OK;
        } else if (name == "-o" || name == "--output") {
            if (!v || !*v) return usage_error("missing value for ", name.c_str());
            output = v;
        } else if (name == "--target") {
            if (!v) return usage_error("missing value for --target");
            target = v;
            if (target != "win32" && target != "win64" && target != "linux")
                return usage_error("unknown target (win32, win64 or linux): ", v);
        } else if (name == "--stub") {
            if (!v || !*v) return usage_error("missing value for --stub");
            stub = v;
        } else if (name == "--level") {
            if (!v || std::strlen(v) != 1 || v[0] < '0' || v[0] > '5')
                return usage_error("--level takes a number from 0 to 5");
            level = v[0] - '0';
        } else if (name == "--solid") {
            solid = true;
        } else if (name == "--threads") {
            if (!v || std::strlen(v) != 1 || v[0] < '1' || v[0] > '8')
                return usage_error("--threads takes a number from 1 to 8");
            threads = v[0] - '0';
        } else if (name == "--volume-size") {
            if (!v || !parse_size(v, &volume_size))
                return usage_error("--volume-size takes a size such as 1440k or 100m");
            if (volume_size < pack::MIN_VOLUME_SIZE) return usage_error("--volume-size must be at least 512 bytes");
        } else if (name == "--sign-cert" || name == "--sign-key") {
            if (!v || !*v) return usage_error("missing value for ", name.c_str());
            (name == "--sign-cert" ? sign_cert : sign_key) = v;
        } else if (name == "--archive") {
            archive_only = true;
        } else if (name == "--follow-links") {
            follow_links = true;
        } else if (name == "-q" || name == "--quiet") {
            quiet = true;
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
    const bool signing = !sign_cert.empty() || !sign_key.empty();
    if (signing && (sign_cert.empty() || sign_key.empty()))
        return usage_error("signing needs both --sign-cert and --sign-key");
    if (signing && (archive_only || target == "linux"))
        return usage_error("only a Windows installer can be signed (--target win32 or win64)");

    uint32_t folder_attributes = 0;
    platform::clear_system_error();
    if (!platform::get_attributes(folder.c_str(), &folder_attributes) ||
        !(folder_attributes & platform::ATTR_DIRECTORY)) {
        std::fprintf(stderr, "kelvarix-pack: not a folder: %s%s\n", folder.c_str(), reason().c_str());
        return EXIT_INPUT;
    }
    for (const std::string* file : {&sign_cert, &sign_key}) {
        unsigned char head[4];
        std::string why;
        if (!file->empty() && !read_head(*file, head, why)) {
            std::fprintf(stderr, "kelvarix-pack: cannot read %s%s\n", file->c_str(), why.c_str());
            return EXIT_INPUT;
        }
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
        unsigned char head[4];
        std::string why;
        if (!read_head(stub, head, why)) {
            std::fprintf(stderr, "kelvarix-pack: cannot read the installer program %s%s\n", stub.c_str(), why.c_str());
            return EXIT_INPUT;
        }
        if (!stub_matches(head, target)) {
            std::fprintf(stderr, "kelvarix-pack: %s is not a %s program\n", stub.c_str(), target.c_str());
            return EXIT_INPUT;
        }
    }

    // Windows installers read names in the ANSI code page: names given here
    // in UTF-8 (Linux) are stored in Windows-1251. A Windows build already
    // reads them in its own code page.
    const bool cp1251_names = target != "linux" && platform::path_separator() == '/';
    std::string script_program = program;
    if (cp1251_names && !program.empty()) {
        char converted[platform::MAX_PATH_CHARS + 1];
        if (!platform::utf8_to_cp1251(program.c_str(), converted, sizeof converted) ||
            !platform::utf8_to_cp1251(program_name.c_str(), converted, sizeof converted)) {
            std::fprintf(stderr, "kelvarix-pack: the setup program's name has no Windows-1251 form: %s\n",
                         printable(program).c_str());
            return EXIT_INPUT;
        }
        program_name = converted;
        (void)platform::utf8_to_cp1251(program.c_str(), converted, sizeof converted);
        script_program = converted;
    }
    std::vector<pack::TreeEntry> entries;
    std::vector<std::string> warnings;
    std::string error;
    bool listed = pack::list_tree(folder.c_str(), solid, program.empty() ? nullptr : "setup.spt", entries, error,
                                  follow_links, &warnings, cp1251_names);
    for (const std::string& w : warnings) std::fprintf(stderr, "kelvarix-pack: warning: %s\n", printable(w).c_str());
    if (!listed) {
        std::fprintf(stderr, "kelvarix-pack: %s\n", printable(error).c_str());
        return EXIT_INPUT;
    }
    if (!program.empty()) {
        const pack::TreeEntry* packed = nullptr;
        for (const pack::TreeEntry& t : entries)
            if (!packed && !t.is_folder && same_name(t.name, program_name)) packed = &t;
        if (!packed) {
            std::fprintf(stderr, "kelvarix-pack: the setup program is not a file packed from %s: %s\n",
                         folder.c_str(), program.c_str());
            return EXIT_INPUT;
        }
        unsigned char head[4];
        std::string why, cannot_run;
        if (read_head(packed->path, head, why)) cannot_run = cannot_run_reason(target, program_name, head);
        if (!cannot_run.empty())
            std::fprintf(stderr, "kelvarix-pack: warning: the installer cannot run the setup program %s on %s: %s\n",
                         printable(program).c_str(), target == "linux" ? "Linux" : "Windows", cannot_run.c_str());
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
        for (const std::string& name : output_names(output, archive_only, signing, volume_size, entries)) {
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
    // Linux installers keep the files' permission bits (Unix-host entries).
    pack::WriterOptions options{level, solid, volume_size, threads, target == "linux"};
    platform::clear_system_error();
    pack::WriteResult r = pack::writer_open(*writer, first_volume.c_str(), output.c_str(), options);
    if (r != pack::WriteResult::ok) {
        std::fprintf(stderr, "kelvarix-pack: cannot create %s%s\n", first_volume.c_str(), reason().c_str());
        delete writer;
        return r == pack::WriteResult::bad_argument ? EXIT_USAGE : EXIT_WRITE;
    }
    created.push_back(first_volume);

    std::string script =
        "[Values]\r\nSetupFile=" + script_program + (parameters.empty() ? "" : " " + parameters) + "\r\n";
    if (!program.empty())
        r = pack::writer_add_file(*writer, "setup.spt", reinterpret_cast<const uint8_t*>(script.data()),
                                  script.size(), dos_time_now(), options.unix_host ? 0644 : platform::ATTR_ARCHIVE);
    ProgressLine line;
    line.on = !quiet && platform::stderr_redraws();
    if (r == pack::WriteResult::ok) r = pack::pack_tree(*writer, entries, show_progress, &line, error);
    platform::clear_system_error();
    if (r == pack::WriteResult::ok) r = pack::writer_close(*writer);
    else pack::writer_abandon(*writer);
    if (r != pack::WriteResult::ok && error.empty() && r != pack::WriteResult::volume_too_small)
        error = "cannot write the archive" + reason();
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
        platform::clear_system_error();
        int64_t copied = append_file(stub.c_str(), output.c_str(), platform::FileOpen::read_write_always);
        int64_t offset = copied == 0 ? append_file(first_volume.c_str(), output.c_str(),
                                                   platform::FileOpen::read_write_append)
                                     : -1;
        if (copied != 0 || offset < 0 || offset > 0xFFFFFFFFll ||
            !write_bundle_directory(output, offset, member_name)) {
            std::fprintf(stderr, "kelvarix-pack: cannot write the installer %s%s\n", output.c_str(), reason().c_str());
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
        if (signing && !sign_installer(output, output + ".signed", sign_cert, sign_key)) {
            created.push_back(output);
            created.push_back(output + ".signed");
            remove_outputs(created);
            delete writer;
            return EXIT_WRITE;
        }
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
