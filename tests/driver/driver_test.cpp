// The driver against a real second process: the fixture program built beside this test.
#include "tests/driver/driver.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "shared/compat.h"

namespace {

using namespace tovra::driver;
using tovra::test::ModuleDir;
using tovra::test::TempDir;

constexpr DWORD kWait = 10000;

enum : int {
    cmdAsk = 110, cmdWarn, cmdStop, cmdInfo, cmdPlain,
    cmdDisabled = 120, cmdHidden,
    lblResult = 130, lblClick, lblArgs, lblDir, lblPlain,
    chkOption = 140, optA, optB,
    txtName = 150,
    lvwRows = 160,
    staBar = 170,
};

std::wstring FixturePath() { return ModuleDir() + L"\\tovra_driver_fixture.exe"; }

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override { Open(FixturePath()); }

    void Open(const std::wstring& exe, const std::wstring& args = L"", const std::wstring& dir = L"") {
        app_ = App::Start(exe, args, dir);
        ASSERT_TRUE(app_.started()) << "cannot start the fixture program";
        top_ = app_.WaitWindow(L"Driver Fixture", kWait);
        ASSERT_NE(top_, nullptr) << "the fixture window did not appear";
    }

    HWND Ctl(int id) const { return FindControlById(top_, id); }
    std::wstring Result() const { return WindowText(Ctl(lblResult)); }
    // The fixture writes what it received into a label; wait for it rather than for a fixed time.
    void ExpectResult(const std::wstring& want) const {
        EXPECT_TRUE(WaitFor([&] { return Result() == want; }, kWait))
            << "label reads \"" << testing::PrintToString(Result()) << "\"";
    }

    App app_;
    HWND top_ = nullptr;
};

TEST_F(DriverTest, StartsAndFindsTheWindowOfItsOwnProcess) {
    EXPECT_TRUE(app_.Running());
    EXPECT_NE(app_.pid(), 0u);
    std::vector<HWND> windows = app_.TopWindows();
    EXPECT_NE(std::find(windows.begin(), windows.end(), top_), windows.end());
    EXPECT_EQ(WindowText(top_), L"Driver Fixture");
    EXPECT_EQ(ClassName(top_), L"Tovra.frmFixture");
    // Started as Explorer would: in the program's own folder.
    EXPECT_EQ(WindowText(Ctl(lblDir)), ModuleDir());
    EXPECT_EQ(WindowText(Ctl(lblArgs)), L"Args: ");

    EXPECT_EQ(app_.WaitWindow(L"No Such Window", 300), nullptr);
    App none;
    EXPECT_FALSE(none.started());
    EXPECT_TRUE(none.TopWindows().empty());
}

TEST_F(DriverTest, PassesArgumentsAndWorkingFolder) {
    TempDir dir;
    Open(FixturePath(), L"--alpha \"b c\"", dir.path());
    EXPECT_EQ(WindowText(Ctl(lblArgs)), L"Args: --alpha \"b c\"");
    EXPECT_EQ(WindowText(Ctl(lblDir)), dir.path());
    app_.Kill();  // before the folder goes
}

TEST_F(DriverTest, ListsControlsInTabOrder) {
    std::vector<Control> controls = Controls(top_);
    std::vector<int> ids;
    for (const Control& c : controls) ids.push_back(c.id);
    EXPECT_EQ(ids, (std::vector<int>{cmdAsk, cmdWarn, cmdStop, cmdInfo, cmdPlain, cmdDisabled, cmdHidden, lblResult,
                                     lblClick, lblArgs, lblDir, lblPlain, chkOption, optA, optB, txtName, lvwRows,
                                     staBar}));
    ASSERT_EQ(controls.size(), ids.size());
    struct Expected {
        size_t index;
        const wchar_t* cls;
        const wchar_t* text;
        bool visible, enabled;
    };
    const Expected table[] = {
        {0, L"Button", L"Ask", true, true},
        {5, L"Button", L"Disabled", true, false},
        {6, L"Button", L"Hidden", false, true},
        {7, L"Static", L"Nothing yet", true, true},
        {12, L"Button", L"Option", true, true},
        {15, L"Edit", L"Initial text", true, true},
        {16, L"SysListView32", L"", true, true},
        {17, L"msctls_statusbar32", L"Ready", true, true},
    };
    for (const Expected& e : table) {
        SCOPED_TRACE(e.index);
        const Control& c = controls[e.index];
        EXPECT_TRUE(tovra::compat::EqualNoCase(c.className, e.cls)) << c.className.size();
        EXPECT_EQ(c.text, e.text);
        EXPECT_EQ(c.visible, e.visible);
        EXPECT_EQ(c.enabled, e.enabled);
        EXPECT_EQ(c.hwnd, Ctl(c.id));
    }
    // 15 twips a pixel: "Ask" sits at (120, 120) twips, 1200 x 375.
    EXPECT_EQ(controls[0].rect.left, 8);
    EXPECT_EQ(controls[0].rect.top, 8);
    EXPECT_EQ(controls[0].rect.right - controls[0].rect.left, 80);
    EXPECT_EQ(controls[0].rect.bottom - controls[0].rect.top, 25);

    EXPECT_EQ(FindControl(top_, L"Warn"), Ctl(cmdWarn));
    EXPECT_EQ(FindControl(top_, L"Initial text"), Ctl(txtName));
    EXPECT_EQ(FindControl(top_, L"warn"), nullptr);
    EXPECT_EQ(FindControlById(top_, 4242), nullptr);
}

