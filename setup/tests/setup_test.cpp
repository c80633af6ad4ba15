// The installer in-process: the wizard's windows and their states, and installation and
// uninstallation against the real registry and files of the test prefix, with the Windows family
// given through the version seam.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>
#include <objbase.h>

#include <algorithm>
#include <functional>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "setup/install_layout.h"
#include "setup/installer.h"
#include "setup/licence.h"
#include "setup/tests/system_snapshot.h"
#include "setup/wizard.h"
#include "shared/forms.h"
#include "shared/html_view.h"
#include "shared/html_view_text.h"
#include "shared/message_box.h"
#include "shared/registry.h"
#include "shared/suite.h"
#include "shared/tests/browser_double.h"
#include "shared/win_handles.h"
#include "tests/support/failing_registry.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace tovra::setup;
using tovra::MessageBoxCall;
using tovra::ScriptedMessageBoxes;
using tovra::setup::test::KeyExists;
using tovra::setup::test::MakeFamilyFolders;
using tovra::setup::test::ReadMultiString;
using tovra::setup::test::ReadString;
using tovra::setup::test::SystemSnapshot;
namespace t = tovra::test;

const wchar_t kRunKeyW[] = L"software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kUninstallKeyW[] = L"software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tovra Internet Security 1.0";
const wchar_t kProductKeyW[] = L"software\\Quorelsoft\\Tovra Internet Security\\Main";
const wchar_t kProgram[] = L"C:\\Program Files\\tovra";
const wchar_t kStart9x[] = L"C:\\Windows\\Start Menu\\Programs\\tovra";
const wchar_t kStartNT[] = L"C:\\Documents and Settings\\All Users\\Start Menu\\Programs\\tovra";
const wchar_t kDesktop9x[] = L"C:\\WINDOWS\\All Users\\Desktop";
const wchar_t kDesktopNT[] = L"C:\\Documents and Settings\\All Users\\Desktop";
const wchar_t* const kProgramFiles[] = {L"setup.exe", L"tovra.exe", L"tovraa.exe",
                                        L"file.dat",  L"readme.htm", L"utovraa.exe"};
// The tests below run on the classic NT folders of an English XP on drive C:, which they make
// themselves; the system's own folders are tested apart.
const tovra::suite::SystemFolders kClassic = tovra::suite::ClassicFolders();
const wchar_t* const kShortcuts[] = {L"Tovra Internet Security.lnk", L"About Tovra IS.lnk"};

std::string Narrow(const std::wstring& s) {
    std::string out;
    for (wchar_t c : s) out += c < 128 ? static_cast<char>(c) : '?';
    return out;
}

// A version seam that answers with the given platform identifier (or fails).
VersionQuery Platform(DWORD id) {
    return [id](OSVERSIONINFOA* info) -> BOOL {
        EXPECT_EQ(info->dwOSVersionInfoSize, 148u);
        info->dwMajorVersion = id == VER_PLATFORM_WIN32_WINDOWS ? 4 : 5;
        info->dwPlatformId = id;
        return TRUE;
    };
}
VersionQuery FailingVersion() {
    return [](OSVERSIONINFOA*) -> BOOL { return FALSE; };
}

// A distribution medium in a scratch folder: every file the installer copies, each with its own
// bytes; mswinsck.ocx only when asked.
class Medium {
public:
    explicit Medium(bool withOcx = false) {
        for (const wchar_t* name : kProgramFiles) dir_.WriteFile(name, "medium:" + Narrow(name));
        for (const wchar_t* name : kShortcuts) dir_.WriteFile(name, "shortcut:" + Narrow(name));
        if (withOcx) dir_.WriteFile(L"mswinsck.ocx", "medium ocx");
    }
    const std::wstring& path() const { return dir_.path(); }
    void Remove(const std::wstring& name) const { DeleteFileW((dir_ / name).c_str()); }
    std::string Bytes(const std::wstring& name) const { return dir_.ReadFile(name); }

private:
    t::TempDir dir_;
};

void ExpectBox(const MessageBoxCall& call, const std::wstring& text, const std::wstring& title, UINT buttons,
               int line) {
    SCOPED_TRACE(testing::Message() << "message box checked at line " << line);
    EXPECT_EQ(call.text, text);
    EXPECT_EQ(call.title, title);
    EXPECT_EQ(call.buttons(), buttons);
    EXPECT_EQ(call.icon(), 0u);
}
#define EXPECT_BOX(call, text, title, buttons) ExpectBox(call, text, title, buttons, __LINE__)

// Every test starts from "nothing installed" and leaves the prefix as it was.
class SetupTest : public ::testing::Test {
protected:
    void SetUp() override { snapshot_.ClearProductFolders(); }
    SystemSnapshot snapshot_;
};

// ---- The wizard ---------------------------------------------------------------------------------

class WizardTest : public SetupTest {
protected:
    // withDoubles: the licence window's browser is a double (doubles_), not the system's control.
    explicit WizardTest(bool withDoubles = false)
        : wizard_(installer_, [this] { ++ends_; }, withDoubles ? doubles_.Factory() : tovra::BrowserFactory{}) {}
    void SetUp() override {
        SetupTest::SetUp();
        ASSERT_TRUE(wizard_.Start());
    }

    // Clicks a control as the user would: refused when it is disabled or hidden.
    static void Click(tovra::forms::Form& form, int id) {
        HWND c = form.Control(id);
        ASSERT_TRUE(c) << "no control " << id;
        ASSERT_TRUE(IsWindowVisible(c) && IsWindowEnabled(c) && IsWindowEnabled(form.hwnd()))
            << "control " << id << " cannot be clicked";
        SendMessageW(c, BM_CLICK, 0, 0);
    }
    void ClickLabel(tovra::forms::Form& form, int id) {
        HWND c = form.Control(id);
        ASSERT_TRUE(c && IsWindowVisible(c) && IsWindowEnabled(form.hwnd()));
        SendMessageW(form.hwnd(), WM_COMMAND, MAKEWPARAM(id, STN_CLICKED), reinterpret_cast<LPARAM>(c));
    }

    Medium medium_;
    Installer installer_{medium_.path(), Platform(VER_PLATFORM_WIN32_NT), kClassic};
    int ends_ = 0;
    tovra::test::FakeBrowsers doubles_;
    SetupWizard wizard_;
};

TEST_F(WizardTest, SelectionWindowOpensWithInstallChosen) {
    SelectionForm& sel = wizard_.selection();
    ASSERT_TRUE(sel.Visible());
    EXPECT_EQ(sel.Caption(), L"Tovra Internet Security Setup");
    RECT client{};
    GetClientRect(sel.hwnd(), &client);
    EXPECT_EQ(client.right, tovra::forms::TwipsToPixelsX(4680));
    EXPECT_EQ(client.bottom, tovra::forms::TwipsToPixelsY(3195));

    struct Expected {
        int id;
        const wchar_t* caption;
    };
    const Expected controls[] = {
        {SelectionForm::frmSelection, L"Tovra Internet Security Setup"},
        {SelectionForm::optInstall, L"Install Tovra Internet Security"},
        {SelectionForm::optUninstall, L"Uninstall Tovra Internet Security"},
        {SelectionForm::cmdStart, L"Start"},
        {SelectionForm::cmdEndS, L"Exit"},
        {SelectionForm::lblagreement, L"Read End User License Agreement"},
    };
    for (const Expected& e : controls) {
        EXPECT_EQ(sel.Text(e.id), e.caption);
        EXPECT_TRUE(sel.ControlVisible(e.id));
        EXPECT_TRUE(sel.Enabled(e.id));
    }
    EXPECT_TRUE(sel.Checked(SelectionForm::optInstall));
    EXPECT_FALSE(sel.Checked(SelectionForm::optUninstall));
    EXPECT_EQ(GetFocus(), sel.Control(SelectionForm::optInstall));
    // The option sits in the frame: frame (240, 240) plus (360, 360).
    RECT r{};
    GetWindowRect(sel.Control(SelectionForm::optInstall), &r);
    MapWindowPoints(nullptr, sel.hwnd(), reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, tovra::forms::TwipsToPixelsX(600));
    EXPECT_EQ(r.top, tovra::forms::TwipsToPixelsY(600));
    EXPECT_FALSE(wizard_.installPage().created());
    EXPECT_FALSE(wizard_.uninstallPage().created());
}

