// What the main window needs of the browser washer.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

#include "main/washer/folder_sweep.h"
#include "main/washer/machine_steps.h"
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
    explicit Washer(WasherView& view, WasherSeams seams = {});
    // With another URL cache than WinINet's (tests).
    Washer(WasherView& view, UrlCacheApi& cache);
    ~Washer();
    Washer(const Washer&) = delete;
    Washer& operator=(const Washer&) = delete;

    // cmdWasher_Click and mnuClean_Click: the whole washing run. A run started while another
    // one lets window events through returns at once. "Finished" closes a run only where every
    // step was done; otherwise the closing message names those that were not.
    void Run();
    // mnuIEDefault_Click: the browser default settings after confirmation; a message names the
    // rows' roots that could not be written.
    void IEDefault();
    bool running() const { return running_; }

    // The hidden folder and file lists of the sweep, and Label1's last path.
    FolderSweep& sweep() { return sweep_; }

private:
    void SweepFolder(const std::wstring& path);
    Registry& registry() const { return seams_.registry ? *seams_.registry : SystemRegistry(); }

    WasherView& view_;
    WasherSeams seams_;
    ElevatedInstance elevatedInstance_;
    FolderSweep sweep_;
    bool running_ = false;
};

}  // namespace tovra::washer
