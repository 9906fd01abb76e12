// Windows-1251 conversion: the Russian texts the user reads must arrive intact.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "bundle/extraction_folder.h"
#include "archive/volumes.h"
#include "platform/system_extra.h"
#include "platform/text.h"
#include "platform/text_locale.h"
#include "shell/messages.h"
#include "platform/progress_window.h"

using namespace platform;

namespace {

std::string utf8(const char* cp1251) {
    char out[4096];
    size_t n = cp1251_to_utf8(cp1251, out, sizeof out);
    EXPECT_EQ(n, std::strlen(out));
    EXPECT_EQ(n, cp1251_utf8_length(cp1251));
    return out;
}

}  // namespace

TEST(Cp1251, ShellTextsBecomeTheirRussianWords) {
    EXPECT_EQ(utf8(CAPTION_ERROR_RU), "Ошибка");
    EXPECT_EQ(utf8(CAPTION_PACKING), "Идет упаковка...");
    EXPECT_EQ(utf8(TITLE_ASK_FOLDER), "Укажите временный дирректорий");
    std::string integrity = utf8(TEXT_INTEGRITY_ERROR);
    EXPECT_EQ(integrity.rfind("Ошибка 5.Нарушена целостность установочного комплекта! \n"
                              "По всем вопросам обращайтесь: \n",
                              0),
              0u);
}

TEST(Cp1251, EveryByteHasItsCodePoint) {
    EXPECT_EQ(cp1251_code_point('A'), 0x41u);
    EXPECT_EQ(cp1251_code_point(0xC0), 0x0410u);  // А
    EXPECT_EQ(cp1251_code_point(0xFF), 0x044Fu);  // я
    EXPECT_EQ(cp1251_code_point(0xA8), 0x0401u);  // Ё
    EXPECT_EQ(cp1251_code_point(0xB9), 0x2116u);  // №
    EXPECT_EQ(cp1251_code_point(0x88), 0x20ACu);  // €
    EXPECT_EQ(cp1251_code_point(0x98), 0xFFFDu);  // unassigned
}

TEST(Cp1251, Utf8OutputIsCutOnlyBetweenCharacters) {
    char out[6];
    // "Да" is 4 bytes; "Даа" would need 6 plus the terminator.
    size_t n = cp1251_to_utf8("\xC4\xE0\xE0", out, sizeof out);
    EXPECT_EQ(n, 4u);
    EXPECT_STREQ(out, "Да");
    char one[1];
    EXPECT_EQ(cp1251_to_utf8("abc", one, 1), 0u);
    EXPECT_EQ(one[0], '\0');
}

TEST(Cp1251, Utf8ComesBackToTheSameBytesOrIsRefused) {
    // Every assigned byte survives the trip through UTF-8.
    std::string all;
    for (int b = 1; b < 256; ++b)
        if (b != 0x98) all += static_cast<char>(b);
    char back[256];
    ASSERT_TRUE(utf8_to_cp1251(utf8(all.c_str()).c_str(), back, sizeof back));
    EXPECT_EQ(back, all);
    // Text Windows-1251 cannot hold, text that is not UTF-8, or too little room.
    struct Case {
        const char* text;
        size_t room;
    } refused[] = {{"\xC3\xA4.txt", 8},        {"\xEF\xBF\xBD", 8}, {"\xF0\x9F\x98\x80", 8},
                   {"a\xD0", 8},               {"\xC0\xAF", 8},     {"\xD0\x94\xD0\xB0", 2}};
    for (const Case& c : refused) {
        char out[8] = "x";
        EXPECT_FALSE(utf8_to_cp1251(c.text, out, c.room)) << c.text;
        EXPECT_STREQ(out, "") << c.text;
    }
}

