// Placeholder until the browser window watcher lands.
#include "main/popup/popup_blocker.h"

namespace tovra::popup {
bool bBlockerOn = false;
void CreateWatcher(HWND) {}
void ReleaseWatcher() {}
}  // namespace tovra::popup
