// The process's call security: the descriptor that lets Protected Mode browsers' events reach the
// sinks, and what happens where the system refuses it.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <sstream>
#include <string>
#include <vector>

#include "main/popup/com_security.h"
#include "shared/win_handles.h"

namespace tovra::popup::test {
namespace {

// Declared here: the SDK names them only for Vista targets.
constexpr BYTE kMandatoryLabelAceType = 0x11;  // SYSTEM_MANDATORY_LABEL_ACE_TYPE

bool OnWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

std::wstring SidText(PSID sid) {
    LPWSTR text = nullptr;
    if (!sid || !ConvertSidToStringSidW(sid, &text)) return L"?";
    std::wstring out(text);
    LocalFree(text);
    return out;
}

void DescribeAcl(std::wostringstream& s, const wchar_t* name, BOOL present, PACL acl) {
    s << L' ' << name << L'=';
    if (!present) {
        s << L"none";
        return;
    }
    s << L'[';
    for (DWORD i = 0; acl && i < acl->AceCount; ++i) {
        ACE_HEADER* ace = nullptr;
        if (!GetAce(acl, i, reinterpret_cast<void**>(&ace))) {
            s << L"?";
            continue;
        }
        // Allowed and label ACEs share the layout: header, mask, SID.
        const auto* body = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(ace);
        s << (i ? L" " : L"") << (ace->AceType == ACCESS_ALLOWED_ACE_TYPE ? L"allow"
                                  : ace->AceType == kMandatoryLabelAceType ? L"label"
                                                                            : L"other")
          << L':' << SidText(const_cast<DWORD*>(&body->SidStart)) << L":0x" << std::hex << body->Mask << std::dec;
    }
    s << L']';
}

// A descriptor as one line: format, owner, group, DACL and SACL.
std::wstring Describe(PSECURITY_DESCRIPTOR sd) {
    if (!sd || !IsValidSecurityDescriptor(sd)) return L"invalid";
    std::wostringstream s;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(sd, &control, &revision);
    s << ((control & SE_SELF_RELATIVE) ? L"self-relative" : L"absolute");
    PSID owner = nullptr, group = nullptr;
    BOOL defaulted = FALSE;
    GetSecurityDescriptorOwner(sd, &owner, &defaulted);
    GetSecurityDescriptorGroup(sd, &group, &defaulted);
    s << L" owner=" << SidText(owner) << L" group=" << SidText(group);
    BOOL present = FALSE;
    PACL acl = nullptr;
    GetSecurityDescriptorDacl(sd, &present, &acl, &defaulted);
    DescribeAcl(s, L"dacl", present, acl);
    present = FALSE;
    acl = nullptr;
    GetSecurityDescriptorSacl(sd, &present, &acl, &defaulted);
    DescribeAcl(s, L"sacl", present, acl);
    return s.str();
}

// Administrators as owner and group; local calls (COM_RIGHTS_EXECUTE | COM_RIGHTS_EXECUTE_LOCAL)
// for Everyone and ALL APPLICATION PACKAGES; the label: low (S-1-16-4096), no execute up.
const wchar_t kPlain[] =
    L"absolute owner=S-1-5-32-544 group=S-1-5-32-544 dacl=[allow:S-1-1-0:0x3 allow:S-1-15-2-1:0x3] sacl=none";
const wchar_t kLabelled[] =
    L"absolute owner=S-1-5-32-544 group=S-1-5-32-544 dacl=[allow:S-1-1-0:0x3 allow:S-1-15-2-1:0x3] "
    L"sacl=[label:S-1-16-4096:0x4]";

// Wine 8 parses the label as Windows does: one mandatory-label ACE in the SACL with the low SID.
TEST(ComSecurityTest, DescriptorsWithAndWithoutTheLowLabel) {
    const struct {
        bool label;
        const wchar_t* expected;
    } cases[] = {{false, kPlain}, {true, kLabelled}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label ? "with label" : "without label");
        AbsoluteSecurityDescriptor sd = AbsoluteSecurityDescriptor::FromSddl(BrowserCallersSddl(c.label));
        ASSERT_TRUE(sd) << "error " << sd.error();
        EXPECT_EQ(sd.error(), static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_EQ(Describe(sd.get()), c.expected);
        // Its parts stay where they are when it moves.
        AbsoluteSecurityDescriptor moved = std::move(sd);
        EXPECT_FALSE(sd);
        EXPECT_EQ(Describe(moved.get()), c.expected);
    }
}

TEST(ComSecurityTest, TextThatDoesNotParseGivesNoDescriptor) {
    for (const wchar_t* text : {L"garbage", L"O:BAG:BAD:(A;;0x3;;;NOSUCHSID)", L"S:(ML;;NX;;;)"}) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(text)));
        SetLastError(0xdeadbeef);
        AbsoluteSecurityDescriptor sd = AbsoluteSecurityDescriptor::FromSddl(text);
        EXPECT_FALSE(sd);
        EXPECT_EQ(sd.get(), nullptr);
        EXPECT_NE(sd.error(), static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_NE(sd.error(), 0xdeadbeefu);
    }
}

