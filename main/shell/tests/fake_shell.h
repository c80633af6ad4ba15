// Stands in for the shell's notification area behind TrayIcon's notify seam: it holds icons by
// window and id, refuses what the shell refuses and records every request.
#pragma once
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

#include "main/shell/tray_icon.h"

namespace tovra::shell::test {

class FakeShell {
public:
    struct Sent {
        DWORD message;
        TrayRecord record;
    };

    // The next this many adds find no taskbar (as at logon): they, and everything sent meanwhile, fail.
    int missingForAdds = 0;
    // The next this many adds are carried out but reported as failed (a busy Explorer's time-out).
    int timedOutAdds = 0;
    // No taskbar at all: everything fails.
    bool down = false;

    TrayIcon::NotifyFn Notify() {
        return [this](DWORD message, TrayRecord& record) { return Handle(message, record); };
    }
    // Explorer's restart: every icon it had is gone.
    void Restart() { icons_.clear(); }

    bool Has(HWND owner, UINT id = 1) const { return icons_.count({owner, id}) != 0; }
    const std::vector<Sent>& sent() const { return sent_; }
    size_t Count(DWORD message) const {
        return static_cast<size_t>(
            std::count_if(sent_.begin(), sent_.end(), [&](const Sent& s) { return s.message == message; }));
    }

private:
    BOOL Handle(DWORD message, TrayRecord& record) {
        sent_.push_back({message, record});
        if (down) return FALSE;
        if (missingForAdds > 0) {
            if (message == NIM_ADD) --missingForAdds;
            return FALSE;
        }
        const std::pair<HWND, UINT> key{record.hWnd, record.uID};
        switch (message) {
        case NIM_ADD:
            if (!icons_.insert(key).second) return FALSE;  // a second add of an icon it has
            if (timedOutAdds > 0) {
                --timedOutAdds;
                return FALSE;
            }
            return TRUE;
        case NIM_MODIFY: return icons_.count(key) != 0;
        case NIM_DELETE: return icons_.erase(key) != 0;
        default: return FALSE;
        }
    }

    std::set<std::pair<HWND, UINT>> icons_;
    std::vector<Sent> sent_;
};

}  // namespace tovra::shell::test
