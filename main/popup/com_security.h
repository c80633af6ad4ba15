// Who may call into tovra's COM objects. The sinks' events come from Internet Explorer's own
// processes, which from Vista on run pages at low integrity (Protected Mode) and from Windows 8 on
// may run them in an app container (Enhanced Protected Mode). COM's default call security refuses
// both, and the pop-ups of every such browser would get through.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace tovra::popup {

// The SDDL text of the access rights: local calls from everyone, app containers included; with the
// label, from low integrity up.
std::wstring BrowserCallersSddl(bool lowIntegrityLabel);

// A security descriptor in the absolute format that CoInitializeSecurity insists on (it refuses
// the self-relative one that the SDDL conversion gives). Movable: its parts live on the heap.
class AbsoluteSecurityDescriptor {
public:
    // Empty when the system lacks the conversion or the text does not parse; error() says why.
    static AbsoluteSecurityDescriptor FromSddl(const std::wstring& sddl);

    AbsoluteSecurityDescriptor() = default;
    AbsoluteSecurityDescriptor(AbsoluteSecurityDescriptor&&) = default;
    AbsoluteSecurityDescriptor& operator=(AbsoluteSecurityDescriptor&&) = default;
    AbsoluteSecurityDescriptor(const AbsoluteSecurityDescriptor&) = delete;
    AbsoluteSecurityDescriptor& operator=(const AbsoluteSecurityDescriptor&) = delete;

    PSECURITY_DESCRIPTOR get() { return descriptor_.empty() ? nullptr : descriptor_.data(); }
    explicit operator bool() const { return !descriptor_.empty(); }
    DWORD error() const { return error_; }

private:
    // The descriptor points into the other four.
    std::vector<BYTE> descriptor_, dacl_, sacl_, owner_, group_;
    DWORD error_ = ERROR_SUCCESS;
};

// What the process's call security is set with; tests pass their own.
struct ComSecuritySystem {
    // The system understands mandatory integrity labels (Vista on); older ones refuse the label.
    bool mandatoryLabels = false;
    // CoInitializeSecurity with the descriptor and this program's other settings.
    std::function<HRESULT(PSECURITY_DESCRIPTOR)> initialize;
};
ComSecuritySystem ThisSystem();

enum class CallerSecurity {
    LowIntegrity,  // the labelled descriptor: Protected Mode browsers reach the sinks
    SameIntegrity, // the descriptor without the label (Windows XP, or the label refused)
    ComDefault,    // nothing set: COM's defaults stay, same-integrity browsers still reach the sinks
};
struct CallerSecurityOutcome {
    CallerSecurity applied;
    HRESULT hr;  // of the last CoInitializeSecurity call; S_FALSE when none was made
};

// Sets the process's call security so that browser events reach the sinks. Call once on the main
// thread after COM is initialised and before any COM object is made: the first interface that is
// marshalled fixes the security for good (RPC_E_TOO_LATE after that). Never throws; where nothing
// can be set, the defaults stay and only Protected Mode browsers go unwatched.
CallerSecurityOutcome TryAllowBrowserEventCalls(const ComSecuritySystem& system = ThisSystem());

}  // namespace tovra::popup
