// The installer as a user meets it: the distribution medium the build makes, build/dist/setup.exe
// worked from a second process on a prefix that reports the NT family or (per program) the
// Windows 98 family, and the whole suite's life cycle from installation to uninstallation.
#include <shlwapi.h>
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "listwriter/virus_list.h"
#include "setup/tests/system_snapshot.h"
#include "shared/suite.h"
#include "shared/html_view_text.h"
#include "shared/win_handles.h"
#include "tests/driver/driver.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace tovra::driver;
using tovra::ComPtr;
using tovra::UniqueKey;
using tovra::setup::test::KeyExists;
using tovra::setup::test::MakeFamilyFolders;
using tovra::setup::test::ReadMultiString;
using tovra::setup::test::ReadString;
using tovra::setup::test::SystemSnapshot;
namespace t = tovra::test;

constexpr DWORD kWait = 15000;
const wchar_t kSelectionTitle[] = L"Tovra Internet Security Setup";
const wchar_t kInstallPageTitle[] = L"Tovra Internet Security Setup - Install";
const wchar_t kUninstallPageTitle[] = L"Tovra Internet Security Setup - Uninstall";
const wchar_t kProgram[] = L"C:\\Program Files\\tovra";
const wchar_t kUninstallKey[] = L"software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tovra Internet Security 1.0";
const wchar_t kRunKey[] = L"software\\Microsoft\\Windows\\CurrentVersion\\Run";
// The NT family's folders are the system's own (this prefix's are Vista's).
const std::wstring kStartNT = tovra::suite::Folders().commonPrograms + L"\\tovra";
const wchar_t kStart9x[] = L"C:\\Windows\\Start Menu\\Programs\\tovra";
const std::wstring kDesktopNT = tovra::suite::Folders().commonDesktop;
const wchar_t kDesktop9x[] = L"C:\\WINDOWS\\All Users\\Desktop";
const wchar_t* const kMediumFiles[] = {L"setup.exe",  L"tovra.exe",   L"tovraa.exe",
                                       L"file.dat",   L"readme.htm",  L"utovraa.exe",
                                       L"Tovra Internet Security.lnk", L"About Tovra IS.lnk"};
const wchar_t* const kProgramFiles[] = {L"setup.exe", L"tovra.exe", L"tovraa.exe",
                                        L"file.dat",  L"readme.htm", L"utovraa.exe"};

std::string Narrow(const std::wstring& s) {
    std::string out;
    for (wchar_t c : s) out += c < 128 ? static_cast<char>(c) : '?';
    return out;
}

std::wstring FullPath(const std::wstring& path) {
    wchar_t buf[MAX_PATH * 2];
    DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(std::size(buf)), buf, nullptr);
    return n ? std::wstring(buf, n) : path;
}

std::wstring Dist() { return FullPath(t::ModuleDir() + L"\\..\\dist"); }

std::vector<std::wstring> FolderNames(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    tovra::UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &fd));
    if (!find) return names;
    do {
        std::wstring name = fd.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(find.get(), &fd));
    std::sort(names.begin(), names.end());
    return names;
}

// Makes the next start of setup.exe report Windows 98 (Wine reads this per program), and puts
// the setting back afterwards.
class Windows98ForSetup {
public:
    Windows98ForSetup() {
        existed_ = KeyExists(HKEY_CURRENT_USER, kKey);
        UniqueKey k;
        EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, k.put(), nullptr),
                  ERROR_SUCCESS);
        old_ = ReadString(HKEY_CURRENT_USER, kKey, L"Version");
        const wchar_t value[] = L"win98";
        RegSetValueExW(k.get(), L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof value);
    }
    ~Windows98ForSetup() {
        if (!existed_) {
            SHDeleteKeyW(HKEY_CURRENT_USER, kKey);
            return;
        }
        UniqueKey k;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_WRITE, k.put()) != ERROR_SUCCESS) return;
        if (old_) {
            RegSetValueExW(k.get(), L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(old_->c_str()),
                           static_cast<DWORD>((old_->size() + 1) * sizeof(wchar_t)));
        } else {
            RegDeleteValueW(k.get(), L"Version");
        }
    }

