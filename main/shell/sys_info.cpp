#include "main/shell/sys_info.h"

#include <vector>

#include "shared/message_box.h"
#include "shared/win_handles.h"

namespace tovra::shell {
namespace {

bool IsFile(const std::wstring& path) {
    DWORD attrs = GetFileAttributesW(path.c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && !(attrs & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring HexDigits(DWORD value) {
    const wchar_t* digits = L"0123456789ABCDEF";
    std::wstring out;
    do {
        out.insert(out.begin(), digits[value & 0xF]);
        value >>= 4;
    } while (value);
    return out;
}

}  // namespace

bool GetKeyValue(HKEY KeyRoot, const std::wstring& KeyName, const std::wstring& SubKeyRef, std::wstring& KeyVal) {
    UniqueKey key;
    if (RegOpenKeyExW(KeyRoot, KeyName.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        KeyVal.clear();
        return false;
    }
    DWORD type = 0;
    std::vector<BYTE> data(1024);
    LONG rc;
    for (;;) {
        DWORD size = static_cast<DWORD>(data.size());
        rc = RegQueryValueExW(key.get(), SubKeyRef.c_str(), nullptr, &type, data.data(), &size);
        if (rc == ERROR_MORE_DATA) {
            data.resize(static_cast<size_t>(size) + sizeof(wchar_t));
            continue;
        }
        data.resize(size);
        break;
    }
    if (rc != ERROR_SUCCESS) {
        KeyVal.clear();
        return false;
    }
    if (type == REG_SZ) {
        // The stored text may or may not carry its NUL; it ends at the first one either way.
        std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
        size_t nul = text.find(L'\0');
        if (nul != std::wstring::npos) text.resize(nul);
        KeyVal = text;
    } else if (type == REG_DWORD && data.size() >= sizeof(DWORD)) {
        DWORD value = 0;
        memcpy(&value, data.data(), sizeof value);
        KeyVal = L"&h" + HexDigits(value);
    }
    return true;
}

bool StartSysInfo(HWND owner, Launcher& launcher, const std::wstring& appTitle) {
    std::wstring path;
    if (GetKeyValue(HKEY_LOCAL_MACHINE, kMsInfoKey, kMsInfoValue, path)) {
        // The first place names the program itself: started without looking for the file first.
        if (!path.empty() && launcher.Start(Quoted(path), SW_SHOWNORMAL)) return true;
    } else if (GetKeyValue(HKEY_LOCAL_MACHINE, kMsInfoLocationKey, kMsInfoLocationValue, path)) {
        path += L"\\MSINFO32.EXE";
        if (IsFile(path) && launcher.Start(Quoted(path), SW_SHOWNORMAL)) return true;
    }
    ShowMessageBox(owner, kSysInfoUnavailable, appTitle, MB_OK);
    return false;
}

}  // namespace tovra::shell
