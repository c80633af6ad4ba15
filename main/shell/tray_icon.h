// The main program's icon in the notification area, with the main window's title as its tooltip.
#pragma once
#include <windows.h>
#include <shellapi.h>

#include <cstddef>
#include <functional>
#include <string>

namespace tovra::shell {

// The shell's ANSI notification record of the first shell version: 88 bytes in a 32-bit program,
// the platform's size of the same fields in a 64-bit one. Only these fields are ever sent.
struct TrayRecord {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    CHAR szTip[64];
};
static_assert(offsetof(TrayRecord, szTip) == offsetof(NOTIFYICONDATAA, szTip));
static_assert(sizeof(TrayRecord) == NOTIFYICONDATAA_V1_SIZE);
static_assert(sizeof(void*) != 4 || sizeof(TrayRecord) == 88);

// Copies text into the tooltip field as ANSI, cut so that it always ends with a NUL inside it
// (and never in the middle of a double-byte character).
void SetTip(TrayRecord& record, const std::wstring& text);

// An icon the shell refused (at logon the taskbar may not be there yet) is offered again this
// often, this many times; a later "TaskbarCreated" from the shell offers it afresh.
constexpr UINT kTrayRetryMs = 2000;
constexpr int kTrayAddTries = 60;  // two minutes

// The message the shell broadcasts when its taskbar is (re)created, Explorer's restart included:
// the icons it had are gone then.
constexpr const wchar_t* kTaskbarCreatedName = L"TaskbarCreated";

class TrayIcon {
public:
    // The shell call; replaceable so tests can watch what is sent.
    using NotifyFn = std::function<BOOL(DWORD message, TrayRecord& record)>;
    // An empty notify sends to the shell.
    explicit TrayIcon(NotifyFn notify = {});
    ~TrayIcon();
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;

    void ShowIcon(HWND owner);
    void RemoveIcon(HWND owner);
    void ChangeIcon(HWND owner, HICON icon);
    void ChangeToolTip(HWND owner, const std::wstring& tip);

    // The shell's taskbar was created anew: a shown icon is added again, as the record stands,
    // with its tries afresh.
    void TaskbarCreated(HWND owner);
    // The retry timer's tick: offers an icon the shell has not taken yet once more.
    void RetryAdd(HWND owner);
    // The icon is meant to be shown, the shell does not have it yet, and tries are left.
    bool WantsRetry() const { return shown_ && !added_ && triesLeft_ > 0; }
    // The shell took the icon (or showed that it already has it).
    bool Added() const { return added_; }

    // The icon is meant to be shown: from ShowIcon, whether or not the shell took it, until
    // RemoveIcon. The change operations act only then.
    bool Shown() const { return shown_; }
    // The record as the last operation sent it.
    const TrayRecord& Record() const { return record_; }

private:
    BOOL Notify(DWORD message);
    void Add(int tries);
    TrayRecord record_{};
    NotifyFn notify_;
    bool shown_ = false;
    HWND shownOn_ = nullptr;
    bool added_ = false;
    int triesLeft_ = 0;
};

// The window's own big icon, as the tray shows it.
HICON WindowIcon(HWND window);

}  // namespace tovra::shell