private:
    static constexpr wchar_t kKey[] = L"Software\\Wine\\AppDefaults\\setup.exe";
    bool existed_ = false;
    std::optional<std::wstring> old_;
};

// ---- The distribution medium --------------------------------------------------------------------

TEST(MediumTest, HoldsExactlyWhatTheInstallerCopies) {
    std::vector<std::wstring> expected(std::begin(kMediumFiles), std::end(kMediumFiles));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(FolderNames(Dist()), expected) << "in " << Narrow(Dist());

    // file.dat: the list writer's list, byte for byte.
    EXPECT_EQ(t::ReadFileAt(Dist() + L"\\file.dat"), tovra::VirusListFileImage(tovra::VirusNames()));
    // The programs as built.
    for (const wchar_t* exe : {L"setup.exe", L"tovra.exe", L"tovraa.exe", L"utovraa.exe"}) {
        std::string built = t::ReadFileAt(t::ModuleDir() + L"\\" + exe);
        EXPECT_FALSE(built.empty()) << Narrow(exe);
        EXPECT_TRUE(t::ReadFileAt(Dist() + L"\\" + exe) == built) << Narrow(exe) << " differs from the build";
    }
    std::string readme = t::ReadFileAt(Dist() + L"\\readme.htm");
    EXPECT_EQ(readme.rfind("<html>", 0), 0u);
    std::wstring text = tovra::HtmlToText(std::wstring(readme.begin(), readme.end()));
    EXPECT_NE(text.find(L"Tovra Internet Security 1.0"), std::wstring::npos);
}

TEST(MediumTest, ShortcutsAreRealShortcutsToTheInstalledFiles) {
    tovra::ComScope com;
    struct Case {
        const wchar_t* file;
        const wchar_t* target;
    };
    const Case cases[] = {
        {L"Tovra Internet Security.lnk", L"C:\\Program Files\\tovra\\tovra.exe"},
        {L"About Tovra IS.lnk", L"C:\\Program Files\\tovra\\readme.htm"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.file));
        ComPtr<IShellLinkW> link;
        ASSERT_EQ(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void()),
                  S_OK);
        auto file = link.As<IPersistFile>(IID_IPersistFile);
        ASSERT_TRUE(file);
        ASSERT_EQ(file->Load((Dist() + L"\\" + c.file).c_str(), STGM_READ), S_OK);

        wchar_t path[MAX_PATH] = L"sentinel";
        ASSERT_EQ(link->GetPath(path, MAX_PATH, nullptr, SLGP_RAWPATH), S_OK);
        EXPECT_EQ(_wcsicmp(path, c.target), 0) << Narrow(path);

        // The ID list names the same file, for a shell that goes by it.
        PIDLIST_ABSOLUTE pidl = nullptr;
        ASSERT_EQ(link->GetIDList(&pidl), S_OK);
        ASSERT_NE(pidl, nullptr);
        wchar_t fromList[MAX_PATH] = L"sentinel";
        EXPECT_TRUE(SHGetPathFromIDListW(pidl, fromList));
        EXPECT_EQ(_wcsicmp(fromList, c.target), 0) << Narrow(fromList);
        CoTaskMemFree(pidl);

        wchar_t dir[MAX_PATH] = L"sentinel";
        ASSERT_EQ(link->GetWorkingDirectory(dir, MAX_PATH), S_OK);
        EXPECT_EQ(_wcsicmp(dir, L"C:\\Program Files\\tovra"), 0) << Narrow(dir);
    }
}

// ---- setup.exe worked as a user would -------------------------------------------------------------

