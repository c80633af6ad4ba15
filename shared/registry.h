// Writing string values under the machine and user roots.
#pragma once
#include <string>

namespace tovra {

// Store a REG_SZ value under HKEY_LOCAL_MACHINE\section, creating the key path.
// Failures leave the registry as it was and are not reported: callers go on.
void SaveSetting(const std::string& szRegistrySection, const std::string& szRegistryKey,
                 const std::string& szRegistrySetting);

// The same under HKEY_CURRENT_USER.
void SaveSettingCurrent(const std::string& szRegistrySection, const std::string& szRegistryKey,
                        const std::string& szRegistrySetting);

}  // namespace tovra
