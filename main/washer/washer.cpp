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

// Deletes a key with the values it holds. Where the key cannot go (it has subkeys, which Windows
// NT will not delete with it), its values go all the same; a missing key is simply passed over.
void TryDeleteKeyWithValues(HKEY root, const wchar_t* path) {
    if (RegDeleteKeyW(root, path) == ERROR_SUCCESS) return;
    UniqueKey key;
    if (RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) return;
    for (;;) {
        // Value names are at most 16,383 characters.
        wchar_t name[16384];
        DWORD length = static_cast<DWORD>(std::size(name));
        if (RegEnumValueW(key.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        if (RegDeleteValueW(key.get(), name) != ERROR_SUCCESS) break;
    }
}

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

}  // namespace

Washer::Washer(WasherView& view) : view_(view), sweep_([&view](const std::wstring& text) { view.SetLabel1(text); }) {}

Washer::Washer(WasherView& view, UrlCacheApi& cache) : Washer(view) { cache_ = &cache; }

Washer::~Washer() = default;

void Washer::Run() {
    // "Clean" stays enabled while the sweep lets window events run: one run at a time.
    if (running_) return;
    RunningScope running(running_);
    HWND owner = view_.Owner();
    if (ShowMessageBox(owner, L"Are you sure? (recommended)", L"Clean!", MB_YESNO) != IDYES) return;

    view_.SetWasherButtonEnabled(false);
    view_.SetWasherStatus(L"Running");
    WriteBrowserDefaults();

    SweepFolder(WasherFolders::kWindowsTemp);
    SweepFolder(SpecialFolderPath(CSIDL_HISTORY));
    SweepFolder(SpecialFolderPath(CSIDL_INTERNET_CACHE));
    SweepFolder(SpecialFolderPath(CSIDL_RECENT));
    SweepFolder(WasherFolders::kOfficeRecent);

    if (cache_) {
        ClearWebCache(*cache_);
    } else {
        ClearWebCache();
    }
    TryDeleteKeyWithValues(HKEY_CURRENT_USER, kTypedUrlsKey);
    TryDeleteKeyWithValues(HKEY_LOCAL_MACHINE, kTypedUrlsKey);

    if (ShowMessageBox(owner, L"Do you want to stop running program during start up? (recommended)", L"Question!",
                       MB_YESNO) == IDYES) {
        TryDeleteKeyWithValues(HKEY_CURRENT_USER, kRunKey);
        TryDeleteKeyWithValues(HKEY_LOCAL_MACHINE, kRunKey);
        // The product's own entry, as the installer writes it; the user's key is not made again.
        SaveSetting(suite::kRunKey, suite::kProductName, suite::kMainProgramPathA);
    }

    view_.SetWasherButtonEnabled(true);
    view_.SetWasherStatus(L"Stopped");
    ShowMessageBox(owner, L"Finished", L"End", MB_OK);
}

void Washer::IEDefault() {
    // Chosen while a run's sweep lets events in: that run writes the same defaults itself, and a
    // second question box in the middle of it would only confuse.
    if (running_) return;
    if (ShowMessageBox(view_.Owner(), L"Are you sure you want to change to Internet Explorer Default Settings",
                       L"Default Settings", MB_YESNO) == IDYES) {
        WriteBrowserDefaults();
    }
}

// A folder that is missing, cannot be read or has no path is skipped; no other folder is touched.
void Washer::SweepFolder(const std::wstring& path) {
    if (path.empty() || !sweep_.dirList.SetPath(path)) return;
    sweep_.Find();
}

}  // namespace tovra::washer
