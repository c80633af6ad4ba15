// The IE Washer of tovra.exe driven as a user would: the button, "Clean" and "IE Default", each
// question answered each way, then the registry, the swept folders and the URL cache checked.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "main/shell/main_ids.h"
#include "main/washer/tests/washer_test_support.h"
#include "tests/driver/driver.h"
#include "tests/support/temp_dir.h"

namespace tovra::washer::test {
namespace {

using namespace tovra::driver;
namespace t = tovra::test;
namespace shell = tovra::shell;

constexpr DWORD kWait = 15000;
constexpr wchar_t kIEMain[] = L"software\\Microsoft\\Internet Explorer\\Main";
constexpr char kIEMainA[] = "software\\Microsoft\\Internet Explorer\\Main";
constexpr wchar_t kTypedUrls[] = L"Software\\Microsoft\\Internet Explorer\\TypedURLs";
constexpr wchar_t kRun[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kRunA[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kOfficeRecent[] = L"C:\\WINDOWS\\Application Data\\Microsoft\\Office\\Recent";
constexpr char kHome[] = "http://www.microsoft.com/isapi/redir.dll?prd=ie&pver=6&ar=msnhome";
constexpr int kSeededEntries = 4;  // three pages and a cookie

std::wstring PathOf(int csidl) {
    wchar_t path[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

// Runs the cache tool in a process of its own; its exit code.
int CacheTool(const std::wstring& what) {
    std::wstring line = L"\"" + t::ModuleDir() + L"\\washer_cache_tool.exe\" " + what;
    PROCESS_INFORMATION pi{};
    if (!tovra::driver::StartProcess(nullptr, line, CREATE_NO_WINDOW, nullptr, &pi)) {
        ADD_FAILURE() << "cannot start the cache tool";
        return -1;
    }
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}

class WasherE2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        officeRecentMade_ = !Exists(kOfficeRecent);
        planted_ = {
            windowsTemp_ / L"old.tmp",       windowsTemp_ / L"nested\\older.tmp",
            history_ / L"visited.dat",       cache_ / L"page[1].htm",
            recent_ / L"letter.txt.lnk",     std::wstring(kOfficeRecent) + L"\\report.doc.lnk",
        };
        for (const auto& file : planted_) PlantFile(file);
        readOnly_ = windowsTemp_ / L"read-only.tmp";
        PlantFile(readOnly_);
        SetFileAttributesW(readOnly_.c_str(), FILE_ATTRIBUTE_READONLY);
        // A link in a swept folder to a document elsewhere: Wine shows it as a plain file.
        t::WriteFileAt(outside_ / L"precious.doc", "the user's document");
        t::MakeFileLink(windowsTemp_ / L"nested\\link.tmp", outside_ / L"precious.doc");
        ASSERT_EQ(CacheTool(L"seed"), 0) << "the URL cache could not be seeded";
        ASSERT_EQ(CacheTool(L"count"), kSeededEntries);

        WriteString(HKEY_CURRENT_USER, kTypedUrls, L"url1", L"http://tovra.test/typed");
        WriteString(HKEY_LOCAL_MACHINE, kTypedUrls, L"url1", L"http://tovra.test/typed-machine");
        WriteString(HKEY_CURRENT_USER, kRun, L"Other Program", L"C:\\other\\other.exe");
        WriteString(HKEY_LOCAL_MACHINE, kRun, L"Machine Program", L"C:\\other\\machine.exe");
        WriteString(HKEY_CURRENT_USER, kIEMain, L"Start Page", L"sentinel");
        WriteString(HKEY_LOCAL_MACHINE, kIEMain, L"Start Page", L"sentinel");

        app_ = App::Start(t::ModuleDir() + L"\\tovra.exe");
        ASSERT_TRUE(app_.started());
        main_ = app_.WaitWindow(shell::kMainTitle, kWait);
        ASSERT_NE(main_, nullptr) << "the main window did not come";
    }
    void TearDown() override {
        app_.Kill();
        SetFileAttributesW(readOnly_.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (officeRecentMade_) t::RemoveTree(L"C:\\WINDOWS\\Application Data");
    }

    std::wstring TextOf(int id) { return WindowText(FindControlById(main_, id)); }
    bool Enabled(int id) { return IsWindowEnabled(FindControlById(main_, id)) != FALSE; }

    // Waits for the box, checks it and presses the answer.
    void AnswerBox(const wchar_t* title, const wchar_t* text, std::vector<int> buttons, int answer) {
        std::optional<MessageBoxInfo> box = WaitMessageBox(app_, kWait, title);
        ASSERT_TRUE(box.has_value()) << "no box titled " << testing::PrintToString(std::wstring(title));
        EXPECT_EQ(box->text, text);
        EXPECT_EQ(box->buttons, buttons);
        EXPECT_EQ(box->icon, 0u);
        ASSERT_TRUE(Answer(*box, answer)) << "the box did not go";
    }
    void AnswerAreYouSure(int answer) {
        AnswerBox(L"Clean!", L"Are you sure? (recommended)", {IDYES, IDNO}, answer);
    }
    // While the start-up question is open the run shows itself as running.
    void AnswerStartUp(int answer) {
        ASSERT_TRUE(WaitMessageBox(app_, kWait, L"Question!").has_value());
        EXPECT_EQ(TextOf(shell::lblWasher), L"Running");
        EXPECT_FALSE(Enabled(shell::cmdWasher));
        EXPECT_EQ(TextOf(shell::cmdWasher), L"Start");
        EXPECT_EQ(TextOf(shell::Label1), std::wstring(kOfficeRecent) + L"\\report.doc.lnk");  // the last sweep's file
        AnswerBox(L"Question!", L"Do you want to stop running program during start up? (recommended)",
                  {IDYES, IDNO}, answer);
    }
    void AnswerFinished() {
        ASSERT_TRUE(WaitMessageBox(app_, kWait, L"End").has_value());
        EXPECT_EQ(TextOf(shell::lblWasher), L"Stopped");
        EXPECT_TRUE(Enabled(shell::cmdWasher));
        AnswerBox(L"End", L"Finished", {IDOK}, IDOK);
    }

    void ExpectWashed() {
        for (size_t i = 0; i < planted_.size(); ++i) EXPECT_FALSE(Exists(planted_[i])) << "planted file " << i;
        EXPECT_TRUE(Exists(readOnly_));
        EXPECT_TRUE(Exists(windowsTemp_ / L"nested"));
        EXPECT_EQ(t::ReadFileAt(outside_ / L"precious.doc"), "the user's document") << "the sweep followed a link";
        EXPECT_EQ(CacheTool(L"count"), 0);
        EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kIEMainA, "Start Page"), std::optional<std::string>(kHome));
        EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kIEMainA, "Custom_Key"), std::optional<std::string>("MICROSO"));
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kTypedUrls));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kTypedUrls));
    }

    RegistryKeySnapshot snapshots_[6] = {
        {HKEY_LOCAL_MACHINE, kIEMain}, {HKEY_CURRENT_USER, kIEMain}, {HKEY_LOCAL_MACHINE, kTypedUrls},
        {HKEY_CURRENT_USER, kTypedUrls}, {HKEY_LOCAL_MACHINE, kRun},  {HKEY_CURRENT_USER, kRun},
    };
    t::TempDir outside_;  // the user's temp folder, which no sweep touches
    t::TempDir windowsTemp_{L"c:\\windows\\temp"};
    t::TempDir history_{PathOf(CSIDL_HISTORY)};
    t::TempDir cache_{PathOf(CSIDL_INTERNET_CACHE)};
    t::TempDir recent_{PathOf(CSIDL_RECENT)};
    std::vector<std::wstring> planted_;
    std::wstring readOnly_;
    bool officeRecentMade_ = false;
    App app_;
    HWND main_ = nullptr;
};