TEST_F(WizardTest, InstallPageNextFollowsTheAgreement) {
    SelectionForm& sel = wizard_.selection();
    Click(sel, SelectionForm::cmdStart);

    // The selection window is locked: its choices and buttons and the window itself.
    EXPECT_FALSE(IsWindowEnabled(sel.hwnd()));
    for (int id : {SelectionForm::optInstall, SelectionForm::optUninstall, SelectionForm::cmdStart,
                   SelectionForm::cmdEndS}) {
        EXPECT_FALSE(sel.Enabled(id)) << id;
    }
    InstallPage& page = wizard_.installPage();
    ASSERT_TRUE(page.Visible());
    EXPECT_FALSE(wizard_.uninstallPage().created());
    EXPECT_FALSE(GetWindowLongW(page.hwnd(), GWL_STYLE) & (WS_CAPTION | WS_BORDER | WS_THICKFRAME));
    EXPECT_EQ(GetWindow(page.hwnd(), GW_OWNER), nullptr);
    // Centred on the screen.
    RECT r{};
    GetWindowRect(page.hwnd(), &r);
    EXPECT_LE(std::abs(r.left - (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2), 1);
    EXPECT_LE(std::abs(r.top - (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2), 1);
    EXPECT_EQ(r.right - r.left, tovra::forms::TwipsToPixelsX(6195));

    EXPECT_FALSE(page.Checked(InstallPage::optAgree));
    EXPECT_FALSE(page.Checked(InstallPage::optDisagree));
    EXPECT_FALSE(page.Enabled(InstallPage::cmdNext));
    EXPECT_EQ(GetFocus(), page.Control(InstallPage::cmdExit));

    Click(page, InstallPage::optAgree);
    EXPECT_TRUE(page.Enabled(InstallPage::cmdNext));
    Click(page, InstallPage::optDisagree);
    EXPECT_FALSE(page.Enabled(InstallPage::cmdNext));
    EXPECT_FALSE(page.Checked(InstallPage::optAgree));
    Click(page, InstallPage::optAgree);
    EXPECT_TRUE(page.Enabled(InstallPage::cmdNext));
    EXPECT_EQ(ends_, 0);
}

TEST_F(WizardTest, UninstallChoiceOpensTheUninstallPageWithNextEnabled) {
    SelectionForm& sel = wizard_.selection();
    Click(sel, SelectionForm::optUninstall);
    EXPECT_TRUE(sel.Checked(SelectionForm::optUninstall));
    EXPECT_FALSE(sel.Checked(SelectionForm::optInstall));
    Click(sel, SelectionForm::cmdStart);
    EXPECT_FALSE(IsWindowEnabled(sel.hwnd()));
    UninstallPage& page = wizard_.uninstallPage();
    ASSERT_TRUE(page.Visible());
    EXPECT_FALSE(wizard_.installPage().created());
    EXPECT_TRUE(page.Enabled(UninstallPage::cmdNext));
    EXPECT_EQ(page.Text(UninstallPage::cmdNext), L"Next");
    EXPECT_EQ(page.Text(UninstallPage::cmdExit), L"Exit");
    EXPECT_EQ(GetFocus(), page.Control(UninstallPage::cmdNext));
}

TEST_F(WizardTest, ExitOnEitherPageEndsWithNothingDone) {
    for (bool install : {true, false}) {
        SCOPED_TRACE(install ? "install page" : "uninstall page");
        ScriptedMessageBoxes boxes;
        Installer installer(medium_.path(), Platform(VER_PLATFORM_WIN32_NT), kClassic);
        int ends = 0;
        SetupWizard wizard(installer, [&] { ++ends; });
        ASSERT_TRUE(wizard.Start());
        if (!install) Click(wizard.selection(), SelectionForm::optUninstall);
        Click(wizard.selection(), SelectionForm::cmdStart);
        if (install) {
            Click(wizard.installPage(), InstallPage::optAgree);
            Click(wizard.installPage(), InstallPage::cmdExit);
        } else {
            Click(wizard.uninstallPage(), UninstallPage::cmdExit);
        }
        EXPECT_EQ(ends, 1);
        EXPECT_TRUE(wizard.ended());
        EXPECT_FALSE(wizard.selection().created());
        EXPECT_FALSE(wizard.installPage().created());
        EXPECT_FALSE(wizard.uninstallPage().created());
        EXPECT_TRUE(boxes.calls().empty());
        EXPECT_FALSE(t::PathExists(kProgram));
        EXPECT_FALSE(ReadString(HKEY_LOCAL_MACHINE, kRunKeyW, L"Tovra Internet Security 1.0").has_value());
    }
}

TEST_F(WizardTest, LicenceWindowShowsAndHidesTheSamePage) {
    SelectionForm& sel = wizard_.selection();
    AgreeForm& agree = wizard_.agree();
    EXPECT_FALSE(agree.created());
    ClickLabel(sel, SelectionForm::lblagreement);
    ASSERT_TRUE(agree.Visible());
    EXPECT_EQ(agree.Caption(), L"End User License Agreement");
    EXPECT_EQ(GetWindow(agree.hwnd(), GW_OWNER), nullptr);
    EXPECT_EQ(agree.Text(AgreeForm::cmdExitA), L"Exit");

    const tovra::HtmlView& view = agree.browser();
    // The system's browser control: under Wine its navigation fails and the text comes instead.
    ASSERT_TRUE(
        tovra::test::RunEventsUntil([&] { return !view.Loading(); }, tovra::HtmlView::kDocumentWaitMs + 3000));
    HWND shown = view.hwnd();
    ASSERT_TRUE(shown);
    EXPECT_TRUE(IsWindowVisible(shown));
    EXPECT_EQ(GetDlgCtrlID(shown), AgreeForm::brwWebBrowser);
    std::wstring text = view.ShownText();
    if (!view.UsingBrowser()) {
        // No HTML engine here: the licence's words, never an empty view.
        EXPECT_EQ(text, tovra::HtmlToText(LicenceHtml()));
        EXPECT_NE(text.find(L"TOVRA INTERNET SECURITY 1.0\r\nEND USER LICENSE AGREEMENT"), std::wstring::npos);
    }

    Click(agree, AgreeForm::cmdExitA);
    EXPECT_FALSE(agree.Visible());
    EXPECT_TRUE(agree.created());
    EXPECT_TRUE(sel.Visible());
    EXPECT_TRUE(sel.Checked(SelectionForm::optInstall));  // the choice is untouched
    EXPECT_EQ(ends_, 0);

    ClickLabel(sel, SelectionForm::lblagreement);
    ASSERT_TRUE(agree.Visible());
    EXPECT_EQ(agree.browser().hwnd(), shown);
    EXPECT_EQ(agree.browser().ShownText(), text);

    // Its close box hides it too.
    SendMessageW(agree.hwnd(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(agree.created());
    EXPECT_FALSE(agree.Visible());
    EXPECT_EQ(ends_, 0);
}

TEST_F(WizardTest, SelectionExitEndsTheInstallerWithTheLicenceLoaded) {
    ClickLabel(wizard_.selection(), SelectionForm::lblagreement);
    ASSERT_TRUE(wizard_.agree().Visible());
    Click(wizard_.selection(), SelectionForm::cmdEndS);
    EXPECT_EQ(ends_, 1);
    EXPECT_FALSE(wizard_.selection().created());
    EXPECT_FALSE(wizard_.agree().created());
}

TEST_F(WizardTest, ClosingTheSelectionWindowEndsTheInstaller) {
    SendMessageW(wizard_.selection().hwnd(), WM_CLOSE, 0, 0);
    EXPECT_EQ(ends_, 1);
    EXPECT_FALSE(wizard_.selection().created());
}

TEST_F(WizardTest, NextOnTheInstallPageInstallsThenEnds) {
    MakeFamilyFolders(VER_PLATFORM_WIN32_NT);
    ScriptedMessageBoxes boxes;
    bool nextDisabledAtMessage = false;
    boxes.onShow = [&](const MessageBoxCall&) {
        nextDisabledAtMessage = !wizard_.installPage().Enabled(InstallPage::cmdNext);
    };
    Click(wizard_.selection(), SelectionForm::cmdStart);
    Click(wizard_.installPage(), InstallPage::optAgree);
    Click(wizard_.installPage(), InstallPage::cmdNext);
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_BOX(boxes.calls()[0], L"Installation Completed", L"Finished", MB_OK);
    EXPECT_TRUE(nextDisabledAtMessage);
    EXPECT_EQ(ends_, 1);
    EXPECT_FALSE(wizard_.installPage().created());
    EXPECT_EQ(t::ReadFileAt(std::wstring(kProgram) + L"\\tovra.exe"), "medium:tovra.exe");
}

TEST_F(WizardTest, NextOnTheUninstallPageAsksFirst) {
    ScriptedMessageBoxes boxes({IDNO});
    Click(wizard_.selection(), SelectionForm::optUninstall);
    Click(wizard_.selection(), SelectionForm::cmdStart);
    Click(wizard_.uninstallPage(), UninstallPage::cmdNext);
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_BOX(boxes.calls()[0], L"To Uninstall This Software you need Administrative power, Continue...",
               L"Warning: ", MB_YESNO);
    EXPECT_EQ(ends_, 1);
    EXPECT_FALSE(wizard_.uninstallPage().created());
}

TEST(LicenceTest, IsOneHtmlDocumentOfOurOwn) {
    const std::wstring& html = LicenceHtml();
    EXPECT_EQ(html.rfind(L"<html>", 0), 0u);
    EXPECT_EQ(html.substr(html.size() - 7), L"</html>");
    EXPECT_EQ(html.find(L'\n'), std::wstring::npos);
    EXPECT_NE(html.find(L"<p>"), std::wstring::npos);
    EXPECT_NE(html.find(L"<br>"), std::wstring::npos);
    EXPECT_NE(html.find(L"Tovra Internet Security 1.0"), std::wstring::npos);
    EXPECT_NE(html.find(L"Quorelsoft"), std::wstring::npos);
}

// ---- Installation -------------------------------------------------------------------------------

struct Family {
    const char* name;
    DWORD platform;
    const wchar_t* startMenu;
    const wchar_t* desktop;
    const wchar_t* otherStartMenu;
    const wchar_t* otherDesktop;
};
const Family kFamilies[] = {
    {"Windows NT", VER_PLATFORM_WIN32_NT, kStartNT, kDesktopNT, kStart9x, kDesktop9x},
    {"Windows 95/98/Me", VER_PLATFORM_WIN32_WINDOWS, kStart9x, kDesktop9x, kStartNT, kDesktopNT},
};

void ExpectInstalledValues(int line) {
    SCOPED_TRACE(testing::Message() << "registry checked at line " << line);
    struct Value {
        HKEY root;
        const wchar_t* key;
        const wchar_t* name;
        const wchar_t* data;
    };
    const Value values[] = {
        {HKEY_LOCAL_MACHINE, kRunKeyW, L"Tovra Internet Security 1.0", L"\"C:\\Program Files\\tovra\\tovra.exe\""},
        {HKEY_LOCAL_MACHINE, kProductKeyW, L"Version", L"0.1.1.2004"},
        {HKEY_LOCAL_MACHINE, kProductKeyW, L"Name", L"Tovra Internet Security 1.0"},
        {HKEY_CURRENT_USER, kProductKeyW, L"Version", L"0.1.1.2004"},
        {HKEY_CURRENT_USER, kProductKeyW, L"Name", L"Tovra Internet Security 1.0"},
        {HKEY_LOCAL_MACHINE, kUninstallKeyW, L"DisplayName", L"Tovra Internet Security 1.0"},
        {HKEY_LOCAL_MACHINE, kUninstallKeyW, L"UninstallString", L"\"C:\\Program Files\\Tovra\\setup.exe\""},
    };
    for (const Value& v : values) {
        EXPECT_EQ(ReadString(v.root, v.key, v.name).value_or(L"<missing>"), v.data) << Narrow(v.name);
    }
}

class InstallTest : public SetupTest {};

TEST_F(InstallTest, InstallsOnEachWindowsFamily) {
    for (const Family& f : kFamilies) {
        SCOPED_TRACE(f.name);
        SystemSnapshot inner;  // each family starts from the same empty state
        inner.ClearProductFolders();
        MakeFamilyFolders(f.platform);
        Medium medium;
        Installer installer(medium.path(), Platform(f.platform), kClassic);
        ScriptedMessageBoxes boxes;
        Outcome outcome = installer.Install(nullptr);
        EXPECT_TRUE(outcome.empty());
        installer.ReportInstall(nullptr, outcome);
        ASSERT_EQ(boxes.calls().size(), 1u);
        EXPECT_BOX(boxes.calls()[0], L"Installation Completed", L"Finished", MB_OK);

        ExpectInstalledValues(__LINE__);
        for (const wchar_t* name : kProgramFiles) {
            EXPECT_EQ(t::ReadFileAt(std::wstring(kProgram) + L"\\" + name), medium.Bytes(name)) << Narrow(name);
        }
        for (const wchar_t* name : kShortcuts) {
            EXPECT_EQ(t::ReadFileAt(std::wstring(f.startMenu) + L"\\" + name), medium.Bytes(name)) << Narrow(name);
            EXPECT_EQ(t::ReadFileAt(std::wstring(f.desktop) + L"\\" + name), medium.Bytes(name)) << Narrow(name);
            // The other family's folders do not exist here, so those copies fail quietly.
            EXPECT_FALSE(t::PathExists(std::wstring(f.otherStartMenu) + L"\\" + name));
            EXPECT_FALSE(t::PathExists(std::wstring(f.otherDesktop) + L"\\" + name));
            // Nothing goes into the program folder but the programs and their files.
            EXPECT_FALSE(t::PathExists(std::wstring(kProgram) + L"\\" + name));
        }
        EXPECT_FALSE(t::PathExists(f.otherStartMenu));
    }
}

TEST_F(InstallTest, VersionQueryAndPlatformDecideFoldersAndMessages) {
    struct Case {
        const char* name;
        VersionQuery version;
        std::vector<std::wstring> messagesBeforeEnd;
        const wchar_t* startMenu;
    };
    const Case cases[] = {
        {"query fails: Win32s folders", FailingVersion(),
         {L"Error Getting Version Information Software might not work.."}, kStart9x},
        {"Win32s", Platform(VER_PLATFORM_WIN32s), {}, kStart9x},
        {"unknown platform: NT folders", Platform(3),
         {L"This version is not supported in this Operating System, it might not work"}, kStartNT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SystemSnapshot inner;
        inner.ClearProductFolders();
        MakeFamilyFolders(VER_PLATFORM_WIN32_NT);
        MakeFamilyFolders(VER_PLATFORM_WIN32_WINDOWS);
        Medium medium;
        Installer installer(medium.path(), c.version, kClassic);
        ScriptedMessageBoxes boxes;
        installer.ReportInstall(nullptr, installer.Install(nullptr));
        ASSERT_EQ(boxes.calls().size(), c.messagesBeforeEnd.size() + 1);
        for (size_t i = 0; i < c.messagesBeforeEnd.size(); ++i) {
            EXPECT_BOX(boxes.calls()[i], c.messagesBeforeEnd[i], L"error", MB_OK);
        }
        EXPECT_BOX(boxes.calls().back(), L"Installation Completed", L"Finished", MB_OK);
        // Only the chosen Start-menu folder is made, so only its shortcuts arrive.
        EXPECT_TRUE(t::PathExists(std::wstring(c.startMenu) + L"\\Tovra Internet Security.lnk"));
        const wchar_t* other = c.startMenu == kStart9x ? kStartNT : kStart9x;
        EXPECT_FALSE(t::PathExists(other));
        EXPECT_TRUE(t::PathExists(std::wstring(kProgram) + L"\\setup.exe"));
        ExpectInstalledValues(__LINE__);
    }
}

TEST_F(InstallTest, WinsockControlIsCopiedOnlyWhenAbsent) {
    MakeFamilyFolders(VER_PLATFORM_WIN32_NT);
    CreateDirectoryW(L"C:\\Windows\\System", nullptr);
    const std::wstring ocx = L"C:\\Windows\\System\\mswinsck.ocx";
    DeleteFileW(ocx.c_str());
    Medium medium(/*withOcx=*/true);
    ScriptedMessageBoxes boxes;
    Installer installer(medium.path(), Platform(VER_PLATFORM_WIN32_NT), kClassic);
    installer.Install(nullptr);
    EXPECT_EQ(t::ReadFileAt(ocx), "medium ocx");

    t::WriteFileAt(ocx, "the system's own ocx");
    installer.Install(nullptr);
    EXPECT_EQ(t::ReadFileAt(ocx), "the system's own ocx");

    // A medium without the control (as ours is) copies none and says nothing about it.
    DeleteFileW(ocx.c_str());
    Medium plain;
    Installer plainInstaller(plain.path(), Platform(VER_PLATFORM_WIN32_NT), kClassic);
    Outcome outcome = plainInstaller.Install(nullptr);
    EXPECT_FALSE(t::PathExists(ocx));
    EXPECT_TRUE(outcome.empty());
}

TEST_F(InstallTest, MissingProgramFilesAreNamedInsteadOfCompleted) {
    MakeFamilyFolders(VER_PLATFORM_WIN32_NT);
    Medium medium;
    medium.Remove(L"tovraa.exe");
    medium.Remove(L"readme.htm");
    medium.Remove(L"About Tovra IS.lnk");  // a missing shortcut is not one of the programs
    Installer installer(medium.path(), Platform(VER_PLATFORM_WIN32_NT), kClassic);
    ScriptedMessageBoxes boxes;
    Outcome outcome = installer.Install(nullptr);
    EXPECT_EQ(outcome.files, (std::vector<std::wstring>{L"tovraa.exe", L"readme.htm"}));
    installer.ReportInstall(nullptr, outcome);
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_BOX(boxes.calls()[0], L"Installation incomplete. These files could not be copied:\ntovraa.exe\nreadme.htm",
               L"error", MB_OK);
    // Every other step still ran.
    ExpectInstalledValues(__LINE__);
    EXPECT_TRUE(t::PathExists(std::wstring(kProgram) + L"\\utovraa.exe"));
    EXPECT_TRUE(t::PathExists(std::wstring(kStartNT) + L"\\Tovra Internet Security.lnk"));
}

TEST_F(InstallTest, AnEmptyMediumNamesEveryProgramFile) {
    t::TempDir empty;
    Installer installer(empty.path(), Platform(VER_PLATFORM_WIN32_NT), kClassic);
    ScriptedMessageBoxes boxes;
    Outcome outcome = installer.Install(nullptr);
    EXPECT_EQ(outcome.files, std::vector<std::wstring>(std::begin(kProgramFiles), std::end(kProgramFiles)));
}

TEST_F(InstallTest, InstallingAgainOverwritesWithTheSameContent) {
    MakeFamilyFolders(VER_PLATFORM_WIN32_NT);
    Medium medium;
    ScriptedMessageBoxes boxes;
    Installer installer(medium.path(), Platform(VER_PLATFORM_WIN32_NT), kClassic);
    installer.Install(nullptr);
    t::WriteFileAt(std::wstring(kProgram) + L"\\file.dat", "changed since");
    EXPECT_TRUE(installer.Install(nullptr).empty());
    EXPECT_EQ(t::ReadFileAt(std::wstring(kProgram) + L"\\file.dat"), medium.Bytes(L"file.dat"));
    ExpectInstalledValues(__LINE__);
}

// Install chosen on the installed copy (the Add/Remove Programs command): the medium is the
// program folder itself.
TEST_F(InstallTest, InstallingFromTheInstalledFolderKeepsTheFiles) {
    MakeFamilyFolders(VER_PLATFORM_WIN32_NT);
    Medium medium;
    ScriptedMessageBoxes boxes;
    ASSERT_TRUE(Installer(medium.path(), Platform(VER_PLATFORM_WIN32_NT), kClassic).Install(nullptr).empty());
    Installer fromInstalled(std::wstring(kProgram) + L"\\", Platform(VER_PLATFORM_WIN32_NT), kClassic);
    EXPECT_TRUE(fromInstalled.Install(nullptr).empty());
    for (const wchar_t* name : kProgramFiles) {
        EXPECT_EQ(t::ReadFileAt(std::wstring(kProgram) + L"\\" + name), medium.Bytes(name)) << Narrow(name);
    }
    EXPECT_TRUE(t::PathExists(std::wstring(kStartNT) + L"\\Tovra Internet Security.lnk"));
}

// ---- Uninstallation -----------------------------------------------------------------------------

class UninstallTest : public SetupTest {
protected:
    void Install(DWORD platform) {
        MakeFamilyFolders(platform);
        ScriptedMessageBoxes quiet;
        Installer installer(medium_.path(), Platform(platform), kClassic);
        ASSERT_TRUE(installer.Install(nullptr).empty());
        ASSERT_TRUE(t::PathExists(std::wstring(kProgram) + L"\\tovra.exe"));
    }
    Medium medium_;
};

void ExpectUninstalledValues(int line) {
    SCOPED_TRACE(testing::Message() << "registry checked at line " << line);
    // Emptied, not deleted; the keys and the product values stay.
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kRunKeyW, L"Tovra Internet Security 1.0").value_or(L"<missing>"), L"");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kUninstallKeyW, L"DisplayName").value_or(L"<missing>"), L"");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kUninstallKeyW, L"UninstallString").value_or(L"<missing>"), L"");
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        EXPECT_EQ(ReadString(root, kProductKeyW, L"Version").value_or(L"<missing>"), L"0.1.1.2004");
        EXPECT_EQ(ReadString(root, kProductKeyW, L"Name").value_or(L"<missing>"), L"Tovra Internet Security 1.0");
    }
}

