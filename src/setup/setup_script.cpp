// Reading setup.spt and launching the product's setup program from the
// extraction folder, and the clean-up when that launch cannot be made.
#include "setup/setup_script.h"

#include <cstdlib>
#include <cstring>

#include "bundle/extraction_folder.h"
#include "platform/platform.h"
#include "platform/window.h"

namespace {

// First position >= from where needle occurs within text[0, length), or
// length when it does not. Never reads at or past length.
size_t find_text(const char* text, size_t length, size_t from, const char* needle) {
    const size_t needle_length = std::strlen(needle);
    if (needle_length == 0 || needle_length > length) return length;
    for (size_t at = from; at + needle_length <= length; ++at) {
        if (std::memcmp(text + at, needle, needle_length) == 0) return at;
    }
    return length;
}

bool is_ascii_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool ends_value(char c) { return c == '\n' || c == '\r'; }

// Appends piece to the buffer at *used (the buffer was sized for every piece).
void append(char* buffer, size_t* used, const char* piece) {
    const size_t n = std::strlen(piece);
    std::memcpy(buffer + *used, piece, n);
    *used += n;
    buffer[*used] = '\0';
}

}  // namespace

size_t find_setup_value(const char* text, size_t length, const char* header, const char* key) {
    if (text == nullptr || header == nullptr || key == nullptr || header[0] == '\0' || key[0] == '\0') return 0;

    const size_t header_at = find_text(text, length, 0, header);
    if (header_at == length) return 0;

    // The section runs to the next character equal to the header's opening one.
    size_t section_end = header_at + 1;
    while (section_end < length && text[section_end] != header[0]) ++section_end;

    const size_t key_length = std::strlen(key);
    // An occurrence glued to a letter is part of a longer word; one right
    // after ';' is a line that was switched off. Both are passed over.
    size_t key_at = find_text(text, length, header_at + std::strlen(header), key);
    while (key_at < length) {
        const char before = text[key_at - 1];  // the header precedes, so key_at > 0
        if (!is_ascii_letter(before) && before != ';') break;
        key_at = find_text(text, length, key_at + key_length, key);
    }
    if (key_at >= section_end) return 0;  // none at all, or only beyond the section

    size_t at = key_at + key_length;
    while (at < length && text[at] == ' ') ++at;
    if (at >= length || text[at] != '=') return 0;
    ++at;
    while (at < length && text[at] == ' ') ++at;
    return at;
}

bool run_setup_script(const char* script_name, const SetupPaths& paths) {
    platform::File* script = platform::file_open(script_name, platform::FileOpen::read, platform::FileShare::read_only);
    if (script == nullptr) return false;
    const int64_t size = platform::file_size(script);
    if (size <= 0 || static_cast<uint64_t>(size) >= SIZE_MAX / 2) {
        platform::file_close(script);
        return false;
    }
    const size_t length = static_cast<size_t>(size);
    // One byte more than the content: a terminator one past the end.
    char* text = static_cast<char*>(std::malloc(length + 1));
    if (text == nullptr) {
        platform::file_close(script);
        return false;
    }
    const size_t got = platform::file_read(script, text, length);
    platform::file_close(script);
    text[length] = '\0';
    if (got != length) {
        std::free(text);
        return false;
    }

    const size_t value_at = find_setup_value(text, length, "[Values]", "SetupFile");
    if (value_at == 0) {
        std::free(text);
        return false;
    }

    // Program: up to the first space or line end; parameters: after the
    // spaces that follow, up to the line end, inner and trailing spaces kept.
    size_t program_end = value_at;
    while (program_end < length && text[program_end] != ' ' && !ends_value(text[program_end])) ++program_end;
    size_t params_at = program_end;
    while (params_at < length && text[params_at] == ' ') ++params_at;
    size_t params_end = params_at;
    while (params_end < length && !ends_value(text[params_end])) ++params_end;
    text[program_end] = '\0';
    text[params_end] = '\0';
    const char* program = text + value_at;
    const char* params = params_at < params_end ? text + params_at : "";

    const char* own_path = paths.own_path ? paths.own_path : "";
    const char* own_folder = paths.own_folder ? paths.own_folder : "";
    const char* extraction_folder = paths.extraction_folder ? paths.extraction_folder : "";

    const size_t capacity = std::strlen(params) + std::strlen(own_path) + std::strlen(own_folder) +
                            std::strlen(extraction_folder) + 4;
    char* parameters = static_cast<char*>(std::malloc(capacity));
    if (parameters == nullptr) {
        std::free(text);
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

    bool launched = false;
    if (program[0] != '\0' && platform::set_current_directory(extraction_folder)) {
        launched = platform::shell_execute_open(platform::progress_window_handle(), program, parameters) > 32;
    }
    std::free(parameters);
    std::free(text);
    return launched;
}

void setup_failure_cleanup(const char* extraction_folder) {
    platform::message_box("Error 4! Can't execute setup script.", "ERROR", platform::MB_ICONERROR);
    remove_extraction_folder(extraction_folder);
}