TEST_F(WasherE2eTest, TheButtonNoChangesNothingThenYesAndNoKeepsTheStartUpPrograms) {
    ASSERT_TRUE(Click(FindControlById(main_, shell::cmdWasher)));
    AnswerAreYouSure(IDNO);
    EXPECT_FALSE(WaitMessageBox(app_, 1000).has_value()) << "a box after No";
    for (size_t i = 0; i < planted_.size(); ++i) EXPECT_TRUE(Exists(planted_[i])) << "planted file " << i;
    EXPECT_EQ(CacheTool(L"count"), kSeededEntries);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kTypedUrls));
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kIEMainA, "Start Page"), std::optional<std::string>("sentinel"));
    EXPECT_EQ(TextOf(shell::lblWasher), L"Stopped");
    EXPECT_EQ(TextOf(shell::Label1), L"Services");

    ASSERT_TRUE(Click(FindControlById(main_, shell::cmdWasher)));
    AnswerAreYouSure(IDYES);
    AnswerStartUp(IDNO);
    AnswerFinished();
    ExpectWashed();
    EXPECT_EQ(ValueNames(HKEY_CURRENT_USER, kRun), std::vector<std::wstring>{L"Other Program"});
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kRunA, "Machine Program"),
              std::optional<std::string>("C:\\other\\machine.exe"));
}