TEST(Cp1251, Utf16IsOneUnitPerCharacter) {
    char16_t out[8];
    EXPECT_EQ(cp1251_to_utf16("\xCE\xEA!", out, 8), 3u);
    EXPECT_EQ(out[0], u'О');
    EXPECT_EQ(out[1], u'к');
    EXPECT_EQ(out[2], u'!');
    EXPECT_EQ(out[3], u'\0');
    EXPECT_EQ(cp1251_to_utf16("abcdef", out, 3), 2u);
    EXPECT_EQ(out[2], u'\0');
}

TEST(MessageText, CaptionColonTextAndLineBreak) {
    char out[128];
    format_message_utf8("Error 2. Can't Distribute.", "ERROR", out, sizeof out);
    EXPECT_STREQ(out, "ERROR: Error 2. Can't Distribute.\n");
    format_message_utf8("x", CAPTION_ERROR_RU, out, sizeof out);
    EXPECT_STREQ(out, "Ошибка: x\n");
    // A volume path as caption and a name in the text: their controls become
    // '?', the text's own line breaks stay.
    format_message_utf8("bad \x1b]0;x\x07 name\nnext line", "C:\\v\r\x1b[2J.rar", out, sizeof out);
    EXPECT_STREQ(out, "C:\\v??[2J.rar: bad ?]0;x? name\nnext line\n");
    char small[8];
    size_t n = format_message_utf8("a long text", "ERROR", small, sizeof small);
    EXPECT_EQ(n, std::strlen(small));
    EXPECT_LT(n, sizeof small);
}

TEST(MaskControls, ControlsBecomeQuestionMarks) {
    struct Case {
        const char* text;
        TextCoding coding;
        bool keep_line_breaks;
        const char* shown;
    };
    const Case cases[] = {
        {"plain name.txt", TextCoding::utf8, false, "plain name.txt"},
        {"a\x1b[31mred\x1b[0m", TextCoding::utf8, false, "a?[31mred?[0m"},
        {"\x01\x09\x0a\x0d\x1f\x7f~ ", TextCoding::utf8, false, "??????~ "},
        {"line\nbreak\r", TextCoding::utf8, true, "line\nbreak?"},
        // C1 controls in UTF-8 (U+009B is a one-character CSI) and the same
        // bytes alone; U+00A0 and Cyrillic stay.
        {"x\xc2\x9b" "2Jy\xc2\x80\xc2\xa0\xd0\x96", TextCoding::utf8, false, "x?2Jy?\xc2\xa0\xd0\x96"},
        {"\x9b" "1m\x85\xc0\xff", TextCoding::utf8, false, "?1m?\xc0\xff"},
        // Overlong and cut sequences are not characters: their bytes count alone.
        {"\xc1\x9b\xe2\x82", TextCoding::utf8, false, "\xc1?\xe2?"},
        // Windows-1251 bytes 0x80-0x9F are letters (0x9B is a quote mark).
        {"\x9b\x80\xc0\x1b[H", TextCoding::bytes, false, "\x9b\x80\xc0?[H"},
        {"", TextCoding::utf8, false, ""},
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        size_t n = mask_control_chars(text.data(), c.coding, c.keep_line_breaks);
        text.resize(n);
        EXPECT_EQ(text, c.shown) << c.text;
        EXPECT_EQ(std::strlen(text.c_str()), n);
    }
}

TEST(MessageLanguage, RussianOnlyWhenTheDecidingVariableSaysSo) {
    struct Case {
        const char *lc_all, *lc_messages, *lang;
        MessageLanguage expected;
    };
    const auto ru = MessageLanguage::russian;
    const auto en = MessageLanguage::english;
    const Case cases[] = {
        {nullptr, nullptr, nullptr, en},
        {nullptr, nullptr, "ru_RU.UTF-8", ru},
        {nullptr, nullptr, "ru", ru},
        {nullptr, nullptr, "en_US.UTF-8", en},
        {nullptr, nullptr, "C", en},
        {"", "", "ru_RU.CP1251", ru},           // empty values do not decide
        {nullptr, "C", "ru_RU.UTF-8", en},      // LC_MESSAGES before LANG
        {"en_GB.UTF-8", "ru_RU", "ru_RU", en},  // LC_ALL before everything
        {"ru_UA.UTF-8", "C", "C", ru},
        {nullptr, nullptr, "russian", ru},      // the C library's alias
        {nullptr, nullptr, "uk_UA.UTF-8", en},
    };
    for (const Case& c : cases)
        EXPECT_EQ(message_language_of(c.lc_all, c.lc_messages, c.lang), c.expected)
            << (c.lc_all ? c.lc_all : "-") << " " << (c.lc_messages ? c.lc_messages : "-") << " "
            << (c.lang ? c.lang : "-");
}

