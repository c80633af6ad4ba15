// Module Events: the blocker's process-wide state shared by every sink, the road from a sink's
// report to the watcher's events, and the seams over the key and cursor state.
#pragma once
#include <windows.h>

#include <functional>
#include <memory>
#include <vector>

#include "main/popup/com_events.h"

namespace tovra::popup {

class cIEWindows;

// The codes by which a sink reports what it saw; the watcher turns each into one of its events.
enum IEEventCode : int {
    ieNavigationBegin = 1,     // BeforeNavigate2: pDisp, URL, Flags, TargetFrameName, PostData, Headers, Cancel
    ieNavigationComplete = 2,  // NavigateComplete2: pDisp, URL
    ieDownloadBegin = 3,
    ieDownloadComplete = 4,
    ieDocumentComplete = 5,    // DocumentComplete of the top-level page: pDisp, URL
    ieMouseDown = 6,           // Button, Shift, x, y
    ieMouseUp = 7,             // Button, Shift, x, y
    ieOnContextMenu = 8,
    ieCommandStateChange = 9,  // Command, Enable
};

// Set while a sink's forward-history probe is under way: the next navigation start in any sink is
// cancelled, or else the next context menu in any sink is suppressed; either clears it.
extern bool bSuppressNext;

// The watcher the sinks report to. Non-owning, so no sink keeps the watcher that holds it alive;
// a newer watcher takes it over, and it reads as empty once its watcher has gone.
extern std::weak_ptr<cIEWindows> lWatcherPtr;

// How many arguments the watcher's event for a code takes (0 for a code outside 1 to 9).
size_t IEEventArgCount(int code);

// Called by a sink: fits the arguments to the code's list (missing ones empty, extra ones dropped;
// the seventh of code 1 as a Boolean) and hands them to the watcher's FireIEEvent.
void RaiseIEEvent(int code, LONG hwnd, std::vector<Variant> args);

// ---- Seams ------------------------------------------------------------------------------------
// GetAsyncKeyState unless a test has set a source of its own.
using KeyStateSource = std::function<SHORT(int vKey)>;
SHORT AsyncKeyState(int vKey);
// Replaces the key state source; an empty one restores GetAsyncKeyState. Returns the previous.
KeyStateSource SetKeyStateSource(KeyStateSource source);

// GetCursorPos unless a test has set a source of its own.
using CursorPosSource = std::function<BOOL(POINT* pt)>;
BOOL CursorPos(POINT* pt);
CursorPosSource SetCursorPosSource(CursorPosSource source);

}  // namespace tovra::popup
