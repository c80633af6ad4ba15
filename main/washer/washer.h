// What the main window needs of the browser washer.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

#include "main/washer/folder_sweep.h"
#include "main/washer/machine_steps.h"
#include "shared/job.h"
#include "shared/registry.h"

namespace tovra::washer {

class UrlCacheApi;

// The main window's side of a washing run.
class WasherView {
public:
    virtual ~WasherView() = default;
    virtual HWND Owner() const = 0;                            // owner of the message boxes
    virtual void SetWasherButtonEnabled(bool enabled) = 0;     // cmdWasher
    virtual void SetWasherStatus(const std::wstring& text) = 0;  // lblWasher
    virtual void SetLabel1(const std::wstring& text) = 0;      // Label1 shows each deleted file
};

// The two fixed folders a run sweeps, first and last; between them come the shell's special folders.
struct WasherFolders {
    static constexpr wchar_t kWindowsTemp[] = L"c:\\windows\\temp";
    static constexpr wchar_t kOfficeRecent[] = L"C:\\WINDOWS\\Application Data\\Microsoft\\Office\\Recent";
};

// What a run works through; each left empty is the system's.
struct WasherSeams {
    UrlCacheApi* cache = nullptr;     // WinINet's URL cache
    Registry* registry = nullptr;     // the registry
    Elevation* elevation = nullptr;   // the elevated instance of this program
};

// The steps of a run that can fail and are named to the user when they do, in run order.
enum WashStep : unsigned {
    kStepMachineDefaults = kMachineBrowserDefaults,
    kStepMachineTypedUrls = kMachineTypedUrls,
    kStepMachineRunCleaning = kMachineRunCleaning,
    kStepOwnEntry = kMachineOwnEntry,
    kStepUserDefaults = 1u << 8,
    kStepUserTypedUrls = 1u << 9,
    kStepUserRunCleaning = 1u << 10,
};
// The message that names the steps that were not done ("" for none).
std::wstring FailedStepsText(unsigned failed);

class Washer {
public:
    // `jobMessage`: posted to the view's Owner() when a run has something to show; the owner's
    // window procedure passes it to RunTasks(). Without one, a run's display waits for Finish().
    explicit Washer(WasherView& view, WasherSeams seams = {}, UINT jobMessage = 0);
    // With another URL cache than WinINet's (tests).
    Washer(WasherView& view, UrlCacheApi& cache);
    ~Washer();
    Washer(const Washer&) = delete;
    Washer& operator=(const Washer&) = delete;

    // cmdWasher_Click and mnuClean_Click: asks "Are you sure?", then starts the washing run off
    // the window thread and returns; the window shows its progress and answers its start-up
    // question while it runs. A click while a run is in progress does nothing. "Finished" closes
    // a run only where every step was done; otherwise the closing message names those that were
    // not.
    void Run();
    // mnuIEDefault_Click: the browser default settings after confirmation, off the window thread;
    // a message names what could not be written. Nothing while a run is in progress.
    void IEDefault();
    // True from the confirmation until the closing message has been shown.
    bool running() const { return running_; }

    // On the window thread: shows what the run has done since (the owner's jobMessage).
    void RunTasks();
    // Waits for the run in progress, showing its progress meanwhile on this thread (without a
    // message loop: tests).
    void Finish();
    // Ends the run in progress at its next file and waits for its thread: nothing more is
    // deleted or written, and nothing more is shown (the program is ending).
    void Stop();

    // The hidden folder and file lists of the sweep, and Label1's last path. Not to be touched
    // while a run is in progress.
    FolderSweep& sweep() { return sweep_; }

private:
    class LabelRelay;
    void Wash(jobs::JobContext& context);
    void SweepFolder(const std::wstring& path);
    Registry& registry() const { return seams_.registry ? *seams_.registry : SystemRegistry(); }
    Elevation& elevation() { return seams_.elevation ? *seams_.elevation : elevatedInstance_; }
    void ShowEnd(unsigned failed, const wchar_t* title, bool finishedText);

    WasherView& view_;
    WasherSeams seams_;
    UINT jobMessage_;
    ElevatedInstance elevatedInstance_;
    FolderSweep sweep_;
    bool running_ = false;
    unsigned failed_ = 0;  // the run's failed steps, written by its work, read when it is over
    std::unique_ptr<LabelRelay> label_;
    std::unique_ptr<jobs::Job> job_;  // last: it ends before what its work uses
};

}  // namespace tovra::washer
