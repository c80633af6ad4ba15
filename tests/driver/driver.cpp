#include "tests/driver/driver.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <utility>

#include "tests/driver/probe_protocol.h"
#include "tests/support/temp_dir.h"
#include "shared/compat.h"

namespace tovra::driver {
namespace {

// Every message to another process is bounded: a hung program must fail the test, not hang it.
constexpr UINT kSendTimeoutMs = 5000;
constexpr DWORD kRemoteThreadTimeoutMs = 10000;
constexpr int kMessageBoxTextId = 0xFFFF;
constexpr int kMessageBoxIconId = 1088;

bool Send(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, LRESULT* result = nullptr) {
    DWORD_PTR r = 0;
    if (!SendMessageTimeoutW(hwnd, msg, wp, lp, SMTO_ABORTIFHUNG | SMTO_BLOCK, kSendTimeoutMs, &r)) return false;
    if (result) *result = static_cast<LRESULT>(r);
    return true;
}

std::string Narrow(const std::wstring& s) {
    if (s.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr, nullptr);
    return out;
}

bool SameText(const std::wstring& a, const std::wstring& b) {
    return tovra::compat::EqualNoCase(a, b);
}

std::wstring ExeFolder() {
    wchar_t buf[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(nullptr, buf, static_cast<DWORD>(std::size(buf)));
    std::wstring p(buf, n);
    return p.substr(0, p.find_last_of(L'\\'));
}

std::wstring FolderOf(const std::wstring& path) {
    size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
}

std::wstring FileNameOf(const std::wstring& path) {
    size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

void MakeFolders(const std::wstring& folder) {
    for (size_t pos = folder.find(L'\\', 3); pos != std::wstring::npos; pos = folder.find(L'\\', pos + 1)) {
        CreateDirectoryW(folder.substr(0, pos).c_str(), nullptr);
    }
    CreateDirectoryW(folder.c_str(), nullptr);
}

// A user can work a control only when it and every window above it are enabled and shown;
// a modal box disables its owner, so this also refuses clicks behind an open box.
bool Usable(HWND control) {
    if (!IsWindow(control) || !IsWindowVisible(control)) return false;
    HWND desktop = GetDesktopWindow();
    for (HWND w = control; w && w != desktop; w = GetAncestor(w, GA_PARENT)) {
        if (!IsWindowEnabled(w)) return false;
    }
    return true;
}

// Memory inside the program under test, for messages whose parameters are pointers.
class RemoteBuffer {
public:
    RemoteBuffer(HANDLE process, size_t size)
        : process_(process),
          size_(size),
          address_(process ? VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)
                           : nullptr) {}
    ~RemoteBuffer() {
        if (address_ && !leaked_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    }
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;

    bool valid() const { return address_ != nullptr; }
    void* address() const { return address_; }
    LPARAM lparam(size_t offset = 0) const {
        return reinterpret_cast<LPARAM>(static_cast<char*>(address_) + offset);
    }
    bool Write(const void* data, size_t size, size_t offset = 0) const {
        SIZE_T done = 0;
        return offset + size <= size_ &&
               WriteProcessMemory(process_, static_cast<char*>(address_) + offset, data, size, &done) &&
               done == size;
    }
    bool Read(void* data, size_t size, size_t offset = 0) const {
        SIZE_T done = 0;
        return offset + size <= size_ &&
               ReadProcessMemory(process_, static_cast<char*>(address_) + offset, data, size, &done) &&
               done == size;
    }
    // A remote thread that did not finish may still use the memory: never free it then.
    void Leak() { leaked_ = true; }

private:
    HANDLE process_;
    size_t size_;
    void* address_;
    bool leaked_ = false;
};

// The base address of a module in another process, by file name; nullptr if not loaded.
BYTE* RemoteModuleBase(DWORD pid, const std::wstring& name) {
    HANDLE snap = INVALID_HANDLE_VALUE;
    // The snapshot fails with ERROR_BAD_LENGTH while the loader is busy: retry a little.
    for (int attempt = 0; attempt < 50; ++attempt) {
        snap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
        if (snap != INVALID_HANDLE_VALUE || GetLastError() != ERROR_BAD_LENGTH) break;
        Sleep(20);
    }
    if (snap == INVALID_HANDLE_VALUE) return nullptr;
    BYTE* base = nullptr;
    MODULEENTRY32W entry{sizeof entry};
    for (BOOL ok = Module32FirstW(snap, &entry); ok && !base; ok = Module32NextW(snap, &entry)) {
        if (SameText(entry.szModule, name) || SameText(FileNameOf(entry.szExePath), name)) base = entry.modBaseAddr;
    }
    CloseHandle(snap);
    return base;
}

// The address in the other process of a function of ours, found through the module that holds it
// (which is not always the one it was looked up in: kernel32 forwards to kernelbase).
void* RemoteAddress(DWORD pid, const void* local) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(local), &module)) {
        return nullptr;
    }
    wchar_t path[MAX_PATH * 2];
    DWORD n = GetModuleFileNameW(module, path, static_cast<DWORD>(std::size(path)));
    BYTE* remoteBase = RemoteModuleBase(pid, FileNameOf(std::wstring(path, n)));
    if (!remoteBase) return nullptr;
    return remoteBase + (static_cast<const BYTE*>(local) - reinterpret_cast<const BYTE*>(module));
}

// Runs fn(param) on a new thread in the other process; true when it ended in time.
bool RunRemoteThread(HANDLE process, void* fn, void* param) {
    HANDLE thread = CreateRemoteThread(process, nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(fn), param, 0,
                                       nullptr);
    if (!thread) return false;
    bool ended = WaitForSingleObject(thread, kRemoteThreadTimeoutMs) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return ended;
}

// The probe's entry point in our own process (loaded here only to learn its offset).
void* LocalProbeEntry() {
    static HMODULE probe = LoadLibraryW((ExeFolder() + L"\\" + probe::kDllName).c_str());
    return probe ? reinterpret_cast<void*>(GetProcAddress(probe, probe::kEntryName)) : nullptr;
}

// Loads the probe into the app once and returns its entry point there.
void* RemoteProbeEntry(const App& app) {
    if (!app.started()) return nullptr;
    void* local = LocalProbeEntry();
    if (!local) {
        std::fprintf(stderr, "driver: the probe DLL %s is missing beside the test\n", Narrow(probe::kDllName).c_str());
        return nullptr;
    }
    if (!RemoteModuleBase(app.pid(), probe::kDllName)) {
        std::wstring dll = ExeFolder() + L"\\" + probe::kDllName;
        size_t bytes = (dll.size() + 1) * sizeof(wchar_t);
        RemoteBuffer name(app.process(), bytes);
        void* loadLibrary = RemoteAddress(
            app.pid(), reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW")));
        if (!name.valid() || !loadLibrary || !name.Write(dll.c_str(), bytes)) return nullptr;
        if (!RunRemoteThread(app.process(), loadLibrary, name.address())) {
            name.Leak();
            return nullptr;
        }
    }
    return RemoteAddress(app.pid(), local);
}

// Sends a request to the probe inside the app; the answered block, or nullopt.
std::optional<probe::Request> AskProbe(const App& app, const probe::Request& request) {
    void* entry = RemoteProbeEntry(app);
    if (!entry) return std::nullopt;
    RemoteBuffer block(app.process(), sizeof(probe::Request));
    if (!block.valid() || !block.Write(&request, sizeof request)) return std::nullopt;
    if (!RunRemoteThread(app.process(), entry, block.address())) {
        block.Leak();
        return std::nullopt;
    }
    probe::Request answer{};
    if (!block.Read(&answer, sizeof answer) || !answer.done) return std::nullopt;
    return answer;
}

struct EnumState {
    DWORD pid;
    bool visibleOnly;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTopWindow(HWND hwnd, LPARAM lp) {
    auto* state = reinterpret_cast<EnumState*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == state->pid && (!state->visibleOnly || IsWindowVisible(hwnd))) state->found.push_back(hwnd);
    return TRUE;
}

UINT IconOfBox(const App& app, HWND box) {
    HWND iconStatic = GetDlgItem(box, kMessageBoxIconId);
    LRESULT icon = 0;
    if (!iconStatic || !Send(iconStatic, STM_GETICON, 0, 0, &icon) || !icon) return 0;
    probe::Request request{};
    request.op = probe::kIconKind;
    request.icon = static_cast<uint64_t>(icon);
    auto answer = AskProbe(app, request);
    return answer ? answer->iconKind : MB_USERICON;
}

std::optional<MessageBoxInfo> ReadBox(const App& app, HWND box) {
    HWND text = GetDlgItem(box, kMessageBoxTextId);
    if (!text) return std::nullopt;
    MessageBoxInfo info;
    info.hwnd = box;
    info.title = WindowText(box);
    info.text = WindowText(text);
    std::vector<std::pair<RECT, int>> buttons;
    for (const Control& c : Controls(box)) {
        if (c.visible && SameText(c.className, L"Button")) buttons.emplace_back(c.rect, c.id);
    }
    std::sort(buttons.begin(), buttons.end(), [](const auto& a, const auto& b) {
        return a.first.top != b.first.top ? a.first.top < b.first.top : a.first.left < b.first.left;
    });
    for (const auto& b : buttons) info.buttons.push_back(b.second);
    info.icon = IconOfBox(app, box);
    return info;
}

std::optional<MessageBoxInfo> FindBox(const App& app, const std::wstring& title) {
    for (HWND w : app.TopWindows(true)) {
        if (ClassName(w) != L"#32770" || !GetDlgItem(w, kMessageBoxTextId)) continue;
        if (!title.empty() && WindowText(w) != title) continue;
        if (auto info = ReadBox(app, w)) return info;
    }
    return std::nullopt;
}

}  // namespace

bool WaitFor(const std::function<bool()>& cond, DWORD timeoutMs) {
    ULONGLONG end = tovra::compat::TickCount64() + timeoutMs;
    for (;;) {
        if (cond()) return true;
        if (tovra::compat::TickCount64() >= end) return false;
        Sleep(20);
    }
}

bool StartProcess(const wchar_t* exePath, std::wstring commandLine, DWORD flags, const wchar_t* workDir,
                  PROCESS_INFORMATION* pi) {
    // Under load, Wine now and then loses a new process inside its own loader, before any of the
    // program's code runs, and reports ERROR_INTERNAL_ERROR. That says nothing about the program,
    // so such a start is tried again; every other failure is the caller's answer.
    constexpr int kStartTries = 3;
    for (int attempt = 1;; ++attempt) {
        STARTUPINFOW si{sizeof si};
        if (CreateProcessW(exePath, commandLine.data(), nullptr, nullptr, FALSE, flags, nullptr, workDir, &si, pi)) {
            return true;
        }
        DWORD error = GetLastError();
        if (error != ERROR_INTERNAL_ERROR || attempt == kStartTries) return false;
        std::fprintf(stderr, "driver: Wine lost a starting process (try %d of %d)\n", attempt, kStartTries);
        Sleep(250);
    }
}

std::wstring ProductFolder() { return L"C:\\Program Files\\tovra"; }

ProductFolderAside::ProductFolderAside() : folder_(ProductFolder()), saved_(folder_ + L".e2e-saved") {
    if (test::PathExists(saved_)) {
        error_ = L"an earlier run left " + saved_;
    } else if (test::PathExists(folder_)) {
        moved_ = MoveFileW(folder_.c_str(), saved_.c_str()) != FALSE;
        if (!moved_) error_ = L"cannot move the product folder aside";
    }
}

ProductFolderAside::~ProductFolderAside() {
    if (!error_.empty()) return;
    test::RemoveTree(folder_);
    if (moved_ && !MoveFileW(saved_.c_str(), folder_.c_str())) {
        ADD_FAILURE() << "cannot restore the product folder";
    }
}

std::wstring InstallBuiltPrograms(const std::vector<std::wstring>& exeNames) {
    std::wstring folder = ProductFolder();
    MakeFolders(folder);
    std::wstring first;
    for (const std::wstring& name : exeNames) {
        std::wstring from = ExeFolder() + L"\\" + name;
        std::wstring to = folder + L"\\" + name;
        if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) {
            std::fprintf(stderr, "driver: cannot install %s into %s (error %lu)\n", Narrow(from).c_str(),
                         Narrow(folder).c_str(), GetLastError());
            return {};
        }
        if (first.empty()) first = to;
    }
    return first;
}

