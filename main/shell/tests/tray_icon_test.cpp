#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "main/shell/main_ids.h"
#include "main/shell/tests/fake_shell.h"
#include "main/shell/tray_icon.h"

namespace {

using tovra::shell::TrayIcon;
using tovra::shell::kTrayAddTries;
using tovra::shell::TrayRecord;
using tovra::shell::test::FakeShell;

struct Sent {
    DWORD message;
    TrayRecord record;
};

// A plain top-level window with the program's icon, standing in for the main window.
class Owner {
public:
    explicit Owner(const wchar_t* title) {
        hwnd_ = CreateWindowW(L"STATIC", title, WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
        icon_ = LoadIconW(nullptr, IDI_APPLICATION);
        SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    }
    ~Owner() { DestroyWindow(hwnd_); }
    HWND hwnd() const { return hwnd_; }
    HICON icon() const { return icon_; }

private:
    HWND hwnd_;
    HICON icon_;
};

std::string Tip(const TrayRecord& r) { return std::string(r.szTip, strnlen(r.szTip, sizeof r.szTip)); }

TEST(TrayTest, TheRecordIsTheFirstShellVersionsAnsiRecord) {
    EXPECT_EQ(sizeof(TrayRecord), static_cast<size_t>(NOTIFYICONDATAA_V1_SIZE));
    EXPECT_EQ(sizeof(TrayRecord), sizeof(void*) == 4 ? 88u : 104u);
    EXPECT_EQ(sizeof(TrayRecord::szTip), 64u);
}

TEST(TrayTest, ShowAndRemoveSendTheRecordAsSpecified) {
    std::vector<Sent> sent;
    TrayIcon tray([&](DWORD m, TrayRecord& r) {
        sent.push_back({m, r});
        return TRUE;
    });
    Owner owner(tovra::shell::kMainTitle);
    EXPECT_FALSE(tray.Shown());

    tray.ShowIcon(owner.hwnd());
    ASSERT_EQ(sent.size(), 1u);
    const TrayRecord& add = sent[0].record;
    EXPECT_EQ(sent[0].message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(add.cbSize, sizeof(TrayRecord));
    EXPECT_EQ(add.hWnd, owner.hwnd());
    EXPECT_EQ(add.uID, 1u);
    EXPECT_EQ(add.uFlags, 7u);
    EXPECT_EQ(add.uCallbackMessage, 0x200u);
    EXPECT_EQ(add.hIcon, owner.icon());
    EXPECT_EQ(Tip(add), "Tovra Internet Security 1.0");
    EXPECT_TRUE(tray.Shown());

    tray.ChangeToolTip(owner.hwnd(), L"Another tip");
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(Tip(sent[1].record), "Another tip");
    EXPECT_EQ(sent[1].record.uID, 1u);  // the rest as the last show left it
    HICON other = LoadIconW(nullptr, IDI_WARNING);
    tray.ChangeIcon(owner.hwnd(), other);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[2].record.hIcon, other);
    EXPECT_EQ(Tip(sent[2].record), "Another tip");

    tray.RemoveIcon(owner.hwnd());
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[3].message, static_cast<DWORD>(NIM_DELETE));
    EXPECT_EQ(sent[3].record.hWnd, owner.hwnd());
    EXPECT_EQ(sent[3].record.uID, 1u);
    EXPECT_EQ(Tip(sent[3].record), "");
    EXPECT_FALSE(tray.Shown());