TEST_F(DriverTest, ReadsAndAnswersMessageBoxes) {
    struct Case {
        const wchar_t* button;
        const wchar_t* title;
        const wchar_t* text;
        std::vector<int> buttons;
        UINT icon;
        int answer;
    };
    const Case cases[] = {
        {L"Ask", L"Fixture Question", L"Proceed?\nSecond line", {IDYES, IDNO}, MB_ICONQUESTION, IDNO},
        {L"Warn", L"Fixture Warning", L"Careful", {IDOK, IDCANCEL}, MB_ICONEXCLAMATION, IDCANCEL},
        {L"Stop", L"Fixture Stop", L"Stopped", {IDABORT, IDRETRY, IDIGNORE}, MB_ICONHAND, IDRETRY},
        {L"Info", L"Fixture Info", L"For your information", {IDOK}, MB_ICONASTERISK, IDOK},
        {L"Plain", L"Fixture Plain", L"Completed", {IDOK}, 0, IDOK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.title)));
        EXPECT_FALSE(CurrentMessageBox(app_).has_value());
        ASSERT_TRUE(Click(FindControl(top_, c.button)));
        auto box = WaitMessageBox(app_, kWait, c.title);
        ASSERT_TRUE(box.has_value());
        EXPECT_EQ(box->title, c.title);
        EXPECT_EQ(box->text, c.text);
        EXPECT_EQ(box->buttons, c.buttons);
        EXPECT_EQ(box->icon, c.icon);
        auto current = CurrentMessageBox(app_);
        ASSERT_TRUE(current.has_value());
        EXPECT_EQ(current->hwnd, box->hwnd);
        // The box is modal: the window behind it cannot be clicked.
        EXPECT_FALSE(Click(Ctl(cmdPlain)));
        EXPECT_FALSE(Answer(*box, IDCONTINUE));  // not one of its buttons
        ASSERT_TRUE(Answer(*box, c.answer));
        EXPECT_FALSE(IsWindow(box->hwnd) && IsWindowVisible(box->hwnd));
        ExpectResult(std::wstring(c.title) + L" " + std::to_wstring(c.answer));
    }
}

TEST_F(DriverTest, WaitingForABoxThatDoesNotComeTimesOut) {
    EXPECT_FALSE(WaitMessageBox(app_, 300).has_value());
    ASSERT_TRUE(Click(FindControl(top_, L"Plain")));
    ASSERT_TRUE(WaitMessageBox(app_, kWait).has_value());
    EXPECT_FALSE(WaitMessageBox(app_, 300, L"Another Title").has_value());
}

TEST_F(DriverTest, ClicksLabelsCheckBoxesAndOptionButtons) {
    ASSERT_TRUE(Click(Ctl(lblClick)));
    ExpectResult(L"Label clicked 1");
    ASSERT_TRUE(Click(Ctl(lblClick)));
    ExpectResult(L"Label clicked 2");

    EXPECT_FALSE(IsChecked(Ctl(chkOption)));
    ASSERT_TRUE(Click(Ctl(chkOption)));
    EXPECT_TRUE(WaitFor([&] { return IsChecked(Ctl(chkOption)); }, kWait));
    ASSERT_TRUE(Click(Ctl(chkOption)));
    EXPECT_TRUE(WaitFor([&] { return !IsChecked(Ctl(chkOption)); }, kWait));

    EXPECT_TRUE(IsChecked(Ctl(optA)));
    EXPECT_FALSE(IsChecked(Ctl(optB)));
    ASSERT_TRUE(Click(Ctl(optB)));
    EXPECT_TRUE(WaitFor([&] { return IsChecked(Ctl(optB)) && !IsChecked(Ctl(optA)); }, kWait));
}

