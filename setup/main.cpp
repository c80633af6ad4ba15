// setup: installs the suite from the folder it runs from, or uninstalls it.
#include <windows.h>

#include "setup/installer.h"
#include "setup/wizard.h"
#include "shared/compat.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Started from a downloads folder, the installer must load no DLL planted beside it.
    tovra::compat::HardenDllSearch();
    tovra::forms::InitCommonControls();
    tovra::setup::Installer installer(tovra::setup::InstallerFolder());
    tovra::setup::SetupWizard wizard(installer, [] { PostQuitMessage(0); });
    if (!wizard.Start()) return 1;
    return tovra::forms::RunMessageLoop();
}
