// Every message box of the suite goes through here, so in-process tests can answer them.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace tovra {

struct MessageBoxCall {
    HWND owner;
    std::wstring text;
    std::wstring title;
    UINT type;  // MB_* buttons | icon
    UINT buttons() const { return type & MB_TYPEMASK; }
    UINT icon() const { return type & MB_ICONMASK; }
};

// Shows a message box (MessageBoxW) unless a test hook is installed.
int ShowMessageBox(HWND owner, const std::wstring& text, const std::wstring& title, UINT type);

using MessageBoxHook = std::function<int(const MessageBoxCall&)>;
// Replaces the real box; pass an empty hook to restore it. Returns the previous hook.
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

// Test helper: records every box and answers from a script (IDOK when the script runs out).
class ScriptedMessageBoxes {
public:
    explicit ScriptedMessageBoxes(std::vector<int> answers = {});
    ~ScriptedMessageBoxes();
    ScriptedMessageBoxes(const ScriptedMessageBoxes&) = delete;
    ScriptedMessageBoxes& operator=(const ScriptedMessageBoxes&) = delete;

    const std::vector<MessageBoxCall>& calls() const { return calls_; }
    void answer(std::vector<int> answers) { answers_ = std::move(answers); next_ = 0; }
    // Called while the box is "open", before it returns its answer.
    std::function<void(const MessageBoxCall&)> onShow;

private:
    std::vector<MessageBoxCall> calls_;
    std::vector<int> answers_;
    size_t next_ = 0;
    MessageBoxHook previous_;
};

}  // namespace tovra