    // Changes while no icon is shown send nothing.
    tray.ChangeIcon(owner.hwnd(), other);
    tray.ChangeToolTip(owner.hwnd(), L"x");
    EXPECT_EQ(sent.size(), 4u);
}

TEST(TrayTest, ChangesBeforeTheFirstShowSendNothing) {
    int calls = 0;
    TrayIcon tray([&](DWORD, TrayRecord&) { ++calls; return TRUE; });
    Owner owner(L"x");
    tray.ChangeIcon(owner.hwnd(), owner.icon());
    tray.ChangeToolTip(owner.hwnd(), L"tip");
    EXPECT_EQ(calls, 0);
}

TEST(TrayTest, LongTipsAreCutSoTheFieldAlwaysEndsWithANul) {
    struct Case {
        size_t length;
        size_t kept;
    } cases[] = {{0, 0}, {1, 1}, {62, 62}, {63, 63}, {64, 63}, {65, 63}, {300, 63}};
    for (const Case& c : cases) {
        TrayRecord r;
        std::memset(&r, 0x5A, sizeof r);  // sentinel: nothing of it may survive in the field
        std::wstring text(c.length, L'a');
        tovra::shell::SetTip(r, text);
        EXPECT_EQ(strnlen(r.szTip, sizeof r.szTip), c.kept) << c.length;
        EXPECT_EQ(r.szTip[63], '\0') << c.length;
        for (size_t i = c.kept; i < 64; ++i) EXPECT_EQ(r.szTip[i], '\0') << c.length << " at " << i;
    }
    // Text beyond ANSI is converted, not dropped.
    TrayRecord r{};
    tovra::shell::SetTip(r, L"Caf\u00e9");
    EXPECT_EQ(Tip(r), "Caf\xe9");
}

// The fields an add names the icon and its look by.
void ExpectSameIcon(const TrayRecord& a, const TrayRecord& b, int line) {
    SCOPED_TRACE(testing::Message() << "from line " << line);
    EXPECT_EQ(a.cbSize, b.cbSize);
    EXPECT_EQ(a.hWnd, b.hWnd);
    EXPECT_EQ(a.uID, b.uID);
    EXPECT_EQ(a.uFlags, b.uFlags);
    EXPECT_EQ(a.uCallbackMessage, b.uCallbackMessage);
    EXPECT_EQ(a.hIcon, b.hIcon);
    EXPECT_EQ(Tip(a), Tip(b));
}

TEST(TrayTest, AnIconTheShellDidNotTakeIsOfferedAgainUntilItIs) {
    struct Case {
        const char* name;
        int missingForAdds, timedOutAdds;
        bool addedAtOnce;
        size_t adds;  // in all, until the shell has it
    } cases[] = {
        {"the taskbar takes it", 0, 0, true, 1},
        {"an add reported as timed out but done", 0, 1, true, 1},  // the modify shows it is there
        {"no taskbar for three tries", 3, 0, false, 4},
        {"no taskbar, then a time-out", 1, 1, false, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeShell shell;
        shell.missingForAdds = c.missingForAdds;
        shell.timedOutAdds = c.timedOutAdds;
        TrayIcon tray(shell.Notify());
        Owner owner(tovra::shell::kMainTitle);
        tray.ShowIcon(owner.hwnd());
        EXPECT_TRUE(tray.Shown());
        EXPECT_EQ(tray.Added(), c.addedAtOnce);
        EXPECT_EQ(tray.WantsRetry(), !c.addedAtOnce);
        for (int tick = 0; tick < 10 && tray.WantsRetry(); ++tick) tray.RetryAdd(owner.hwnd());
        EXPECT_TRUE(tray.Added());
        EXPECT_FALSE(tray.WantsRetry());
        EXPECT_TRUE(shell.Has(owner.hwnd()));
        EXPECT_EQ(shell.Count(NIM_ADD), c.adds);
        for (const FakeShell::Sent& s : shell.sent()) ExpectSameIcon(s.record, shell.sent()[0].record, __LINE__);
        // Once the shell has it, ticks send nothing.
        const size_t before = shell.sent().size();
        tray.RetryAdd(owner.hwnd());
        EXPECT_EQ(shell.sent().size(), before);
    }
}

TEST(TrayTest, TheTriesEndAfterTheirBoundAndALaterTaskbarAddsTheIcon) {
    FakeShell shell;
    shell.down = true;
    TrayIcon tray(shell.Notify());
    Owner owner(tovra::shell::kMainTitle);
    tray.ShowIcon(owner.hwnd());
    for (int tick = 0; tick < 2 * kTrayAddTries; ++tick) tray.RetryAdd(owner.hwnd());
    EXPECT_EQ(shell.Count(NIM_ADD), static_cast<size_t>(1 + kTrayAddTries));
    EXPECT_FALSE(tray.WantsRetry());
    EXPECT_FALSE(tray.Added());
    EXPECT_TRUE(tray.Shown()) << "the icon is still meant to be shown";

    shell.down = false;
    tray.TaskbarCreated(owner.hwnd());
    EXPECT_TRUE(tray.Added());
    EXPECT_TRUE(shell.Has(owner.hwnd()));
    EXPECT_EQ(Tip(shell.sent().back().record), "Tovra Internet Security 1.0");
}

TEST(TrayTest, TaskbarCreatedAddsAShownIconAgainAndNothingElse) {
    FakeShell shell;
    TrayIcon tray(shell.Notify());
    Owner owner(tovra::shell::kMainTitle);
    tray.TaskbarCreated(owner.hwnd());
    EXPECT_TRUE(shell.sent().empty()) << "no icon shown yet";

    tray.ShowIcon(owner.hwnd());
    ASSERT_TRUE(tray.Added());
    const TrayRecord shown = shell.sent().back().record;
    shell.Restart();
    tray.TaskbarCreated(owner.hwnd());
    EXPECT_TRUE(shell.Has(owner.hwnd()));
    EXPECT_EQ(shell.sent().back().message, static_cast<DWORD>(NIM_ADD));
    ExpectSameIcon(shell.sent().back().record, shown, __LINE__);

    // A tip changed meanwhile comes back with the icon.
    tray.ChangeToolTip(owner.hwnd(), L"Changed");
    shell.Restart();
    tray.TaskbarCreated(owner.hwnd());
    EXPECT_EQ(Tip(shell.sent().back().record), "Changed");
    EXPECT_TRUE(shell.Has(owner.hwnd()));

    // Said while the shell still has the icon: it stays, once, and nothing is tried again.
    tray.TaskbarCreated(owner.hwnd());
    EXPECT_TRUE(tray.Added());
    EXPECT_FALSE(tray.WantsRetry());
    EXPECT_TRUE(shell.Has(owner.hwnd()));

    // Another window's message, or one after the icon was removed, sends nothing.
    Owner other(L"other");
    size_t before = shell.sent().size();
    tray.TaskbarCreated(other.hwnd());
    EXPECT_EQ(shell.sent().size(), before);
    tray.RemoveIcon(owner.hwnd());
    EXPECT_FALSE(shell.Has(owner.hwnd()));
    before = shell.sent().size();
    tray.TaskbarCreated(owner.hwnd());
    tray.RetryAdd(owner.hwnd());
    EXPECT_EQ(shell.sent().size(), before);
    EXPECT_FALSE(shell.Has(owner.hwnd()));
}

TEST(TrayTest, RemovingEndsTheTries) {
    FakeShell shell;
    shell.down = true;
    TrayIcon tray(shell.Notify());
    Owner owner(tovra::shell::kMainTitle);
    tray.ShowIcon(owner.hwnd());
    ASSERT_TRUE(tray.WantsRetry());
    tray.RemoveIcon(owner.hwnd());
    EXPECT_FALSE(tray.WantsRetry());
    shell.down = false;
    const size_t before = shell.sent().size();
    tray.RetryAdd(owner.hwnd());
    EXPECT_EQ(shell.sent().size(), before);
}

TEST(TrayTest, TheRealNotificationAreaShowsAndDropsTheIcon) {
    Owner owner(tovra::shell::kMainTitle);
    auto trayWindow = [] { return FindWindowW(L"__winex11_standalone_tray", nullptr); };
    auto shown = [&] {
        HWND t = trayWindow();
        return t && IsWindowVisible(t);
    };
    ASSERT_FALSE(shown()) << "an icon is already in the notification area";
    {
        TrayIcon tray;
        tray.ShowIcon(owner.hwnd());
        EXPECT_TRUE(shown());
        tray.RemoveIcon(owner.hwnd());
        EXPECT_FALSE(shown());
        // Removing an icon that is not there is harmless.
        tray.RemoveIcon(owner.hwnd());
        EXPECT_FALSE(shown());

        tray.ShowIcon(owner.hwnd());
        EXPECT_TRUE(shown());
        EXPECT_TRUE(tray.Added());

        // The shell loses the icon behind the object's back, as when Explorer restarts; its
        // "TaskbarCreated" brings it back.
        NOTIFYICONDATAA gone{};
        gone.cbSize = NOTIFYICONDATAA_V1_SIZE;
        gone.hWnd = owner.hwnd();
        gone.uID = 1;
        ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &gone));
        ASSERT_FALSE(shown());
        tray.TaskbarCreated(owner.hwnd());
        EXPECT_TRUE(shown());
        EXPECT_TRUE(tray.Added());
        // Said while the shell still has it: the shell refuses the second add, the icon stays.
        tray.TaskbarCreated(owner.hwnd());
        EXPECT_TRUE(shown());
        EXPECT_TRUE(tray.Added());
        EXPECT_FALSE(tray.WantsRetry());
    }
    // An icon still shown when the object goes is taken away with it.
    EXPECT_FALSE(shown());
}

}  // namespace
