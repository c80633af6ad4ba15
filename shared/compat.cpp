#include "shared/compat.h"

#include <atomic>
#include <cwchar>
#include <vector>

namespace tovra::compat {
namespace {

std::atomic<bool> forceXp{false};

template <typename F>
F Lookup(const wchar_t* module, const char* name) {
    HMODULE m = GetModuleHandleW(module);  // kernel32, user32 and ws2_32 stay loaded for the process
    return m ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(m, name))) : nullptr;
}

// Windows 7 added these two to FindFirstFileExW; the headers only name them for newer targets.
constexpr FINDEX_INFO_LEVELS kFindExInfoBasic = static_cast<FINDEX_INFO_LEVELS>(1);
constexpr DWORD kFindFirstExLargeFetch = 2;
std::atomic<bool> basicFindRefused{false};

std::wstring UpperInvariant(const wchar_t* s, std::size_t n) {
    std::wstring out(s, n);
    if (n == 0) return out;
    // The invariant upper-case table: the same for every user locale, as the file system's is.
    int got = LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, s, static_cast<int>(n), out.data(),
                           static_cast<int>(n));
    if (got != static_cast<int>(n)) {
        out.assign(s, n);
        CharUpperBuffW(out.data(), static_cast<DWORD>(n));
    }
    return out;
}

}  // namespace

void ForceXpPaths(bool force) { forceXp = force; }
bool XpPathsForced() { return forceXp; }

ULONGLONG TickCount64() {
    // No guarded static here: the thread library's timed waits come through this function (see
    // shared/runtime_imports.cpp), also while a guarded static of another thread is being set up.
    using Fn = ULONGLONG(WINAPI*)();
    static std::atomic<int> looked{0};  // 0 not yet, 1 looked up (newer may still be null)
    static std::atomic<Fn> newer{nullptr};
    if (looked.load(std::memory_order_acquire) == 0) {
        newer.store(Lookup<Fn>(L"kernel32.dll", "GetTickCount64"), std::memory_order_relaxed);
        looked.store(1, std::memory_order_release);
    }
    const Fn fn = newer.load(std::memory_order_relaxed);
    if (fn && !forceXp) return fn();
    static std::atomic<ULONGLONG> last{0};
    ULONGLONG prev = last.load();
    for (;;) {
        const ULONGLONG value = ExtendTickCount(prev, GetTickCount());
        if (last.compare_exchange_weak(prev, value)) return value;
    }
}

ULONGLONG ExtendTickCount(ULONGLONG last, DWORD now) {
    ULONGLONG value = (last & ~0xFFFFFFFFull) | now;
    if (now < static_cast<DWORD>(last)) value += 0x100000000ull;
    return value;
}

int CompareNoCase(const wchar_t* a, std::size_t an, const wchar_t* b, std::size_t bn) {
    using Fn = int(WINAPI*)(LPCWCH, int, LPCWCH, int, BOOL);
    static const Fn newer = Lookup<Fn>(L"kernel32.dll", "CompareStringOrdinal");
    if (newer && !forceXp) {
        const int r = newer(a, static_cast<int>(an), b, static_cast<int>(bn), TRUE);
        if (r != 0) return r - CSTR_EQUAL;
    }
    const std::wstring ua = UpperInvariant(a, an), ub = UpperInvariant(b, bn);
    const int c = ua.compare(ub);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

HANDLE FindFirstFileFast(const wchar_t* pattern, WIN32_FIND_DATAW* data) {
    if (!forceXp && !basicFindRefused) {
        HANDLE h = FindFirstFileExW(pattern, kFindExInfoBasic, data, FindExSearchNameMatch, nullptr,
                                    kFindFirstExLargeFetch);
        if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_INVALID_PARAMETER) return h;
        basicFindRefused = true;  // before Windows 7: remember, and list the plain way
    }
    return FindFirstFileW(pattern, data);
}

