// setup: placeholder window until the installer lands.
#include <windows.h>

#include "shared/forms.h"

namespace {
const tovra::forms::FormSpec kForm{.name = L"frmMain", .caption = L"Tovra Internet Security Setup",
                                   .clientWidth = 4680, .clientHeight = 3195, .back = RGB(255, 255, 255)};
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
