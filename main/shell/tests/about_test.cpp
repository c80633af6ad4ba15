#include "main/shell/about_form.h"

#include <shlwapi.h>
#include <gtest/gtest.h>
#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "main/shell/main_ids.h"
#include "main/shell/placement.h"
#include "main/shell/sys_info.h"
#include "shared/forms.h"
#include "shared/html_view.h"
#include "shared/message_box.h"
#include "shared/tests/browser_double.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace tovra::shell;

struct FakeLauncher : Launcher {
    std::vector<std::pair<std::wstring, int>> started;
    bool result = true;
    bool Start(const std::wstring& commandLine, int show) override {
        started.push_back({commandLine, show});
        return result;
    }
    bool Open(const std::wstring&, int) override { return result; }
};

TEST(AboutTest, TheVersionComesFromTheProgramsOwnResource) {
    auto v = ReadProgramVersion(tovra::test::ModuleDir() + L"\\tovra.exe");
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(VersionLabel(*v), L"Version 1.0.0");
    EXPECT_FALSE(ReadProgramVersion(tovra::test::ModuleDir() + L"\\no such program.exe").has_value());
    EXPECT_EQ(VersionLabel(OwnVersion()), L"Version 1.0.0");
    EXPECT_EQ(VersionLabel({2, 5, 17}), L"Version 2.5.17");
}

TEST(AboutTest, ThePage) {
    std::wstring page = AboutPage();
    EXPECT_EQ(page.find(L'\n'), std::wstring::npos);
    const std::wstring head =
        L"<html><title>About Tovra Internet Security</title><body><i>Tovra Internet Security</i> provides maximum "
        L"security while you are online. It blocks all pop-up windows, protects you against hackers, virus, and "
        L"cleans unwanted temporay files and cookies.<br>Please visit Quorelsoft or email us at "
        L"support@quorelsoft.com for more information about updates and new softwares.<p>";
    EXPECT_EQ(page.substr(0, head.size()), head);
    EXPECT_NE(page.find(L"Quorelsoft", head.size()), std::wstring::npos) << "a closing line with the maker";
    EXPECT_EQ(page.substr(page.size() - 14), L"</body></html>");
}

TEST(AboutTest, TheBoxAsDesignedPlacedAtAThirdAndNeverEmpty) {
    FakeLauncher launcher;
    AboutForm about(launcher);
    ASSERT_TRUE(about.Load());
    EXPECT_TRUE(about.Visible()) << "the box comes at once, its page after";
    // The system's browser control: under Wine its navigation fails and the text comes instead.
    ASSERT_TRUE(tovra::test::RunEventsUntil([&] { return !about.PageLoading(); },
                                            tovra::HtmlView::kDocumentWaitMs + 3000));
    EXPECT_EQ(about.Caption(), L"About Tovra");
    EXPECT_EQ(about.Text(lblTitle), L"Tovra Pop-ups Killer");
    EXPECT_EQ(about.Text(lblAboutVersion), L"Version 1.0.0");
    EXPECT_EQ(about.Text(cmdOK), L"OK");
    EXPECT_EQ(about.Text(cmdSysInfo), L"&System Info...");
    EXPECT_TRUE(GetWindowLongW(about.Control(cmdOK), GWL_STYLE) & BS_DEFPUSHBUTTON);
    LONG style = GetWindowLongW(about.hwnd(), GWL_STYLE);
    EXPECT_FALSE(style & WS_THICKFRAME) << "not resizable";
    EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX));

    Position want = AboutBoxPosition(tovra::forms::ScreenWidthTwips(), tovra::forms::ScreenHeightTwips(),
                                     about.WidthTwips(), about.HeightTwips());
    RECT r{};
    GetWindowRect(about.hwnd(), &r);
    EXPECT_NEAR(r.left, tovra::forms::TwipsToPixelsX(want.left), 1);
    EXPECT_NEAR(r.top, tovra::forms::TwipsToPixelsY(want.top), 1);

    // The page area, the browser or the page's text, stands in its place: 240, 720, 4215 by 1095.
    HWND page = GetDlgItem(about.hwnd(), brwWebBrowser);
    ASSERT_NE(page, nullptr) << "no page area";
    EXPECT_TRUE(IsWindowVisible(page));
    RECT area{};
    GetWindowRect(page, &area);
    MapWindowPoints(nullptr, about.hwnd(), reinterpret_cast<POINT*>(&area), 2);
    EXPECT_NEAR(area.left, tovra::forms::TwipsToPixelsX(240), 1);
    EXPECT_NEAR(area.top, tovra::forms::TwipsToPixelsY(720), 1);
    EXPECT_NEAR(area.right - area.left, tovra::forms::TwipsToPixelsX(4215), 1);
    EXPECT_NEAR(area.bottom - area.top, tovra::forms::TwipsToPixelsY(1095), 1);
    wchar_t kind[64] = {};
    GetClassNameW(page, kind, 64);
    if (about.PageInBrowser()) {
        EXPECT_STREQ(kind, L"AtlAxWin") << "the browser's host holds the page";
        EXPECT_EQ(about.PageText(), L"");
    } else {
        // Wine has no HTML engine: the page's words show instead, without a tag.
        EXPECT_EQ(lstrcmpiW(kind, L"Edit"), 0) << kind;
        std::wstring text = about.PageText();
        EXPECT_NE(text.find(L"Tovra Internet Security provides maximum security"), std::wstring::npos);
        EXPECT_NE(text.find(L"support@quorelsoft.com"), std::wstring::npos);
        EXPECT_EQ(text.find(L'<'), std::wstring::npos);
        EXPECT_EQ(text.find(L"About Tovra Internet Security"), std::wstring::npos) << "the title is no text";
        wchar_t shown[1024] = {};
        GetWindowTextW(page, shown, 1024);
        EXPECT_EQ(shown, text) << "the text is what the page area shows";
    }
}