TEST_F(UninstallTest, NoChangesNothing) {
    Install(VER_PLATFORM_WIN32_NT);
    ScriptedMessageBoxes boxes({IDNO});
    Installer installer(medium_.path(), Platform(VER_PLATFORM_WIN32_NT), kClassic);
    EXPECT_FALSE(installer.ConfirmUninstall(nullptr));
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_BOX(boxes.calls()[0], L"To Uninstall This Software you need Administrative power, Continue...",
               L"Warning: ", MB_YESNO);
    ExpectInstalledValues(__LINE__);
    for (const wchar_t* name : kProgramFiles) EXPECT_TRUE(t::PathExists(std::wstring(kProgram) + L"\\" + name));
    EXPECT_TRUE(t::PathExists(std::wstring(kStartNT) + L"\\About Tovra IS.lnk"));
}

TEST_F(UninstallTest, YesRemovesWhatTheInstallationPutInPlace) {
    for (const Family& f : kFamilies) {
        SCOPED_TRACE(f.name);
        SystemSnapshot inner;
        inner.ClearProductFolders();
        Install(f.platform);
        // Leftovers of older versions named by the list go too.
        t::WriteFileAt(std::wstring(kProgram) + L"\\autorun.inf", "[autorun]");
        t::WriteFileAt(std::wstring(kProgram) + L"\\winsock.ocx", "old");

        ScriptedMessageBoxes boxes({IDYES});
        Installer installer(medium_.path(), Platform(f.platform), kClassic);
        ASSERT_TRUE(installer.ConfirmUninstall(nullptr));
        installer.Uninstall(nullptr);
        installer.ReportUninstall(nullptr);
        ASSERT_EQ(boxes.calls().size(), 2u);
        EXPECT_BOX(boxes.calls()[1], L"Uninstallation completed", L"Completed", MB_OK);

        ExpectUninstalledValues(__LINE__);
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKeyW));
        EXPECT_FALSE(t::PathExists(kProgram));
        EXPECT_FALSE(t::PathExists(f.startMenu));
        for (const wchar_t* name : kShortcuts) EXPECT_FALSE(t::PathExists(std::wstring(f.desktop) + L"\\" + name));
        EXPECT_TRUE(t::PathExists(f.desktop));  // the system's folders stay
        EXPECT_TRUE(installer.ScheduledForRestart().empty());
    }
}