class SetupE2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        snapshot_.ClearProductFolders();
        medium_ = Dist();
        ASSERT_TRUE(t::PathExists(medium_ + L"\\setup.exe")) << "the build made no medium in " << Narrow(medium_);
    }

    // Starts the medium's setup.exe and waits for its selection window. The installer takes
    // its files from its own folder, whatever folder it is started in.
    HWND StartSetup(App& app, const std::wstring& workDir = L"") {
        app = App::Start(medium_ + L"\\setup.exe", L"", workDir);
        EXPECT_TRUE(app.started());
        HWND top = app.WaitWindow(kSelectionTitle, kWait);
        EXPECT_NE(top, nullptr) << "no selection window";
        return top;
    }

    // Starts the uninstall command that the installation registered, as Add/Remove Programs does.
    HWND StartRegisteredUninstall(App& app) {
        std::optional<std::wstring> command = ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString");
        EXPECT_TRUE(command.has_value());
        if (!command) return nullptr;
        PROCESS_INFORMATION pi{};
        std::wstring line = *command;
        if (!StartProcess(nullptr, line, 0, L"C:\\", &pi)) {
            ADD_FAILURE() << "cannot start " << Narrow(line) << " (error " << GetLastError() << ")";
            return nullptr;
        }
        app = App::Attach(pi.dwProcessId);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        HWND top = app.WaitWindow(kSelectionTitle, kWait);
        EXPECT_NE(top, nullptr) << "the registered uninstaller shows no selection window";
        return top;
    }

    // Install page: "I agree", Next, "Installation Completed", and the installer ends.
    void InstallThroughTheWizard(App& app, HWND selection) {
        ASSERT_TRUE(Click(FindControl(selection, L"Start")));
        HWND page = app.WaitWindow(kInstallPageTitle, kWait);
        ASSERT_NE(page, nullptr);
        EXPECT_FALSE(IsWindowEnabled(selection));
        HWND next = FindControl(page, L"Next");
        ASSERT_NE(next, nullptr);
        EXPECT_FALSE(IsWindowEnabled(next));
        EXPECT_FALSE(Click(next)) << "Next works before \"I agree\"";
        ASSERT_TRUE(Click(FindControl(page, L"I agree")));
        ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(next) != FALSE; }, kWait));
        ASSERT_TRUE(Click(next));
        std::optional<MessageBoxInfo> done = WaitMessageBox(app, kWait * 2);
        ASSERT_TRUE(done.has_value()) << "no closing message";
        EXPECT_EQ(done->title, L"Finished");
        EXPECT_EQ(done->text, L"Installation Completed");
        EXPECT_EQ(done->buttons, std::vector<int>{IDOK});
        EXPECT_EQ(done->icon, 0u);
        ASSERT_TRUE(Answer(*done, IDOK));
        DWORD code = 1;
        ASSERT_TRUE(app.WaitExit(kWait, &code)) << "the installer did not end";
        EXPECT_EQ(code, 0u);
    }

    // Uninstall page: Next, "Yes" to the warning, "Uninstallation completed", and the end.
    void UninstallThroughTheWizard(App& app, HWND selection) {
        ASSERT_TRUE(Click(FindControl(selection, L"Uninstall Tovra Internet Security")));
        ASSERT_TRUE(Click(FindControl(selection, L"Start")));
        HWND page = app.WaitWindow(kUninstallPageTitle, kWait);
        ASSERT_NE(page, nullptr);
        ASSERT_TRUE(Click(FindControl(page, L"Next")));
        std::optional<MessageBoxInfo> warning = WaitMessageBox(app, kWait, L"Warning: ");
        ASSERT_TRUE(warning.has_value());
        EXPECT_EQ(warning->text, L"To Uninstall This Software you need Administrative power, Continue...");
        EXPECT_EQ(warning->buttons, (std::vector<int>{IDYES, IDNO}));
        EXPECT_EQ(warning->icon, 0u);
        ASSERT_TRUE(Answer(*warning, IDYES));
        std::optional<MessageBoxInfo> done = WaitMessageBox(app, kWait * 2, L"Completed");
        ASSERT_TRUE(done.has_value());
        EXPECT_EQ(done->text, L"Uninstallation completed");
        ASSERT_TRUE(Answer(*done, IDOK));
        ASSERT_TRUE(app.WaitExit(kWait)) << "the uninstaller did not end";
    }

    // After an uninstallation run from the installed folder: only its own file, in use while it
    // ran, is left, and it and the folder are queued for the next restart.
    void ExpectUninstalled(const std::wstring& startMenu) {
        EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kRunKey, L"Tovra Internet Security 1.0").value_or(L"<missing>"),
                  L"");
        EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName").value_or(L"<missing>"), L"");
        EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString").value_or(L"<missing>"), L"");
        EXPECT_FALSE(t::PathExists(startMenu));
        EXPECT_EQ(FolderNames(kProgram), std::vector<std::wstring>{L"setup.exe"});
        std::vector<std::wstring> pending = ReadMultiString(
            HKEY_LOCAL_MACHINE, tovra::setup::test::kSessionManagerKey, tovra::setup::test::kPendingRenames);
        std::set<std::wstring> deletions;
        for (size_t i = 0; i + 1 < pending.size(); i += 2) {
            if (pending[i + 1].empty()) deletions.insert(pending[i]);
        }
        EXPECT_TRUE(deletions.count(L"\\??\\C:\\Program Files\\tovra\\setup.exe")) << "setup.exe not queued";
        EXPECT_TRUE(deletions.count(L"\\??\\C:\\Program Files\\tovra")) << "the program folder not queued";
    }

    SystemSnapshot snapshot_;
    std::wstring medium_;
};

