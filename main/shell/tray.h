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

class clsTray {
public:
    // The shell call; replaceable so tests can watch what is sent.
    using NotifyFn = std::function<BOOL(DWORD message, TrayRecord& record)>;
    // An empty notify sends to the shell.
    explicit clsTray(NotifyFn notify = {});
    ~clsTray();
    clsTray(const clsTray&) = delete;
    clsTray& operator=(const clsTray&) = delete;

    void ShowIcon(HWND sysTrayForm);
    void RemoveIcon(HWND sysTrayForm);
    void ChangeIcon(HWND sysTrayForm, HICON picNewIcon);
    void ChangeToolTip(HWND sysTrayForm, const std::wstring& strNewTip);

    bool bRunningInTray = false;
    const TrayRecord& TIcon() const { return record_; }

private:
    void Notify(DWORD message);
    TrayRecord record_{};
    NotifyFn notify_;
    HWND shownOn_ = nullptr;
};

// The window's own big icon, as the tray shows it.
HICON WindowIcon(HWND window);

}  // namespace tovra::shell
