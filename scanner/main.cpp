// tovraa: placeholder window until the scanner lands.
#include <windows.h>

#include "shared/forms.h"

namespace {
const tovra::forms::FormSpec kForm{.name = L"frmSearch", .caption = L"Tovra ScanVirus 1.0",
                                   .clientWidth = 4575, .clientHeight = 2175};
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