// What is set for each answer of CoInitializeSecurity, and with which descriptors it was asked.
TEST(ComSecurityTest, OutcomeByTheSystemsAnswers) {
    const struct Case {
        const char* what;
        bool labels;
        std::vector<HRESULT> answers;
        CallerSecurity applied;
        HRESULT hr;
        std::vector<std::wstring> asked;
    } cases[] = {
        {"Vista on", true, {S_OK}, CallerSecurity::LowIntegrity, S_OK, {kLabelled}},
        {"Windows XP", false, {S_OK}, CallerSecurity::SameIntegrity, S_OK, {kPlain}},
        {"label refused", true, {E_INVALIDARG, S_OK}, CallerSecurity::SameIntegrity, S_OK, {kLabelled, kPlain}},
        {"too late", true, {RPC_E_TOO_LATE}, CallerSecurity::ComDefault, RPC_E_TOO_LATE, {kLabelled}},
        {"too late on XP", false, {RPC_E_TOO_LATE}, CallerSecurity::ComDefault, RPC_E_TOO_LATE, {kPlain}},
        {"refused", true, {E_ACCESSDENIED, E_ACCESSDENIED}, CallerSecurity::ComDefault, E_ACCESSDENIED,
         {kLabelled, kPlain}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::wstring> asked;
        ComSecuritySystem system;
        system.mandatoryLabels = c.labels;
        system.initialize = [&](PSECURITY_DESCRIPTOR sd) {
            asked.push_back(Describe(sd));
            return asked.size() <= c.answers.size() ? c.answers[asked.size() - 1] : E_UNEXPECTED;
        };
        const CallerSecurityOutcome outcome = TryAllowBrowserEventCalls(system);
        EXPECT_EQ(outcome.applied, c.applied);
        EXPECT_EQ(outcome.hr, c.hr);
        EXPECT_EQ(asked, c.asked);
    }
    // Without the call at all nothing is set, and nothing fails.
    const CallerSecurityOutcome none = TryAllowBrowserEventCalls(ComSecuritySystem{});
    EXPECT_EQ(none.applied, CallerSecurity::ComDefault);
    EXPECT_EQ(none.hr, S_FALSE);
}

// The real call, twice in one process. Windows answers the second one (and the first, if this
// process has marshalled an interface before) with RPC_E_TOO_LATE; Wine 8's CoInitializeSecurity
// is a stub that answers S_OK to every call, so there both calls apply the label.
TEST(ComSecurityTest, ThisSystem) {
    ComScope com;
    ASSERT_TRUE(com.ok());
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    ASSERT_TRUE(GetVersionExW(&version));
    const ComSecuritySystem system = ThisSystem();
    EXPECT_EQ(system.mandatoryLabels, version.dwMajorVersion >= 6);
    ASSERT_TRUE(system.initialize);

    const CallerSecurityOutcome first = TryAllowBrowserEventCalls();
    const CallerSecurityOutcome second = TryAllowBrowserEventCalls();
    const CallerSecurity labelled = system.mandatoryLabels ? CallerSecurity::LowIntegrity : CallerSecurity::SameIntegrity;
    if (OnWine()) {
        EXPECT_EQ(first.applied, labelled);
        EXPECT_EQ(first.hr, S_OK);
        EXPECT_EQ(second.applied, labelled);
        EXPECT_EQ(second.hr, S_OK);
    } else {
        if (first.hr != RPC_E_TOO_LATE) {
            EXPECT_EQ(first.applied, labelled);
            EXPECT_EQ(first.hr, S_OK);
        }
        EXPECT_EQ(second.applied, CallerSecurity::ComDefault);
        EXPECT_EQ(second.hr, RPC_E_TOO_LATE);
    }
}

}  // namespace
}  // namespace tovra::popup::test
