#include "main/popup/popup_blocker.h"

#include <objbase.h>

#include <utility>

namespace tovra::popup {

bool bBlockerOn = false;

namespace {
std::shared_ptr<cIEWindows> IEWin;
bool comStartedHere = false;
}  // namespace

void CreateWatcher(HWND mainWindow) { CreateWatcher(mainWindow, CreateShellWindows); }

void CreateWatcher(HWND, ShellWindowsFactory factory) {
    try {
        // The shell's and the browsers' events arrive as window messages on this thread.
        if (!comStartedHere) {
            const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            comStartedHere = SUCCEEDED(hr);
        }
        // The new watcher takes over lWatcherPtr before the old one goes.
        std::shared_ptr<cIEWindows> watcher = cIEWindows::Create(std::move(factory));
        std::swap(IEWin, watcher);
    } catch (...) {
        // A watcher that cannot be made leaves the blocker's switch working and nothing watched.
    }
}

void ReleaseWatcher() {
    std::shared_ptr<cIEWindows> watcher = std::move(IEWin);
    IEWin.reset();
    watcher.reset();
    if (comStartedHere) {
        comStartedHere = false;
        ::CoUninitialize();
    }
}

std::shared_ptr<cIEWindows> Watcher() { return IEWin; }

BlockerCaptions ToggleBlocker(std::wstring_view buttonCaption) {
    if (buttonCaption != L"Stop") {
        bBlockerOn = true;
        return {L"Stop", L"Running"};
    }
    bBlockerOn = false;
    return {L"Start", L"Stopped"};
}

}  // namespace tovra::popup