TEST(AboutTest, EnterAndEscBothCloseTheBox) {
    FakeLauncher launcher;
    for (UINT key : {VK_RETURN, VK_ESCAPE}) {
        AboutForm about(launcher);
        ASSERT_TRUE(about.Load());
        HWND focus = GetFocus();
        ASSERT_NE(focus, nullptr);
        EXPECT_EQ(GetAncestor(focus, GA_ROOT), about.hwnd());
        PostMessageW(focus, WM_KEYDOWN, key, 0);
        tovra::forms::DoEvents();
        EXPECT_FALSE(about.created()) << key;
    }
}

// Scratch registry state that the test owns: made here, removed at the end.
class ScratchKey {
public:
    ScratchKey(HKEY root, std::wstring path) : root_(root), path_(std::move(path)) {
        HKEY probe = nullptr;
        existed_ = RegOpenKeyExW(root_, path_.c_str(), 0, KEY_READ, &probe) == ERROR_SUCCESS;
        if (probe) RegCloseKey(probe);
        RegCreateKeyExW(root_, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
    }
    ~ScratchKey() {
        if (key_) RegCloseKey(key_);
        if (!existed_) SHDeleteKeyW(root_, path_.c_str());
    }
    bool existed() const { return existed_; }
    HKEY get() const { return key_; }
    void SetString(const wchar_t* name, const std::wstring& value, bool withNul = true) {
        DWORD bytes = static_cast<DWORD>((value.size() + (withNul ? 1 : 0)) * sizeof(wchar_t));
        RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes);
    }
    void SetDword(const wchar_t* name, DWORD value) {
        RegSetValueExW(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    }
    void Remove(const wchar_t* name) { RegDeleteValueW(key_, name); }

private:
    HKEY root_;
    std::wstring path_;
    HKEY key_ = nullptr;
    bool existed_ = false;
};

TEST(GetKeyValueTest, ReadsTextAndNumbersFromTheRegistry) {
    ScratchKey key(HKEY_CURRENT_USER, L"Software\\TovraShellTest\\GetKeyValue");
    ASSERT_NE(key.get(), nullptr);
    key.SetString(L"text", L"C:\\Program Files\\x.exe");
    key.SetString(L"noNul", L"abc", false);
    key.SetString(L"empty", L"");
    key.SetDword(L"number", 0x1234);
    key.SetDword(L"zero", 0);
    BYTE bin[] = {1, 2, 3};
    RegSetValueExW(key.get(), L"binary", 0, REG_BINARY, bin, sizeof bin);
    std::wstring longText(3000, L'x');
    key.SetString(L"long", longText);

    struct Case {
        const wchar_t* value;
        bool ok;
        const wchar_t* result;
    } cases[] = {
        {L"text", true, L"C:\\Program Files\\x.exe"},
        {L"noNul", true, L"abc"},
        {L"empty", true, L""},
        {L"number", true, L"&h1234"},
        {L"zero", true, L"&h0"},
        {L"binary", true, L"untouched"},  // other types leave the text as it was
        {L"missing", false, L""},
    };
    for (const Case& c : cases) {
        std::wstring out = L"untouched";
        EXPECT_EQ(GetKeyValue(HKEY_CURRENT_USER, L"Software\\TovraShellTest\\GetKeyValue", c.value, out), c.ok)
            << c.value;
        EXPECT_EQ(out, c.result) << c.value;
    }
    std::wstring out;
    EXPECT_TRUE(GetKeyValue(HKEY_CURRENT_USER, L"Software\\TovraShellTest\\GetKeyValue", L"long", out));
    EXPECT_EQ(out, longText);
    out = L"untouched";
    EXPECT_FALSE(GetKeyValue(HKEY_CURRENT_USER, L"Software\\TovraShellTest\\NoSuchKey", L"text", out));
    EXPECT_EQ(out, L"");
    SHDeleteKeyW(HKEY_CURRENT_USER, L"Software\\TovraShellTest");
}

TEST(GetKeyValueTest, AKeyThatMayOnlyBeReadCanBeRead) {
    ScratchKey key(HKEY_CURRENT_USER, L"Software\\TovraShellTest\\ReadOnly");
    ASSERT_NE(key.get(), nullptr);
    key.SetString(L"PATH", L"C:\\x.exe");
    // Everyone may read the key, nobody may change it: as a user without administrator rights
    // sees the machine's keys.
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;KR;;;WD)", SDDL_REVISION_1, &sd,
                                                                       nullptr));
    ASSERT_EQ(RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, sd), ERROR_SUCCESS);
    LocalFree(sd);

    HKEY full = nullptr;
    LONG rc = RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\TovraShellTest\\ReadOnly", 0, 0x2003F, &full);
    if (full) RegCloseKey(full);
    ASSERT_EQ(rc, ERROR_ACCESS_DENIED) << "the key's access list must refuse full access";

    std::wstring out;
    EXPECT_TRUE(GetKeyValue(HKEY_CURRENT_USER, L"Software\\TovraShellTest\\ReadOnly", L"PATH", out));
    EXPECT_EQ(out, L"C:\\x.exe");

    // Give the key back to its owner so it can be removed.
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;KA;;;WD)", SDDL_REVISION_1, &sd,
                                                                       nullptr));
    RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, sd);
    LocalFree(sd);
    SHDeleteKeyW(HKEY_CURRENT_USER, L"Software\\TovraShellTest");
}

