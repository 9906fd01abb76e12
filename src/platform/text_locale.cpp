// Which language the Linux side prints in, and the English forms of the
// program's Russian texts, keyed by their Windows-1251 bytes.
#include "platform/text_locale.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace platform {

namespace {

struct Translation {
    const char* russian;  // the text exactly as the program passes it
    const char* english;
};

const Translation translations[] = {
    // "Ошибка"
    {"\xCE\xF8\xE8\xE1\xEA\xE0", "Error"},
    // "Предупреждение"
    {"\xCF\xF0\xE5\xE4\xF3\xEF\xF0\xE5\xE6\xE4\xE5\xED\xE8\xE5", "Warning"},
    // "Ошибка 5.Нарушена целостность установочного комплекта! ..." with the contact lines
    {"\xCE\xF8\xE8\xE1\xEA\xE0 5.\xCD\xE0\xF0\xF3\xF8\xE5\xED\xE0 \xF6\xE5\xEB\xEE\xF1\xF2\xED\xEE\xF1\xF2\xFC "
     "\xF3\xF1\xF2\xE0\xED\xEE\xE2\xEE\xF7\xED\xEE\xE3\xEE \xEA\xEE\xEC\xEF\xEB\xE5\xEA\xF2\xE0! \n"
     "\xCF\xEE \xE2\xF1\xE5\xEC \xE2\xEE\xEF\xF0\xEE\xF1\xE0\xEC \xEE\xE1\xF0\xE0\xF9\xE0\xE9\xF2\xE5\xF1\xFC: \n"
     "Orvanta Software, \xF1\xEB\xF3\xE6\xE1\xE0 \xEF\xEE\xE4\xE4\xE5\xF0\xE6\xEA\xE8 (support)\n"
     "support@orvanta.example",
     "Error 5. The installation set is damaged!\n"
     "For any questions contact:\n"
     "Orvanta Software, support\n"
     "support@orvanta.example"},
    // "Идет упаковка..."
    {"\xC8\xE4\xE5\xF2 \xF3\xEF\xE0\xEA\xEE\xE2\xEA\xE0...", "Packing..."},
    // "Укажите временный дирректорий"
    {"\xD3\xEA\xE0\xE6\xE8\xF2\xE5 \xE2\xF0\xE5\xEC\xE5\xED\xED\xFB\xE9 "
     "\xE4\xE8\xF0\xF0\xE5\xEA\xF2\xEE\xF0\xE8\xE9",
     "Choose a temporary folder"},
    // "Установка будет прекращена !"
    {"\xD3\xF1\xF2\xE0\xED\xEE\xE2\xEA\xE0 \xE1\xF3\xE4\xE5\xF2 \xEF\xF0\xE5\xEA\xF0\xE0\xF9\xE5\xED\xE0 !",
     "The installation will be stopped!"},
    // "Не могу найти следующий файл архива !"
    {"\xCD\xE5 \xEC\xEE\xE3\xF3 \xED\xE0\xE9\xF2\xE8 \xF1\xEB\xE5\xE4\xF3\xFE\xF9\xE8\xE9 \xF4\xE0\xE9\xEB "
     "\xE0\xF0\xF5\xE8\xE2\xE0 !",
     "Cannot find the next archive file!"},
    // "Плохой архив !"
    {"\xCF\xEB\xEE\xF5\xEE\xE9 \xE0\xF0\xF5\xE8\xE2 !", "Bad archive!"},
    // "Вставьте следующий диск"
    {"\xC2\xF1\xF2\xE0\xE2\xFC\xF2\xE5 \xF1\xEB\xE5\xE4\xF3\xFE\xF9\xE8\xE9 \xE4\xE8\xF1\xEA", "Insert the next disk"},
};

}  // namespace

MessageLanguage message_language_of(const char* lc_all, const char* lc_messages, const char* lang) {
    // The first one set decides, as it does for the C library's messages.
    for (const char* value : {lc_all, lc_messages, lang}) {
        if (!value || !*value) continue;
        return value[0] == 'r' && value[1] == 'u' ? MessageLanguage::russian : MessageLanguage::english;
    }
    return MessageLanguage::english;
}

MessageLanguage message_language() {
    return message_language_of(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"));
}

const char* english_text(const char* text_cp1251) {
    if (!text_cp1251) return nullptr;
    for (const Translation& t : translations)
        if (std::strcmp(t.russian, text_cp1251) == 0) return t.english;
    return nullptr;
}

const char* localized_text(const char* text_cp1251, MessageLanguage language) {
    if (language == MessageLanguage::russian) return text_cp1251;
    const char* english = english_text(text_cp1251);
    return english ? english : text_cp1251;
}

}  // namespace platform