// ---- App ----------------------------------------------------------------------------------------

App App::Start(const std::wstring& exePath, const std::wstring& args, const std::wstring& workDir) {
    App app;
    std::wstring commandLine = L"\"" + exePath + L"\"";
    if (!args.empty()) commandLine += L" " + args;
    // As a shortcut or Explorer would start it: in its own folder unless told otherwise.
    std::wstring dir = workDir.empty() ? FolderOf(exePath) : workDir;
    PROCESS_INFORMATION pi{};
    if (!StartProcess(exePath.c_str(), commandLine, 0, dir.empty() ? nullptr : dir.c_str(), &pi)) {
        std::fprintf(stderr, "driver: cannot start %s (error %lu)\n", Narrow(exePath).c_str(), GetLastError());
        return app;
    }
    CloseHandle(pi.hThread);
    app.process_ = pi.hProcess;
    app.pid_ = pi.dwProcessId;
    return app;
}

App App::Attach(DWORD pid) {
    App app;
    app.process_ = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_OPERATION | PROCESS_VM_READ |
                                   PROCESS_VM_WRITE | PROCESS_CREATE_THREAD | PROCESS_TERMINATE | SYNCHRONIZE,
                               FALSE, pid);
    if (app.process_) app.pid_ = pid;
    return app;
}

