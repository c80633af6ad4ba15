// tovra.exe driven as a user would, from a second process: the splash, the main window with its
// statuses and menus, the ways out, and the shell's own commands.
#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <optional>
#include <string>
#include <vector>

#include "main/shell/main_ids.h"
#include "tests/driver/driver.h"
#include "tests/support/temp_dir.h"
#include "shared/compat.h"

namespace {

using namespace tovra::driver;
namespace t = tovra::test;
namespace shell = tovra::shell;

constexpr DWORD kWait = 15000;

HWND TrayWindow() { return FindWindowW(L"__winex11_standalone_tray", nullptr); }
bool TrayShown() {
    HWND tray = TrayWindow();
    return tray && IsWindowVisible(tray);
}

// The splash has no title: it is the window that shows the product's name.
HWND FindSplash(const App& app) {
    for (HWND w : app.TopWindows(true))
        if (FindControl(w, L"Tovra Internet Security")) return w;
    return nullptr;
}

class TovraE2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(aside_.error().empty()) << testing::PrintToString(aside_.error());
    }
    void TearDown() override {
        app_.Kill();
    }

    // Starts tovra.exe from the build and waits for its main window.
    void StartMain() {
        app_ = App::Start(t::ModuleDir() + L"\\tovra.exe");
        ASSERT_TRUE(app_.started());
        main_ = app_.WaitWindow(shell::kMainTitle, kWait);
        ASSERT_NE(main_, nullptr) << "the main window did not come";
    }
    std::wstring TextOf(int id) { return WindowText(FindControlById(main_, id)); }

    const std::wstring folder_ = ProductFolder();
    tovra::driver::ProductFolderAside aside_;  // before anything that lives in the folder
    App app_;
    HWND main_ = nullptr;
};

TEST_F(TovraE2eTest, TheSplashThenTheMainWindowAboutThreeSecondsLater) {
    app_ = App::Start(t::ModuleDir() + L"\\tovra.exe");
    ASSERT_TRUE(app_.started());
    HWND splash = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (splash = FindSplash(app_)) != nullptr; }, kWait)) << "no splash";
    ULONGLONG seen = tovra::compat::TickCount64();
    EXPECT_EQ(WindowText(splash), L"");
    EXPECT_NE(FindControl(splash, L"Version 1.0"), nullptr);
    EXPECT_NE(FindControl(splash, L"Company:Quorelsoft"), nullptr);
    EXPECT_NE(FindControl(splash, L"Please wait ......."), nullptr);
    EXPECT_EQ(app_.WaitWindow(shell::kMainTitle, 1000), nullptr) << "the main window came with the splash";

    main_ = app_.WaitWindow(shell::kMainTitle, kWait);
    ASSERT_NE(main_, nullptr);
    ULONGLONG waited = tovra::compat::TickCount64() - seen;
    EXPECT_GE(waited, 2000u);
    EXPECT_LE(waited, 8000u);
    EXPECT_FALSE(IsWindowVisible(splash)) << "the splash stays up";
    EXPECT_TRUE(IsWindow(splash)) << "the splash is hidden, not unloaded";
    EXPECT_EQ(WindowText(FindControlById(splash, shell::lblTime)), L" 3");
    // Exactly one main window, however long it runs.
    Sleep(500);
    int mains = 0;
    for (HWND w : app_.TopWindows(true))
        if (WindowText(w) == shell::kMainTitle) ++mains;
    EXPECT_EQ(mains, 1);
}

