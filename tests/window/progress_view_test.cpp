// The progress window's layout, bar arithmetic, picture flag and name fitting.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/progress_window.h"

namespace {

ProgressView fresh_view() {
    ProgressView view;
    view.Reset();
    return view;
}

// One unit per character: the terminal's measure.
int32_t measure_chars(void*, const char*, size_t length) { return static_cast<int32_t>(length); }

// A proportional font: dots are narrow, "W" is wide, the rest is average.
int32_t measure_proportional(void*, const char* text, size_t length) {
    int32_t width = 0;
    for (size_t i = 0; i < length; ++i) width += text[i] == '.' ? 2 : text[i] == 'W' ? 12 : 6;
    return width;
}

std::string fit(const std::string& name, int32_t width, MeasureText measure = measure_chars) {
    char out[PROGRESS_NAME_CHARS];
    const size_t n = fit_progress_name(name.c_str(), width, measure, nullptr, out, sizeof out);
    EXPECT_EQ(n, std::strlen(out));
    return out;
}

TEST(ProgressView, LayoutDerivesBarFromCancelButton) {
    const ProgressView view = fresh_view();
    EXPECT_EQ(view.cancel, (ProgressRect{163, 70, 238, 95}));
    EXPECT_EQ(view.bar, (ProgressRect{12, 40, 380, 60}));
    EXPECT_EQ(view.TextArea(), (ProgressRect{50, 15, 380, 35}));
    EXPECT_FLOAT_EQ(view.pixels_per_percent, 3.68f);
    EXPECT_EQ(view.filled_width, 0);
    EXPECT_EQ(view.percent, 0);
    EXPECT_FALSE(view.has_name);
}

TEST(ProgressView, WindowIsCentred) {
    int32_t x = 0;
    int32_t y = 0;
    progress_window_origin(1024, 768, &x, &y);
    EXPECT_EQ(x, 312);
    EXPECT_EQ(y, 322);
    progress_window_origin(1366, 767, &x, &y);
    EXPECT_EQ(x, 483);
    EXPECT_EQ(y, 321);
}

TEST(ProgressView, FilledWidthMatchesIntegerRuleForEveryPercent) {
    ProgressView view = fresh_view();
    for (int32_t p = 0; p <= 100; ++p) {
        view.percent = p;
        view.SetPercent();
        EXPECT_EQ(view.filled_width, p * 368 / 100) << p;
    }
}

TEST(ProgressView, PercentAboveHundredDrawsFullBar) {
    ProgressView view = fresh_view();
    view.percent = 250;
    view.SetPercent();
    EXPECT_EQ(view.percent, 100);
    EXPECT_EQ(view.filled_width, 368);
    EXPECT_EQ(view.FilledRect(), (ProgressRect{14, 42, 377, 57}));
    view.Apply(1000, nullptr);
    EXPECT_EQ(view.filled_width, 368);
}

TEST(ProgressView, SmallPercentLeavesColouredPartEmpty) {
    ProgressView view = fresh_view();
    view.Apply(1, nullptr);
    EXPECT_EQ(view.filled_width, 3);
    EXPECT_LE(view.FilledRect().width(), 0);
    view.Apply(2, nullptr);  // 7 pixels: the first non-empty fill
    EXPECT_EQ(view.FilledRect().width(), 2);
}

TEST(ProgressView, NegativePercentIsEmpty) {
    ProgressView view = fresh_view();
    view.Apply(-5, nullptr);
    EXPECT_EQ(view.percent, 0);
    EXPECT_EQ(view.filled_width, 0);
}

TEST(ProgressView, NewFileCopiesNameAndResetsBar) {
    ProgressView view = fresh_view();
    view.Apply(0, "C:\\tmp\\PTemp_a\\one.txt");
    view.Apply(60, nullptr);
    EXPECT_EQ(view.filled_width, 220);
    char name[] = "C:\\tmp\\PTemp_a\\two.txt";
    view.Apply(0, name);
    name[0] = 'X';  // the view keeps its own copy
    EXPECT_STREQ(view.name, "C:\\tmp\\PTemp_a\\two.txt");
    EXPECT_TRUE(view.has_name);
    EXPECT_EQ(view.filled_width, 0);
    EXPECT_EQ(view.percent, 0);
}

TEST(ProgressView, OverlongNameIsCutToBuffer) {
    ProgressView view = fresh_view();
    const std::string name(400, 'n');
    view.Apply(0, name.c_str());
    EXPECT_EQ(std::strlen(view.name), PROGRESS_NAME_CHARS - 1);
}

TEST(ProgressView, PictureAlternatesStartingWithSecond) {
    ProgressView view = fresh_view();
    EXPECT_TRUE(view.NextPicture());
    EXPECT_FALSE(view.NextPicture());
    EXPECT_TRUE(view.NextPicture());
}

TEST(ProgressView, CancelButtonHitTest) {
    const ProgressView view = fresh_view();
    EXPECT_TRUE(view.cancel.contains(163, 70));
    EXPECT_TRUE(view.cancel.contains(237, 94));
    EXPECT_TRUE(view.cancel.contains(200, 82));
    EXPECT_FALSE(view.cancel.contains(238, 80));
    EXPECT_FALSE(view.cancel.contains(200, 95));
    EXPECT_FALSE(view.cancel.contains(162, 80));
    EXPECT_FALSE(view.cancel.contains(200, 69));
}

TEST(FitProgressName, NameThatFitsIsShownWhole) {
    EXPECT_EQ(fit("setup.exe", 20), "setup.exe");
    EXPECT_EQ(fit("exactly-seventeen", 20), "exactly-seventeen");  // 17 = 20 - width of "..."
    EXPECT_EQ(fit("", 20), "");
}

TEST(FitProgressName, LongNameStartsWithDotsOneShorterThanFits) {
    // 20 characters of area, 17 after "...": the first tail that fits starts
    // at k = 9; the text drawn starts at k + 1 with "..." over its first three.
    const std::string name = "abcdefghijklmnopqrstuvwxyz";  // 26
    const std::string shown = fit(name, 20);
    EXPECT_EQ(shown, "..." + name.substr(13));
    EXPECT_EQ(shown.size(), 16u);
}

TEST(FitProgressName, RepeatedFittingShowsSameText) {
    // With a proportional font the dots are narrower than the letters they
    // cover; fitting the already shortened copy again would move the cut and
    // add a second "...". The original name is fitted every time instead.
    const std::string name = "C:\\Temp\\PTemp_a\\WWWWWWWW\\abcdefghijklmnop.dat";
    const std::string first = fit(name, 120, measure_proportional);
    EXPECT_EQ(first.rfind("...", 0), 0u);
    EXPECT_EQ(first.find("...", 3), std::string::npos);
    EXPECT_LE(measure_proportional(nullptr, first.c_str(), first.size()), 120);
    EXPECT_EQ(fit(name, 120, measure_proportional), first);
}

TEST(FitProgressName, AreaNarrowerThanDotsNeverOverruns) {
    EXPECT_EQ(fit("abcdef", 2), "");
    EXPECT_EQ(fit("abcdef", 6), "..");  // a tail of two characters, both covered
    char out[4];
    EXPECT_EQ(fit_progress_name("abcdefgh", 100, measure_chars, nullptr, out, sizeof out), 3u);
    EXPECT_STREQ(out, "abc");
}

}  // namespace
