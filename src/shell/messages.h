// Every text the shell shows, in Windows-1251 (the Russian ones as escapes of
// their cp1251 bytes).
#pragma once

// Captions.
inline constexpr char CAPTION_ERROR[] = "ERROR";
inline constexpr char CAPTION_HELP[] = "HELP";
inline constexpr char CAPTION_ERROR_RU[] = "\xCE\xF8\xE8\xE1\xEA\xE0";  // "Ошибка"

// Boxes of the entry and the modes.
inline constexpr char TEXT_BAD_COMMAND_LINE[] = "Error 1 in split parameters. Can't Distribute.";
inline constexpr char TEXT_MODE_FAILED[] = "Error 2. Can't Distribute.";

// "Ошибка 5.Нарушена целостность установочного комплекта! " / "По всем вопросам
// обращайтесь: " / the maker's contact lines.
inline constexpr char TEXT_INTEGRITY_ERROR[] =
    "\xCE\xF8\xE8\xE1\xEA\xE0 5.\xCD\xE0\xF0\xF3\xF8\xE5\xED\xE0 \xF6\xE5\xEB\xEE\xF1\xF2\xED\xEE\xF1\xF2\xFC "
    "\xF3\xF1\xF2\xE0\xED\xEE\xE2\xEE\xF7\xED\xEE\xE3\xEE \xEA\xEE\xEC\xEF\xEB\xE5\xEA\xF2\xE0! \n"
    "\xCF\xEE \xE2\xF1\xE5\xEC \xE2\xEE\xEF\xF0\xEE\xF1\xE0\xEC \xEE\xE1\xF0\xE0\xF9\xE0\xE9\xF2\xE5\xF1\xFC: \n"
    "Orvanta Software, \xF1\xEB\xF3\xE6\xE1\xE0 \xEF\xEE\xE4\xE4\xE5\xF0\xE6\xEA\xE8 (support)\n"
    "support@orvanta.example";

// Window captions: "Идет упаковка..." while packing, the product name otherwise.
inline constexpr char CAPTION_PACKING[] = "\xC8\xE4\xE5\xF2 \xF3\xEF\xE0\xEA\xEE\xE2\xEA\xE0...";
inline constexpr char CAPTION_UNPACKING[] = "Orvanta Installer (unpacking...)";

inline constexpr char HELP_TEXT[] =
    "Version 'General'\n"
    "Command line:\n"
    "kelvarix1.exe arch_name [-Key] [file1[,file2...]]\n"
    "to install simply type: arch_name.exe\n"
    "Keys\n"
    " -i add files to archive\n"
    "-e extract files from archive\n"
    "\n"
    "e.g. c:\\kelvarix1.exe arch_name -e (to extract files from arch_name)";
