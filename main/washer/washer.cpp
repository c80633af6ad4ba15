#include "main/washer/washer.h"

#include <shlobj.h>

#include <iterator>

#include "main/washer/browser_defaults.h"
#include "main/washer/web_cache.h"
#include "shared/message_box.h"
#include "shared/registry.h"
#include "shared/suite.h"
#include "shared/win_handles.h"

namespace tovra::washer {
namespace {

constexpr wchar_t kTypedUrlsKey[] = L"Software\\Microsoft\\Internet Explorer\\TypedURLs";
constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Marks a run as in progress for its whole length, also when it leaves by an exception.
class RunningScope {
public:
    explicit RunningScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~RunningScope() { flag_ = false; }
    RunningScope(const RunningScope&) = delete;
    RunningScope& operator=(const RunningScope&) = delete;

private:
    bool& flag_;
};

struct StepName {
    unsigned step;
    const wchar_t* name;
};
const StepName kStepNames[] = {
    {kStepMachineDefaults, L"Internet Explorer default settings (all users)"},
    {kStepUserDefaults, L"Internet Explorer default settings (this user)"},
    {kStepUserTypedUrls, L"Typed addresses (this user)"},
    {kStepMachineTypedUrls, L"Typed addresses (all users)"},
    {kStepUserRunCleaning, L"Programs that start with Windows (this user)"},
    {kStepMachineRunCleaning, L"Programs that start with Windows (all users)"},
    {kStepOwnEntry, L"Start-up entry of Tovra Internet Security 1.0"},
};

// Where the machine-wide steps go: done in place, or gathered for one elevated instance, so that
// the user is asked once per run.
class MachineWork {
public:
    MachineWork(Registry& registry, Elevation& elevation) : registry_(registry), deferred_(elevation.Needed()) {}
    void Do(unsigned steps) {
        if (deferred_) {
            pending_ |= steps;
        } else {
            failed_ |= DoMachineSteps(steps, registry_);
        }
    }
    unsigned Finish(HWND owner, Elevation& elevation) {
        if (pending_) failed_ |= elevation.RunElevated(owner, pending_);
        pending_ = 0;
        return failed_;
    }

private:
    Registry& registry_;
    bool deferred_;
    unsigned pending_ = 0;
    unsigned failed_ = 0;
};

}  // namespace

std::wstring FailedStepsText(unsigned failed) {
    if (!failed) return {};
    std::wstring text = L"These steps could not be done:";
    for (const StepName& s : kStepNames) {
        if (failed & s.step) text += std::wstring(L"\r\n") + s.name;
    }
    return text;
}

Washer::Washer(WasherView& view, WasherSeams seams)
    : view_(view), seams_(seams), sweep_([&view](const std::wstring& text) { view.SetLabel1(text); }) {}

Washer::Washer(WasherView& view, UrlCacheApi& cache) : Washer(view, WasherSeams{&cache}) {}

Washer::~Washer() = default;

void Washer::Run() {
    // "Clean" stays enabled while the sweep lets window events run: one run at a time.
    if (running_) return;
    RunningScope running(running_);
    HWND owner = view_.Owner();
    if (ShowMessageBox(owner, L"Are you sure? (recommended)", L"Clean!", MB_YESNO) != IDYES) return;

    Elevation& elevation = seams_.elevation ? *seams_.elevation : elevatedInstance_;
    MachineWork machine(registry(), elevation);
    unsigned failed = 0;

    view_.SetWasherButtonEnabled(false);
    view_.SetWasherStatus(L"Running");
    machine.Do(kMachineBrowserDefaults);
    if (!WriteBrowserDefaults(SettingsRoot::User, registry())) failed |= kStepUserDefaults;

    SweepFolder(WasherFolders::kWindowsTemp);
    SweepFolder(SpecialFolderPath(CSIDL_HISTORY));
    SweepFolder(SpecialFolderPath(CSIDL_INTERNET_CACHE));
    SweepFolder(SpecialFolderPath(CSIDL_RECENT));
    SweepFolder(WasherFolders::kOfficeRecent);

    if (seams_.cache) {
        ClearWebCache(*seams_.cache);
    } else {
        ClearWebCache();
    }
    if (registry().DeleteKey(HKEY_CURRENT_USER, kTypedUrlsKey) != ERROR_SUCCESS) failed |= kStepUserTypedUrls;
    machine.Do(kMachineTypedUrls);

    if (ShowMessageBox(owner, L"Do you want to stop running program during start up? (recommended)", L"Question!",
                       MB_YESNO) == IDYES) {
        if (registry().DeleteKey(HKEY_CURRENT_USER, kRunKey) != ERROR_SUCCESS) failed |= kStepUserRunCleaning;
        machine.Do(kMachineStartUp);
    }
    failed |= machine.Finish(owner, elevation);

    view_.SetWasherButtonEnabled(true);
    view_.SetWasherStatus(L"Stopped");
    if (failed) {
        ShowMessageBox(owner, FailedStepsText(failed), L"End", MB_OK);
    } else {
        ShowMessageBox(owner, L"Finished", L"End", MB_OK);
    }
}

void Washer::IEDefault() {
    // Chosen while a run's sweep lets events in: that run writes the same defaults itself, and a
    // second question box in the middle of it would only confuse.
    if (running_) return;
    HWND owner = view_.Owner();
    if (ShowMessageBox(owner, L"Are you sure you want to change to Internet Explorer Default Settings",
                       L"Default Settings", MB_YESNO) != IDYES) {
        return;
    }
    Elevation& elevation = seams_.elevation ? *seams_.elevation : elevatedInstance_;
    MachineWork machine(registry(), elevation);
    machine.Do(kMachineBrowserDefaults);
    unsigned failed = machine.Finish(owner, elevation);  // the machine's rows come first
    if (!WriteBrowserDefaults(SettingsRoot::User, registry())) failed |= kStepUserDefaults;
    // Nothing is shown when every row was written.
    if (failed) ShowMessageBox(owner, FailedStepsText(failed), L"Default Settings", MB_OK);
}

// A folder that is missing, cannot be read or has no path is skipped; no other folder is touched.
void Washer::SweepFolder(const std::wstring& path) {
    if (path.empty() || !sweep_.dirList.SetPath(path)) return;
    sweep_.Find();
}

}  // namespace tovra::washer
