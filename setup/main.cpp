// setup: installs the suite from the folder it runs from, or uninstalls it.
#include <windows.h>

#include "setup/installer.h"
#include "setup/wizard.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    tovra::forms::InitCommonControls();
    tovra::setup::Installer installer(tovra::setup::InstallerFolder());
    tovra::setup::SetupWizard wizard(installer, [] { PostQuitMessage(0); });
    if (!wizard.Start()) return 1;
    return tovra::forms::RunMessageLoop();
}
