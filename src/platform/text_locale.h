// The language of what the Linux side prints. The program's texts are
// Windows-1251 and partly Russian (as the Windows build shows them); on Linux
// they are shown in Russian under a Russian locale and in English otherwise.
// The core never asks for a language: the Linux side maps the texts it is
// given, and Windows shows them exactly as they are.
#pragma once

namespace platform {

enum class MessageLanguage { russian, english };

// Russian when the first of LC_ALL, LC_MESSAGES and LANG that is set and not
// empty starts with "ru"; English otherwise. Any argument may be null.
MessageLanguage message_language_of(const char* lc_all, const char* lc_messages, const char* lang);
// The same for the process's environment.
MessageLanguage message_language();

// The English form of one of the program's Russian texts (Windows-1251, as
// the core and the shell pass them), or null when text is none of them.
const char* english_text(const char* text_cp1251);

// What to show for text in language: a known Russian text in English when
// the language is English; any other text, and every text under Russian, as
// it is.
const char* localized_text(const char* text_cp1251, MessageLanguage language);

// A text the Linux side writes by itself, in both languages (Windows-1251).
struct LocalText {
    const char* russian;
    const char* english;
    const char* in(MessageLanguage language) const { return language == MessageLanguage::russian ? russian : english; }
};

// The question prompts and the other texts of the Linux side.
inline constexpr LocalText PROMPT_OK_CANCEL = {"[Enter/o: \xCE\xCA, c: \xCE\xF2\xEC\xE5\xED\xE0] ",
                                               "[Enter/o: OK, c: Cancel] "};
inline constexpr LocalText TEXT_NO_TERMINAL = {
    "(\xEE\xF2\xE2\xE5\xF2\xE8\xF2\xFC \xED\xE5\xEA\xEE\xEC\xF3, \xED\xE5\xF2 \xF2\xE5\xF0\xEC\xE8\xED\xE0\xEB\xE0: "
    "\xCE\xF2\xEC\xE5\xED\xE0)",
    "(no terminal to answer: Cancel)"};
inline constexpr LocalText PROMPT_FOLDER = {
    " (\xE2\xE2\xE5\xE4\xE8\xF2\xE5 \xEF\xF3\xF2\xFC \xEA \xEF\xE0\xEF\xEA\xE5 \xE8 \xED\xE0\xE6\xEC\xE8\xF2\xE5 "
    "Enter; \xEF\xF3\xF1\xF2\xE0\xFF \xF1\xF2\xF0\xEE\xEA\xE0 \x97 \xEE\xF2\xEA\xE0\xE7): ",
    " (type a folder's path and press Enter; an empty line gives up): "};
inline constexpr LocalText TEXT_NOT_A_FOLDER = {"\xDD\xF2\xEE \xED\xE5 \xEF\xE0\xEF\xEA\xE0.", "Not a folder."};
inline constexpr LocalText TEXT_PATH_TOO_LONG = {"\xD1\xEB\xE8\xF8\xEA\xEE\xEC \xE4\xEB\xE8\xED\xED\xFB\xE9 \xEF\xF3\xF2\xFC.",
                                                 "Path too long."};
// printf formats: the bytes needed, then the same in whole megabytes (rounded up).
inline constexpr LocalText TEXT_NO_ROOM = {
    "\xCD\xE8 \xE2 \xEE\xE4\xED\xEE\xE9 \xE2\xF0\xE5\xEC\xE5\xED\xED\xEE\xE9 \xEF\xE0\xEF\xEA\xE5 \xED\xE5\xF2 "
    "\xEC\xE5\xF1\xF2\xE0 \xE4\xEB\xFF \xF3\xF1\xF2\xE0\xED\xEE\xE2\xEA\xE8: \xED\xF3\xE6\xED\xEE %llu "
    "\xE1\xE0\xE9\xF2 (%llu \xCC\xC1) \xF1\xE2\xEE\xE1\xEE\xE4\xED\xEE\xE3\xEE \xEC\xE5\xF1\xF2\xE0 \xED\xE0 "
    "\xE6\xE5\xF1\xF2\xEA\xEE\xEC \xE4\xE8\xF1\xEA\xE5. \xCC\xE5\xF1\xF2\xEE \xE2\xFB\xE1\xE8\xF0\xE0\xE5\xF2 "
    "\xEF\xE5\xF0\xE5\xEC\xE5\xED\xED\xE0\xFF TMPDIR, \xED\xE0\xEF\xF0\xE8\xEC\xE5\xF0: TMPDIR=/path/with/room",
    "No temporary folder has room for the installation: it needs %llu bytes (%llu MB) free on a fixed drive. "
    "The TMPDIR variable chooses the place, for example: TMPDIR=/path/with/room"};

}  // namespace platform
