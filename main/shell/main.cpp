// tovra: the main program. The splash counts three seconds, then the main window takes over
// until one of its ways out ends the process.
#include <windows.h>

#include <memory>

#include "main/popup/com_security.h"
#include "main/shell/main_form.h"
#include "main/shell/splash_form.h"
#include "main/washer/machine_steps.h"
#include "shared/compat.h"
#include "shared/registry.h"
#include "shared/win_handles.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
    tovra::compat::HardenDllSearch();
    // The elevated instance that a washing run or "IE Default" starts where User Account Control
    // keeps the window's process from the machine-wide steps: it does just those, shows nothing,
    // and its exit code names the steps that failed.
    if (auto steps = tovra::washer::ParseMachineStepsSwitch(commandLine ? commandLine : L"")) {
        return static_cast<int>(tovra::washer::DoMachineSteps(*steps, tovra::SystemRegistry()));
    }
    // The browser control of the About box and the browser watcher both need OLE on this thread.
    tovra::ComScope ole(tovra::ComScope::Ole);
    // Before the first COM object, as the first marshalled interface fixes the process's call
    // security: ours lets Protected Mode browsers' events in. Where it cannot be set, COM's
    // defaults stay.
    tovra::popup::TryAllowBrowserEventCalls();
    tovra::forms::InitCommonControls();

    std::unique_ptr<tovra::shell::MainForm> mainForm;
    auto showMain = [&mainForm] {
        if (mainForm) return;
        mainForm = std::make_unique<tovra::shell::MainForm>();
        // Without its window the program has nothing left to offer.
        if (!mainForm->Load()) PostQuitMessage(1);
    };
    tovra::shell::SplashForm splash(showMain);
    // A splash that cannot be shown only costs the three seconds.
    if (!splash.Load()) showMain();
    int code = tovra::forms::RunMessageLoop();
    // The main window owns the browser watcher, whose sinks hold browsers of other processes:
    // it goes before OLE ends with the scope.
    mainForm.reset();
    return code;
}
