#include "message_box.h"

namespace tovra {
namespace {
MessageBoxHook& Hook() {
    static MessageBoxHook hook;
    return hook;
}
}  // namespace

int ShowMessageBox(HWND owner, const std::wstring& text, const std::wstring& title, UINT type) {
    if (Hook()) return Hook()(MessageBoxCall{owner, text, title, type});
    return MessageBoxW(owner, text.c_str(), title.c_str(), type);
}

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) {
    MessageBoxHook previous = std::move(Hook());
    Hook() = std::move(hook);
    return previous;
}

ScriptedMessageBoxes::ScriptedMessageBoxes(std::vector<int> answers) : answers_(std::move(answers)) {
    previous_ = SetMessageBoxHook([this](const MessageBoxCall& call) {
        calls_.push_back(call);
        if (onShow) onShow(call);
        if (next_ < answers_.size()) return answers_[next_++];
        UINT buttons = call.buttons();
        if (buttons == MB_YESNO || buttons == MB_YESNOCANCEL) return IDYES;
        return IDOK;
    });
}

ScriptedMessageBoxes::~ScriptedMessageBoxes() { SetMessageBoxHook(std::move(previous_)); }

}  // namespace tovra