TEST_F(TovraE2eTest, TheMainWindowStartsWithItsStatusesAndCheckMarks) {
    StartMain();
    if (HasFatalFailure()) return;
    struct {
        int id;
        const wchar_t* text;
    } statuses[] = {{shell::lblPBlocker, L"Running"}, {shell::lblFireWall, L"Stopped"}, {shell::lblWasher, L"Stopped"},
                    {shell::cmdPBlocker, L"Stop"},    {shell::cmdFireWall, L"Start"},   {shell::cmdWasher, L"Start"},
                    {shell::lblHide, L"Hide Me"},     {shell::lblend, L"Exit"},         {shell::Label1, L"Services"}};
    for (auto& s : statuses) EXPECT_EQ(TextOf(s.id), s.text) << s.id;
    for (const wchar_t* caption : {L"Pop-up Blocker", L"Firewall", L"IE Washer", L"Status"})
        EXPECT_NE(FindControl(main_, caption), nullptr) << caption;

    struct {
        const wchar_t* path;
        bool checked;
    } menus[] = {
        {L"&File/Hide", false},           {L"&File/Exit", false},
        {L"&Settings/IE Default", false}, {L"&Settings/IE Properties", false},
        {L"&Firewall/Enable Firewall", false}, {L"&Firewall/Disable Firewall", true},
        {L"&ScanVirus/Scan", false},      {L"&ScanVirus/Update Virus List", false},
        {L"IE &Washer/Clean", false},     {L"&Help/About", false},
    };
    for (auto& m : menus) {
        MenuEntry e = ReadMenu(app_, main_, m.path);
        EXPECT_TRUE(e.found) << testing::PrintToString(std::wstring(m.path));
        EXPECT_EQ(e.checked, m.checked) << testing::PrintToString(std::wstring(m.path));
        EXPECT_TRUE(e.enabled);
    }

    // Topmost, flush with the right edge of the screen, a tenth of the free height down.
    EXPECT_TRUE(GetWindowLongW(main_, GWL_EXSTYLE) & WS_EX_TOPMOST);
    RECT r{};
    GetWindowRect(main_, &r);
    EXPECT_EQ(r.right, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_NEAR(r.top, (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 10.0, 1.0);
    EXPECT_TRUE(TrayShown()) << "no icon in the notification area";
}

TEST_F(TovraE2eTest, TheBlockerButtonSwitchesTheBlocker) {
    StartMain();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(Click(FindControlById(main_, shell::cmdPBlocker)));
    EXPECT_TRUE(WaitFor([&] { return TextOf(shell::lblPBlocker) == L"Stopped"; }, kWait));
    EXPECT_EQ(TextOf(shell::cmdPBlocker), L"Start");
    ASSERT_TRUE(Click(FindControlById(main_, shell::cmdPBlocker)));
    EXPECT_TRUE(WaitFor([&] { return TextOf(shell::lblPBlocker) == L"Running"; }, kWait));
    EXPECT_EQ(TextOf(shell::cmdPBlocker), L"Stop");
}

TEST_F(TovraE2eTest, HideMinimisesAndKeepsTheIcon) {
    StartMain();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(Click(FindControl(main_, L"Hide Me")));
    EXPECT_TRUE(WaitFor([&] { return IsIconic(main_) != FALSE; }, kWait));
    EXPECT_TRUE(IsWindowVisible(main_)) << "still in the taskbar";
    EXPECT_TRUE(TrayShown());
    ShowWindow(main_, SW_RESTORE);
    ASSERT_TRUE(WaitFor([&] { return !IsIconic(main_); }, kWait));
    ASSERT_TRUE(ChooseMenu(app_, main_, L"&File/Hide"));
    EXPECT_TRUE(WaitFor([&] { return IsIconic(main_) != FALSE; }, kWait));
    EXPECT_TRUE(app_.Running());
}

TEST_F(TovraE2eTest, EveryWayOutEndsTheProgramAndTakesTheIcon) {
    enum Way { ExitMenu, ExitLabel, CloseWindow };
    for (Way way : {ExitMenu, ExitLabel, CloseWindow}) {
        StartMain();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(WaitFor(TrayShown, kWait));
        switch (way) {
        case ExitMenu: ASSERT_TRUE(ChooseMenu(app_, main_, L"&File/Exit")); break;
        case ExitLabel: ASSERT_TRUE(Click(FindControl(main_, L"Exit"))); break;
        case CloseWindow: PostMessageW(main_, WM_CLOSE, 0, 0); break;
        }
        DWORD code = 1;
        ASSERT_TRUE(app_.WaitExit(kWait, &code)) << "way " << way << " did not end the program";
        EXPECT_EQ(code, 0u);
        EXPECT_TRUE(WaitFor([] { return !TrayShown(); }, kWait)) << "an icon was left behind, way " << way;
    }
}

TEST_F(TovraE2eTest, TheIconComesBackWhenTheTaskbarIsCreatedAgain) {
    StartMain();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(WaitFor(TrayShown, kWait));
    // The shell loses the program's icon, as when Explorer restarts...
    NOTIFYICONDATAA gone{};
    gone.cbSize = NOTIFYICONDATAA_V1_SIZE;
    gone.hWnd = main_;
    gone.uID = 1;
    ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &gone)) << "the program's icon is not the shell's icon 1 of its window";
    ASSERT_TRUE(WaitFor([] { return !TrayShown(); }, kWait));
    // ...and the new taskbar tells every top-level window that it is there.
    ASSERT_TRUE(PostMessageW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0));
    EXPECT_TRUE(WaitFor(TrayShown, kWait)) << "the icon did not come back";
    EXPECT_TRUE(app_.Running());

    // The way out still takes it.
    ASSERT_TRUE(ChooseMenu(app_, main_, L"&File/Exit"));
    ASSERT_TRUE(app_.WaitExit(kWait));
    EXPECT_TRUE(WaitFor([] { return !TrayShown(); }, kWait)) << "an icon was left behind";
}

