#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "main/shell/main_ids.h"
#include "main/shell/tray.h"

namespace {

using tovra::shell::clsTray;
using tovra::shell::TrayRecord;

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
    clsTray tray([&](DWORD m, TrayRecord& r) {
        sent.push_back({m, r});
        return TRUE;
    });
    Owner owner(tovra::shell::kMainTitle);
    EXPECT_FALSE(tray.bRunningInTray);

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
    EXPECT_TRUE(tray.bRunningInTray);

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
    EXPECT_FALSE(tray.bRunningInTray);

    // Changes while no icon is shown send nothing.
    tray.ChangeIcon(owner.hwnd(), other);
    tray.ChangeToolTip(owner.hwnd(), L"x");
    EXPECT_EQ(sent.size(), 4u);
}

TEST(TrayTest, ChangesBeforeTheFirstShowSendNothing) {
    int calls = 0;
    clsTray tray([&](DWORD, TrayRecord&) { ++calls; return TRUE; });
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

TEST(TrayTest, TheRealNotificationAreaShowsAndDropsTheIcon) {
    Owner owner(tovra::shell::kMainTitle);
    auto trayWindow = [] { return FindWindowW(L"__winex11_standalone_tray", nullptr); };
    auto shown = [&] {
        HWND t = trayWindow();
        return t && IsWindowVisible(t);
    };
    ASSERT_FALSE(shown()) << "an icon is already in the notification area";
    {
        clsTray tray;
        tray.ShowIcon(owner.hwnd());
        EXPECT_TRUE(shown());
        tray.RemoveIcon(owner.hwnd());
        EXPECT_FALSE(shown());
        // Removing an icon that is not there is harmless.
        tray.RemoveIcon(owner.hwnd());
        EXPECT_FALSE(shown());

        tray.ShowIcon(owner.hwnd());
        EXPECT_TRUE(shown());
    }
    // An icon still shown when the object goes is taken away with it.
    EXPECT_FALSE(shown());
}

}  // namespace
