// Text conversion for what the user reads: the program's texts are
// Windows-1251 bytes; terminals want UTF-8 and Windows' wide calls UTF-16.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Code points of the bytes 0x80..0xFF (generated table; 0xFFFD where unassigned).
extern const uint16_t CP1251_HIGH_TO_UNICODE[128];

// Unicode code point of one Windows-1251 byte.
inline uint32_t cp1251_code_point(unsigned char byte) {
    return byte < 0x80 ? byte : CP1251_HIGH_TO_UNICODE[byte - 0x80];
}

// Converts the terminated Windows-1251 text into UTF-8 in out (always
// terminated when out_size > 0). Stops before a character that would not fit
// whole. Returns the number of bytes written, terminator excluded.
size_t cp1251_to_utf8(const char* text, char* out, size_t out_size);

// Converts into UTF-16 in out (always terminated when out_count > 0); every
// Windows-1251 character is one UTF-16 unit. Returns the units written,
// terminator excluded.
size_t cp1251_to_utf16(const char* text, char16_t* out, size_t out_count);

// Converts the terminated UTF-8 text into Windows-1251 in out (terminated).
// False, with out empty, when the text is not UTF-8, holds a character that
// Windows-1251 has no byte for, or does not fit whole.
bool utf8_to_cp1251(const char* text, char* out, size_t out_size);

// Number of UTF-8 bytes the text needs, terminator excluded.
size_t cp1251_utf8_length(const char* text);

enum class TextCoding { utf8, bytes };

// Makes text safe to print on a terminal: every control character becomes
// '?', so that escape sequences and carriage returns in names (stored names,
// volume paths) cannot act on the terminal. Controls are the bytes 0x00-0x1F
// and 0x7F; in UTF-8 text also the C1 controls U+0080-U+009F (C2 80 to
// C2 9F, one '?' each), which UTF-8 terminals act on as well, and the bytes
// 0x80-0x9F outside a valid sequence. Text of single bytes (Windows-1251)
// keeps 0x80-0x9F, which are letters there. keep_line_breaks leaves '\n' (the
// program's own message texts break lines). Works in place, the text never
// grows; returns its new length.
size_t mask_control_chars(char* text, TextCoding coding, bool keep_line_breaks = false);

// True when the terminated text is well-formed UTF-8 (ASCII included).
bool is_utf8(const char* text);

// Terminal columns of length bytes of UTF-8 text: one per character.
size_t utf8_columns(const char* text, size_t length);

// Fits UTF-8 text into columns terminal columns (one per character): text
// that fits is copied whole; longer text keeps its tail behind "...", cut
// only between characters, so the result never holds part of a character.
// out is always terminated when out_size > 0 (a tail that would not fit out
// is shortened further). Returns the bytes written, terminator excluded.
size_t fit_utf8_tail(const char* text, size_t columns, char* out, size_t out_size);

}  // namespace platform
