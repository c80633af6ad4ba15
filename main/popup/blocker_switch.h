// The pop-up blocker's on/off. The blocker owns it and flips it; the sinks of its watcher read it.
// Each sink holds it too, so a sink that a caller keeps past its watcher still reads a live switch.
#pragma once

namespace tovra::popup {

class BlockerSwitch {
public:
    bool on() const { return on_; }
    void Set(bool on) { on_ = on; }

private:
    bool on_ = false;
};

}  // namespace tovra::popup
