// Finding and starting the Windows "System Information" program for the About box.
#pragma once
#include <windows.h>

#include <string>

#include "main/shell/launcher.h"

namespace tovra::shell {

// Reads one registry value as text into KeyVal: a string as it is, a 32-bit number as "&h" and
// its hexadecimal digits; any other type leaves KeyVal as it was. The key is opened for reading
// only, so every user can look. False (and KeyVal empty) when the key or the value cannot be read.
bool GetKeyValue(HKEY KeyRoot, const std::wstring& KeyName, const std::wstring& SubKeyRef, std::wstring& KeyVal);

constexpr const wchar_t* kMsInfoKey = L"SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
constexpr const wchar_t* kMsInfoValue = L"PATH";
constexpr const wchar_t* kMsInfoLocationKey = L"SOFTWARE\\Microsoft\\Shared Tools Location";
constexpr const wchar_t* kMsInfoLocationValue = L"MSINFO";
constexpr const wchar_t* kSysInfoUnavailable = L"System Information Is Unavailable At This Time";

// Starts System Information from where the machine's registry says it is, or tells the user that
// it is not available (a box titled appTitle, owned by owner). True when it was started.
bool StartSysInfo(HWND owner, Launcher& launcher, const std::wstring& appTitle);

}  // namespace tovra::shell