TEST_F(TovraE2eTest, ScanSaysSoWhenTheScannerIsNotInstalled) {
    StartMain();
    if (HasFatalFailure()) return;
    ASSERT_FALSE(t::PathExists(L"C:\\Program Files\\Tovra\\tovraa.exe"));
    ASSERT_TRUE(ChooseMenu(app_, main_, L"&ScanVirus/Scan"));
    auto box = WaitMessageBox(app_, kWait);
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->title, L"Tovra Internet Security 1.0");
    EXPECT_EQ(box->text, L"The virus scanner could not be started:\r\nC:\\Program Files\\Tovra\\tovraa.exe");
    EXPECT_EQ(box->buttons, std::vector<int>{IDOK});
    ASSERT_TRUE(Answer(*box, IDOK));
    EXPECT_TRUE(app_.Running()) << "the main program must go on";
    EXPECT_EQ(TextOf(shell::lblFireWall), L"Stopped");
}

TEST_F(TovraE2eTest, ScanStartsTheInstalledScanner) {
    ASSERT_FALSE(InstallBuiltPrograms({L"tovraa.exe"}).empty());
    StartMain();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(ChooseMenu(app_, main_, L"&ScanVirus/Scan"));
    App scanner = App::WaitStarted(L"tovraa.exe", kWait);
    ASSERT_TRUE(scanner.started()) << "the scanner was not started";
    EXPECT_FALSE(CurrentMessageBox(app_).has_value());
    scanner.Kill();
    EXPECT_TRUE(app_.Running());
}

TEST_F(TovraE2eTest, UpdateHandsTheDownloadAddressToTheBrowser) {
    const std::wstring log = L"C:\\browser.log";
    DeleteFileW(log.c_str());
    StartMain();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(ChooseMenu(app_, main_, L"&ScanVirus/Update Virus List"));
    ASSERT_TRUE(WaitFor([&] { return t::ReadFileAt(log).find("utovraa.exe") != std::string::npos; }, kWait))
        << "the browser got: " << t::ReadFileAt(log);
    std::string opened = t::ReadFileAt(log);
    EXPECT_NE(opened.find("www.quorelsoft.com"), std::string::npos) << opened;
    DeleteFileW(log.c_str());
}

TEST_F(TovraE2eTest, TheAboutBoxShowsThePageAndSystemInformation) {
    StartMain();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(ChooseMenu(app_, main_, L"&Help/About"));
    HWND about = app_.WaitWindow(L"About Tovra", kWait);
    ASSERT_NE(about, nullptr);
    EXPECT_NE(FindControl(about, L"Tovra Pop-ups Killer"), nullptr);
    EXPECT_NE(FindControl(about, L"Version 1.0.0"), nullptr);
    // Never an empty box: with no HTML engine here, the page's text comes in its place as soon
    // as the browser has reported its failed navigation.
    auto pageShown = [&] {
        for (const Control& c : Controls(about))
            if (c.text.find(L"support@quorelsoft.com") != std::wstring::npos && c.visible) return true;
        return false;
    };
    EXPECT_TRUE(WaitFor(pageShown, kWait)) << "the About page is not shown";

    // This prefix names no System Information program.
    ASSERT_TRUE(Click(FindControl(about, L"&System Info...")));
    auto box = WaitMessageBox(app_, kWait);
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->title, L"Tovra");
    EXPECT_EQ(box->text, L"System Information Is Unavailable At This Time");
    EXPECT_EQ(box->icon, 0u);
    ASSERT_TRUE(Answer(*box, IDOK));
    EXPECT_TRUE(IsWindowVisible(about)) << "the About box stays open";

    ASSERT_TRUE(Click(FindControl(about, L"OK")));
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(about); }, kWait));
    // It comes again on the next click.
    ASSERT_TRUE(ChooseMenu(app_, main_, L"&Help/About"));
    EXPECT_NE(app_.WaitWindow(L"About Tovra", kWait), nullptr);
}

}  // namespace