TEST(MessageLanguage, EveryRussianTextOfTheProgramHasItsEnglishForm) {
    struct Case {
        const char* russian;
        const char* english;
    };
    const Case cases[] = {
        {CAPTION_ERROR_RU, "Error"},
        {PROGRESS_CANCEL_CAPTION, "Warning"},
        {TEXT_INTEGRITY_ERROR,
         "Error 5. The installation set is damaged!\nFor any questions contact:\nOrvanta Software, support\n"
         "support@orvanta.example"},
        {CAPTION_PACKING, "Packing..."},
        {TITLE_ASK_FOLDER, "Choose a temporary folder"},
        {PROGRESS_CANCEL_QUESTION, "The installation will be stopped!"},
        {TEXT_NEXT_VOLUME_MISSING, "Cannot find the next archive file!"},
        {TEXT_BAD_ARCHIVE, "Bad archive!"},
        {TEXT_INSERT_NEXT_DISK, "Insert the next disk"},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(english_text(c.russian), c.english) << utf8(c.russian);
        EXPECT_STREQ(localized_text(c.russian, MessageLanguage::english), c.english);
        EXPECT_EQ(localized_text(c.russian, MessageLanguage::russian), c.russian);
    }
    // English texts, and texts the table does not know (a volume's name as
    // a caption), pass unchanged in both languages.
    for (const char* text : {TEXT_MODE_FAILED, CAPTION_ERROR, "\xC0.rar", ""}) {
        EXPECT_EQ(english_text(text), nullptr);
        EXPECT_EQ(localized_text(text, MessageLanguage::english), text);
    }
    EXPECT_EQ(english_text(nullptr), nullptr);
}

// Fitting to terminal columns: the tail behind "...", cut only between
// UTF-8 characters, also when the output buffer is the limit.
TEST(FitUtf8Tail, CutsBetweenCharacters) {
    struct Case {
        const char* text;
        size_t columns;
        size_t out_size;
        const char* shown;
    };
    const char* cyrillic = "\xd0\xb0\xd0\xb1\xd0\xb2\xd0\xb3\xd0\xb4.txt";  // "абвгд.txt", 9 columns
    const Case cases[] = {
        {"short.txt", 20, 64, "short.txt"},
        {"exactly10c", 10, 64, "exactly10c"},
        {"folder/long-name.txt", 10, 64, "...ame.txt"},
        {cyrillic, 9, 64, cyrillic},
        // Two columns less: "..." and the last five characters.
        {cyrillic, 8, 64, "...\xd0\xb4.txt"},
        // Room for eight bytes and the terminator: a whole name of 14 bytes
        // is cut although its columns fit, and the two-byte letter that
        // would not fit whole is left out.
        {cyrillic, 10, 3 + 5 + 1, "....txt"},
        {"abcdef", 2, 64, ".."},
        {"", 5, 64, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " in " + std::to_string(c.columns));
        std::string out(c.out_size, '\x7f');
        size_t n = fit_utf8_tail(c.text, c.columns, out.data(), out.size());
        out.resize(n);
        EXPECT_EQ(out, c.shown);
        EXPECT_TRUE(is_utf8(out.c_str()));
        EXPECT_LE(utf8_columns(out.data(), out.size()), c.columns);
    }
}
