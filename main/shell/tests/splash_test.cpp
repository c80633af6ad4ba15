#include <gtest/gtest.h>
#include <windows.h>

#include <clocale>
#include <cstdio>
#include <string>

#include "main/shell/main_ids.h"
#include "main/shell/placement.h"
#include "main/shell/splash_counter.h"
#include "main/shell/splash_form.h"

namespace {

using namespace tovra::shell;

TEST(SplashCounterTest, ThirtyTicksCountToExactlyThree) {
    std::wstring text = SplashCounter::InitialText();
    EXPECT_EQ(text, L"0");
    const wchar_t* expected[] = {L" 0.1", L" 0.2", L" 0.3", L" 0.4", L" 0.5", L" 0.6", L" 0.7", L" 0.8",
                                 L" 0.9", L" 1",   L" 1.1", L" 1.2", L" 1.3", L" 1.4", L" 1.5", L" 1.6",
                                 L" 1.7", L" 1.8", L" 1.9", L" 2",   L" 2.1", L" 2.2", L" 2.3", L" 2.4",
                                 L" 2.5", L" 2.6", L" 2.7", L" 2.8", L" 2.9", L" 3"};
    for (int tick = 0; tick < 30; ++tick) {
        EXPECT_FALSE(SplashCounter::Done(text)) << tick;
        text = SplashCounter::Next(text);
        EXPECT_EQ(text, expected[tick]) << "tick " << tick + 1;
    }
    EXPECT_TRUE(SplashCounter::Done(text));
    EXPECT_EQ(LeadingNumber(text), 3.0);

    // Without the rounding through the text the end would never come.
    double raw = 0;
    for (int tick = 0; tick < 30; ++tick) raw += 0.1;
    EXPECT_NE(raw, 3.0);
    EXPECT_EQ(NumberText(raw), L" 3");
}

TEST(SplashCounterTest, ReadingAndWritingNumbers) {
    struct Case {
        const wchar_t* text;
        double value;
    } reads[] = {
        {L"0", 0},      {L" 2.5", 2.5},   {L"  1.5abc", 1.5}, {L"1 . 5", 1.5}, {L"abc", 0},
        {L"", 0},       {L"-0.3", -0.3},  {L"1,5", 1},        {L".5", 0.5},    {L"2e1x", 20},
        {L"3.", 3},     {L"1.2.3", 1.2},  {L"7e", 7},
    };
    for (const Case& c : reads) EXPECT_DOUBLE_EQ(LeadingNumber(c.text), c.value) << std::wstring(c.text).c_str();

    struct Write {
        double value;
        const wchar_t* text;
    } writes[] = {
        {0, L" 0"}, {0.1, L" 0.1"}, {3, L" 3"}, {-0.5, L"-0.5"}, {2.9000000000000004, L" 2.9"},
        {123456789012345678.0, L" 1.23456789012346e+17"},
    };
    for (const Write& w : writes) EXPECT_EQ(NumberText(w.value), w.text) << w.value;
}

TEST(SplashCounterTest, ThePointIsTheDecimalMarkWhateverTheLocale) {
    // A locale whose decimal mark is a comma.
    const char* names[] = {"German", "de-DE", "de_DE", "German_Germany.1252"};
    const char* set = nullptr;
    for (const char* n : names)
        if ((set = std::setlocale(LC_ALL, n))) break;
    ASSERT_NE(set, nullptr) << "no locale with a decimal comma could be set";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 0.5);
    EXPECT_STREQ(probe, "0,5");  // the locale really writes a comma
    EXPECT_EQ(NumberText(0.5), L" 0.5");
    EXPECT_EQ(LeadingNumber(L" 0.5"), 0.5);
    std::wstring text = SplashCounter::InitialText();
    for (int tick = 0; tick < 30; ++tick) text = SplashCounter::Next(text);
    std::setlocale(LC_ALL, "C");
    EXPECT_TRUE(SplashCounter::Done(text));
}

