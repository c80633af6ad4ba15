#include "registry.h"

#include <windows.h>

#include "shared/win_handles.h"

namespace tovra {
namespace {

// Query, set, create sub-key, enumerate, notify and create link: enough to write, no delete.
constexpr REGSAM kWriteAccess = 0x3F;

void SaveSettingUnder(HKEY root, const std::string& section, const std::string& key,
                      const std::string& setting) {
    UniqueKey k;
    if (RegCreateKeyExA(root, section.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, kWriteAccess,
                        nullptr, k.put(), nullptr) != ERROR_SUCCESS) {
        return;
    }
    // The terminating NUL is part of the stored data, so an empty setting stays an empty string.
    RegSetValueExA(k.get(), key.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(setting.c_str()),
                   static_cast<DWORD>(setting.size() + 1));
}

}  // namespace

void SaveSetting(const std::string& szRegistrySection, const std::string& szRegistryKey,
                 const std::string& szRegistrySetting) {
    SaveSettingUnder(HKEY_LOCAL_MACHINE, szRegistrySection, szRegistryKey, szRegistrySetting);
}

void SaveSettingCurrent(const std::string& szRegistrySection, const std::string& szRegistryKey,
                        const std::string& szRegistrySetting) {
    SaveSettingUnder(HKEY_CURRENT_USER, szRegistrySection, szRegistryKey, szRegistrySetting);
}

}  // namespace tovra