TEST_F(DriverTest, RefusesDisabledHiddenAndDeafControls) {
    EXPECT_FALSE(Click(Ctl(cmdDisabled)));
    EXPECT_FALSE(Click(Ctl(cmdHidden)));
    EXPECT_FALSE(Click(Ctl(lblPlain)));
    EXPECT_FALSE(Click(nullptr));
    // Posted messages arrive in order: had any of the refused clicks been sent, it would show first.
    ASSERT_TRUE(Click(Ctl(lblClick)));
    ExpectResult(L"Label clicked 1");
}

TEST_F(DriverTest, ReadsMenusInsideTheProgram) {
    struct Case {
        const wchar_t* path;
        bool found;
        UINT id;
        bool checked, enabled;
    };
    const Case cases[] = {
        {L"&Options/&Checked Entry", true, 1101, true, true},
        {L"Options/Checked Entry", true, 1101, true, true},
        {L"&Options/&Greyed Entry", true, 1102, false, false},
        {L"&Options/&Toggle", true, 1103, false, true},
        {L"&Options/Fish && Chips", true, 1104, false, true},
        {L"Options/Fish & Chips", true, 1104, false, true},
        {L"&File/E&xit", true, 1002, false, true},
        {L"File/Exit", true, 1002, false, true},
        {L"&Options", true, 0, false, true},
        {L"&Options/Chec&ked Entry", false, 0, false, false},
        {L"&Options/Missing", false, 0, false, false},
        {L"&Nothing/&Toggle", false, 0, false, false},
        {L"", false, 0, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.path)));
        MenuEntry e = ReadMenu(app_, top_, c.path);
        EXPECT_EQ(e.found, c.found);
        EXPECT_EQ(e.id, c.id);
        EXPECT_EQ(e.checked, c.checked);
        EXPECT_EQ(e.enabled, c.enabled);
    }
}

TEST_F(DriverTest, ChoosesMenuEntries) {
    ASSERT_TRUE(ChooseMenu(app_, top_, L"&Options/&Toggle"));
    ExpectResult(L"Toggled");
    EXPECT_FALSE(ReadMenu(app_, top_, L"&Options/&Checked Entry").checked);
    EXPECT_FALSE(ChooseMenu(app_, top_, L"&Options/&Greyed Entry"));
    EXPECT_FALSE(ChooseMenu(app_, top_, L"&Options"));
    EXPECT_FALSE(ChooseMenu(app_, top_, L"&Options/Missing"));

    // An entry that opens a modal box returns at once; behind the box nothing can be chosen.
    ASSERT_TRUE(ChooseMenu(app_, top_, L"&File/&Open Box"));
    auto box = WaitMessageBox(app_, kWait, L"Fixture Menu");
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->text, L"Opened from the menu");
    EXPECT_EQ(box->buttons, std::vector<int>{IDOK});
    EXPECT_EQ(box->icon, 0u);
    EXPECT_FALSE(ChooseMenu(app_, top_, L"&Options/&Toggle"));
    EXPECT_TRUE(ReadMenu(app_, top_, L"&Options/&Toggle").found);  // reading still works
    ASSERT_TRUE(Answer(*box, IDOK));
    ExpectResult(L"Menu box 1");
    EXPECT_FALSE(ReadMenu(app_, top_, L"&Options/&Checked Entry").checked);  // the toggle never ran
}

TEST_F(DriverTest, ReadsListViewsAndStatusBars) {
    EXPECT_EQ(ListViewColumnCount(app_, Ctl(lvwRows)), 3);
    std::vector<std::vector<std::wstring>> want = {
        {L"alpha.exe", L"C:\\one", L"10"},
        {L"Gr\u00f6\u00dfe.txt", L"", L"2048"},
        {L"third", L"D:\\x y", L"0"},
    };
    EXPECT_EQ(ListViewRows(app_, Ctl(lvwRows)), want);
    EXPECT_EQ(StatusBarText(app_, Ctl(staBar), 0), L"Ready");
    EXPECT_EQ(StatusBarText(app_, Ctl(staBar), 1), L"3 rows");
}

