// Reading setup.spt and launching the product's setup program from the
// extraction folder, and the clean-up when that launch cannot be made.
#include "setup/setup_script.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "bundle/extraction_folder.h"
#include "platform/platform.h"
#include "platform/system_extra.h"
#include "platform/window.h"

namespace {

// The longest value line that can reach a setup program: Windows starts a
// program with at most 32767 characters of command line, program included.
// A longer line can never be launched, so nothing beyond it is kept.
constexpr size_t VALUE_LINE_LIMIT = 32767;
// The script is read through this many bytes at a time.
constexpr size_t READ_CHUNK = 65536;

bool is_ascii_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool ends_value(char c) { return c == '\n' || c == '\r'; }

// The search for the value of a key in a section, fed one character at a
// time, so a script is scanned once from the front without being held in
// memory. It keeps only the last characters it needs to recognise the header
// and the key (and the character before the key). The rules:
// - the section starts at the first occurrence of the header and ends at the
//   next character equal to the header's first one after that, or at the end;
// - the key is searched from right after the header; an occurrence right
//   after an ASCII letter or ';' is passed over (the search goes on behind
//   it); the first other occurrence decides, and must start inside the section;
// - after the key come optional spaces, '=', optional spaces: the value
//   starts at the next character (or at the end of the text).
class ValueSearch {
public:
    ValueSearch(const char* header, const char* key)
        : header_(header), key_(key), header_length_(std::strlen(header)), key_length_(std::strlen(key)) {
        recent_size_ = (header_length_ > key_length_ ? header_length_ : key_length_ + 1);
        recent_ = header_length_ && key_length_ ? static_cast<char*>(std::malloc(recent_size_)) : nullptr;
        if (recent_ == nullptr) phase_ = Phase::failed;
    }
    ~ValueSearch() { std::free(recent_); }
    ValueSearch(const ValueSearch&) = delete;
    ValueSearch& operator=(const ValueSearch&) = delete;

    // Takes the next character; true once the outcome is known (later
    // characters cannot change it).
    bool feed(char c);
    // Takes characters from data[0, count) until the outcome is known;
    // returns how many it took (the last one settled it when below count or
    // when settled() says so).
    size_t feed(const char* data, size_t count);
    bool settled() const { return phase_ == Phase::found || phase_ == Phase::failed; }
    // The text has ended: settles the outcome.
    void finish() {
        if (phase_ == Phase::after_equals) {
            value_at_ = seen_;
            phase_ = Phase::found;
        } else if (phase_ != Phase::found) {
            phase_ = Phase::failed;
        }
    }
    bool found() const { return phase_ == Phase::found; }
    // Position of the value's first character (the text's length for a value
    // that the end of the text cuts off before it starts).
    uint64_t value_at() const { return value_at_; }

private:
    enum class Phase { header, key, before_equals, after_equals, found, failed };
    static constexpr uint64_t NONE = UINT64_MAX;

    // The character back positions before the next one (1: the last seen);
    // back is at most recent_size_.
    char recent_back(size_t back) const {
        return recent_[next_ >= back ? next_ - back : next_ + recent_size_ - back];
    }
    // True when the last length characters seen spell needle.
    bool ends_with(const char* needle, size_t length) const {
        if (seen_ < length) return false;
        for (size_t i = 0; i < length; ++i)
            if (recent_back(length - i) != needle[i]) return false;
        return true;
    }

