// What the main window needs of the browser washer.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

#include "main/washer/folder_sweep.h"

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

class Washer {
public:
    explicit Washer(WasherView& view);
    // With another URL cache than WinINet's (tests).
    Washer(WasherView& view, UrlCacheApi& cache);
    ~Washer();
    Washer(const Washer&) = delete;
    Washer& operator=(const Washer&) = delete;

    // cmdWasher_Click and mnuClean_Click: the whole washing run. A run started while another
    // one lets window events through returns at once.
    void Run();
    // mnuIEDefault_Click: the browser default settings after confirmation.
    void IEDefault();
    bool running() const { return running_; }

    // The hidden folder and file lists of the sweep, and Label1's last path.
    FolderSweep& sweep() { return sweep_; }

private:
    void SweepFolder(const std::wstring& path);

    WasherView& view_;
    UrlCacheApi* cache_ = nullptr;  // nullptr: WinINet's
    FolderSweep sweep_;
    bool running_ = false;
};

}  // namespace tovra::washer
