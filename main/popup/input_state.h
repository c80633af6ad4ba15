// Where the browser sinks read the keyboard and the mouse cursor: the system's own state, or a
// script of a test's, given to the watcher that makes the sinks.
#pragma once
#include <windows.h>

#include <memory>

namespace tovra::popup {

class InputState {
public:
    virtual ~InputState() = default;
    // GetAsyncKeyState: the top bit while the key is down, the low bit when it was pressed since
    // the last question.
    virtual SHORT AsyncKeyState(int vKey) = 0;
    // GetCursorPos: the cursor on the screen.
    virtual BOOL CursorPos(POINT* pt) = 0;
};

// The system's keyboard and cursor. It holds no state, so every watcher may share it.
std::shared_ptr<InputState> SystemInputState();

}  // namespace tovra::popup