// Under Wine a link to a file looks like a plain file, and deleting it deletes what it points to.
TEST_F(UninstallTest, ALinkInPlaceOfAnInstalledFileLeavesItsTarget) {
    Install(VER_PLATFORM_WIN32_NT);
    t::TempDir documents;
    t::WriteFileAt(documents / L"report.doc", "the user's document");
    const std::wstring readme = std::wstring(kProgram) + L"\\readme.htm";
    ASSERT_TRUE(DeleteFileW(readme.c_str()));
    t::MakeFileLink(readme, documents / L"report.doc");

    ScriptedMessageBoxes boxes({IDYES});
    Installer installer(medium_.path(), Platform(VER_PLATFORM_WIN32_NT), kClassic);
    ASSERT_TRUE(installer.ConfirmUninstall(nullptr));
    installer.Uninstall(nullptr);
    EXPECT_EQ(t::ReadFileAt(documents / L"report.doc"), "the user's document");
    EXPECT_TRUE(installer.ScheduledForRestart().empty()) << "a link is not a file in use";
    for (const wchar_t* name : kProgramFiles) {
        if (std::wstring(name) != L"readme.htm") {
            EXPECT_FALSE(t::PathExists(std::wstring(kProgram) + L"\\" + name));
        }
    }
    EXPECT_TRUE(t::PathExists(readme));  // the link stays, and the folder with it
    t::RemoveTree(kProgram);
    EXPECT_EQ(t::ReadFileAt(documents / L"report.doc"), "the user's document");
}