TEST_F(SetupE2eTest, SelectionWindowAndLicenceOfTheRealProgram) {
    App app;
    HWND top = StartSetup(app);
    ASSERT_NE(top, nullptr);
    std::vector<std::wstring> texts;
    for (const Control& c : Controls(top)) texts.push_back(c.text);
    EXPECT_EQ(texts, (std::vector<std::wstring>{L"Tovra Internet Security Setup", L"Install Tovra Internet Security",
                                                L"Uninstall Tovra Internet Security", L"Start", L"Exit",
                                                L"Read End User License Agreement"}));
    EXPECT_TRUE(IsChecked(FindControl(top, L"Install Tovra Internet Security")));
    EXPECT_FALSE(IsChecked(FindControl(top, L"Uninstall Tovra Internet Security")));

    ASSERT_TRUE(Click(FindControl(top, L"Read End User License Agreement")));
    HWND licence = app.WaitWindow(L"End User License Agreement", kWait);
    ASSERT_NE(licence, nullptr);
    // Without an HTML engine (Wine here) the page's words come in a read-only text box, as soon as
    // the browser has reported its failed navigation.
    std::wstring shown;
    HWND exitA = nullptr;
    auto look = [&] {
        for (const Control& c : Controls(licence)) {
            if (_wcsicmp(c.className.c_str(), L"Edit") == 0) shown = c.text;
            if (c.text == L"Exit") exitA = c.hwnd;
        }
        return !shown.empty();
    };
    EXPECT_TRUE(WaitFor(look, kWait)) << "no licence text";
    EXPECT_NE(shown.find(L"END USER LICENSE AGREEMENT"), std::wstring::npos);
    EXPECT_NE(shown.find(L"Tovra Internet Security 1.0"), std::wstring::npos);
    ASSERT_TRUE(Click(exitA));
    ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(licence); }, kWait));
    EXPECT_TRUE(app.Running());

    ASSERT_TRUE(Click(FindControl(top, L"Read End User License Agreement")));
    ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(licence) != FALSE; }, kWait));
    // Exit on the selection window ends the installer, the licence window open or not.
    ASSERT_TRUE(Click(FindControl(top, L"Exit")));
    DWORD code = 1;
    EXPECT_TRUE(app.WaitExit(kWait, &code)) << "Exit left the installer running";
    EXPECT_EQ(code, 0u);
    EXPECT_FALSE(t::PathExists(kProgram));
}

