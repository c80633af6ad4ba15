#include "main/popup/com_security.h"

#include <objbase.h>

#include "shared/win_handles.h"

namespace tovra::popup {

namespace {

// Both are in advapi32 from Windows 2000 on, but the list of what the programs may import from
// it holds only the registry; AddMandatoryAce, looked for below, arrived with the labels (Vista).
using ConvertSddlFn = BOOL(WINAPI*)(LPCWSTR sddl, DWORD revision, PSECURITY_DESCRIPTOR* sd, PULONG size);
using MakeAbsoluteFn = BOOL(WINAPI*)(PSECURITY_DESCRIPTOR relative, PSECURITY_DESCRIPTOR absolute, LPDWORD size,
                                     PACL dacl, LPDWORD daclSize, PACL sacl, LPDWORD saclSize, PSID owner,
                                     LPDWORD ownerSize, PSID group, LPDWORD groupSize);
constexpr DWORD kSddlRevision1 = 1;  // SDDL_REVISION_1

template <typename F>
F Find(HMODULE module, const char* name) {
    return module ? reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, name))) : nullptr;
}

class LocalMemory {
public:
    LocalMemory() = default;
    LocalMemory(const LocalMemory&) = delete;
    LocalMemory& operator=(const LocalMemory&) = delete;
    ~LocalMemory() { if (p_) ::LocalFree(p_); }
    PSECURITY_DESCRIPTOR* put() { return &p_; }
    PSECURITY_DESCRIPTOR get() const { return p_; }

private:
    PSECURITY_DESCRIPTOR p_ = nullptr;
};

BYTE* DataOrNull(std::vector<BYTE>& v) { return v.empty() ? nullptr : v.data(); }

}  // namespace

std::wstring BrowserCallersSddl(bool lowIntegrityLabel) {
    // Owner and group must be set for CoInitializeSecurity; they grant nothing here.
    std::wstring sddl = L"O:BAG:BA";
    // 0x3 is COM_RIGHTS_EXECUTE | COM_RIGHTS_EXECUTE_LOCAL: no calls from other machines. Everyone
    // (WD), and ALL APPLICATION PACKAGES for Enhanced Protected Mode tabs, spelled as its SID
    // because the "AC" alias is unknown before Windows 8.
    sddl += L"D:(A;;0x3;;;WD)(A;;0x3;;;S-1-15-2-1)";
    // COM checks a call as execute access: the label lets low-integrity callers in and still keeps
    // anything below low (untrusted) out.
    if (lowIntegrityLabel) sddl += L"S:(ML;;NX;;;LW)";
    return sddl;
}

AbsoluteSecurityDescriptor AbsoluteSecurityDescriptor::FromSddl(const std::wstring& sddl) {
    AbsoluteSecurityDescriptor out;
    UniqueModule advapi(::LoadLibraryW(L"advapi32.dll"));
    const auto convert = Find<ConvertSddlFn>(advapi.get(), "ConvertStringSecurityDescriptorToSecurityDescriptorW");
    const auto makeAbsolute = Find<MakeAbsoluteFn>(advapi.get(), "MakeAbsoluteSD");
    if (!convert || !makeAbsolute) {
        out.error_ = ERROR_PROC_NOT_FOUND;
        return out;
    }
    LocalMemory relative;
    if (!convert(sddl.c_str(), kSddlRevision1, relative.put(), nullptr)) {
        out.error_ = ::GetLastError();
        return out;
    }

    DWORD sizes[5] = {};
    makeAbsolute(relative.get(), nullptr, &sizes[0], nullptr, &sizes[1], nullptr, &sizes[2], nullptr, &sizes[3],
                 nullptr, &sizes[4]);
    std::vector<BYTE> descriptor(sizes[0]), dacl(sizes[1]), sacl(sizes[2]), owner(sizes[3]), group(sizes[4]);
    if (descriptor.empty() ||
        !makeAbsolute(relative.get(), descriptor.data(), &sizes[0], reinterpret_cast<PACL>(DataOrNull(dacl)),
                      &sizes[1], reinterpret_cast<PACL>(DataOrNull(sacl)), &sizes[2], DataOrNull(owner), &sizes[3],
                      DataOrNull(group), &sizes[4])) {
        out.error_ = descriptor.empty() ? ERROR_INVALID_SECURITY_DESCR : ::GetLastError();
        return out;
    }
    out.descriptor_ = std::move(descriptor);
    out.dacl_ = std::move(dacl);
    out.sacl_ = std::move(sacl);
    out.owner_ = std::move(owner);
    out.group_ = std::move(group);
    return out;
}

ComSecuritySystem ThisSystem() {
    ComSecuritySystem system;
    UniqueModule advapi(::LoadLibraryW(L"advapi32.dll"));
    system.mandatoryLabels = Find<FARPROC>(advapi.get(), "AddMandatoryAce") != nullptr;
    system.initialize = [](PSECURITY_DESCRIPTOR sd) {
        // COM's usual authentication and impersonation levels, so the program's own calls (to the
        // shell's list, to the browsers) go out as before; only who may call in changes.
        return ::CoInitializeSecurity(sd, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_CONNECT, RPC_C_IMP_LEVEL_IDENTIFY,
                                      nullptr, EOAC_NONE, nullptr);
    };
    return system;
}

CallerSecurityOutcome TryAllowBrowserEventCalls(const ComSecuritySystem& system) {
    CallerSecurityOutcome outcome{CallerSecurity::ComDefault, S_FALSE};
    if (!system.initialize) return outcome;
    // The labelled descriptor first where labels exist; the plain one where they do not, or where
    // the labelled one is refused.
    const bool labels[] = {true, false};
    for (bool label : labels) {
        if (label && !system.mandatoryLabels) continue;
        AbsoluteSecurityDescriptor sd = AbsoluteSecurityDescriptor::FromSddl(BrowserCallersSddl(label));
        if (!sd) continue;
        outcome.hr = system.initialize(sd.get());
        if (SUCCEEDED(outcome.hr)) {
            outcome.applied = label ? CallerSecurity::LowIntegrity : CallerSecurity::SameIntegrity;
            return outcome;
        }
        // Security is already fixed for the process; any other descriptor meets the same answer.
        if (outcome.hr == RPC_E_TOO_LATE) break;
    }
    return outcome;
}

}  // namespace tovra::popup