TEST_F(UninstallTest, NothingInstalledRunsThroughQuietly) {
    ScriptedMessageBoxes boxes({IDYES});
    Installer installer(medium_.path(), Platform(VER_PLATFORM_WIN32_NT), kClassic);
    std::vector<std::wstring> pendingBefore =
        ReadMultiString(HKEY_LOCAL_MACHINE, tovra::setup::test::kSessionManagerKey, tovra::setup::test::kPendingRenames);
    ASSERT_TRUE(installer.ConfirmUninstall(nullptr));
    installer.Uninstall(nullptr);
    installer.ReportUninstall(nullptr);
    ASSERT_EQ(boxes.calls().size(), 2u);
    EXPECT_EQ(boxes.calls()[1].text, L"Uninstallation completed");
    EXPECT_TRUE(installer.ScheduledForRestart().empty());
    EXPECT_EQ(ReadMultiString(HKEY_LOCAL_MACHINE, tovra::setup::test::kSessionManagerKey,
                              tovra::setup::test::kPendingRenames),
              pendingBefore);
    EXPECT_FALSE(t::PathExists(kProgram));
}

TEST_F(UninstallTest, VersionMessagesComeBetweenWarningAndEnd) {
    struct Case {
        const char* name;
        VersionQuery version;
        const wchar_t* message;
    };
    const Case cases[] = {
        {"query fails", FailingVersion(), L"Error Getting Version Information Software might not work.."},
        {"unknown platform", Platform(7), L"This version is not supported in this Operating System, it might not work"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedMessageBoxes boxes({IDYES});
        Installer installer(medium_.path(), c.version, kClassic);
        ASSERT_TRUE(installer.ConfirmUninstall(nullptr));
        installer.Uninstall(nullptr);
        installer.ReportUninstall(nullptr);
        ASSERT_EQ(boxes.calls().size(), 3u);
        EXPECT_BOX(boxes.calls()[1], c.message, L"error", MB_OK);
        EXPECT_EQ(boxes.calls()[2].text, L"Uninstallation completed");
    }
}

// The uninstaller started from the installed folder: its own file is in use.
TEST_F(UninstallTest, FilesInUseAndTheirFolderGoAtTheNextRestart) {
    Install(VER_PLATFORM_WIN32_NT);
    const std::wstring setupExe = std::wstring(kProgram) + L"\\setup.exe";
    // Open without delete sharing, as a running program holds its file.
    HANDLE held = CreateFileW(setupExe.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    SetLastError(0xdeadbeef);
    ASSERT_FALSE(DeleteFileW(setupExe.c_str())) << "the fixture does not hold the file";

    ScriptedMessageBoxes boxes({IDYES});
    Installer installer(medium_.path(), Platform(VER_PLATFORM_WIN32_NT), kClassic);
    ASSERT_TRUE(installer.ConfirmUninstall(nullptr));
    installer.Uninstall(nullptr);
    installer.ReportUninstall(nullptr);
    CloseHandle(held);

    EXPECT_EQ(installer.ScheduledForRestart(), (std::vector<std::wstring>{setupExe, kProgram}));
    std::vector<std::wstring> pending =
        ReadMultiString(HKEY_LOCAL_MACHINE, tovra::setup::test::kSessionManagerKey, tovra::setup::test::kPendingRenames);
    auto at = [&](const std::wstring& path) {
        for (size_t i = 0; i + 1 < pending.size(); i += 2) {
            if (_wcsicmp(pending[i].c_str(), (L"\\??\\" + path).c_str()) == 0 && pending[i + 1].empty()) return i;
        }
        return std::wstring::npos;
    };
    size_t fileAt = at(setupExe), folderAt = at(kProgram);
    ASSERT_NE(fileAt, std::wstring::npos) << "setup.exe is not scheduled for removal";
    ASSERT_NE(folderAt, std::wstring::npos) << "the program folder is not scheduled for removal";
    EXPECT_LT(fileAt, folderAt) << "the folder must come after its file";

    // Everything else is gone now; only the file in use and its folder wait.
    ExpectUninstalledValues(__LINE__);
    EXPECT_TRUE(t::PathExists(setupExe));
    for (const wchar_t* name : kProgramFiles) {
        if (std::wstring(name) == L"setup.exe") continue;
        EXPECT_FALSE(t::PathExists(std::wstring(kProgram) + L"\\" + name)) << Narrow(name);
    }
    EXPECT_FALSE(t::PathExists(kStartNT));
    ASSERT_EQ(boxes.calls().size(), 2u);
    EXPECT_EQ(boxes.calls()[1].text, L"Uninstallation completed");
}

TEST_F(UninstallTest, AFolderWithTheUsersOwnFilesIsNotScheduled) {
    Install(VER_PLATFORM_WIN32_NT);
    const std::wstring setupExe = std::wstring(kProgram) + L"\\setup.exe";
    const std::wstring mine = std::wstring(kProgram) + L"\\my notes.txt";
    t::WriteFileAt(mine, "keep me");
    HANDLE held = CreateFileW(setupExe.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ScriptedMessageBoxes boxes({IDYES});
    Installer installer(medium_.path(), Platform(VER_PLATFORM_WIN32_NT), kClassic);
    installer.Uninstall(nullptr);
    CloseHandle(held);
    EXPECT_EQ(installer.ScheduledForRestart(), (std::vector<std::wstring>{setupExe}));
    EXPECT_EQ(t::ReadFileAt(mine), "keep me");
}

TEST_F(UninstallTest, AReadOnlyFileIsSkippedNotScheduled) {
    Install(VER_PLATFORM_WIN32_NT);
    const std::wstring dat = std::wstring(kProgram) + L"\\file.dat";
    ASSERT_TRUE(SetFileAttributesW(dat.c_str(), FILE_ATTRIBUTE_READONLY));
    ScriptedMessageBoxes boxes({IDYES});
    Installer installer(medium_.path(), Platform(VER_PLATFORM_WIN32_NT), kClassic);
    installer.Uninstall(nullptr);
    EXPECT_TRUE(installer.ScheduledForRestart().empty());
    EXPECT_TRUE(t::PathExists(dat));
    EXPECT_TRUE(t::PathExists(kProgram));
    // What stays is named instead of "Uninstallation completed".
    installer.ReportUninstall(nullptr);
    ASSERT_FALSE(boxes.calls().empty());
    EXPECT_BOX(boxes.calls().back(),
               L"Uninstallation incomplete. These files could not be deleted:\nC:\\Program Files\\tovra\\file.dat",
               L"error", MB_OK);
    SetFileAttributesW(dat.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// ---- Failures reach the user ----------------------------------------------------------------------

// Each registry value of the installation refused in turn (as a standard user's write under User
// Account Control is): the value is named, every other step still runs, and "Installation
// Completed" is not shown.
TEST_F(InstallTest, EachRefusedRegistryValueIsNamed) {
    MakeFamilyFolders(VER_PLATFORM_WIN32_NT);
    Medium medium;
    const InstallLayout layout(kClassic);
    for (const RegistryValue& v : layout.InstallValues()) {
        const std::wstring name = tovra::RootName(v.root) + L"\\" + v.key + L"\\" + v.name;
        SCOPED_TRACE(Narrow(name));
        SystemSnapshot inner;
        tovra::test::FailingRegistry registry;
        registry.FailWrite(v.root, v.key, v.name);
        Installer installer(medium.path(), Platform(VER_PLATFORM_WIN32_NT), kClassic, registry);
        ScriptedMessageBoxes boxes;
        Outcome outcome = installer.Install(nullptr);
        EXPECT_EQ(outcome.values, std::vector<std::wstring>{name});
        EXPECT_TRUE(outcome.files.empty());
        installer.ReportInstall(nullptr, outcome);
        ASSERT_EQ(boxes.calls().size(), 1u);
        EXPECT_BOX(boxes.calls()[0], L"Installation incomplete. These registry values could not be written:\n" + name,
                   L"error", MB_OK);
        EXPECT_EQ(ReadString(v.root, v.key, v.name), std::nullopt) << "the refused value was written";
        EXPECT_TRUE(t::PathExists(std::wstring(kProgram) + L"\\tovra.exe"));
    }
}

TEST_F(InstallTest, FilesAndValuesTogetherAreNamedInOneMessage) {
    MakeFamilyFolders(VER_PLATFORM_WIN32_NT);
    Medium medium;
    medium.Remove(L"tovra.exe");
    tovra::test::FailingRegistry registry;
    registry.FailRoot(HKEY_LOCAL_MACHINE);
    Installer installer(medium.path(), Platform(VER_PLATFORM_WIN32_NT), kClassic, registry);
    ScriptedMessageBoxes boxes;
    installer.ReportInstall(nullptr, installer.Install(nullptr));
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_BOX(boxes.calls()[0],
               L"Installation incomplete. These files could not be copied:\ntovra.exe\n"
               L"These registry values could not be written:\n"
               L"HKEY_LOCAL_MACHINE\\software\\Microsoft\\Windows\\CurrentVersion\\Run\\Tovra Internet Security 1.0\n"
               L"HKEY_LOCAL_MACHINE\\software\\Quorelsoft\\Tovra Internet Security\\Main\\Version\n"
               L"HKEY_LOCAL_MACHINE\\software\\Quorelsoft\\Tovra Internet Security\\Main\\Name\n"
               L"HKEY_LOCAL_MACHINE\\software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tovra Internet Security 1.0\\DisplayName\n"
               L"HKEY_LOCAL_MACHINE\\software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tovra Internet Security 1.0\\UninstallString",
               L"error", MB_OK);
}

TEST_F(UninstallTest, EachValueThatCannotBeEmptiedIsNamed) {
    Install(VER_PLATFORM_WIN32_NT);
    const InstallLayout layout(kClassic);
    for (const RegistryValue& v : layout.UninstallValues()) {
        const std::wstring name = tovra::RootName(v.root) + L"\\" + v.key + L"\\" + v.name;
        SCOPED_TRACE(Narrow(name));
        tovra::test::FailingRegistry registry;
        registry.FailWrite(v.root, v.key, v.name);
        Installer installer(medium_.path(), Platform(VER_PLATFORM_WIN32_NT), kClassic, registry);
        ScriptedMessageBoxes boxes({IDYES});
        ASSERT_TRUE(installer.ConfirmUninstall(nullptr));
        Outcome outcome = installer.Uninstall(nullptr);
        EXPECT_EQ(outcome.values, std::vector<std::wstring>{name});
        installer.ReportUninstall(nullptr);
        ASSERT_EQ(boxes.calls().size(), 2u);
        EXPECT_BOX(boxes.calls()[1], L"Uninstallation incomplete. These registry values could not be emptied:\n" + name,
                   L"error", MB_OK);
        EXPECT_NE(ReadString(v.root, v.key, v.name).value_or(L""), L"") << "the value was emptied all the same";
        // The rest of the uninstallation ran.
        EXPECT_FALSE(t::PathExists(kProgram));
        Install(VER_PLATFORM_WIN32_NT);  // for the next value
    }
}

// The medium's shortcuts name "C:\\Program Files\\tovra"; where the system's Program Files folder
// is another (a 32-bit installer on 64-bit Windows, a localized Windows), the copies name the
// installed files instead.
TEST_F(InstallTest, ShortcutsFollowTheProgramsIntoAnotherProgramFilesFolder) {
    MakeFamilyFolders(VER_PLATFORM_WIN32_NT);
    const std::wstring programFiles = L"C:\\Tovra Test Program Files (x86)";
    tovra::suite::SystemFolders folders = kClassic;
    folders.programFiles = programFiles;
    ASSERT_TRUE(CreateDirectoryW(programFiles.c_str(), nullptr));  // the system's own folder
    Medium medium;
    const std::wstring dist = t::ModuleDir() + L"\\..\\dist\\";
    for (const wchar_t* lnk : kShortcuts) {
        ASSERT_TRUE(CopyFileW((dist + lnk).c_str(), (medium.path() + L"\\" + lnk).c_str(), FALSE)) << Narrow(lnk);
    }
    Installer installer(medium.path(), Platform(VER_PLATFORM_WIN32_NT), folders);
    ScriptedMessageBoxes boxes;
    EXPECT_TRUE(installer.Install(nullptr).empty());

    tovra::ComScope com;
    const struct {
        const wchar_t* link;
        const wchar_t* target;
    } cases[] = {{L"Tovra Internet Security.lnk", L"tovra.exe"}, {L"About Tovra IS.lnk", L"readme.htm"}};
    for (const auto& c : cases) {
        for (const std::wstring& folder : {std::wstring(kStartNT), std::wstring(kDesktopNT)}) {
            SCOPED_TRACE(Narrow(folder + L"\\" + c.link));
            tovra::ComPtr<IShellLinkW> link;
            ASSERT_EQ(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                       link.put_void()),
                      S_OK);
            auto file = link.As<IPersistFile>(IID_IPersistFile);
            ASSERT_TRUE(file);
            ASSERT_EQ(file->Load((folder + L"\\" + c.link).c_str(), STGM_READ), S_OK);
            wchar_t path[MAX_PATH] = {}, dir[MAX_PATH] = {};
            ASSERT_EQ(link->GetPath(path, MAX_PATH, nullptr, SLGP_RAWPATH), S_OK);
            EXPECT_EQ(_wcsicmp(path, (programFiles + L"\\tovra\\" + c.target).c_str()), 0) << Narrow(path);
            ASSERT_EQ(link->GetWorkingDirectory(dir, MAX_PATH), S_OK);
            EXPECT_EQ(_wcsicmp(dir, (programFiles + L"\\tovra").c_str()), 0) << Narrow(dir);
        }
    }
    t::RemoveTree(programFiles);
}

// ---- The system's own folders -----------------------------------------------------------------------

// Vista and later reach the all-users folders through junctions ("All Users\Desktop" and the like);
// under Wine a Unix link to a folder reads as such a reparse point. The folder is moved aside and
// a link to it put in its place, and both are put back at the end.
class LinkedFolder {
public:
    explicit LinkedFolder(std::wstring path) : path_(std::move(path)), real_(path_ + L".real") {
        if (!MoveFileW(path_.c_str(), real_.c_str())) return;
        moved_ = true;
        linked_ = t::RunUnixShell("ln -s '" + t::UnixPath(real_) + "' '" + t::UnixPath(path_) + "'") == 0;
    }
    ~LinkedFolder() {
        if (linked_) t::RunUnixShell("rm '" + t::UnixPath(path_) + "'");
        if (moved_) MoveFileW(real_.c_str(), path_.c_str());
    }
    bool ok() const {
        DWORD attrs = GetFileAttributesW(path_.c_str());
        return linked_ && attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_REPARSE_POINT);
    }
    const std::wstring& real() const { return real_; }

private:
    std::wstring path_, real_;
    bool moved_ = false, linked_ = false;
};

TEST_F(UninstallTest, InstallsIntoTheSystemsFoldersAndRemovesThemThroughJunctions) {
    const tovra::suite::SystemFolders& system = tovra::suite::Folders();
    ASSERT_TRUE(t::PathExists(system.commonDesktop)) << Narrow(system.commonDesktop);
    ASSERT_TRUE(t::PathExists(system.commonPrograms)) << Narrow(system.commonPrograms);
    LinkedFolder desktop(system.commonDesktop), programs(system.commonPrograms);
    ASSERT_TRUE(desktop.ok()) << "no link in place of " << Narrow(system.commonDesktop);
    ASSERT_TRUE(programs.ok()) << "no link in place of " << Narrow(system.commonPrograms);
    t::WriteFileAt(desktop.real() + L"\\someone else's.lnk", "not ours");

    ScriptedMessageBoxes boxes({IDYES});
    Installer installer(medium_.path(), Platform(VER_PLATFORM_WIN32_NT));  // the system's folders
    ASSERT_TRUE(installer.Install(nullptr).empty());
    for (const wchar_t* lnk : kShortcuts) {
        EXPECT_EQ(t::ReadFileAt(desktop.real() + L"\\" + lnk), medium_.Bytes(lnk)) << Narrow(lnk);
        EXPECT_EQ(t::ReadFileAt(programs.real() + L"\\tovra\\" + lnk), medium_.Bytes(lnk)) << Narrow(lnk);
    }
    EXPECT_FALSE(t::PathExists(kStartNT)) << "the classic folders are not this system's";
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kRunKeyW, L"Tovra Internet Security 1.0").value_or(L""),
              tovra::suite::Quoted(tovra::suite::ProductFolder() + L"\\tovra.exe"));

    ASSERT_TRUE(installer.ConfirmUninstall(nullptr));
    installer.Uninstall(nullptr);
    installer.ReportUninstall(nullptr);
    EXPECT_EQ(boxes.calls().back().text, L"Uninstallation completed");
    for (const wchar_t* lnk : kShortcuts) {
        EXPECT_FALSE(t::PathExists(desktop.real() + L"\\" + lnk)) << Narrow(lnk) << " stayed on the desktop";
    }
    EXPECT_FALSE(t::PathExists(programs.real() + L"\\tovra")) << "the Start-menu folder stayed";
    EXPECT_EQ(t::ReadFileAt(desktop.real() + L"\\someone else's.lnk"), "not ours");
    EXPECT_TRUE(t::PathExists(system.commonDesktop)) << "the link itself stays";
    EXPECT_FALSE(t::PathExists(tovra::suite::ProductFolder()));
    DeleteFileW((desktop.real() + L"\\someone else's.lnk").c_str());
}

// ---- The fixed tables -----------------------------------------------------------------------------

TEST(LayoutTest, FoldersFollowThePlatform) {
    struct Case {
        DWORD id;
        const wchar_t* program;
        const wchar_t* startMenu;
    };
    const Case cases[] = {
        {0, L"C:\\Program Files\\tovra", L"C:\\Windows\\Start Menu\\Programs\\tovra\\"},
        {1, L"C:\\Program Files\\tovra\\", L"C:\\Windows\\Start Menu\\Programs\\tovra\\"},
        {2, L"C:\\Program Files\\tovra", L"C:\\Documents and Settings\\All Users\\Start Menu\\Programs\\tovra\\"},
        {3, L"C:\\Program Files\\tovra", L"C:\\Documents and Settings\\All Users\\Start Menu\\Programs\\tovra\\"},
    };
    InstallLayout classic(kClassic);
    for (const Case& c : cases) {
        Folders f = classic.FoldersFor(c.id);
        EXPECT_EQ(f.program, c.program) << c.id;
        EXPECT_EQ(f.startMenu, c.startMenu) << c.id;
    }
    EXPECT_EQ(classic.InstallCopies().size(), 14u);
    EXPECT_EQ(classic.UninstallFiles().size(), 18u);
    EXPECT_EQ(classic.InstallValues().size(), 7u);
    EXPECT_EQ(classic.UninstallValues().size(), 3u);
}

// Elsewhere (a localized Windows, another drive, Vista's profile folders, a 32-bit installer on
// 64-bit Windows) the NT family's rows follow the system's folders; the 95/98 rows stay, and the
// stored texts keep their spelling ("Tovra" in the uninstall command).
TEST(LayoutTest, TheNtRowsFollowTheSystemsFolders) {
    const tovra::suite::SystemFolders elsewhere{L"D:\\Programme", L"D:\\ProgramData\\Start\\Programme",
                                                L"D:\\Users\\Public\\Desktop"};
    InstallLayout layout(elsewhere);
    EXPECT_EQ(layout.FoldersFor(VER_PLATFORM_WIN32_NT).program, L"D:\\Programme\\tovra");
    EXPECT_EQ(layout.FoldersFor(VER_PLATFORM_WIN32_NT).startMenu, L"D:\\ProgramData\\Start\\Programme\\tovra\\");
    EXPECT_EQ(layout.FoldersFor(VER_PLATFORM_WIN32_WINDOWS).startMenu, L"C:\\Windows\\Start Menu\\Programs\\tovra\\");
    const std::vector<std::wstring> destinations = [&] {
        std::vector<std::wstring> d;
        for (const FileCopy& c : layout.InstallCopies()) d.push_back(c.destination);
        return d;
    }();
    const std::vector<std::wstring> expected = {
        L"D:\\Programme\\tovra\\setup.exe", L"D:\\Programme\\tovra\\tovra.exe", L"D:\\Programme\\tovra\\tovraa.exe",
        L"D:\\Programme\\tovra\\file.dat", L"D:\\Programme\\tovra\\readme.htm", L"D:\\Programme\\tovra\\utovraa.exe",
        L"C:\\Windows\\Start Menu\\Programs\\tovra\\Tovra Internet Security.lnk",
        L"C:\\Windows\\Start Menu\\Programs\\tovra\\About Tovra IS.lnk",
        L"D:\\ProgramData\\Start\\Programme\\tovra\\Tovra Internet Security.lnk",
        L"D:\\ProgramData\\Start\\Programme\\tovra\\About Tovra IS.lnk",
        L"C:\\WINDOWS\\All Users\\Desktop\\Tovra Internet Security.lnk", L"C:\\WINDOWS\\All Users\\Desktop\\About Tovra IS.lnk",
        L"D:\\Users\\Public\\Desktop\\Tovra Internet Security.lnk", L"D:\\Users\\Public\\Desktop\\About Tovra IS.lnk",
    };
    EXPECT_EQ(destinations, expected);
    EXPECT_EQ(layout.InstallValues()[0].data, L"\"D:\\Programme\\tovra\\tovra.exe\"");
    EXPECT_EQ(layout.InstallValues()[6].data, L"\"D:\\Programme\\Tovra\\setup.exe\"");
    EXPECT_EQ(layout.UninstallFiles()[0], L"D:\\Programme\\tovra\\setup.exe");
    EXPECT_EQ(layout.UninstallFiles()[17], L"D:\\Users\\Public\\Desktop\\About Tovra IS.lnk");
}

TEST(LayoutTest, TheRealVersionQueryReportsThisPrefixsFamily) {
    OSVERSIONINFOA info{};
    ASSERT_TRUE(QueryWindowsVersion(&info));
    EXPECT_EQ(info.dwOSVersionInfoSize, 148u);
    EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
}

}  // namespace

