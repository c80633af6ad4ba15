// Calls that only newer Windows versions export, loaded at run time with a path that Windows XP
// has. Each program imports nothing that XP SP3 lacks; these wrappers are the one place where a
// newer function is looked up.
#pragma once
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstddef>
#include <string>

namespace tovra::compat {

// Milliseconds since the system started, without the 49.7-day wrap of GetTickCount. Safe to
// call from any thread at any time, also before static initialisation has run.
ULONGLONG TickCount64();
// The XP path's step: the 64-bit count after `last` when GetTickCount now reads `now`. A value
// below the last one's low part means the counter wrapped (it is read far more often than every
// 49.7 days), which adds 2^32.
ULONGLONG ExtendTickCount(ULONGLONG last, DWORD now);

// Ordinal comparison of two names without regard to case, as the file system compares them:
// less than 0, 0 or greater than 0.
int CompareNoCase(const wchar_t* a, std::size_t an, const wchar_t* b, std::size_t bn);
inline bool EqualNoCase(const std::wstring& a, const std::wstring& b) {
    return CompareNoCase(a.data(), a.size(), b.data(), b.size()) == 0;
}

// FindFirstFileExW without the short names and with large fetches where the system offers
// them (Windows 7 on); the plain listing elsewhere.
HANDLE FindFirstFileFast(const wchar_t* pattern, WIN32_FIND_DATAW* data);

// An IPv4 address in dotted decimal ("127.0.0.1").
std::wstring Ipv4Text(const in_addr& address);
// An IPv6 address in the system's own text form ("::1", "2001:db8::1"), without scope or port;
// empty if the system cannot write it.
std::wstring Ipv6Text(const in6_addr& address);

// Lets the message reach the window also when this program runs with higher rights than the
// shell that sends it (Windows Vista on filters such messages out); before Vista there is no
// filter and nothing to do. False only if a filter exists and refused.
bool AllowMessageFromShell(HWND window, UINT message);

// ---- The system the program runs on ----------------------------------------------------------

// A 32-bit program on 64-bit Windows, where the registry and System32 have a second, 32-bit view.
bool IsWow64();
// 64-bit Windows, seen from a program of either build.
bool Is64BitWindows();

// Wine, which serves some of the shell's objects from other processes than Windows does and
// without parts of them; the few callers that must tell say why.
bool RunsUnderWine();

// True where User Account Control runs this program with a token that is not elevated (Vista on,
// filtered or standard user). False on Windows XP, which has no UAC, and for an elevated token.
bool RunsUnelevated();

// Takes the program's own folder and the current folder out of the DLL search for the rest of
// the process: only the system folder is searched where the system allows it (Windows 8 on, and
// 7 with its update), the current folder is left out elsewhere (XP SP1 on). Call it first.
void HardenDllSearch();

// A DLL of the system folder, loaded by its full path so that no copy elsewhere can stand in.
HMODULE LoadSystemLibrary(const wchar_t* name);

// Turns the file-system redirection of a 32-bit program on 64-bit Windows off on the calling
// thread for the scope's life, so that System32 is the real one and listed paths are where the
// files are. Nothing happens elsewhere (32-bit XP has not the calls, a 64-bit program needs none).
class FileSystemRedirectionOff {
public:
    FileSystemRedirectionOff();
    ~FileSystemRedirectionOff();
    FileSystemRedirectionOff(const FileSystemRedirectionOff&) = delete;
    FileSystemRedirectionOff& operator=(const FileSystemRedirectionOff&) = delete;
    bool active() const { return active_; }

    // Redirection back on for a scope inside, e.g. while the window's events run: a DLL they
    // load must be the 32-bit one.
    class Restored {
    public:
        explicit Restored(FileSystemRedirectionOff* off);
        ~Restored();
        Restored(const Restored&) = delete;
        Restored& operator=(const Restored&) = delete;

    private:
        FileSystemRedirectionOff* off_;
    };

private:
    void Disable();
    void Revert();
    void* old_ = nullptr;
    bool active_ = false;
};

// Tests only: take the paths that Windows XP takes even where the newer functions exist.
void ForceXpPaths(bool force);
bool XpPathsForced();

}  // namespace tovra::compat