TEST(PlacementTest, WindowsGoWhereTheyBelong) {
    Position main = MainWindowPosition(19200, 15360, 4740, 3000);
    EXPECT_DOUBLE_EQ(main.left, 19200 - 4740);
    EXPECT_DOUBLE_EQ(main.top, (15360 - 3000) / 10.0);
    Position about = AboutBoxPosition(15360, 11520, 4800, 3000);
    EXPECT_DOUBLE_EQ(about.left, 3520);
    EXPECT_DOUBLE_EQ(about.top, (11520 - 3000) / 2.0);
    // A screen smaller than the splash: it is still centred, partly off the screen.
    Position splash = CentredPosition(6000, 3000, 7500, 3450);
    EXPECT_DOUBLE_EQ(splash.left, -750);
    EXPECT_DOUBLE_EQ(splash.top, -225);
}

struct SplashFixture : ::testing::Test {
    int shown = 0;
    SplashForm splash{[this] { ++shown; }};
};

TEST_F(SplashFixture, ShowsItsTextsCentredAndCountsInTheLabel) {
    ASSERT_TRUE(splash.Load());
    EXPECT_TRUE(splash.Visible());
    EXPECT_EQ(splash.Caption(), L"");
    LONG style = GetWindowLongW(splash.hwnd(), GWL_STYLE);
    EXPECT_FALSE(style & WS_CAPTION & ~WS_BORDER) << "no title bar";
    EXPECT_FALSE(style & WS_THICKFRAME) << "a fixed border";
    struct {
        int id;
        const wchar_t* text;
    } texts[] = {{lblCompanyProduct, L"Tovra Internet Security"}, {lblVersion, L"Version 1.0"},
                 {lblCompany, L"Company:Quorelsoft"}, {lblstatus, L"Please wait ......."}, {lblTime, L"0"}};
    for (auto& t : texts) EXPECT_EQ(splash.Text(t.id), t.text) << t.id;
    RECT r{};
    GetWindowRect(splash.hwnd(), &r);
    EXPECT_NEAR((r.left + r.right) / 2.0, GetSystemMetrics(SM_CXSCREEN) / 2.0, 1.0);
    EXPECT_NEAR((r.top + r.bottom) / 2.0, GetSystemMetrics(SM_CYSCREEN) / 2.0, 1.0);
    RECT client{};
    GetClientRect(splash.hwnd(), &client);
    EXPECT_EQ(client.right, tovra::forms::TwipsToPixelsX(7380));
    EXPECT_EQ(client.bottom, tovra::forms::TwipsToPixelsY(3330));

    for (int tick = 1; tick < 30; ++tick) splash.OnClockTick();
    EXPECT_EQ(splash.Text(lblTime), L" 2.9");
    EXPECT_EQ(shown, 0);
    EXPECT_TRUE(splash.Visible());

    splash.OnClockTick();
    EXPECT_EQ(shown, 1);
    EXPECT_FALSE(splash.Visible());
    EXPECT_TRUE(splash.created()) << "hidden, not unloaded";
    EXPECT_FALSE(splash.TimerEnabled());

    // Ticks that were already on their way change nothing: the main window comes once.
    splash.OnClockTick();
    splash.OnClockTick();
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(splash.Text(lblTime), L" 3");
}

TEST_F(SplashFixture, TheRealClockEndsTheSplashAfterAboutThreeSeconds) {
    DWORD start = GetTickCount();
    ASSERT_TRUE(splash.Load());
    MSG msg;
    while (shown == 0 && GetTickCount() - start < 15000) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    DWORD elapsed = GetTickCount() - start;
    ASSERT_EQ(shown, 1);
    EXPECT_GE(elapsed, 2900u);
    EXPECT_LT(elapsed, 10000u);
    // Nothing more arrives once the clock has stopped.
    DWORD later = GetTickCount();
    while (GetTickCount() - later < 400) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        Sleep(20);
    }
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(splash.Text(lblTime), L" 3");
}

}  // namespace