namespace {

// The tests lean on the snapshot to leave the shared prefix as they found it: check that it does.
TEST(SnapshotTest, PutsBackWhatAnInstallationChanged) {
    const std::wstring other = std::wstring(kProgram) + L"\\other.txt";
    const std::wstring tovraExe = std::wstring(kProgram) + L"\\tovra.exe";
    SystemSnapshot outer;
    outer.ClearProductFolders();
    t::WriteFileAt(other, "someone else's");
    t::WriteFileAt(tovraExe, "an older tovra");
    tovra::SaveSetting(L"software\\Microsoft\\Windows\\CurrentVersion\\Run", L"Tovra Internet Security 1.0", L"before");
    {
        SystemSnapshot inner;
        MakeFamilyFolders(VER_PLATFORM_WIN32_NT);
        Medium medium;
        ScriptedMessageBoxes boxes({IDYES});
        Installer installer(medium.path(), Platform(VER_PLATFORM_WIN32_NT), kClassic);
        installer.Install(nullptr);
        EXPECT_EQ(t::ReadFileAt(tovraExe), "medium:tovra.exe");
        installer.Uninstall(nullptr);
        EXPECT_FALSE(t::PathExists(tovraExe));
    }
    EXPECT_EQ(t::ReadFileAt(other), "someone else's");
    EXPECT_EQ(t::ReadFileAt(tovraExe), "an older tovra");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kRunKeyW, L"Tovra Internet Security 1.0").value_or(L""), L"before");
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKeyW));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"software\\Quorelsoft"));
    EXPECT_FALSE(t::PathExists(L"C:\\Documents and Settings"));
    EXPECT_FALSE(t::PathExists(kStartNT));
}