TEST_F(WasherE2eTest, CleanWithYesAndYesKeepsOnlyTheProductAtStartUp) {
    ASSERT_TRUE(ChooseMenu(app_, main_, L"IE &Washer/Clean"));
    AnswerAreYouSure(IDYES);
    AnswerStartUp(IDYES);
    AnswerFinished();
    ExpectWashed();
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kRun));
    EXPECT_EQ(ValueNames(HKEY_LOCAL_MACHINE, kRun), std::vector<std::wstring>{L"Tovra Internet Security 1.0"});
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kRunA, "Tovra Internet Security 1.0"),
              std::optional<std::string>("\"C:\\Program Files\\tovra\\tovra.exe\""));
}

TEST_F(WasherE2eTest, IEDefaultWritesTheSettingsOnlyAfterYes) {
    const wchar_t* text = L"Are you sure you want to change to Internet Explorer Default Settings";
    ASSERT_TRUE(ChooseMenu(app_, main_, L"&Settings/IE Default"));
    AnswerBox(L"Default Settings", text, {IDYES, IDNO}, IDNO);
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kIEMainA, "Start Page"), std::optional<std::string>("sentinel"));
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kIEMainA, "Start Page"), std::optional<std::string>("sentinel"));

    ASSERT_TRUE(ChooseMenu(app_, main_, L"&Settings/IE Default"));
    AnswerBox(L"Default Settings", text, {IDYES, IDNO}, IDYES);
    // The last write of the table is the user's "Check_Associations".
    ASSERT_TRUE(WaitFor([] { return ReadString(HKEY_CURRENT_USER, kIEMainA, "Check_Associations").has_value(); },
                        kWait));
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kIEMainA, "Start Page"), std::optional<std::string>(kHome));
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kIEMainA, "Start Page"),
              std::optional<std::string>("http://www.microsoft.com/isapi/redir.dll?prd={SUB_PRD}&clcid={SUB_CLSID}"
                                         "&pver={SUB_PVER}&ar=home"));
    EXPECT_FALSE(WaitMessageBox(app_, 1000).has_value()) << "nothing is shown afterwards";
    EXPECT_EQ(TextOf(shell::lblWasher), L"Stopped");
    // Nothing else of the washer ran.
    for (size_t i = 0; i < planted_.size(); ++i) EXPECT_TRUE(Exists(planted_[i])) << "planted file " << i;
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kTypedUrls));
}

// A big sweep: the window answers while it runs, and Exit ends the program within a second,
// with the files not yet swept still there.
TEST_F(WasherE2eTest, TheWindowAnswersDuringAWashAndExitEndsItAtOnce) {
    constexpr int kFiles = 4000;
    for (int i = 0; i < kFiles; ++i) PlantFile(windowsTemp_ / (L"many\\" + std::to_wstring(i) + L".tmp"));
    auto left = [&] {
        int n = 0;
        for (int i = 0; i < kFiles; ++i) n += Exists(windowsTemp_ / (L"many\\" + std::to_wstring(i) + L".tmp"));
        return n;
    };
    ASSERT_TRUE(Click(FindControlById(main_, shell::cmdWasher)));
    AnswerAreYouSure(IDYES);
    ASSERT_TRUE(WaitFor([&] { return TextOf(shell::Label1) != L"Services"; }, kWait)) << "Label1 shows no file";
    EXPECT_EQ(TextOf(shell::lblWasher), L"Running");
    // Its answer times are measured by bench_responsiveness; here it must answer at all.
    for (int i = 0; i < 5; ++i) {
        DWORD_PTR r = 0;
        EXPECT_TRUE(SendMessageTimeoutW(main_, WM_NULL, 0, 0, SMTO_NORMAL, 2000, &r)) << "the window did not answer";
        Sleep(20);
    }
    ASSERT_TRUE(ChooseMenu(app_, main_, L"&File/Exit"));
    const DWORD exitAt = GetTickCount();
    ASSERT_TRUE(app_.WaitExit(5000)) << "Exit left the program running";
    EXPECT_LT(GetTickCount() - exitAt, 1000u) << "Exit during a wash took too long";
    const int afterExit = left();
    EXPECT_GT(afterExit, 0) << "the sweep was over before Exit";
    Sleep(300);
    EXPECT_EQ(left(), afterExit) << "files went after the program ended";
    t::RemoveTree(windowsTemp_ / L"many");
}

