// What the main window needs of the browser washer.
#pragma once
#include <windows.h>

#include <string>

namespace tovra::washer {

// The main window's side of a washing run.
class WasherView {
public:
    virtual ~WasherView() = default;
    virtual HWND Owner() const = 0;                            // owner of the message boxes
    virtual void SetWasherButtonEnabled(bool enabled) = 0;     // cmdWasher
    virtual void SetWasherStatus(const std::wstring& text) = 0;  // lblWasher
    virtual void SetLabel1(const std::wstring& text) = 0;      // Label1 shows each deleted file
};

class Washer {
public:
    explicit Washer(WasherView& view);
    ~Washer();
    // cmdWasher_Click and mnuClean_Click: the whole washing run.
    void Run();
    // mnuIEDefault_Click: the browser default settings after confirmation.
    void IEDefault();
    bool running() const { return running_; }

private:
    WasherView& view_;
    bool running_ = false;
};

}  // namespace tovra::washer
