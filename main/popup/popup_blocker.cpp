#include "main/popup/popup_blocker.h"

#include <utility>

namespace tovra::popup {

PopupBlocker::PopupBlocker(ShellWindowsFactory shellWindows, std::shared_ptr<InputState> input)
    : shellWindows_(shellWindows ? std::move(shellWindows) : ShellWindowsFactory(CreateShellWindows)),
      input_(input ? std::move(input) : SystemInputState()) {}

PopupBlocker::~PopupBlocker() { StopWatching(); }

void PopupBlocker::WatchBrowsers() {
    try {
        // The shell's and the browsers' events arrive as window messages on this thread.
        if (!com_) com_ = std::make_unique<ComScope>(ComScope::Com);
        std::shared_ptr<BrowserWatcher> watcher = BrowserWatcher::Create({shellWindows_, switch_, input_});
        // The new watcher's sinks are in place before the old ones go.
        std::swap(watcher_, watcher);
    } catch (...) {
        // A watcher that cannot be made leaves the blocker's switch working and nothing watched.
    }
}

void PopupBlocker::StopWatching() {
    // Moved out first: a sink's release may let events in that look for the watcher.
    std::shared_ptr<BrowserWatcher> watcher = std::move(watcher_);
    watcher_.reset();
    watcher.reset();
    com_.reset();
}

}  // namespace tovra::popup