TEST_F(DriverTest, ReportsTheExitCode) {
    ASSERT_TRUE(ChooseMenu(app_, top_, L"&File/Exit"));
    DWORD code = 0;
    ASSERT_TRUE(app_.WaitExit(kWait, &code));
    EXPECT_EQ(code, 7u);
    EXPECT_FALSE(app_.Running());
}

TEST_F(DriverTest, KillsWhatItStartedWhenItGoes) {
    HANDLE watch = OpenProcess(SYNCHRONIZE, FALSE, app_.pid());
    ASSERT_NE(watch, nullptr);
    {
        App moved = std::move(app_);
        EXPECT_FALSE(app_.started());
        EXPECT_TRUE(moved.Running());
        EXPECT_FALSE(moved.WaitExit(100));
    }
    EXPECT_EQ(WaitForSingleObject(watch, 0), WAIT_OBJECT_0);
    CloseHandle(watch);

    Open(FixturePath());
    app_.Kill();
    EXPECT_FALSE(app_.Running());
    EXPECT_TRUE(app_.WaitExit(0));
}

TEST(DriverAttachTest, TakesChargeOfAProcessStartedElsewhere) {
    // As when a program under test starts another: the test did not start it and knows only its name.
    TempDir dir;
    std::wstring exe = dir / L"fixture_child.exe";
    ASSERT_TRUE(CopyFileW(FixturePath().c_str(), exe.c_str(), FALSE));
    EXPECT_FALSE(App::WaitStarted(L"fixture_child.exe", 200).started());
    PROCESS_INFORMATION pi{};
    std::wstring line = L"\"" + exe + L"\"";
    ASSERT_TRUE(StartProcess(exe.c_str(), line, 0, dir.path().c_str(), &pi));
    CloseHandle(pi.hThread);
    struct KillOnFailure {
        HANDLE process;
        ~KillOnFailure() {
            TerminateProcess(process, 1);  // a no-op once it has gone
            WaitForSingleObject(process, 5000);
            CloseHandle(process);
        }
    } guard{pi.hProcess};
    {
        App child = App::WaitStarted(L"FIXTURE_CHILD.EXE", kWait);
        ASSERT_TRUE(child.started());
        EXPECT_EQ(child.pid(), pi.dwProcessId);
        HWND top = child.WaitWindow(L"Driver Fixture", kWait);
        ASSERT_NE(top, nullptr);
        EXPECT_TRUE(ReadMenu(child, top, L"&Options/&Checked Entry").checked);
        EXPECT_EQ(StatusBarText(child, FindControlById(top, staBar)), L"Ready");
    }
    // Gone with the App that took charge of it.
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 0), WAIT_OBJECT_0);
}

TEST(DriverInstallTest, CopiesProgramsIntoTheProductFolder) {
    const std::wstring folder = ProductFolder();
    ASSERT_EQ(folder, L"C:\\Program Files\\tovra");
    const bool hadFolder = tovra::test::PathExists(folder);
    const std::wstring installed = folder + L"\\tovra_driver_fixture.exe";
    ASSERT_FALSE(tovra::test::PathExists(installed));
    // Other tests use the product folder too: leave it as it was found.
    struct Restore {
        std::wstring file, folder;
        bool hadFolder;
        ~Restore() {
            DeleteFileW(file.c_str());
            if (!hadFolder) RemoveDirectoryW(folder.c_str());
        }
    } restore{installed, folder, hadFolder};

    EXPECT_EQ(InstallBuiltPrograms({L"tovra_driver_fixture.exe"}), installed);
    EXPECT_EQ(tovra::test::ReadFileAt(installed), tovra::test::ReadFileAt(FixturePath()));
    {
        App app = App::Start(installed);
        HWND top = app.WaitWindow(L"Driver Fixture", kWait);
        ASSERT_NE(top, nullptr);
        EXPECT_EQ(WindowText(FindControlById(top, lblDir)), folder);
    }
    EXPECT_EQ(InstallBuiltPrograms({L"no_such_program.exe"}), L"");
}

}  // namespace
