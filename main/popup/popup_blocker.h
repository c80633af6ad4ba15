// The pop-up blocker as the main window owns it: the switch that its button flips, and the
// watcher that keeps a sink on every browser window while the window lives.
#pragma once
#include <windows.h>

#include <memory>

#include "main/popup/blocker_switch.h"
#include "main/popup/browser_watcher.h"
#include "main/popup/input_state.h"
#include "shared/win_handles.h"

namespace tovra::popup {

class PopupBlocker {
public:
    // The watcher reads the window list from shellWindows (empty: the shell's) and its sinks read
    // the keyboard and cursor from input (empty: the system's). The blocker starts switched off
    // and watching nothing.
    explicit PopupBlocker(ShellWindowsFactory shellWindows = {}, std::shared_ptr<InputState> input = {});
    // Releases the watcher and every sink, then this thread's COM as far as the blocker took it.
    ~PopupBlocker();
    PopupBlocker(const PopupBlocker&) = delete;
    PopupBlocker& operator=(const PopupBlocker&) = delete;

    // Whether the sinks refuse new windows.
    bool Running() const { return switch_->on(); }
    void Start() { switch_->Set(true); }
    void Stop() { switch_->Set(false); }
    // The blocker's button: a running blocker stops, a stopped one starts.
    void Toggle() { switch_->Set(!switch_->on()); }

    // Creates the watcher of the shell's browser windows, in place of any earlier one. Where the
    // shell offers no window list or no events, nothing is watched and nothing is shown; never
    // throws. Initialises COM (single-threaded apartment) on the calling thread if nobody has yet.
    void WatchBrowsers();
    // Releases the watcher and every sink.
    void StopWatching();
    // The watcher made by WatchBrowsers, or empty.
    const std::shared_ptr<BrowserWatcher>& Watcher() const { return watcher_; }

private:
    ShellWindowsFactory shellWindows_;
    std::shared_ptr<InputState> input_;
    std::shared_ptr<BlockerSwitch> switch_ = std::make_shared<BlockerSwitch>();
    // COM for the watcher's thread, held from the first watcher until StopWatching; declared
    // before the watcher so that it also outlives it at destruction.
    std::unique_ptr<ComScope> com_;
    std::shared_ptr<BrowserWatcher> watcher_;
};

}  // namespace tovra::popup
