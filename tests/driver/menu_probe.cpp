// Loaded into a program under test by the driver: menus and icon handles belong to their process
// under Wine, so they are read here and the answers written back into the request block.
#include <windows.h>

#include <string>
#include <vector>

#include "tests/driver/probe_protocol.h"

namespace {

using tovra::driver::probe::Request;

// "E&xit\tAlt+F4" -> "Exit", "Fish && Chips" -> "Fish & Chips": the caption as the user reads it,
// for paths written without access keys.
std::wstring PlainCaption(const std::wstring& caption) {
    std::wstring out;
    for (size_t i = 0; i < caption.size(); ++i) {
        wchar_t c = caption[i];
        if (c == L'\t') break;
        if (c == L'&') {
            if (i + 1 < caption.size() && caption[i + 1] == L'&') out += L'&', ++i;
            continue;
        }
        out += c;
    }
    return out;
}

bool CaptionMatches(const std::wstring& caption, const std::wstring& wanted) {
    if (caption == wanted) return true;
    std::wstring beforeTab = caption.substr(0, caption.find(L'\t'));
    if (beforeTab == wanted) return true;
    return PlainCaption(caption) == wanted;
}

std::vector<std::wstring> SplitPath(const wchar_t* path) {
    std::vector<std::wstring> parts(1);
    for (; *path; ++path) {
        if (*path == L'/') parts.emplace_back();
        else parts.back() += *path;
    }
    return parts;
}

void ReadMenu(Request& r) {
    HMENU menu = GetMenu(reinterpret_cast<HWND>(static_cast<uintptr_t>(r.hwnd)));
    std::vector<std::wstring> parts = SplitPath(r.path);
    for (size_t level = 0; menu && level < parts.size(); ++level) {
        int count = GetMenuItemCount(menu);
        int hit = -1;
        for (int pos = 0; pos < count && hit < 0; ++pos) {
            wchar_t text[512] = {};
            GetMenuStringW(menu, pos, text, 512, MF_BYPOSITION);
            if (CaptionMatches(text, parts[level])) hit = pos;
        }
        if (hit < 0) return;
        MENUITEMINFOW info{sizeof info};
        info.fMask = MIIM_ID | MIIM_STATE | MIIM_SUBMENU;
        if (!GetMenuItemInfoW(menu, hit, TRUE, &info)) return;
        if (level + 1 == parts.size()) {
            r.found = 1;
            r.popup = info.hSubMenu != nullptr;
            r.id = info.hSubMenu ? 0 : info.wID;
            r.state = info.fState;
            return;
        }
        menu = info.hSubMenu;
    }
}

void IconKind(Request& r) {
    // LoadIcon shares the system icons within a process, so a message box holds these very handles.
    struct Known {
        const wchar_t* resource;
        UINT kind;
    };
    const Known known[] = {
        {IDI_HAND, MB_ICONHAND},
        {IDI_QUESTION, MB_ICONQUESTION},
        {IDI_EXCLAMATION, MB_ICONEXCLAMATION},
        {IDI_ASTERISK, MB_ICONASTERISK},
    };
    HICON icon = reinterpret_cast<HICON>(static_cast<uintptr_t>(r.icon));
    r.iconKind = icon ? MB_USERICON : 0;
    for (const Known& k : known) {
        if (LoadIconW(nullptr, k.resource) == icon) r.iconKind = k.kind;
    }
}

}  // namespace

// Exported by name through menu_probe.def (no stdcall decoration on 32-bit builds).
extern "C" DWORD WINAPI TovraProbe(void* param) {
    auto* r = static_cast<Request*>(param);
    if (!r) return 0;
    switch (r->op) {
    case tovra::driver::probe::kReadMenu: ReadMenu(*r); break;
    case tovra::driver::probe::kIconKind: IconKind(*r); break;
    default: return 0;
    }
    r->done = 1;
    return 1;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
