#include "main/popup/events.h"

#include <utility>

#include "main/popup/ie_windows.h"

namespace tovra::popup {

bool bSuppressNext = false;
std::weak_ptr<cIEWindows> lWatcherPtr;

size_t IEEventArgCount(int code) {
    switch (code) {
        case ieNavigationBegin: return 7;
        case ieNavigationComplete:
        case ieDocumentComplete:
        case ieCommandStateChange: return 2;
        case ieMouseDown:
        case ieMouseUp: return 4;
        default: return 0;
    }
}

void RaiseIEEvent(int code, LONG hwnd, std::vector<Variant> args) {
    args.resize(IEEventArgCount(code));
    if (code == ieNavigationBegin) args[6] = Variant::Bool(VariantToBool(args[6].get()));
    // Held for the call only: a listener may let the watcher go.
    if (std::shared_ptr<cIEWindows> watcher = lWatcherPtr.lock()) watcher->FireIEEvent(code, hwnd, args);
}

namespace {
KeyStateSource& KeySource() {
    static KeyStateSource source;
    return source;
}
CursorPosSource& CursorSource() {
    static CursorPosSource source;
    return source;
}
}  // namespace

SHORT AsyncKeyState(int vKey) {
    const KeyStateSource& source = KeySource();
    return source ? source(vKey) : ::GetAsyncKeyState(vKey);
}

KeyStateSource SetKeyStateSource(KeyStateSource source) { return std::exchange(KeySource(), std::move(source)); }

BOOL CursorPos(POINT* pt) {
    const CursorPosSource& source = CursorSource();
    return source ? source(pt) : ::GetCursorPos(pt);
}

CursorPosSource SetCursorPosSource(CursorPosSource source) {
    return std::exchange(CursorSource(), std::move(source));
}

}  // namespace tovra::popup
