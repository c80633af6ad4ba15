// tovra: placeholder window until the main program lands.
#include <windows.h>

#include "shared/forms.h"

namespace {
const tovra::forms::FormSpec kForm{.name = L"frmMain", .caption = L"Tovra Internet Security 1.0",
                                   .clientWidth = 4620, .clientHeight = 2130, .back = RGB(128, 128, 0)};
class MainForm : public tovra::forms::Form {
protected:
    void OnDestroyed() override { PostQuitMessage(0); }
};
}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    MainForm form;
    if (!form.Create(kForm)) return 1;
    form.Show();
    return tovra::forms::RunMessageLoop();
}
