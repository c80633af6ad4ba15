#include "main/shell/tray_icon.h"

#include <cstring>

#include "main/shell/main_ids.h"

namespace tovra::shell {
namespace {

constexpr UINT kIconId = 1;

std::wstring WindowTitle(HWND window) {
    wchar_t text[256] = {};
    if (window) GetWindowTextW(window, text, 256);
    return text;
}

BOOL RealNotify(DWORD message, TrayRecord& record) {
    // Shell_NotifyIconA reads only cbSize bytes: the record's fields are the head of the full one.
    return Shell_NotifyIconA(message, reinterpret_cast<NOTIFYICONDATAA*>(&record));
}

}  // namespace

void SetTip(TrayRecord& record, const std::wstring& text) {
    std::memset(record.szTip, 0, sizeof record.szTip);
    if (text.empty()) return;
    int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return;
    std::string ansi(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), ansi.data(), n, nullptr, nullptr);
    const size_t room = sizeof record.szTip - 1;
    size_t keep = 0;
    while (keep < ansi.size()) {
        size_t step = IsDBCSLeadByte(static_cast<BYTE>(ansi[keep])) ? 2 : 1;
        if (keep + step > room) break;
        keep += step;
    }
    std::memcpy(record.szTip, ansi.data(), keep);
}

HICON WindowIcon(HWND window) {
    if (!window) return nullptr;
    auto icon = reinterpret_cast<HICON>(SendMessageW(window, WM_GETICON, ICON_BIG, 0));
    if (!icon) icon = reinterpret_cast<HICON>(GetClassLongPtrW(window, GCLP_HICON));
    return icon;
}

TrayIcon::TrayIcon(NotifyFn notify) : notify_(notify ? std::move(notify) : NotifyFn(RealNotify)) {}

TrayIcon::~TrayIcon() {
    // An icon whose owner is gone would linger in the notification area until the mouse passes.
    if (shown_ && shownOn_ && IsWindow(shownOn_)) RemoveIcon(shownOn_);
}

BOOL TrayIcon::Notify(DWORD message) { return notify_ ? notify_(message, record_) : FALSE; }

void TrayIcon::Add(int tries) {
    added_ = Notify(NIM_ADD) != FALSE;
    // The shell refuses a second add of an icon it still shows, and a slow Explorer may report a
    // time-out for an add it did carry out: a modify it accepts says that it has the icon.
    if (!added_) added_ = Notify(NIM_MODIFY) != FALSE;
    triesLeft_ = added_ ? 0 : tries;
}

void TrayIcon::ShowIcon(HWND owner) {
    record_.cbSize = sizeof(TrayRecord);
    record_.hWnd = owner;
    record_.uID = kIconId;
    record_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    record_.uCallbackMessage = kTrayCallbackMessage;
    record_.hIcon = WindowIcon(owner);
    SetTip(record_, WindowTitle(owner));
    Add(kTrayAddTries);
    shown_ = true;
    shownOn_ = owner;
}

void TrayIcon::TaskbarCreated(HWND owner) {
    if (!shown_ || owner != shownOn_) return;
    Add(kTrayAddTries);
}

void TrayIcon::RetryAdd(HWND owner) {
    if (!WantsRetry() || owner != shownOn_) return;
    Add(triesLeft_ - 1);
}

void TrayIcon::RemoveIcon(HWND owner) {
    record_.cbSize = sizeof(TrayRecord);
    record_.hWnd = owner;
    record_.uID = kIconId;
    record_.hIcon = WindowIcon(owner);
    SetTip(record_, L"");
    Notify(NIM_DELETE);
    shown_ = false;
    shownOn_ = nullptr;
    added_ = false;
    triesLeft_ = 0;
}

void TrayIcon::ChangeIcon(HWND owner, HICON icon) {
    if (!shown_) return;
    record_.cbSize = sizeof(TrayRecord);
    record_.hWnd = owner;
    record_.hIcon = icon;
    Notify(NIM_MODIFY);
}

void TrayIcon::ChangeToolTip(HWND owner, const std::wstring& tip) {
    if (!shown_) return;
    record_.cbSize = sizeof(TrayRecord);
    record_.hWnd = owner;
    SetTip(record_, tip);
    Notify(NIM_MODIFY);
}

}  // namespace tovra::shell
