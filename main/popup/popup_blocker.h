// What the main window needs of the pop-up blocker.
#pragma once
#include <windows.h>

#include <memory>
#include <string_view>

#include "main/popup/ie_windows.h"

namespace tovra::popup {

// The blocker's process-wide switch: every browser sink refuses new windows while it is on.
extern bool bBlockerOn;

// Creates the watcher of the shell's browser windows (the main window's IEWin). Where the shell
// offers no window list or no events, nothing is watched and nothing is shown; never throws.
// Initialises COM (single-threaded apartment) on the calling thread if nobody has yet.
void CreateWatcher(HWND mainWindow);
// The same with the window list made by the given factory instead of the shell's.
void CreateWatcher(HWND mainWindow, ShellWindowsFactory factory);
// Releases the watcher and every sink (process end).
void ReleaseWatcher();
// The watcher made by CreateWatcher, or empty.
std::shared_ptr<cIEWindows> Watcher();

// The blocker's button (cmdPBlocker_Click): decides by the button's present caption, sets the
// switch first and returns the captions the button and the status label take.
struct BlockerCaptions {
    const wchar_t* button;  // cmdPBlocker: "Stop" while running, "Start" while stopped
    const wchar_t* status;  // lblPBlocker: "Running" / "Stopped"
};
BlockerCaptions ToggleBlocker(std::wstring_view buttonCaption);

}  // namespace tovra::popup