TEST_F(SetupE2eTest, InstallsAndUninstallsOnTheNtFamily) {
    MakeFamilyFolders(VER_PLATFORM_WIN32_NT);
    App setup;
    HWND top = StartSetup(setup);
    ASSERT_NE(top, nullptr);
    InstallThroughTheWizard(setup, top);
    if (HasFatalFailure()) return;

    for (const wchar_t* name : kProgramFiles) {
        EXPECT_TRUE(t::ReadFileAt(std::wstring(kProgram) + L"\\" + name) == t::ReadFileAt(medium_ + L"\\" + name))
            << Narrow(name);
    }
    for (const std::wstring& folder : {kStartNT, kDesktopNT}) {
        for (const wchar_t* lnk : {L"Tovra Internet Security.lnk", L"About Tovra IS.lnk"}) {
            EXPECT_TRUE(t::PathExists(folder + L"\\" + lnk)) << Narrow(folder) << " " << Narrow(lnk);
        }
    }
    EXPECT_FALSE(t::PathExists(kStart9x));
    EXPECT_FALSE(t::PathExists(kDesktop9x));
    // Both commands quoted, so that Windows does not try "C:\Program.exe" first; the uninstall
    // command starts the uninstaller below, the start-up command the main program here.
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString").value_or(L""),
              L"\"C:\\Program Files\\Tovra\\setup.exe\"");
    std::wstring startUp = ReadString(HKEY_LOCAL_MACHINE, kRunKey, L"Tovra Internet Security 1.0").value_or(L"");
    EXPECT_EQ(startUp, L"\"C:\\Program Files\\tovra\\tovra.exe\"");
    {
        // As Windows starts the Run key's programs at logon: the value is the command line.
        PROCESS_INFORMATION pi{};
        ASSERT_TRUE(StartProcess(nullptr, startUp, 0, L"C:\\", &pi)) << "error " << GetLastError();
        App tovra = App::Attach(pi.dwProcessId);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        HWND main = tovra.WaitWindow(L"Tovra Internet Security 1.0", kWait * 2);
        EXPECT_NE(main, nullptr) << "the start-up command shows no main window";
        if (main) {
            EXPECT_TRUE(ChooseMenu(tovra, main, L"&File/Exit"));
        }
        EXPECT_TRUE(tovra.WaitExit(kWait)) << "the main program did not end";
    }

    App uninstall;
    HWND again = StartRegisteredUninstall(uninstall);
    ASSERT_NE(again, nullptr);
    UninstallThroughTheWizard(uninstall, again);
    if (HasFatalFailure()) return;
    ExpectUninstalled(kStartNT);
    for (const wchar_t* lnk : {L"Tovra Internet Security.lnk", L"About Tovra IS.lnk"}) {
        EXPECT_FALSE(t::PathExists(kDesktopNT + L"\\" + lnk));
    }
}

TEST_F(SetupE2eTest, InstallsAndUninstallsOnTheWindows98Family) {
    Windows98ForSetup win98;
    MakeFamilyFolders(VER_PLATFORM_WIN32_WINDOWS);
    App setup;
    HWND top = StartSetup(setup, L"C:\\windows");
    ASSERT_NE(top, nullptr);
    InstallThroughTheWizard(setup, top);
    if (HasFatalFailure()) return;

    for (const wchar_t* name : kProgramFiles) {
        EXPECT_TRUE(t::PathExists(std::wstring(kProgram) + L"\\" + name)) << Narrow(name);
    }
    for (const wchar_t* folder : {kStart9x, kDesktop9x}) {
        for (const wchar_t* lnk : {L"Tovra Internet Security.lnk", L"About Tovra IS.lnk"}) {
            EXPECT_TRUE(t::PathExists(std::wstring(folder) + L"\\" + lnk)) << Narrow(folder) << " " << Narrow(lnk);
        }
    }
    EXPECT_FALSE(t::PathExists(kStartNT));
    EXPECT_FALSE(t::PathExists(L"C:\\Documents and Settings"));

    App uninstall;
    HWND again = StartRegisteredUninstall(uninstall);
    ASSERT_NE(again, nullptr);
    UninstallThroughTheWizard(uninstall, again);
    if (HasFatalFailure()) return;
    ExpectUninstalled(kStart9x);
    EXPECT_TRUE(t::PathExists(kDesktop9x));
    EXPECT_EQ(FolderNames(kDesktop9x), std::vector<std::wstring>{});
}

// ---- The suite's life cycle ------------------------------------------------------------------------

// The list's first name, planted on drive D: where the scanner must find and delete it.
class LifeCycleTest : public SetupE2eTest {
protected:
    void SetUp() override {
        SetupE2eTest::SetUp();
        ASSERT_EQ(GetDriveTypeW(L"D:\\"), static_cast<UINT>(DRIVE_FIXED)) << "the test prefix has no drive D:";
        t::WriteFileAt(planted_, "not really a virus");
    }
    void TearDown() override { t::RemoveTree(L"D:\\incoming"); }
    const std::wstring planted_ = L"D:\\incoming\\W32.Torun.dr";
};

