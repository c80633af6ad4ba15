// utovraa's only window: "Update Now" writes the list, "Later" ends the program.
#pragma once
#include <string>

#include "shared/forms.h"

namespace tovra {

class ListWriterForm : public forms::Form {
public:
    enum : int { cmdWrite = 101, cmdExit = 102 };
    static const forms::FormSpec& Layout();

    explicit ListWriterForm(std::wstring listPath);
    bool Load();  // creates the window centred on the screen and shows it

    void cmdWrite_Click();
    void cmdExit_Click();
    bool ended() const { return ended_; }

protected:
    void OnCommand(int id, int notifyCode) override;
    bool OnClose() override;

private:
    void End();
    std::wstring listPath_;
    bool ended_ = false;
};

}  // namespace tovra
