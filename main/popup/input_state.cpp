#include "main/popup/input_state.h"

namespace tovra::popup {
namespace {

class SystemInput final : public InputState {
public:
    SHORT AsyncKeyState(int vKey) override { return ::GetAsyncKeyState(vKey); }
    BOOL CursorPos(POINT* pt) override { return ::GetCursorPos(pt); }
};

}  // namespace

std::shared_ptr<InputState> SystemInputState() {
    static const std::shared_ptr<InputState> system = std::make_shared<SystemInput>();
    return system;
}

}  // namespace tovra::popup