App App::WaitStarted(const std::wstring& exeName, DWORD timeoutMs) {
    DWORD pid = 0;
    WaitFor(
        [&] {
            HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
            if (snap == INVALID_HANDLE_VALUE) return false;
            PROCESSENTRY32W entry{sizeof entry};
            for (BOOL ok = Process32FirstW(snap, &entry); ok && !pid; ok = Process32NextW(snap, &entry)) {
                if (SameText(FileNameOf(entry.szExeFile), exeName)) pid = entry.th32ProcessID;
            }
            CloseHandle(snap);
            return pid != 0;
        },
        timeoutMs);
    return pid ? Attach(pid) : App();
}

App::App(App&& other) noexcept
    : process_(std::exchange(other.process_, nullptr)), pid_(std::exchange(other.pid_, 0)) {}

App& App::operator=(App&& other) noexcept {
    if (this != &other) {
        Kill();
        if (process_) CloseHandle(process_);
        process_ = std::exchange(other.process_, nullptr);
        pid_ = std::exchange(other.pid_, 0);
    }
    return *this;
}

App::~App() {
    Kill();
    if (process_) CloseHandle(process_);
}

bool App::Running() const { return process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

bool App::WaitExit(DWORD timeoutMs, DWORD* code) const {
    if (!process_ || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return false;
    if (code) {
        DWORD c = 0;
        GetExitCodeProcess(process_, &c);
        *code = c;
    }
    return true;
}

void App::Kill() {
    if (!Running()) return;
    TerminateProcess(process_, 1);
    WaitForSingleObject(process_, 10000);
}

std::vector<HWND> App::TopWindows(bool visibleOnly) const {
    EnumState state{pid_, visibleOnly, {}};
    if (process_) EnumWindows(CollectTopWindow, reinterpret_cast<LPARAM>(&state));
    return state.found;
}

HWND App::WaitWindow(const std::wstring& title, DWORD timeoutMs, bool visibleOnly) const {
    HWND found = nullptr;
    WaitFor(
        [&] {
            for (HWND w : TopWindows(visibleOnly)) {
                if (WindowText(w) == title) {
                    found = w;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

// ---- Windows and controls -----------------------------------------------------------------------

std::wstring WindowText(HWND hwnd) {
    // WM_GETTEXT is marshalled across processes and reaches the control's own text (an edit box's
    // contents); GetWindowText would not ask another process.
    LRESULT length = 0;
    if (!IsWindow(hwnd)) return {};
    if (!Send(hwnd, WM_GETTEXTLENGTH, 0, 0, &length)) length = GetWindowTextLengthW(hwnd);
    std::wstring text(static_cast<size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
    LRESULT got = 0;
    if (!Send(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), &got)) {
        got = GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()));
    }
    text.resize(static_cast<size_t>(std::clamp<LRESULT>(got, 0, static_cast<LRESULT>(text.size()) - 1)));
    return text;
}

std::wstring ClassName(HWND hwnd) {
    wchar_t name[256] = {};
    int n = GetClassNameW(hwnd, name, static_cast<int>(std::size(name)));
    return std::wstring(name, static_cast<size_t>(std::max(n, 0)));
}

std::vector<Control> Controls(HWND top) {
    std::vector<Control> out;
    if (!IsWindow(top)) return out;
    // The direct children, in z-order; a dialog page (a child "#32770") contributes its own controls.
    std::vector<HWND> pending;
    for (HWND c = GetWindow(top, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) pending.push_back(c);
    for (size_t i = 0; i < pending.size(); ++i) {
        HWND c = pending[i];
        Control control;
        control.hwnd = c;
        control.id = GetDlgCtrlID(c);
        control.className = ClassName(c);
        control.text = WindowText(c);
        control.visible = (GetWindowLongW(c, GWL_STYLE) & WS_VISIBLE) != 0;
        control.enabled = IsWindowEnabled(c) != FALSE;
        GetWindowRect(c, &control.rect);
        MapWindowPoints(nullptr, top, reinterpret_cast<POINT*>(&control.rect), 2);
        out.push_back(control);
        if (control.className == L"#32770") {
            std::vector<HWND> inner;
            for (HWND g = GetWindow(c, GW_CHILD); g; g = GetWindow(g, GW_HWNDNEXT)) inner.push_back(g);
            pending.insert(pending.begin() + static_cast<std::ptrdiff_t>(i) + 1, inner.begin(), inner.end());
        }
    }
    return out;
}

HWND FindControl(HWND top, const std::wstring& text) {
    for (const Control& c : Controls(top)) {
        if (c.text == text) return c.hwnd;
    }
    return nullptr;
}

HWND FindControlById(HWND top, int id) {
    if (HWND direct = GetDlgItem(top, id)) return direct;
    for (const Control& c : Controls(top)) {
        if (c.id == id) return c.hwnd;
    }
    return nullptr;
}

bool Click(HWND control) {
    if (!Usable(control)) return false;
    LONG style = GetWindowLongW(control, GWL_STYLE);
    std::wstring cls = ClassName(control);
    // Posted, never sent: the handler may open a modal box and would then block the test.
    if (SameText(cls, L"Button")) {
        if ((style & BS_TYPEMASK) == BS_GROUPBOX) return false;
        return PostMessageW(control, BM_CLICK, 0, 0) != FALSE;
    }
    if (SameText(cls, L"Static")) {
        // A label tells its parent of a click only when it asks for notifications.
        if (!(style & SS_NOTIFY)) return false;
        HWND parent = GetAncestor(control, GA_PARENT);
        return PostMessageW(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), STN_CLICKED),
                            reinterpret_cast<LPARAM>(control)) != FALSE;
    }
    RECT rc{};
    GetClientRect(control, &rc);
    LPARAM at = MAKELPARAM((rc.right - rc.left) / 2, (rc.bottom - rc.top) / 2);
    return PostMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, at) && PostMessageW(control, WM_LBUTTONUP, 0, at);
}

bool IsChecked(HWND control) {
    LRESULT state = 0;
    return Send(control, BM_GETCHECK, 0, 0, &state) && state == BST_CHECKED;
}

// ---- Message boxes ------------------------------------------------------------------------------

std::optional<MessageBoxInfo> WaitMessageBox(const App& app, DWORD timeoutMs, const std::wstring& title) {
    std::optional<MessageBoxInfo> box;
    WaitFor(
        [&] {
            box = FindBox(app, title);
            return box.has_value();
        },
        timeoutMs);
    return box;
}

std::optional<MessageBoxInfo> CurrentMessageBox(const App& app) { return FindBox(app, L""); }

bool Answer(const MessageBoxInfo& box, int buttonId, DWORD timeoutMs) {
    HWND button = GetDlgItem(box.hwnd, buttonId);
    if (!button || !Usable(button)) return false;
    if (!PostMessageW(button, BM_CLICK, 0, 0)) return false;
    return WaitFor([&] { return !IsWindow(box.hwnd) || !IsWindowVisible(box.hwnd); }, timeoutMs);
}

// ---- Menus --------------------------------------------------------------------------------------

MenuEntry ReadMenu(const App& app, HWND top, const std::wstring& path) {
    MenuEntry entry;
    probe::Request request{};
    request.op = probe::kReadMenu;
    request.hwnd = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(top));
    if (path.size() >= std::size(request.path)) return entry;
    std::copy(path.begin(), path.end(), request.path);
    auto answer = AskProbe(app, request);
    if (!answer || !answer->found) return entry;
    entry.found = true;
    entry.id = answer->id;
    entry.checked = (answer->state & MFS_CHECKED) != 0;
    entry.enabled = (answer->state & (MFS_DISABLED | MFS_GRAYED)) == 0;
    return entry;
}

bool ChooseMenu(const App& app, HWND top, const std::wstring& path) {
    MenuEntry entry = ReadMenu(app, top, path);
    // A menu title or a greyed entry cannot be chosen, nor anything behind a modal box.
    if (!entry.found || !entry.enabled || entry.id == 0 || !Usable(top)) return false;
    return PostMessageW(top, WM_COMMAND, MAKEWPARAM(entry.id, 0), 0) != FALSE;
}

// ---- Common controls ----------------------------------------------------------------------------

int ListViewColumnCount(const App& app, HWND listView) {
    LRESULT header = 0, count = 0;
    if (!Send(listView, LVM_GETHEADER, 0, 0, &header) || !header) return 0;
    if (!Send(reinterpret_cast<HWND>(header), HDM_GETITEMCOUNT, 0, 0, &count)) return 0;
    return static_cast<int>(std::max<LRESULT>(count, 0));
}

std::vector<std::vector<std::wstring>> ListViewRows(const App& app, HWND listView) {
    std::vector<std::vector<std::wstring>> rows;
    LRESULT count = 0;
    if (!Send(listView, LVM_GETITEMCOUNT, 0, 0, &count) || count <= 0) return rows;
    int columns = std::max(1, ListViewColumnCount(app, listView));
    constexpr int kChars = 2048;
    RemoteBuffer buffer(app.process(), sizeof(LVITEMW) + kChars * sizeof(wchar_t));
    if (!buffer.valid()) return rows;
    for (int item = 0; item < count; ++item) {
        std::vector<std::wstring> row;
        for (int sub = 0; sub < columns; ++sub) {
            LVITEMW lv{};
            lv.iSubItem = sub;
            lv.cchTextMax = kChars;
            lv.pszText = reinterpret_cast<LPWSTR>(buffer.lparam(sizeof(LVITEMW)));
            wchar_t empty = 0;
            LRESULT length = 0;
            std::wstring text(kChars, L'\0');
            if (buffer.Write(&lv, sizeof lv) && buffer.Write(&empty, sizeof empty, sizeof(LVITEMW)) &&
                Send(listView, LVM_GETITEMTEXTW, static_cast<WPARAM>(item), buffer.lparam(), &length) &&
                buffer.Read(text.data(), kChars * sizeof(wchar_t), sizeof(LVITEMW))) {
                text.resize(std::min<size_t>(static_cast<size_t>(std::max<LRESULT>(length, 0)), kChars - 1));
            } else {
                text.clear();
            }
            row.push_back(text);
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::wstring StatusBarText(const App& app, HWND statusBar, int part) {
    LRESULT lengthAndType = 0;
    if (!Send(statusBar, SB_GETTEXTLENGTHW, static_cast<WPARAM>(part), 0, &lengthAndType)) return {};
    size_t chars = LOWORD(lengthAndType) + 1;
    RemoteBuffer buffer(app.process(), chars * sizeof(wchar_t));
    std::wstring text(chars, L'\0');
    if (!buffer.valid() || !buffer.Write(text.data(), chars * sizeof(wchar_t))) return {};
    LRESULT got = 0;
    if (!Send(statusBar, SB_GETTEXTW, static_cast<WPARAM>(part), buffer.lparam(), &got)) return {};
    if (!buffer.Read(text.data(), chars * sizeof(wchar_t))) return {};
    text.resize(std::min<size_t>(LOWORD(got), chars - 1));
    return text;
}

}  // namespace tovra::driver
