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

// Tests only: take the paths that Windows XP takes even where the newer functions exist.
void ForceXpPaths(bool force);
bool XpPathsForced();

}  // namespace tovra::compat
