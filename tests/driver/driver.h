// End-to-end driver: starts a program of the suite and works its windows as a user would,
// from a second process (the test). See the notes on each call for what Wine allows.
#pragma once
#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tovra::driver {

// Polls cond every few milliseconds until it holds or the time is up.
bool WaitFor(const std::function<bool()>& cond, DWORD timeoutMs);

// CreateProcessW as a test needs it: a start that Wine's loader loses before the program runs is
// tried again. Last error set on failure.
bool StartProcess(const wchar_t* exePath, std::wstring commandLine, DWORD flags, const wchar_t* workDir,
                  PROCESS_INFORMATION* pi);

// The product folder the programs expect, "C:\Program Files\tovra".
std::wstring ProductFolder();
// Copies the named built programs (from the test executable's folder) into the product folder,
// as an installation would. Returns the installed path of the first.
std::wstring InstallBuiltPrograms(const std::vector<std::wstring>& exeNames);

// Other tests use the product folder too: for its lifetime whatever is there is set aside; at the
// end what the test left is removed and the old folder comes back.
class ProductFolderAside {
public:
    ProductFolderAside();
    ~ProductFolderAside();
    ProductFolderAside(const ProductFolderAside&) = delete;
    ProductFolderAside& operator=(const ProductFolderAside&) = delete;
    // Empty when the folder could be set aside; otherwise why not (assert on it in SetUp).
    const std::wstring& error() const { return error_; }

private:
    std::wstring folder_, saved_, error_;
    bool moved_ = false;
};

class App {
public:
    // Starts exePath (a Windows path) with the given command line tail and working folder.
    static App Start(const std::wstring& exePath, const std::wstring& args = L"",
                     const std::wstring& workDir = L"");
    // Takes charge of a running process, e.g. one that the program under test started: it is then
    // worked and killed like a started one. Not started() if it cannot be opened.
    static App Attach(DWORD pid);
    // Waits for a running process whose executable has this file name ("tovraa.exe") and attaches
    // to it; not started() on time-out.
    static App WaitStarted(const std::wstring& exeName, DWORD timeoutMs = 10000);
    App() = default;
    App(App&&) noexcept;
    App& operator=(App&&) noexcept;
    ~App();  // kills the process if it still runs
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    bool started() const { return process_ != nullptr; }
    DWORD pid() const { return pid_; }
    HANDLE process() const { return process_; }
    bool Running() const;
    // True once the process has ended within the time; its exit code in *code.
    bool WaitExit(DWORD timeoutMs, DWORD* code = nullptr) const;
    void Kill();

    // Top-level windows of this process (visible ones only unless asked).
    std::vector<HWND> TopWindows(bool visibleOnly = true) const;
    // Waits for a top-level window of this process with exactly this title; nullptr on time-out.
    HWND WaitWindow(const std::wstring& title, DWORD timeoutMs = 10000, bool visibleOnly = true) const;

private:
    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
};

std::wstring WindowText(HWND hwnd);
std::wstring ClassName(HWND hwnd);

struct Control {
    HWND hwnd;
    int id;
    std::wstring className;
    std::wstring text;
    bool visible;  // its own WS_VISIBLE, whatever its parent shows
    bool enabled;  // its own state; Click also refuses a control behind a disabled (modal) window
    RECT rect;  // in the top window's client coordinates
};
// All child controls of a top-level window, in z-order (which is the tab order).
std::vector<Control> Controls(HWND top);
HWND FindControl(HWND top, const std::wstring& text);  // by exact caption
HWND FindControlById(HWND top, int id);

// Clicks a button, check box, option button or clickable label like the mouse would:
// false (and nothing sent) when it is disabled or hidden. Does not wait for the handler.
bool Click(HWND control);
bool IsChecked(HWND control);  // check and option buttons

struct MessageBoxInfo {
    HWND hwnd = nullptr;
    std::wstring title;
    std::wstring text;
    std::vector<int> buttons;  // IDOK, IDYES, ... in the box's order
    UINT icon = 0;             // MB_ICONHAND, MB_ICONQUESTION, ... or 0 for none
};
// Waits for a message box ("#32770" with a text static) owned by the app's process,
// optionally with this title.
std::optional<MessageBoxInfo> WaitMessageBox(const App& app, DWORD timeoutMs = 10000,
                                             const std::wstring& title = L"");
// Any message box of the app open right now?
std::optional<MessageBoxInfo> CurrentMessageBox(const App& app);
// Presses a button of the box (IDOK, IDYES, IDNO, ...) and waits until the box has gone.
bool Answer(const MessageBoxInfo& box, int buttonId, DWORD timeoutMs = 5000);

struct MenuEntry {
    bool found = false;
    UINT id = 0;
    bool checked = false;
    bool enabled = false;
};
// Reads a menu entry by its captions, "&Firewall/Enable Firewall", inside the target process
// (menus cannot be read across processes under Wine).
MenuEntry ReadMenu(const App& app, HWND top, const std::wstring& path);
// Chooses the entry as a user would (posted, so a modal box it opens does not block the test).
bool ChooseMenu(const App& app, HWND top, const std::wstring& path);

// Cross-process reads of common controls.
std::vector<std::vector<std::wstring>> ListViewRows(const App& app, HWND listView);
int ListViewColumnCount(const App& app, HWND listView);
std::wstring StatusBarText(const App& app, HWND statusBar, int part = 0);

}  // namespace tovra::driver