// The elevated instance that a run asks for where User Account Control keeps the window's process
// from the machine root: tovra.exe started with its switch does just the steps it names, shows no
// window, and its exit code names the steps that failed (none here).
class MachineStepsE2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteString(HKEY_CURRENT_USER, kTypedUrls, L"url1", L"http://tovra.test/typed");
        WriteString(HKEY_LOCAL_MACHINE, kTypedUrls, L"url1", L"http://tovra.test/typed-machine");
        WriteString(HKEY_CURRENT_USER, kRun, L"Other Program", L"C:\\other\\other.exe");
        WriteString(HKEY_LOCAL_MACHINE, kRun, L"Machine Program", L"C:\\other\\machine.exe");
        WriteString(HKEY_CURRENT_USER, kIEMain, L"Start Page", L"sentinel");
        WriteString(HKEY_LOCAL_MACHINE, kIEMain, L"Start Page", L"sentinel");
    }
    // The exit code, or -1 when it did not end by itself.
    static int RunSteps(unsigned steps) {
        std::wstring line = L"\"" + t::ModuleDir() + L"\\tovra.exe\" /machine-steps:" + std::to_wstring(steps);
        PROCESS_INFORMATION pi{};
        if (!StartProcess(nullptr, line, 0, nullptr, &pi)) {
            ADD_FAILURE() << "cannot start tovra.exe (error " << GetLastError() << ")";
            return -1;
        }
        App app = App::Attach(pi.dwProcessId);
        DWORD code = static_cast<DWORD>(-1);
        if (WaitForSingleObject(pi.hProcess, kWait) == WAIT_OBJECT_0) {
            GetExitCodeProcess(pi.hProcess, &code);
        } else {
            ADD_FAILURE() << "the elevated instance did not end";
            TerminateProcess(pi.hProcess, 1);
        }
        EXPECT_EQ(app.WaitWindow(L"Tovra Internet Security 1.0", 0), nullptr) << "it showed the main window";
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        return static_cast<int>(code);
    }
    RegistryKeySnapshot snapshots_[7] = {
        {HKEY_LOCAL_MACHINE, kIEMain}, {HKEY_CURRENT_USER, kIEMain}, {HKEY_LOCAL_MACHINE, kTypedUrls},
        {HKEY_CURRENT_USER, kTypedUrls}, {HKEY_LOCAL_MACHINE, kRun},  {HKEY_CURRENT_USER, kRun},
        {HKEY_LOCAL_MACHINE, kRun, KEY_WOW64_32KEY},
    };
};

TEST_F(MachineStepsE2eTest, EachSwitchDoesJustItsSteps) {
    // The browser defaults for all users only.
    ASSERT_EQ(RunSteps(1), 0);
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kIEMainA, "Start Page"),
              std::optional<std::string>("http://www.microsoft.com/isapi/redir.dll?prd={SUB_PRD}&clcid={SUB_CLSID}"
                                         "&pver={SUB_PVER}&ar=home"));
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kIEMainA, "Start Page"), std::optional<std::string>("sentinel"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kTypedUrls));

    // The machine's typed addresses only.
    ASSERT_EQ(RunSteps(2), 0);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kTypedUrls));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kTypedUrls));
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kRunA, "Machine Program"),
              std::optional<std::string>("C:\\other\\machine.exe"));

    // The machine's start-up programs, and the product's own entry back, quoted.
    ASSERT_EQ(RunSteps(12), 0);
    EXPECT_EQ(ValueNames(HKEY_LOCAL_MACHINE, kRun), std::vector<std::wstring>{L"Tovra Internet Security 1.0"});
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kRunA, "Tovra Internet Security 1.0"),
              std::optional<std::string>("\"C:\\Program Files\\tovra\\tovra.exe\""));
    EXPECT_EQ(ValueNames(HKEY_CURRENT_USER, kRun), std::vector<std::wstring>{L"Other Program"})
        << "the user's start-up key is the window's process's to clean";
}

TEST_F(MachineStepsE2eTest, ASwitchThatNamesNoKnownStepStartsTheProgram) {
    // Not a machine-steps instance: the program starts as ever (and is ended here).
    std::wstring line = L"\"" + t::ModuleDir() + L"\\tovra.exe\" /machine-steps:99";
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(StartProcess(nullptr, line, 0, nullptr, &pi));
    App app = App::Attach(pi.dwProcessId);
    HWND main = app.WaitWindow(L"Tovra Internet Security 1.0", kWait);
    EXPECT_NE(main, nullptr);
    if (main) {
        EXPECT_TRUE(ChooseMenu(app, main, L"&File/Exit"));
    }
    EXPECT_TRUE(app.WaitExit(kWait));
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kIEMainA, "Start Page"), std::optional<std::string>("sentinel"));
}

}  // namespace
}  // namespace tovra::washer::test