// The licence window with a double of the browser control: it comes at once, the licence goes into
// the document when that completes, and the setup may end while it still waits.
class LicencePageTest : public WizardTest {
protected:
    LicencePageTest() : WizardTest(true) {}

    static size_t LicenceWindows() {
        struct Found {
            size_t n = 0;
        } found;
        EnumWindows(
            [](HWND w, LPARAM lp) -> BOOL {
                DWORD pid = 0;
                GetWindowThreadProcessId(w, &pid);
                wchar_t title[64] = {};
                GetWindowTextW(w, title, 64);
                if (pid == GetCurrentProcessId() && std::wstring(title) == L"End User License Agreement")
                    ++reinterpret_cast<Found*>(lp)->n;
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&found));
        return found.n;
    }

    // Opens the licence, ends the setup while its page waits, and lets the browser end its load.
    void EndWhileTheLicenceLoads(const std::function<void()>& end) {
        ClickLabel(wizard_.selection(), SelectionForm::lblagreement);
        ASSERT_TRUE(wizard_.agree().Visible()) << "the window waits for its page";
        ASSERT_EQ(doubles_.made(), 1u);
        ASSERT_TRUE(wizard_.agree().browser().Loading());
        end();
        EXPECT_EQ(ends_, 1);
        EXPECT_TRUE(wizard_.ended());
        EXPECT_FALSE(wizard_.agree().created()) << "the licence outlived the setup";
        EXPECT_EQ(doubles_[0].sinks(), 0u);
        doubles_[0].Complete();
        doubles_[0].Fail();
        tovra::test::RunEventsFor(200);
        EXPECT_EQ(doubles_[0].document().writes(), 0);
        EXPECT_EQ(LicenceWindows(), 0u);
        wizard_.ShowLicence();  // a request that arrives late does nothing
        EXPECT_FALSE(wizard_.agree().created());
        EXPECT_EQ(LicenceWindows(), 0u);
        EXPECT_EQ(doubles_.made(), 1u);
        EXPECT_EQ(ends_, 1);
    }
};

