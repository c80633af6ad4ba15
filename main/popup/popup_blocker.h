// What the main window needs of the pop-up blocker.
#pragma once
#include <windows.h>

namespace tovra::popup {

// The blocker's process-wide switch: every browser sink refuses new windows while it is on.
extern bool bBlockerOn;

// Creates the watcher of the shell's browser windows (the main window's IEWin). Where the shell
// offers no window list or no events, nothing is watched and nothing is shown; never throws.
void CreateWatcher(HWND mainWindow);
// Releases the watcher and every sink (process end).
void ReleaseWatcher();

}  // namespace tovra::popup