    const char* header_;
    const char* key_;
    size_t header_length_;
    size_t key_length_;
    char* recent_;  // the last recent_size_ characters, a ring
    size_t recent_size_ = 0;
    size_t next_ = 0;  // where the ring takes the next character
    Phase phase_ = Phase::header;
    uint64_t seen_ = 0;             // characters taken so far
    uint64_t key_from_ = 0;         // where the next occurrence of the key may start
    uint64_t section_end_ = NONE;   // position of the character that ends the section
    uint64_t value_at_ = 0;
};

bool ValueSearch::feed(char c) {
    const uint64_t at = seen_;
    switch (phase_) {
    case Phase::found:
    case Phase::failed: return true;
    case Phase::header:
    case Phase::key:
        recent_[next_] = c;
        if (++next_ == recent_size_) next_ = 0;
        break;
    default: break;
    }
    ++seen_;
    switch (phase_) {
    case Phase::header:
        if (c == header_[header_length_ - 1] && ends_with(header_, header_length_)) {
            // The header's own characters after its first may already end the section.
            const char* inner = std::strchr(header_ + 1, header_[0]);
            if (inner != nullptr) {
                phase_ = Phase::failed;
                return true;
            }
            key_from_ = seen_;
            phase_ = Phase::key;
        }
        return false;
    case Phase::key: {
        if (section_end_ == NONE && c == header_[0]) section_end_ = at;
        if (c == key_[key_length_ - 1] && seen_ >= key_length_ && seen_ - key_length_ >= key_from_ &&
            ends_with(key_, key_length_)) {
            const uint64_t key_at = seen_ - key_length_;
            const char before = recent_back(key_length_ + 1);  // the header precedes, so key_at > 0
            if (is_ascii_letter(before) || before == ';') {
                key_from_ = seen_;
            } else {
                phase_ = key_at < section_end_ ? Phase::before_equals : Phase::failed;
                return phase_ == Phase::failed;
            }
        }
        // Every occurrence still to come would start at or after the section's end.
        if (section_end_ != NONE && seen_ + 1 >= section_end_ + key_length_) {
            phase_ = Phase::failed;
            return true;
        }
        return false;
    }
    case Phase::before_equals:
        if (c == ' ') return false;
        phase_ = c == '=' ? Phase::after_equals : Phase::failed;
        return phase_ == Phase::failed;
    case Phase::after_equals:
        if (c == ' ') return false;
        value_at_ = at;
        phase_ = Phase::found;
        return true;
    default: return true;
    }
}

size_t ValueSearch::feed(const char* data, size_t count) {
    size_t at = 0;
    while (at < count && !settled()) {
        if (phase_ != Phase::header) {
            feed(data[at++]);
            continue;
        }
        // Until the header, only a character equal to its last one can end
        // an occurrence: jump to the next, keeping the ring's worth before it.
        const void* hit = std::memchr(data + at, header_[header_length_ - 1], count - at);
        const size_t stop = hit ? static_cast<size_t>(static_cast<const char*>(hit) - data) : count;
        if (stop - at > recent_size_) {
            seen_ += stop - recent_size_ - at;
            at = stop - recent_size_;
        }
        while (at < stop) feed(data[at++]);
        if (hit) feed(data[at++]);
    }
    return at;
}

// Appends piece to the buffer at *used (the buffer was sized for every piece).
void append(char* buffer, size_t* used, const char* piece) {
    const size_t n = std::strlen(piece);
    std::memcpy(buffer + *used, piece, n);
    *used += n;
    buffer[*used] = '\0';
}

// Reads the SetupFile line of the script into line (VALUE_LINE_LIMIT + 1
// bytes): the value from its first character to the line's end, terminated,
// its length in *line_length. The script is read only as far as the search
// and the line need. False when the script cannot be read, has no usable
// entry, or the line is too long.
bool read_value_line(const char* script_name, char* line, size_t* line_length) {
    platform::File* script = platform::file_open(script_name, platform::FileOpen::read, platform::FileShare::read_only);
    if (script == nullptr) return false;
    ValueSearch search("[Values]", "SetupFile");
    char chunk[READ_CHUNK];
    size_t got = 0;
    size_t next = 0;  // first character of the chunk not yet looked at
    bool settled = false;
    while (!settled) {
        got = platform::file_read(script, chunk, sizeof chunk);
        if (got == 0) break;
        next = search.feed(chunk, got);
        settled = search.settled();
    }
    bool ok = !platform::file_has_error(script);
    if (!settled) search.finish();
    ok = ok && search.found();
    // The value starts at the character the search stopped on, if any.
    if (ok && got > 0 && next > 0 && settled) --next;
    size_t length = 0;
    bool line_ended = !ok || got == 0;
    while (ok && !line_ended) {
        for (; next < got; ++next) {
            if (ends_value(chunk[next])) {
                line_ended = true;
                break;
            }
            if (length == VALUE_LINE_LIMIT) {
                ok = false;
                break;
            }
            line[length++] = chunk[next];
        }
        if (!ok || line_ended) break;
        got = platform::file_read(script, chunk, sizeof chunk);
        next = 0;
        if (got == 0) line_ended = true;
    }
    ok = ok && !platform::file_has_error(script);
    platform::file_close(script);
    line[length] = '\0';
    *line_length = length;
    return ok;
}

}  // namespace

size_t find_setup_value(const char* text, size_t length, const char* header, const char* key) {
    if (text == nullptr || header == nullptr || key == nullptr) return 0;
    ValueSearch search(header, key);
    search.feed(text, length);
    if (!search.settled()) search.finish();
    return search.found() ? static_cast<size_t>(search.value_at()) : 0;
}

bool run_setup_script(const char* script_name, const SetupPaths& paths) {
    char* line = static_cast<char*>(std::malloc(VALUE_LINE_LIMIT + 1));
    if (line == nullptr) return false;
    size_t line_length = 0;
    if (!read_value_line(script_name, line, &line_length)) {
        std::free(line);
        return false;
    }

    // Program: up to the first space; parameters: after the spaces that
    // follow, up to the line end, inner and trailing spaces kept.
    char* program_end = static_cast<char*>(std::memchr(line, ' ', line_length));
    const char* params = "";
    if (program_end != nullptr) {
        *program_end = '\0';
        params = program_end + 1;
        while (*params == ' ') ++params;
    }
    const char* program = line;

    const char* own_path = paths.own_path ? paths.own_path : "";
    const char* own_folder = paths.own_folder ? paths.own_folder : "";
    const char* extraction_folder = paths.extraction_folder ? paths.extraction_folder : "";

    const size_t capacity = std::strlen(params) + std::strlen(own_path) + std::strlen(own_folder) +
                            std::strlen(extraction_folder) + 4;
    char* parameters = static_cast<char*>(std::malloc(capacity));
    if (parameters == nullptr) {
        std::free(line);
        return false;
    }
    size_t used = 0;
    parameters[0] = '\0';
    append(parameters, &used, params);
    append(parameters, &used, " ");
    append(parameters, &used, own_path);
    append(parameters, &used, " ");
    append(parameters, &used, own_folder);
    append(parameters, &used, " ");
    append(parameters, &used, extraction_folder);

    // A program that is in the extraction folder is started by its full path
    // there: a bare name would let the system find a namesake first (beside
    // the installer, which may well be called setup.exe itself). Any other
    // name (a system program) goes to the system as it stands.
    char found[platform::MAX_PATH_CHARS + 1];
    if (program[0] != '\0' && platform::find_program_in(extraction_folder, program, found, sizeof found))
        program = found;

    bool launched = false;
    if (program[0] != '\0' && platform::set_current_directory(extraction_folder)) {
        launched = platform::shell_execute_open(platform::progress_window_handle(), program, parameters) > 32;
    }
    std::free(parameters);
    std::free(line);
    return launched;
}

void setup_failure_cleanup(const char* extraction_folder) {
    platform::message_box("Error 4! Can't execute setup script.", "ERROR", platform::MB_ICONERROR);
    remove_extraction_folder(extraction_folder);
}