TEST_F(LicencePageTest, TheWindowComesAtOnceAndItsDocumentTakesTheLicence) {
    AgreeForm& agree = wizard_.agree();
    ClickLabel(wizard_.selection(), SelectionForm::lblagreement);
    ASSERT_TRUE(agree.Visible());
    ASSERT_EQ(doubles_.made(), 1u);
    EXPECT_EQ(GetDlgItem(agree.hwnd(), AgreeForm::brwWebBrowser), doubles_.window(0));
    EXPECT_TRUE(agree.browser().Loading());
    EXPECT_EQ(GetFocus(), agree.Control(AgreeForm::cmdExitA));
    doubles_[0].Complete();
    EXPECT_FALSE(agree.browser().Loading());
    EXPECT_EQ(doubles_[0].document().written(), LicenceHtml());

    // Hidden and shown again: the same page, not loaded again.
    Click(agree, AgreeForm::cmdExitA);
    EXPECT_FALSE(agree.Visible());
    ClickLabel(wizard_.selection(), SelectionForm::lblagreement);
    EXPECT_TRUE(agree.Visible());
    EXPECT_EQ(doubles_.made(), 1u);
    EXPECT_EQ(doubles_[0].navigations(), 1);
    EXPECT_EQ(doubles_[0].document().writes(), 1);
    EXPECT_EQ(ends_, 0);
}

TEST_F(LicencePageTest, HiddenWhileItsPageLoads) {
    AgreeForm& agree = wizard_.agree();
    ClickLabel(wizard_.selection(), SelectionForm::lblagreement);
    ASSERT_TRUE(agree.browser().Loading());
    Click(agree, AgreeForm::cmdExitA);
    EXPECT_FALSE(agree.Visible());
    doubles_[0].Complete();  // the hidden window's page fills in all the same
    EXPECT_EQ(doubles_[0].document().written(), LicenceHtml());
    ClickLabel(wizard_.selection(), SelectionForm::lblagreement);
    EXPECT_TRUE(agree.Visible());
    EXPECT_EQ(doubles_[0].navigations(), 1);
    EXPECT_EQ(ends_, 0);
}

TEST_F(LicencePageTest, SetupEndedByTheSelectionsExitWhileTheLicenceLoads) {
    EndWhileTheLicenceLoads([&] { Click(wizard_.selection(), SelectionForm::cmdEndS); });
    EXPECT_FALSE(wizard_.selection().created());
}

TEST_F(LicencePageTest, SetupEndedByClosingTheSelectionWindowWhileTheLicenceLoads) {
    EndWhileTheLicenceLoads([&] { SendMessageW(wizard_.selection().hwnd(), WM_CLOSE, 0, 0); });
}

TEST_F(LicencePageTest, SetupEndedFromTheInstallPageWhileTheLicenceLoads) {
    EndWhileTheLicenceLoads([&] {
        Click(wizard_.selection(), SelectionForm::cmdStart);
        Click(wizard_.installPage(), InstallPage::cmdExit);
    });
    EXPECT_FALSE(wizard_.installPage().created());
}

}  // namespace
