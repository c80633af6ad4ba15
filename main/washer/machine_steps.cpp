#include "main/washer/machine_steps.h"

#include <shellapi.h>

#include <cwchar>

#include "main/washer/browser_defaults.h"
#include "shared/compat.h"
#include "shared/file_system.h"
#include "shared/suite.h"
#include "shared/win_handles.h"

namespace tovra::washer {
namespace {

constexpr wchar_t kSwitch[] = L"/machine-steps:";
constexpr wchar_t kTypedUrlsKey[] = L"Software\\Microsoft\\Internet Explorer\\TypedURLs";
// How long a run waits for the elevated instance: its steps take well under a second, but the
// user may sit over the elevation prompt.
constexpr DWORD kElevatedWaitMs = 10 * 60 * 1000;

bool RunCleaning(Registry& registry) {
    // 64-bit Windows starts the programs of both views' Run keys.
    bool all = true;
    for (RegistryView view : AllViews()) {
        all = registry.DeleteKey(HKEY_LOCAL_MACHINE, suite::kRunKey, view) == ERROR_SUCCESS && all;
    }
    return all;
}

}  // namespace

unsigned DoMachineSteps(unsigned steps, Registry& registry) {
    unsigned failed = 0;
    if ((steps & kMachineBrowserDefaults) && !WriteBrowserDefaults(SettingsRoot::Machine, registry))
        failed |= kMachineBrowserDefaults;
    if ((steps & kMachineTypedUrls) && registry.DeleteKey(HKEY_LOCAL_MACHINE, kTypedUrlsKey) != ERROR_SUCCESS)
        failed |= kMachineTypedUrls;
    if ((steps & kMachineRunCleaning) && !RunCleaning(registry)) failed |= kMachineRunCleaning;
    // The product's own entry, in the view its installer writes (the same build's); the user's
    // key is not made again.
    if ((steps & kMachineOwnEntry) && !SaveSetting(suite::kRunKey, suite::kProductName, suite::StartUpCommand(), registry))
        failed |= kMachineOwnEntry;
    return failed;
}

std::wstring MachineStepsSwitch(unsigned steps) { return kSwitch + std::to_wstring(steps & kAllMachineSteps); }

std::optional<unsigned> ParseMachineStepsSwitch(const std::wstring& commandLine) {
    size_t at = commandLine.find(kSwitch);
    if (at == std::wstring::npos) return std::nullopt;
    const wchar_t* digits = commandLine.c_str() + at + std::wcslen(kSwitch);
    wchar_t* end = nullptr;
    unsigned long steps = std::wcstoul(digits, &end, 10);
    if (end == digits || (*end && *end != L' ' && *end != L'"') || steps == 0 || (steps & ~kAllMachineSteps))
        return std::nullopt;
    return static_cast<unsigned>(steps);
}

bool ElevatedInstance::Needed() { return compat::RunsUnelevated(); }

unsigned ElevatedInstance::RunElevated(HWND owner, unsigned steps, HANDLE cancel) {
    const std::wstring program = fs::OwnPath();
    const std::wstring parameters = MachineStepsSwitch(steps);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.hwnd = owner;
    info.lpVerb = L"runas";
    info.lpFile = program.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_HIDE;
    // Refused by the user (ERROR_CANCELLED) or not started: nothing was done.
    if (program.empty() || !ShellExecuteExW(&info) || !info.hProcess) return steps;
    UniqueHandle process(info.hProcess);
    DWORD code = 0;
    HANDLE waits[] = {process.get(), cancel};
    if (WaitForMultipleObjects(cancel ? 2 : 1, waits, FALSE, kElevatedWaitMs) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process.get(), &code)) {
        return steps;  // the program is ending, or the instance hangs: nothing can be vouched for
    }
    // Anything but a set of our steps (a crash's status, say) means nothing can be vouched for.
    return (code & ~kAllMachineSteps) ? steps : (code & steps);
}

}  // namespace tovra::washer
