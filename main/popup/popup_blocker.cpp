#include "main/popup/popup_blocker.h"

#include <memory>
#include <utility>

#include "shared/win_handles.h"

namespace tovra::popup {

bool bBlockerOn = false;

namespace {
std::shared_ptr<cIEWindows> IEWin;
// COM for the watcher's thread, held from the first watcher until ReleaseWatcher.
std::unique_ptr<ComScope> com;
}  // namespace

void CreateWatcher(HWND mainWindow) { CreateWatcher(mainWindow, CreateShellWindows); }

void CreateWatcher(HWND, ShellWindowsFactory factory) {
    try {
        // The shell's and the browsers' events arrive as window messages on this thread.
        if (!com) com = std::make_unique<ComScope>(ComScope::Com);
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
    com.reset();
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
