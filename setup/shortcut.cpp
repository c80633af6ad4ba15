#include "setup/shortcut.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include "shared/file_system.h"
#include "shared/win_handles.h"

namespace tovra::setup {

bool PointShortcutInto(const std::wstring& link, const std::wstring& folder) {
    ComScope com;  // the installer's thread has no COM of its own otherwise
    ComPtr<IShellLinkW> shortcut;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, shortcut.put_void())))
        return false;
    auto file = shortcut.As<IPersistFile>(IID_IPersistFile);
    if (!file || FAILED(file->Load(link.c_str(), STGM_READWRITE))) return false;
    wchar_t target[MAX_PATH] = {};
    if (FAILED(shortcut->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH)) || !target[0]) return false;
    std::wstring path = target;
    size_t slash = path.find_last_of(L"\\/");
    const std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    const std::wstring wanted = fs::JoinPath(folder, name);
    if (fs::SamePath(path, wanted)) return true;
    if (FAILED(shortcut->SetPath(wanted.c_str())) || FAILED(shortcut->SetWorkingDirectory(folder.c_str())))
        return false;
    return SUCCEEDED(file->Save(link.c_str(), TRUE));
}

}  // namespace tovra::setup
