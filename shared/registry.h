// Writing string values under the machine and user roots, and deleting keys, in either of the
// two registry views of 64-bit Windows. Every call says whether it worked.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace tovra {

// Which view of HKEY_LOCAL_MACHINE\Software a call works in. On 64-bit Windows the 64-bit and
// the 32-bit programs each see their own Run key, IE settings and so on; elsewhere there is one.
enum class RegistryView {
    Native,  // the calling program's own
    Bits64,  // the 64-bit programs' view
    Bits32,  // the 32-bit programs' view (WOW6432Node)
};

// The views this system keeps apart: both on 64-bit Windows, the native one elsewhere.
std::vector<RegistryView> AllViews();

// The registry as the suite's writers use it: the seam through which tests make a write fail.
class Registry {
public:
    virtual ~Registry() = default;
    // Stores a REG_SZ value under root\section, creating the key path. ERROR_SUCCESS or the
    // system's error; a failed write leaves the registry as it was.
    virtual LONG SetString(HKEY root, const std::wstring& section, const std::wstring& name,
                           const std::wstring& data, RegistryView view = RegistryView::Native) = 0;
    // Deletes root\path with the values it holds. Where the key cannot go (it has subkeys, which
    // Windows NT will not delete with it), its values go all the same. A missing key counts as
    // deleted: ERROR_SUCCESS.
    virtual LONG DeleteKey(HKEY root, const std::wstring& path, RegistryView view = RegistryView::Native) = 0;
};

// The system's registry.
Registry& SystemRegistry();

// Store a REG_SZ value under HKEY_LOCAL_MACHINE\section, creating the key path; true when it
// was written.
bool SaveSetting(const std::wstring& szRegistrySection, const std::wstring& szRegistryKey,
                 const std::wstring& szRegistrySetting, Registry& registry = SystemRegistry());

// The same under HKEY_CURRENT_USER.
bool SaveSettingCurrent(const std::wstring& szRegistrySection, const std::wstring& szRegistryKey,
                        const std::wstring& szRegistrySetting, Registry& registry = SystemRegistry());

// A root's name as the user knows it: "HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER".
std::wstring RootName(HKEY root);

}  // namespace tovra
