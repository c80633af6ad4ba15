// tovraa: the virus scanner.
#include <windows.h>

#include "scanner/scan_form.h"
#include "shared/compat.h"
#include "shared/suite.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    tovra::compat::HardenDllSearch();
    // An empty floppy or CD drive must give a search that finds nothing, not a system dialog.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    tovra::forms::InitCommonControls();
    tovra::scanner::ScanForm form(tovra::suite::VirusListPath());
    if (!form.Load()) return 1;
    return tovra::forms::RunMessageLoop();
}