std::wstring Ipv4Text(const in_addr& address) {
    using Fn = PCWSTR(WSAAPI*)(INT, const VOID*, PWSTR, size_t);
    static const Fn newer = Lookup<Fn>(L"ws2_32.dll", "InetNtopW");
    if (newer && !forceXp) {
        wchar_t text[16] = {};
        if (newer(AF_INET, &address, text, 16)) return text;
        return {};
    }
    const unsigned char* b = reinterpret_cast<const unsigned char*>(&address);
    wchar_t text[16];
    std::swprintf(text, 16, L"%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return text;
}

bool IsWow64() {
    using Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
    static const Fn isWow64 = Lookup<Fn>(L"kernel32.dll", "IsWow64Process");
    BOOL wow = FALSE;
    return isWow64 && isWow64(GetCurrentProcess(), &wow) && wow;
}

bool Is64BitWindows() { return sizeof(void*) == 8 || IsWow64(); }

bool RunsUnderWine() {
    // Wine's ntdll exports its version; no Windows ntdll has the name.
    return Lookup<void (*)()>(L"ntdll.dll", "wine_get_version") != nullptr;
}

bool RunsUnelevated() {
    // TOKEN_ELEVATION (class 20) is Vista's; XP refuses the class, and there is nothing to ask for.
    constexpr auto kTokenElevation = static_cast<TOKEN_INFORMATION_CLASS>(20);
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    DWORD elevated = 0, size = 0;
    bool known = GetTokenInformation(token, kTokenElevation, &elevated, sizeof elevated, &size) != FALSE;
    CloseHandle(token);
    return known && elevated == 0;
}

void HardenDllSearch() {
    using SetDefaultFn = BOOL(WINAPI*)(DWORD);
    using SetDirectoryFn = BOOL(WINAPI*)(LPCWSTR);
    constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
    auto setDefault = Lookup<SetDefaultFn>(L"kernel32.dll", "SetDefaultDllDirectories");
    if (setDefault && !forceXp && setDefault(kSearchSystem32)) return;
    // An empty string takes the current folder out of the search; the program's own folder stays
    // first there, which is why every DLL the suite loads itself is named by its full path.
    auto setDirectory = Lookup<SetDirectoryFn>(L"kernel32.dll", "SetDllDirectoryW");
    if (setDirectory) setDirectory(L"");
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
    wchar_t folder[MAX_PATH];
    UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return nullptr;
    std::wstring path(folder, n);
    if (path.back() != L'\\') path += L'\\';
    path += name;
    // The DLL's own imports are looked for beside it, in the system folder, too.
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

FileSystemRedirectionOff::FileSystemRedirectionOff() { Disable(); }

FileSystemRedirectionOff::~FileSystemRedirectionOff() { Revert(); }

void FileSystemRedirectionOff::Disable() {
    using DisableFn = BOOL(WINAPI*)(PVOID*);
    static const DisableFn disable = Lookup<DisableFn>(L"kernel32.dll", "Wow64DisableWow64FsRedirection");
    if (disable && IsWow64()) active_ = disable(&old_) != FALSE;
}

void FileSystemRedirectionOff::Revert() {
    using RevertFn = BOOL(WINAPI*)(PVOID);
    static const RevertFn revert = Lookup<RevertFn>(L"kernel32.dll", "Wow64RevertWow64FsRedirection");
    if (active_ && revert) revert(old_);
    active_ = false;
}

FileSystemRedirectionOff::Restored::Restored(FileSystemRedirectionOff* off) : off_(off && off->active_ ? off : nullptr) {
    if (off_) off_->Revert();
}

FileSystemRedirectionOff::Restored::~Restored() {
    if (off_) off_->Disable();
}

std::wstring Ipv6Text(const in6_addr& address) {
    using Fn = PCWSTR(WSAAPI*)(INT, const VOID*, PWSTR, size_t);
    static const Fn newer = Lookup<Fn>(L"ws2_32.dll", "InetNtopW");
    wchar_t text[64] = {};  // the longest form, with an IPv4 tail, takes 45 characters
    if (newer && !forceXp) return newer(AF_INET6, &address, text, 64) ? text : std::wstring();
    // XP's IPv6 stack writes addresses through its provider; with no port, scope or flow
    // information the text is the bare address, in the same form as InetNtopW's.
    sockaddr_in6 full{};
    full.sin6_family = AF_INET6;
    full.sin6_addr = address;
    DWORD length = 64;
    if (WSAAddressToStringW(reinterpret_cast<sockaddr*>(&full), sizeof full, nullptr, text, &length) != 0) return {};
    return text;
}

bool AllowMessageFromShell(HWND window, UINT message) {
    constexpr DWORD kAllow = 1;  // MSGFLT_ALLOW (Windows 7) and MSGFLT_ADD (Vista) alike
    using ForWindowFn = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
    using ForProcessFn = BOOL(WINAPI*)(UINT, DWORD);
    static const ForWindowFn forWindow = Lookup<ForWindowFn>(L"user32.dll", "ChangeWindowMessageFilterEx");
    static const ForProcessFn forProcess = Lookup<ForProcessFn>(L"user32.dll", "ChangeWindowMessageFilter");
    if (forceXp) return true;
    if (forWindow) return forWindow(window, message, kAllow, nullptr) != FALSE;
    if (forProcess) return forProcess(message, kAllow) != FALSE;
    return true;
}

}  // namespace tovra::compat
