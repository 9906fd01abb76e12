// The search for SetupFile in the [Values] section of setup.spt.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "setup/setup_script.h"

namespace {

// The value find_setup_value points at, up to the line end; "<none>" when the
// search gives 0. The text is copied into a buffer of exactly its length with
// no terminator behind it, so a scan past the end shows under the sanitizers.
std::string value_of(const std::string& script) {
    std::vector<char> exact(script.begin(), script.end());
    const size_t at = find_setup_value(exact.data(), exact.size(), "[Values]", "SetupFile");
    if (at == 0) return "<none>";
    EXPECT_LE(at, exact.size());
    std::string value;
    for (size_t i = at; i < exact.size() && exact[i] != '\r' && exact[i] != '\n'; ++i) value += exact[i];
    return value;
}

TEST(FindSetupValue, PlainEntryAfterHeader) {
    EXPECT_EQ(value_of("[Values]\r\nSetupFile=setup.exe"), "setup.exe");
    EXPECT_EQ(value_of("[Values]\nSetupFile=setup.exe\n"), "setup.exe");
    EXPECT_EQ(value_of("[Values]\rSetupFile=setup.exe\r"), "setup.exe");
}

TEST(FindSetupValue, SpacesAroundEqualsAreSkipped) {
    EXPECT_EQ(value_of("[Values]\r\nSetupFile = setup.exe  -a -b\r\n"), "setup.exe  -a -b");
    EXPECT_EQ(value_of("[Values]\nSetupFile    =    x\n"), "x");
}

TEST(FindSetupValue, TabAroundEqualsMakesEntryUnusable) {
    EXPECT_EQ(value_of("[Values]\nSetupFile\t=x\n"), "<none>");
    EXPECT_EQ(value_of("[Values]\nSetupFile=\tx\n"), "\tx");  // only spaces are stepped over after "="
}

TEST(FindSetupValue, SemicolonDirectlyBeforeKeyHidesLine) {
    EXPECT_EQ(value_of("[Values]\n;SetupFile=old.exe\nSetupFile=new.exe\n"), "new.exe");
    EXPECT_EQ(value_of("[Values]\n; SetupFile=old.exe\nSetupFile=new.exe\n"), "old.exe");
}

TEST(FindSetupValue, LetterBeforeKeyRejectsOccurrence) {
    EXPECT_EQ(value_of("[Values]\nMySetupFile=x.exe\nSetupFile=y.exe\n"), "y.exe");
    EXPECT_EQ(value_of("[Values]\nmysetupSetupFile=x.exe\nSetupFile=y.exe\n"), "y.exe");
}

TEST(FindSetupValue, FirstAcceptedOccurrenceDecides) {
    // A longer key that starts with SetupFile is taken and fails at its "=".
    EXPECT_EQ(value_of("[Values]\nSetupFileName=x.exe\nSetupFile=y.exe\n"), "<none>");
    // The key is also found inside another key's value.
    EXPECT_EQ(value_of("[Values]\nOther=1 SetupFile=in.exe\nSetupFile=y.exe\n"), "in.exe");
}

TEST(FindSetupValue, LetterCaseMatters) {
    EXPECT_EQ(value_of("[Values]\nsetupfile=x.exe\n"), "<none>");
    EXPECT_EQ(value_of("[values]\nSetupFile=x.exe\n"), "<none>");
}

TEST(FindSetupValue, KeyBeyondSectionEndIsNotUsed) {
    EXPECT_EQ(value_of("[Values]\nOther=1\n[Later]\nSetupFile=x.exe\n"), "<none>");
    EXPECT_EQ(value_of("[Before]\nSetupFile=a.exe\n[Values]\nSetupFile=b.exe\n"), "b.exe");
}

TEST(FindSetupValue, MissingHeaderOrKey) {
    EXPECT_EQ(value_of(""), "<none>");
    EXPECT_EQ(value_of("SetupFile=x.exe\n"), "<none>");
    EXPECT_EQ(value_of("[Values]\nSetup=x.exe\n"), "<none>");
}

TEST(FindSetupValue, EndOfTextIsRespected) {
    // The key ends the text, or "=" ends it: no read past the length.
    EXPECT_EQ(value_of("[Values]\nSetupFile"), "<none>");
    EXPECT_EQ(value_of("[Values]\nSetupFile   "), "<none>");
    EXPECT_EQ(value_of("[Values]\nSetupFile="), "");
    EXPECT_EQ(value_of("[Values]\nSetupFile=   "), "");
    EXPECT_EQ(value_of("[Values]\nSetupFile=a.exe"), "a.exe");
    // A length shorter than the text hides what lies beyond it.
    const char text[] = "[Values]\nSetupFile=a.exe\n";
    EXPECT_EQ(find_setup_value(text, std::strlen("[Values]\nSetupFi"), "[Values]", "SetupFile"), 0u);
    EXPECT_EQ(find_setup_value(text, std::strlen("[Values]\nSetupFile"), "[Values]", "SetupFile"), 0u);
    EXPECT_EQ(find_setup_value(text, 4, "[Values]", "SetupFile"), 0u);
}

TEST(FindSetupValue, ReturnsPositionOfValue) {
    const char text[] = "junk\n[Values]\nSetupFile = run.exe\n";
    const size_t at = find_setup_value(text, sizeof text - 1, "[Values]", "SetupFile");
    EXPECT_EQ(at, std::string(text).find("run.exe"));
}

}  // namespace
