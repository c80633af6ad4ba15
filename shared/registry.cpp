#include "shared/registry.h"

#include <iterator>

#include "shared/compat.h"
#include "shared/win_handles.h"

namespace tovra {
namespace {

// Query, set, create sub-key, enumerate, notify and create link: enough to write, no delete.
constexpr REGSAM kWriteAccess = 0x3F;

// The view flag of a call. Windows 2000 refuses the flags, so they are only given where there
// are two views to choose from.
REGSAM ViewFlag(RegistryView view) {
    if (view == RegistryView::Native || !compat::Is64BitWindows()) return 0;
    return view == RegistryView::Bits64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

LONG DeleteKeyOnly(HKEY root, const std::wstring& path, REGSAM flag) {
    if (flag == 0) return RegDeleteKeyW(root, path.c_str());
    // Only RegDeleteKeyEx reaches the other view; where it is missing there is only one.
    using Fn = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
    static const Fn deleteEx = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"advapi32.dll"), "RegDeleteKeyExW")));
    return deleteEx ? deleteEx(root, path.c_str(), flag, 0) : RegDeleteKeyW(root, path.c_str());
}

class WindowsRegistry final : public Registry {
public:
    LONG SetString(HKEY root, const std::wstring& section, const std::wstring& name, const std::wstring& data,
                   RegistryView view) override {
        UniqueKey k;
        LONG r = RegCreateKeyExW(root, section.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 kWriteAccess | ViewFlag(view), nullptr, k.put(), nullptr);
        if (r != ERROR_SUCCESS) return r;
        // The terminating NUL is part of the stored data, so an empty setting stays an empty string.
        return RegSetValueExW(k.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                              static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    }

    LONG DeleteKey(HKEY root, const std::wstring& path, RegistryView view) override {
        REGSAM flag = ViewFlag(view);
        LONG r = DeleteKeyOnly(root, path, flag);
        if (r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
        UniqueKey key;
        LONG opened = RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE | flag, key.put());
        if (opened == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
        if (opened != ERROR_SUCCESS) return opened;
        for (;;) {
            // Value names are at most 16,383 characters.
            wchar_t name[16384];
            DWORD length = static_cast<DWORD>(std::size(name));
            LONG e = RegEnumValueW(key.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr);
            if (e == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;  // the values are gone, the subkeys stay
            if (e != ERROR_SUCCESS) return e;
            LONG d = RegDeleteValueW(key.get(), name);
            if (d != ERROR_SUCCESS) return d;
        }
    }
};

}  // namespace

std::vector<RegistryView> AllViews() {
    if (!compat::Is64BitWindows()) return {RegistryView::Native};
    return {RegistryView::Bits64, RegistryView::Bits32};
}

Registry& SystemRegistry() {
    static WindowsRegistry registry;
    return registry;
}

bool SaveSetting(const std::wstring& szRegistrySection, const std::wstring& szRegistryKey,
                 const std::wstring& szRegistrySetting, Registry& registry) {
    return registry.SetString(HKEY_LOCAL_MACHINE, szRegistrySection, szRegistryKey, szRegistrySetting) ==
           ERROR_SUCCESS;
}

bool SaveSettingCurrent(const std::wstring& szRegistrySection, const std::wstring& szRegistryKey,
                        const std::wstring& szRegistrySetting, Registry& registry) {
    return registry.SetString(HKEY_CURRENT_USER, szRegistrySection, szRegistryKey, szRegistrySetting) ==
           ERROR_SUCCESS;
}

std::wstring RootName(HKEY root) {
    if (root == HKEY_LOCAL_MACHINE) return L"HKEY_LOCAL_MACHINE";
    if (root == HKEY_CURRENT_USER) return L"HKEY_CURRENT_USER";
    return L"HKEY_USERS";
}

}  // namespace tovra
