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
    MachineWork(Registry& registry, bool deferred) : registry_(registry), deferred_(deferred) {}
    void Do(unsigned steps) {
        if (deferred_) {
            pending_ |= steps;
        } else {
            failed_ |= DoMachineSteps(steps, registry_);
        }
    }
    unsigned Finish(HWND owner, Elevation& elevation, HANDLE cancel) {
        if (pending_) failed_ |= elevation.RunElevated(owner, pending_, cancel);
        pending_ = 0;
        return failed_;
    }

private:
    Registry& registry_;
    bool deferred_;
    unsigned pending_ = 0;
    unsigned failed_ = 0;
};

class CriticalSection {
public:
    CriticalSection() { InitializeCriticalSection(&cs_); }
    ~CriticalSection() { DeleteCriticalSection(&cs_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    void Enter() { EnterCriticalSection(&cs_); }
    void Leave() { LeaveCriticalSection(&cs_); }

private:
    CRITICAL_SECTION cs_;
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

// Label1 follows every deleted file; thousands of files a second would flood the window with
// tasks, so the work only leaves the latest path and posts once until the window has shown it.
class Washer::LabelRelay {
public:
    explicit LabelRelay(WasherView& view) : view_(view) {}
    void Set(jobs::JobContext& context, const std::wstring& text) {
        lock_.Enter();
        latest_ = text;
        bool post = !posted_;
        posted_ = true;
        lock_.Leave();
        if (post) context.Post([this] { Show(); });
    }

private:
    void Show() {
        lock_.Enter();
        std::wstring text = std::move(latest_);
        posted_ = false;
        lock_.Leave();
        view_.SetLabel1(text);
    }
    WasherView& view_;
    CriticalSection lock_;
    std::wstring latest_;
    bool posted_ = false;
};

Washer::Washer(WasherView& view, WasherSeams seams, UINT jobMessage)
    : view_(view), seams_(seams), jobMessage_(jobMessage), label_(std::make_unique<LabelRelay>(view)) {}

Washer::Washer(WasherView& view, UrlCacheApi& cache) : Washer(view, WasherSeams{&cache}) {}

Washer::~Washer() { Stop(); }

void Washer::RunTasks() {
    if (job_) job_->RunTasks();
}

void Washer::Finish() {
    if (job_) job_->RunToEnd();
}

void Washer::Stop() {
    if (job_) job_->Stop();
    running_ = false;
}

void Washer::Run() {
    // "Clean" stays enabled during a run: one run at a time.
    if (running_) return;
    HWND owner = view_.Owner();
    if (ShowMessageBox(owner, L"Are you sure? (recommended)", L"Clean!", MB_YESNO) != IDYES) return;

    running_ = true;
    failed_ = 0;
    view_.SetWasherButtonEnabled(false);
    view_.SetWasherStatus(L"Running");
    job_ = std::make_unique<jobs::Job>(owner, jobMessage_);
    bool started = job_->Start([this](jobs::JobContext& context) { Wash(context); },
                               [this] {
                                   running_ = false;
                                   view_.SetWasherButtonEnabled(true);
                                   view_.SetWasherStatus(L"Stopped");
                                   ShowEnd(failed_, L"End", true);
                               });
    if (!started) {
        // No thread to be had: nothing was done, and the user is told so.
        running_ = false;
        view_.SetWasherButtonEnabled(true);
        view_.SetWasherStatus(L"Stopped");
        ShowMessageBox(owner, L"The washing run could not be started.", L"End", MB_OK);
    }
}

// The run's steps, on the job's thread. Window events run meanwhile; the start-up question is
// asked on the window thread while this waits for its answer.
void Washer::Wash(jobs::JobContext& context) {
    HWND owner = view_.Owner();
    sweep_.cancelled = [&context] { return context.Cancelled(); };
    sweep_.SetLabel1Sink([this, &context](const std::wstring& text) { label_->Set(context, text); });
    MachineWork machine(registry(), elevation().Needed());
    unsigned failed = 0;

    machine.Do(kMachineBrowserDefaults);
    if (!WriteBrowserDefaults(SettingsRoot::User, registry())) failed |= kStepUserDefaults;

    for (const std::wstring& folder : {std::wstring(WasherFolders::kWindowsTemp), SpecialFolderPath(CSIDL_HISTORY),
                                       SpecialFolderPath(CSIDL_INTERNET_CACHE), SpecialFolderPath(CSIDL_RECENT),
                                       std::wstring(WasherFolders::kOfficeRecent)}) {
        if (context.Cancelled()) return;
        SweepFolder(folder);
    }
    if (context.Cancelled()) return;
    if (seams_.cache) {
        ClearWebCache(*seams_.cache);
    } else {
        ClearWebCache();
    }
    if (registry().DeleteKey(HKEY_CURRENT_USER, kTypedUrlsKey) != ERROR_SUCCESS) failed |= kStepUserTypedUrls;
    machine.Do(kMachineTypedUrls);

    std::optional<int> answer = context.Ask([owner] {
        return ShowMessageBox(owner, L"Do you want to stop running program during start up? (recommended)",
                              L"Question!", MB_YESNO);
    });
    if (!answer) return;  // the program is ending
    if (*answer == IDYES) {
        if (registry().DeleteKey(HKEY_CURRENT_USER, kRunKey) != ERROR_SUCCESS) failed |= kStepUserRunCleaning;
        machine.Do(kMachineStartUp);
    }
    failed |= machine.Finish(owner, elevation(), context.CancelEvent());
    failed_ = failed;  // read by the window thread once the work is over
}

void Washer::ShowEnd(unsigned failed, const wchar_t* title, bool finishedText) {
    if (failed) {
        ShowMessageBox(view_.Owner(), FailedStepsText(failed), title, MB_OK);
    } else if (finishedText) {
        ShowMessageBox(view_.Owner(), L"Finished", title, MB_OK);
    }
}

void Washer::IEDefault() {
    // Chosen while a run is in progress: that run writes the same defaults itself, and a second
    // question box in the middle of it would only confuse.
    if (running_) return;
    HWND owner = view_.Owner();
    if (ShowMessageBox(owner, L"Are you sure you want to change to Internet Explorer Default Settings",
                       L"Default Settings", MB_YESNO) != IDYES) {
        return;
    }
    running_ = true;
    failed_ = 0;
    job_ = std::make_unique<jobs::Job>(owner, jobMessage_);
    bool started = job_->Start(
        [this, owner](jobs::JobContext& context) {
            MachineWork machine(registry(), elevation().Needed());
            machine.Do(kMachineBrowserDefaults);
            unsigned failed = machine.Finish(owner, elevation(), context.CancelEvent());  // the machine's rows first
            if (!WriteBrowserDefaults(SettingsRoot::User, registry())) failed |= kStepUserDefaults;
            failed_ = failed;
        },
        // Nothing is shown when every row was written.
        [this] {
            running_ = false;
            ShowEnd(failed_, L"Default Settings", false);
        });
    if (!started) {
        running_ = false;
        ShowEnd(kStepMachineDefaults | kStepUserDefaults, L"Default Settings", false);
    }
}

// A folder that is missing, cannot be read or has no path is skipped; no other folder is touched.
void Washer::SweepFolder(const std::wstring& path) {
    if (path.empty() || !sweep_.dirList.SetPath(path)) return;
    sweep_.Find();
}

}  // namespace tovra::washer
