// The request block that the driver writes into a program under test and its probe DLL answers.
// Fixed-width fields only: both sides read the same bytes.
#pragma once
#include <cstdint>

namespace tovra::driver::probe {

inline constexpr wchar_t kDllName[] = L"tovra_menuprobe.dll";
inline constexpr char kEntryName[] = "TovraProbe";

enum Op : uint32_t {
    kReadMenu = 1,  // in: hwnd, path; out: found, id, state, popup
    kIconKind = 2,  // in: icon; out: iconKind
};

struct Request {
    uint32_t op;
    uint32_t reserved;
    uint64_t hwnd;
    uint64_t icon;
    wchar_t path[512];  // captions joined by '/', NUL-terminated
    // Answers.
    uint32_t done;
    uint32_t found;
    uint32_t id;
    uint32_t state;  // MFS_* flags of the entry
    uint32_t popup;  // the entry opens a submenu
    uint32_t iconKind;
};

}  // namespace tovra::driver::probe