TEST_F(LifeCycleTest, InstallRunScanAndUninstall) {
    MakeFamilyFolders(VER_PLATFORM_WIN32_NT);
    App setup;
    HWND top = StartSetup(setup);
    ASSERT_NE(top, nullptr);
    InstallThroughTheWizard(setup, top);
    if (HasFatalFailure()) return;

    // Start the main program from the shortcut the installation put into the Start menu.
    std::wstring shortcut = kStartNT + L"\\Tovra Internet Security.lnk";
    ASSERT_TRUE(t::PathExists(shortcut));
    HINSTANCE opened = ShellExecuteW(nullptr, L"open", shortcut.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    ASSERT_GT(reinterpret_cast<INT_PTR>(opened), 32) << "the shortcut does not open";
    App tovra = App::WaitStarted(L"tovra.exe", kWait);
    ASSERT_TRUE(tovra.started()) << "the shortcut did not start tovra.exe";
    HWND main = tovra.WaitWindow(L"Tovra Internet Security 1.0", kWait * 2);
    ASSERT_NE(main, nullptr) << "no main window";

    // Scan from its menu: the scanner starts as a program of its own.
    ASSERT_TRUE(ChooseMenu(tovra, main, L"&ScanVirus/Scan"));
    App scanner = App::WaitStarted(L"tovraa.exe", kWait);
    ASSERT_TRUE(scanner.started()) << "Scan did not start tovraa.exe";
    HWND scan = scanner.WaitWindow(L"Tovra ScanVirus 1.0", kWait);
    ASSERT_NE(scan, nullptr);
    HWND c = FindControl(scan, L"C"), d = FindControl(scan, L"D");
    ASSERT_TRUE(c && d);
    ASSERT_TRUE(IsChecked(c));
    ASSERT_TRUE(Click(c));  // not the whole of C:, only the drive with the planted file
    ASSERT_TRUE(Click(d));
    ASSERT_TRUE(WaitFor([&] { return !IsChecked(c) && IsChecked(d); }, kWait));
    HWND scanNow = FindControl(scan, L"&Scan Now");
    ASSERT_TRUE(Click(scanNow));

    // The scan is over when the last name of the shipped list has been searched and Scan Now is
    // usable again; the hidden name box holds the name being searched.
    const char* last = tovra::VirusNames().back();
    const std::wstring lastName(last, last + strlen(last));
    HWND status = nullptr, list = nullptr;
    for (const Control& ctl : Controls(scan)) {
        if (ctl.className == L"msctls_statusbar32") status = ctl.hwnd;
        if (ctl.className == L"SysListView32") list = ctl.hwnd;
    }
    ASSERT_TRUE(status && list);
    auto scanDone = [&] {
        bool lastSearched = false;
        for (const Control& ctl : Controls(scan)) {
            if (!ctl.visible && ctl.text == lastName) lastSearched = true;
        }
        return lastSearched && IsWindowEnabled(scanNow) &&
               StatusBarText(scanner, status) == L"1 virus(s) found and removed. Please Clean IE";
    };
    ASSERT_TRUE(WaitFor(scanDone, 60000)) << "the scan did not end; status: " << Narrow(StatusBarText(scanner, status));
    EXPECT_FALSE(t::PathExists(planted_)) << "the planted file is still there";
    std::vector<std::vector<std::wstring>> rows = ListViewRows(scanner, list);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], L"W32.Torun.dr");
    EXPECT_EQ(_wcsicmp(rows[0][1].c_str(), L"D:\\incoming"), 0) << Narrow(rows[0][1]);

    ASSERT_TRUE(Click(FindControl(scan, L"E&xit")));
    EXPECT_TRUE(scanner.WaitExit(kWait)) << "the scanner did not end";
    ASSERT_TRUE(ChooseMenu(tovra, main, L"&File/Exit"));
    EXPECT_TRUE(tovra.WaitExit(kWait)) << "the main program did not end";

    // Uninstall through the command registered for Add/Remove Programs.
    App uninstall;
    HWND again = StartRegisteredUninstall(uninstall);
    ASSERT_NE(again, nullptr);
    UninstallThroughTheWizard(uninstall, again);
    if (HasFatalFailure()) return;
    ExpectUninstalled(kStartNT);
}

}  // namespace