// One registry value that the test owns while it runs: whatever stood there before is put back.
class ScratchValue {
public:
    ScratchValue(HKEY root, std::wstring path, std::wstring name)
        : root_(root), path_(std::move(path)), name_(std::move(name)) {
        HKEY probe = nullptr;
        keyExisted_ = RegOpenKeyExW(root_, path_.c_str(), 0, KEY_READ, &probe) == ERROR_SUCCESS;
        if (probe) RegCloseKey(probe);
        RegCreateKeyExW(root_, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
        DWORD size = 0;
        if (key_ && RegQueryValueExW(key_, name_.c_str(), nullptr, &type_, nullptr, &size) == ERROR_SUCCESS) {
            saved_.resize(size);
            valueExisted_ = RegQueryValueExW(key_, name_.c_str(), nullptr, &type_, saved_.data(), &size) ==
                            ERROR_SUCCESS;
            RegDeleteValueW(key_, name_.c_str());
        }
    }
    ~ScratchValue() {
        if (!key_) return;
        if (valueExisted_)
            RegSetValueExW(key_, name_.c_str(), 0, type_, saved_.data(), static_cast<DWORD>(saved_.size()));
        else
            RegDeleteValueW(key_, name_.c_str());
        RegCloseKey(key_);
        if (!keyExisted_) SHDeleteKeyW(root_, path_.c_str());
    }
    bool ok() const { return key_ != nullptr; }
    void SetString(const std::wstring& value) {
        RegSetValueExW(key_, name_.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    void SetDword(DWORD value) {
        RegSetValueExW(key_, name_.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    }

private:
    HKEY root_;
    std::wstring path_, name_;
    HKEY key_ = nullptr;
    bool keyExisted_ = false, valueExisted_ = false;
    DWORD type_ = 0;
    std::vector<BYTE> saved_;
};

// The machine's two places for System Information, owned by the test while it runs.
struct SysInfoTest : ::testing::Test {
    ScratchValue msinfo{HKEY_LOCAL_MACHINE, kMsInfoKey, kMsInfoValue};
    ScratchValue location{HKEY_LOCAL_MACHINE, kMsInfoLocationKey, kMsInfoLocationValue};
    FakeLauncher launcher;
    tovra::ScriptedMessageBoxes boxes;
    tovra::test::TempDir folder;

    void SetUp() override {
        ASSERT_TRUE(msinfo.ok());
        ASSERT_TRUE(location.ok());
    }
    void ExpectUnavailable() {
        ASSERT_EQ(boxes.calls().size(), 1u);
        EXPECT_EQ(boxes.calls()[0].text, L"System Information Is Unavailable At This Time");
        EXPECT_EQ(boxes.calls()[0].title, L"Tovra");
        EXPECT_EQ(boxes.calls()[0].type, static_cast<UINT>(MB_OK));
    }
};

TEST_F(SysInfoTest, TheFirstPlaceNamesTheProgramItself) {
    msinfo.SetString(L"C:\\Tools\\msinfo32.exe");  // not there: started without a look
    location.SetString(folder.path());
    EXPECT_TRUE(StartSysInfo(nullptr, launcher, kAppTitle));
    ASSERT_EQ(launcher.started.size(), 1u);
    EXPECT_EQ(launcher.started[0].first, L"\"C:\\Tools\\msinfo32.exe\"");
    EXPECT_EQ(launcher.started[0].second, SW_SHOWNORMAL);
    EXPECT_TRUE(boxes.calls().empty());
}

TEST_F(SysInfoTest, TheSecondPlaceNamesTheFolderAndTheFileMustBeThere) {
    location.SetString(folder.path());
    EXPECT_FALSE(StartSysInfo(nullptr, launcher, kAppTitle));
    EXPECT_TRUE(launcher.started.empty());
    ExpectUnavailable();

    folder.WriteFile(L"MSINFO32.EXE", "MZ");
    boxes.answer({});
    EXPECT_TRUE(StartSysInfo(nullptr, launcher, kAppTitle));
    ASSERT_EQ(launcher.started.size(), 1u);
    EXPECT_EQ(launcher.started[0].first, L"\"" + folder.path() + L"\\MSINFO32.EXE\"");
}

TEST_F(SysInfoTest, NeitherPlaceOrAFailedStartTellsTheUser) {
    EXPECT_FALSE(StartSysInfo(nullptr, launcher, kAppTitle));
    ExpectUnavailable();
}

TEST_F(SysInfoTest, AFailedStartOfTheNamedProgramTellsTheUser) {
    msinfo.SetString(folder.path() + L"\\missing.exe");
    EXPECT_FALSE(StartSysInfo(nullptr, SystemLauncher(), kAppTitle));
    ExpectUnavailable();
}

TEST_F(SysInfoTest, ANumberIsNoPath) {
    msinfo.SetDword(5);
    EXPECT_FALSE(StartSysInfo(nullptr, SystemLauncher(), kAppTitle));
    ExpectUnavailable();
}

TEST_F(SysInfoTest, TheAboutBoxButtonAsksForIt) {
    AboutForm about(launcher);
    ASSERT_TRUE(about.Load());
    SendMessageW(about.Control(cmdSysInfo), BM_CLICK, 0, 0);
    ExpectUnavailable();
    EXPECT_EQ(boxes.calls()[0].owner, about.hwnd());
    EXPECT_TRUE(about.created()) << "the box stays open";
}

}  // namespace
