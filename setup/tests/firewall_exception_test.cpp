// The firewall exception for tovra.exe: the COM code against in-process doubles of Windows
// Firewall (XP SP2's list of authorized applications, Vista's rules), the real firewall of this
// Wine prefix, and the installer's use of it through its seam.
#include <gtest/gtest.h>
#include <windows.h>
#include <netfw.h>

#include <algorithm>
#include <cwchar>
#include <map>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "setup/firewall_exception.h"
#include "setup/installer.h"
#include "setup/tests/system_snapshot.h"
#include "shared/message_box.h"
#include "shared/win_handles.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace tovra::setup;
using tovra::ComPtr;
using Outcome = FirewallChange::Outcome;
namespace t = tovra::test;
namespace st = tovra::setup::test;

const wchar_t kProgram[] = L"C:\\Program Files\\tovra\\tovra.exe";
const wchar_t kName[] = L"Tovra Internet Security 1.0";

std::string Narrow(const std::wstring& s) {
    std::string out;
    for (wchar_t c : s) out += c < 128 ? static_cast<char>(c) : '?';
    return out;
}

const char* OutcomeName(Outcome o) {
    return o == Outcome::Done ? "done" : o == Outcome::NoFirewall ? "no firewall" : "refused";
}

// ---- Doubles of Windows Firewall ----------------------------------------------------------------

// Which Windows the doubles play.
enum class Family {
    NoFirewall,  // before XP SP2: no firewall class at all
    XpSp2,       // the manager and its list of authorized applications
    Vista,       // also the rules; an entry in the list brings rules of its own, as Vista's does
};

// What the doubled firewall holds and how it answers; every double works on one of these.
struct FirewallState {
    struct App {
        std::wstring image, name;
        NET_FW_SCOPE scope;
        VARIANT_BOOL enabled;
        bool operator==(const App&) const = default;
    };
    struct Rule {
        std::wstring name, application;
        LONG protocol;
        NET_FW_RULE_DIRECTION direction;
        NET_FW_ACTION action;
        LONG profiles;
        VARIANT_BOOL enabled;
        bool operator==(const Rule&) const = default;
    };

    explicit FirewallState(Family f) : family(f) {}

    Family family;
    std::vector<App> apps;
    std::vector<Rule> rules;
    // Calls that fail, by "Interface::Method" or "CoCreateInstance Class", with their answer.
    std::map<std::string, HRESULT> failures;
    // Rules Remove answers S_OK and keeps the rule.
    bool rulesStay = false;
    int live = 0;  // doubles not yet released
    int rulesRemoveCalls = 0;

    HRESULT Answer(const char* call) const {
        auto it = failures.find(call);
        return it == failures.end() ? S_OK : it->second;
    }
    // The rules Vista and later make from a list entry: TCP and UDP, current profile (private).
    void AddDerivedRules(const App& app) {
        for (LONG protocol : {LONG{NET_FW_IP_PROTOCOL_TCP}, LONG{NET_FW_IP_PROTOCOL_UDP}}) {
            rules.push_back({app.name, app.image, protocol, NET_FW_RULE_DIR_IN, NET_FW_ACTION_ALLOW,
                             NET_FW_PROFILE2_PRIVATE, app.enabled});
        }
    }
    void RemoveDerivedRules(const App& app) {
        std::erase_if(rules, [&](const Rule& r) {
            return r.name == app.name && r.application == app.image && r.profiles == NET_FW_PROFILE2_PRIVATE;
        });
    }
};

// Readable failures: gtest would print the records as bytes.
void PrintTo(const FirewallState::App& a, std::ostream* os) {
    *os << "{" << Narrow(a.image) << ", " << Narrow(a.name) << ", scope " << a.scope << ", enabled " << a.enabled << "}";
}
void PrintTo(const FirewallState::Rule& r, std::ostream* os) {
    *os << "{" << Narrow(r.name) << ", " << Narrow(r.application) << ", protocol " << r.protocol << ", direction "
        << r.direction << ", action " << r.action << ", profiles 0x" << std::hex << r.profiles << std::dec
        << ", enabled " << r.enabled << "}";
}

std::wstring Str(BSTR b) { return b ? std::wstring(b, SysStringLen(b)) : std::wstring(); }
BSTR Alloc(const std::wstring& s) { return SysAllocStringLen(s.data(), static_cast<UINT>(s.size())); }

#define NOT_USED(method, ...) \
    STDMETHODIMP method(__VA_ARGS__) override { return E_NOTIMPL; }
#define FAIL_IF_ASKED(call)                    \
    if (HRESULT hr_ = state_.Answer(call); FAILED(hr_)) return hr_

// Counted IUnknown and an IDispatch nobody calls, for one firewall interface.
template <typename I>
class Fake : public I {
public:
    explicit Fake(FirewallState& state) : state_(state) { ++state_.live; }
    virtual ~Fake() { --state_.live; }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == __uuidof(I)) {
            *out = static_cast<I*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        const long n = --refs_;
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }
    NOT_USED(GetTypeInfoCount, UINT*)
    NOT_USED(GetTypeInfo, UINT, LCID, ITypeInfo**)
    NOT_USED(GetIDsOfNames, REFIID, LPOLESTR*, UINT, LCID, DISPID*)
    NOT_USED(Invoke, DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*)

protected:
    // Hands out a new double as the caller's reference.
    template <typename D, typename Out>
    HRESULT Give(Out** out) {
        if (!out) return E_POINTER;
        *out = new D(state_);
        return S_OK;
    }
    FirewallState& state_;

private:
    long refs_ = 1;
};

class FakeApplication final : public Fake<INetFwAuthorizedApplication> {
public:
    using Fake::Fake;
    STDMETHODIMP get_Name(BSTR* v) override { *v = Alloc(app_.name); return S_OK; }
    STDMETHODIMP put_Name(BSTR v) override { app_.name = Str(v); return state_.Answer("INetFwAuthorizedApplication::put_Name"); }
    STDMETHODIMP get_ProcessImageFileName(BSTR* v) override { *v = Alloc(app_.image); return S_OK; }
    STDMETHODIMP put_ProcessImageFileName(BSTR v) override {
        FAIL_IF_ASKED("INetFwAuthorizedApplication::put_ProcessImageFileName");
        app_.image = Str(v);
        return S_OK;
    }
    NOT_USED(get_IpVersion, NET_FW_IP_VERSION*)
    NOT_USED(put_IpVersion, NET_FW_IP_VERSION)
    STDMETHODIMP get_Scope(NET_FW_SCOPE* v) override { *v = app_.scope; return S_OK; }
    STDMETHODIMP put_Scope(NET_FW_SCOPE v) override { app_.scope = v; return S_OK; }
    NOT_USED(get_RemoteAddresses, BSTR*)
    NOT_USED(put_RemoteAddresses, BSTR)
    STDMETHODIMP get_Enabled(VARIANT_BOOL* v) override { *v = app_.enabled; return S_OK; }
    STDMETHODIMP put_Enabled(VARIANT_BOOL v) override { app_.enabled = v; return S_OK; }

private:
    FirewallState::App app_{L"", L"", NET_FW_SCOPE_LOCAL_SUBNET, VARIANT_FALSE};  // not Windows' defaults on purpose
};

class FakeApplications final : public Fake<INetFwAuthorizedApplications> {
public:
    using Fake::Fake;
    STDMETHODIMP get_Count(LONG* n) override { *n = static_cast<LONG>(state_.apps.size()); return S_OK; }
    STDMETHODIMP Add(INetFwAuthorizedApplication* a) override {
        FAIL_IF_ASKED("INetFwAuthorizedApplications::Add");
        FirewallState::App app{};
        BSTR image = nullptr, name = nullptr;
        a->get_ProcessImageFileName(&image);
        a->get_Name(&name);
        app.image = Str(image);
        app.name = Str(name);
        SysFreeString(image);
        SysFreeString(name);
        a->get_Scope(&app.scope);
        a->get_Enabled(&app.enabled);
        // One entry per program: a second Add replaces it.
        Forget(app.image);
        state_.apps.push_back(app);
        if (state_.family == Family::Vista) state_.AddDerivedRules(app);
        return S_OK;
    }
    STDMETHODIMP Remove(BSTR image) override {
        FAIL_IF_ASKED("INetFwAuthorizedApplications::Remove");
        return Forget(Str(image)) ? S_OK : HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    NOT_USED(Item, BSTR, INetFwAuthorizedApplication**)
    NOT_USED(get__NewEnum, IUnknown**)

private:
    bool Forget(const std::wstring& image) {
        auto it = std::find_if(state_.apps.begin(), state_.apps.end(), [&](const FirewallState::App& a) {
            return _wcsicmp(a.image.c_str(), image.c_str()) == 0;
        });
        if (it == state_.apps.end()) return false;
        if (state_.family == Family::Vista) state_.RemoveDerivedRules(*it);
        state_.apps.erase(it);
        return true;
    }
};

class FakeProfile final : public Fake<INetFwProfile> {
public:
    using Fake::Fake;
    NOT_USED(get_Type, NET_FW_PROFILE_TYPE*)
    STDMETHODIMP get_FirewallEnabled(VARIANT_BOOL* v) override { *v = VARIANT_TRUE; return S_OK; }
    NOT_USED(put_FirewallEnabled, VARIANT_BOOL)
    NOT_USED(get_ExceptionsNotAllowed, VARIANT_BOOL*)
    NOT_USED(put_ExceptionsNotAllowed, VARIANT_BOOL)
    NOT_USED(get_NotificationsDisabled, VARIANT_BOOL*)
    NOT_USED(put_NotificationsDisabled, VARIANT_BOOL)
    NOT_USED(get_UnicastResponsesToMulticastBroadcastDisabled, VARIANT_BOOL*)
    NOT_USED(put_UnicastResponsesToMulticastBroadcastDisabled, VARIANT_BOOL)
    NOT_USED(get_RemoteAdminSettings, INetFwRemoteAdminSettings**)
    NOT_USED(get_IcmpSettings, INetFwIcmpSettings**)
    NOT_USED(get_GloballyOpenPorts, INetFwOpenPorts**)
    NOT_USED(get_Services, INetFwServices**)
    STDMETHODIMP get_AuthorizedApplications(INetFwAuthorizedApplications** out) override {
        FAIL_IF_ASKED("INetFwProfile::get_AuthorizedApplications");
        return Give<FakeApplications>(out);
    }
};

class FakePolicy final : public Fake<INetFwPolicy> {
public:
    using Fake::Fake;
    STDMETHODIMP get_CurrentProfile(INetFwProfile** out) override {
        FAIL_IF_ASKED("INetFwPolicy::get_CurrentProfile");
        return Give<FakeProfile>(out);
    }
    NOT_USED(GetProfileByType, NET_FW_PROFILE_TYPE, INetFwProfile**)
};

class FakeManager final : public Fake<INetFwMgr> {
public:
    using Fake::Fake;
    STDMETHODIMP get_LocalPolicy(INetFwPolicy** out) override {
        FAIL_IF_ASKED("INetFwMgr::get_LocalPolicy");
        return Give<FakePolicy>(out);
    }
    NOT_USED(get_CurrentProfileType, NET_FW_PROFILE_TYPE*)
    NOT_USED(RestoreDefaults)
    NOT_USED(IsPortAllowed, BSTR, NET_FW_IP_VERSION, LONG, BSTR, NET_FW_IP_PROTOCOL, VARIANT*, VARIANT*)
    NOT_USED(IsIcmpTypeAllowed, NET_FW_IP_VERSION, BSTR, BYTE, VARIANT*, VARIANT*)
};

class FakeRule final : public Fake<INetFwRule> {
public:
    using Fake::Fake;
    FakeRule(FirewallState& state, const FirewallState::Rule& rule) : Fake(state), rule_(rule) {}
    STDMETHODIMP get_Name(BSTR* v) override { *v = Alloc(rule_.name); return S_OK; }
    STDMETHODIMP put_Name(BSTR v) override { rule_.name = Str(v); return S_OK; }
    NOT_USED(get_Description, BSTR*)
    NOT_USED(put_Description, BSTR)
    STDMETHODIMP get_ApplicationName(BSTR* v) override { *v = Alloc(rule_.application); return S_OK; }
    STDMETHODIMP put_ApplicationName(BSTR v) override {
        FAIL_IF_ASKED("INetFwRule::put_ApplicationName");
        rule_.application = Str(v);
        return S_OK;
    }
    NOT_USED(get_ServiceName, BSTR*)
    NOT_USED(put_ServiceName, BSTR)
    STDMETHODIMP get_Protocol(LONG* v) override { *v = rule_.protocol; return S_OK; }
    STDMETHODIMP put_Protocol(LONG v) override { rule_.protocol = v; return S_OK; }
    NOT_USED(get_LocalPorts, BSTR*)
    NOT_USED(put_LocalPorts, BSTR)
    NOT_USED(get_RemotePorts, BSTR*)
    NOT_USED(put_RemotePorts, BSTR)
    NOT_USED(get_LocalAddresses, BSTR*)
    NOT_USED(put_LocalAddresses, BSTR)
    NOT_USED(get_RemoteAddresses, BSTR*)
    NOT_USED(put_RemoteAddresses, BSTR)
    NOT_USED(get_IcmpTypesAndCodes, BSTR*)
    NOT_USED(put_IcmpTypesAndCodes, BSTR)
    STDMETHODIMP get_Direction(NET_FW_RULE_DIRECTION* v) override { *v = rule_.direction; return S_OK; }
    STDMETHODIMP put_Direction(NET_FW_RULE_DIRECTION v) override { rule_.direction = v; return S_OK; }
    NOT_USED(get_Interfaces, VARIANT*)
    NOT_USED(put_Interfaces, VARIANT)
    NOT_USED(get_InterfaceTypes, BSTR*)
    NOT_USED(put_InterfaceTypes, BSTR)
    STDMETHODIMP get_Enabled(VARIANT_BOOL* v) override { *v = rule_.enabled; return S_OK; }
    STDMETHODIMP put_Enabled(VARIANT_BOOL v) override { rule_.enabled = v; return S_OK; }
    NOT_USED(get_Grouping, BSTR*)
    NOT_USED(put_Grouping, BSTR)
    STDMETHODIMP get_Profiles(LONG* v) override { *v = rule_.profiles; return S_OK; }
    STDMETHODIMP put_Profiles(LONG v) override { rule_.profiles = v; return S_OK; }
    NOT_USED(get_EdgeTraversal, VARIANT_BOOL*)
    NOT_USED(put_EdgeTraversal, VARIANT_BOOL)
    STDMETHODIMP get_Action(NET_FW_ACTION* v) override { *v = rule_.action; return S_OK; }
    STDMETHODIMP put_Action(NET_FW_ACTION v) override { rule_.action = v; return S_OK; }

private:
    // A new rule's defaults are not what the code must set, so a forgotten property shows.
    FirewallState::Rule rule_{L"", L"", 256 /* any */, NET_FW_RULE_DIR_OUT, NET_FW_ACTION_BLOCK, 0, VARIANT_FALSE};
};

class FakeRules final : public Fake<INetFwRules> {
public:
    using Fake::Fake;
    STDMETHODIMP get_Count(LONG* n) override { *n = static_cast<LONG>(state_.rules.size()); return S_OK; }
    STDMETHODIMP Add(INetFwRule* r) override {
        FAIL_IF_ASKED("INetFwRules::Add");
        FirewallState::Rule rule{};
        BSTR name = nullptr, app = nullptr;
        r->get_Name(&name);
        r->get_ApplicationName(&app);
        rule.name = Str(name);
        rule.application = Str(app);
        SysFreeString(name);
        SysFreeString(app);
        r->get_Protocol(&rule.protocol);
        r->get_Direction(&rule.direction);
        r->get_Action(&rule.action);
        r->get_Profiles(&rule.profiles);
        r->get_Enabled(&rule.enabled);
        state_.rules.push_back(rule);  // names need not be unique
        return S_OK;
    }
    // The first rule of that name only.
    STDMETHODIMP Remove(BSTR name) override {
        ++state_.rulesRemoveCalls;
        FAIL_IF_ASKED("INetFwRules::Remove");
        auto it = Find(Str(name));
        if (it != state_.rules.end() && !state_.rulesStay) state_.rules.erase(it);
        return S_OK;
    }
    STDMETHODIMP Item(BSTR name, INetFwRule** out) override {
        FAIL_IF_ASKED("INetFwRules::Item");
        auto it = Find(Str(name));
        if (it == state_.rules.end()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        *out = new FakeRule(state_, *it);
        return S_OK;
    }
    NOT_USED(get__NewEnum, IUnknown**)

private:
    std::vector<FirewallState::Rule>::iterator Find(const std::wstring& name) {
        return std::find_if(state_.rules.begin(), state_.rules.end(),
                            [&](const FirewallState::Rule& r) { return _wcsicmp(r.name.c_str(), name.c_str()) == 0; });
    }
};

class FakePolicy2 final : public Fake<INetFwPolicy2> {
public:
    using Fake::Fake;
    NOT_USED(get_CurrentProfileTypes, LONG*)
    NOT_USED(get_FirewallEnabled, NET_FW_PROFILE_TYPE2, VARIANT_BOOL*)
    NOT_USED(put_FirewallEnabled, NET_FW_PROFILE_TYPE2, VARIANT_BOOL)
    NOT_USED(get_ExcludedInterfaces, NET_FW_PROFILE_TYPE2, VARIANT*)
    NOT_USED(put_ExcludedInterfaces, NET_FW_PROFILE_TYPE2, VARIANT)
    NOT_USED(get_BlockAllInboundTraffic, NET_FW_PROFILE_TYPE2, VARIANT_BOOL*)
    NOT_USED(put_BlockAllInboundTraffic, NET_FW_PROFILE_TYPE2, VARIANT_BOOL)
    NOT_USED(get_NotificationsDisabled, NET_FW_PROFILE_TYPE2, VARIANT_BOOL*)
    NOT_USED(put_NotificationsDisabled, NET_FW_PROFILE_TYPE2, VARIANT_BOOL)
    NOT_USED(get_UnicastResponsesToMulticastBroadcastDisabled, NET_FW_PROFILE_TYPE2, VARIANT_BOOL*)
    NOT_USED(put_UnicastResponsesToMulticastBroadcastDisabled, NET_FW_PROFILE_TYPE2, VARIANT_BOOL)
    STDMETHODIMP get_Rules(INetFwRules** out) override {
        FAIL_IF_ASKED("INetFwPolicy2::get_Rules");
        return Give<FakeRules>(out);
    }
    NOT_USED(get_ServiceRestriction, INetFwServiceRestriction**)
    NOT_USED(EnableRuleGroup, LONG, BSTR, VARIANT_BOOL)
    NOT_USED(IsRuleGroupEnabled, LONG, BSTR, VARIANT_BOOL*)
    NOT_USED(RestoreLocalFirewallDefaults)
    NOT_USED(get_DefaultInboundAction, NET_FW_PROFILE_TYPE2, NET_FW_ACTION*)
    NOT_USED(put_DefaultInboundAction, NET_FW_PROFILE_TYPE2, NET_FW_ACTION)
    NOT_USED(get_DefaultOutboundAction, NET_FW_PROFILE_TYPE2, NET_FW_ACTION*)
    NOT_USED(put_DefaultOutboundAction, NET_FW_PROFILE_TYPE2, NET_FW_ACTION)
    NOT_USED(get_IsRuleGroupCurrentlyEnabled, BSTR, VARIANT_BOOL*)
    NOT_USED(get_LocalPolicyModifyState, NET_FW_MODIFY_STATE*)
};

// CoCreateInstance for the doubled family: the classes that Windows has, nothing else.
ComFactory FactoryFor(FirewallState& state) {
    return [&state](REFCLSID clsid, REFIID iid, void** out) -> HRESULT {
        *out = nullptr;
        struct Class {
            const CLSID& id;
            const char* call;
            bool present;
            IUnknown* (*make)(FirewallState&);
        };
        const bool xp = state.family != Family::NoFirewall, vista = state.family == Family::Vista;
        const Class classes[] = {
            {kClsidNetFwMgr, "CoCreateInstance NetFwMgr", xp,
             [](FirewallState& s) -> IUnknown* { return new FakeManager(s); }},
            {kClsidNetFwAuthorizedApplication, "CoCreateInstance NetFwAuthorizedApplication", xp,
             [](FirewallState& s) -> IUnknown* { return new FakeApplication(s); }},
            {kClsidNetFwPolicy2, "CoCreateInstance NetFwPolicy2", vista,
             [](FirewallState& s) -> IUnknown* { return new FakePolicy2(s); }},
            {kClsidNetFwRule, "CoCreateInstance NetFwRule", vista,
             [](FirewallState& s) -> IUnknown* { return new FakeRule(s); }},
        };
        for (const Class& c : classes) {
            if (clsid != c.id) continue;
            if (!c.present) return REGDB_E_CLASSNOTREG;
            if (HRESULT hr = state.Answer(c.call); FAILED(hr)) return hr;
            IUnknown* object = c.make(state);
            HRESULT hr = object->QueryInterface(iid, out);
            object->Release();
            return hr;
        }
        return REGDB_E_CLASSNOTREG;
    };
}

// What the code must leave: the list entry and our rule, beside whatever was there before.
FirewallState::App OurEntry() { return {kProgram, kName, NET_FW_SCOPE_ALL, VARIANT_TRUE}; }
FirewallState::Rule OurRule() {
    return {kName, kProgram, NET_FW_IP_PROTOCOL_TCP, NET_FW_RULE_DIR_IN, NET_FW_ACTION_ALLOW, NET_FW_PROFILE2_ALL,
            VARIANT_TRUE};
}
// Someone else's entry and rules, one of them for our program under another name.
void SeedOthers(FirewallState& state) {
    FirewallState::App other{L"C:\\Program Files\\Other\\other.exe", L"Other", NET_FW_SCOPE_LOCAL_SUBNET, VARIANT_TRUE};
    state.apps.push_back(other);
    if (state.family != Family::Vista) return;
    state.AddDerivedRules(other);
    state.rules.push_back({L"Remote Desktop", L"", NET_FW_IP_PROTOCOL_TCP, NET_FW_RULE_DIR_IN, NET_FW_ACTION_ALLOW,
                           NET_FW_PROFILE2_DOMAIN, VARIANT_TRUE});
    state.rules.push_back({L"Block tovra out", kProgram, NET_FW_IP_PROTOCOL_TCP, NET_FW_RULE_DIR_OUT,
                           NET_FW_ACTION_BLOCK, NET_FW_PROFILE2_ALL, VARIANT_TRUE});
}

void ExpectChange(const FirewallChange& c, Outcome outcome, const std::wstring& part, HRESULT error, int line) {
    SCOPED_TRACE(testing::Message() << "firewall answer checked at line " << line);
    EXPECT_EQ(OutcomeName(c.outcome), std::string(OutcomeName(outcome)));
    EXPECT_EQ(Narrow(c.part), Narrow(part));
    EXPECT_EQ(static_cast<unsigned long>(c.error), static_cast<unsigned long>(error));
}
#define EXPECT_CHANGE(c, outcome, part, error) ExpectChange(c, outcome, part, error, __LINE__)

struct FamilyCase {
    const char* name;
    Family family;
};
const FamilyCase kFirewallFamilies[] = {{"XP SP2", Family::XpSp2}, {"Vista and later", Family::Vista}};

TEST(WindowsFirewallTest, AllowMakesOneEntryAndOneRuleBesideTheOthers) {
    for (const FamilyCase& f : kFirewallFamilies) {
        SCOPED_TRACE(f.name);
        FirewallState state(f.family);
        SeedOthers(state);
        FirewallState expected = state;
        expected.apps.push_back(OurEntry());
        if (f.family == Family::Vista) {
            expected.rules.push_back(OurRule());
            expected.AddDerivedRules(OurEntry());
        }
        WindowsFirewall firewall(FactoryFor(state));
        // Installing again (or over an older installation) leaves the same.
        for (int round = 1; round <= 2; ++round) {
            SCOPED_TRACE(testing::Message() << "installation " << round);
            EXPECT_CHANGE(firewall.Allow(kProgram, kName), Outcome::Done, L"", S_OK);
            EXPECT_EQ(state.apps, expected.apps);
            auto sorted = [](std::vector<FirewallState::Rule> r) {
                std::sort(r.begin(), r.end(), [](const auto& a, const auto& b) {
                    return std::tie(a.name, a.protocol, a.profiles) < std::tie(b.name, b.protocol, b.profiles);
                });
                return r;
            };
            EXPECT_EQ(sorted(state.rules), sorted(expected.rules));
            EXPECT_EQ(state.live, 0) << "a firewall object was not released";
        }
    }
}

TEST(WindowsFirewallTest, RemoveTakesBackOursAndLeavesEveryOtherEntryAndRule) {
    for (const FamilyCase& f : kFirewallFamilies) {
        SCOPED_TRACE(f.name);
        FirewallState state(f.family);
        SeedOthers(state);
        const FirewallState before = state;
        WindowsFirewall firewall(FactoryFor(state));
        ASSERT_FALSE(firewall.Allow(kProgram, kName).refused());
        // A rule of our name left twice by older installations goes too.
        if (f.family == Family::Vista) state.rules.push_back(OurRule());
        EXPECT_CHANGE(firewall.Remove(kProgram, kName), Outcome::Done, L"", S_OK);
        EXPECT_EQ(state.apps, before.apps);
        EXPECT_EQ(state.rules, before.rules);
        // Nothing of ours there: nothing to do, nothing to report.
        EXPECT_CHANGE(firewall.Remove(kProgram, kName), Outcome::Done, L"", S_OK);
        EXPECT_EQ(state.apps, before.apps);
        EXPECT_EQ(state.live, 0);
    }
}

TEST(WindowsFirewallTest, NoFirewallBeforeXpSp2IsSkippedQuietly) {
    FirewallState state(Family::NoFirewall);
    WindowsFirewall firewall(FactoryFor(state));
    EXPECT_CHANGE(firewall.Allow(kProgram, kName), Outcome::NoFirewall, L"", S_OK);
    EXPECT_CHANGE(firewall.Remove(kProgram, kName), Outcome::NoFirewall, L"", S_OK);
    EXPECT_EQ(FirewallChange{}.Describe(), L"");
}

TEST(WindowsFirewallTest, RefusalsAreToldWithTheirPartAndStoppedServicesAreNot) {
    const wchar_t* apps = WindowsFirewall::kApplicationsPart;
    const wchar_t* rules = WindowsFirewall::kRulesPart;
    const HRESULT denied = E_ACCESSDENIED;
    const HRESULT stopped = HRESULT_FROM_WIN32(ERROR_SERVICE_NOT_ACTIVE);
    const HRESULT noEndpoint = HRESULT_FROM_WIN32(EPT_S_NOT_REGISTERED);
    struct Case {
        const char* name;
        Family family;
        bool allow;  // else Remove
        std::map<std::string, HRESULT> failures;
        Outcome outcome;
        const wchar_t* part;
        HRESULT error;
        size_t appsAfter;  // every part is tried whatever the other answered
    };
    const Case cases[] = {
        {"XP: the list refuses the entry", Family::XpSp2, true, {{"INetFwAuthorizedApplications::Add", denied}},
         Outcome::Refused, apps, denied, 0},
        {"XP: the program's path is refused", Family::XpSp2, true,
         {{"INetFwAuthorizedApplication::put_ProcessImageFileName", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)}},
         Outcome::Refused, apps, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), 0},
        {"XP: the profile cannot be had", Family::XpSp2, true, {{"INetFwPolicy::get_CurrentProfile", E_FAIL}},
         Outcome::Refused, apps, E_FAIL, 0},
        {"XP: no entry object", Family::XpSp2, true, {{"CoCreateInstance NetFwAuthorizedApplication", E_OUTOFMEMORY}},
         Outcome::Refused, apps, E_OUTOFMEMORY, 0},
        {"XP: the service is stopped", Family::XpSp2, true, {{"INetFwMgr::get_LocalPolicy", stopped}},
         Outcome::NoFirewall, L"", S_OK, 0},
        {"Vista: the rules refuse, the list takes the entry", Family::Vista, true, {{"INetFwRules::Add", denied}},
         Outcome::Refused, rules, denied, 1},
        {"Vista: the old rule cannot be looked up", Family::Vista, true, {{"INetFwRules::Item", denied}},
         Outcome::Refused, rules, denied, 1},
        {"Vista: no rule object", Family::Vista, true, {{"CoCreateInstance NetFwRule", E_OUTOFMEMORY}},
         Outcome::Refused, rules, E_OUTOFMEMORY, 1},
        {"Vista: both refuse, the rules are told", Family::Vista, true,
         {{"INetFwRule::put_ApplicationName", E_INVALIDARG}, {"INetFwAuthorizedApplications::Add", denied}},
         Outcome::Refused, rules, E_INVALIDARG, 0},
        {"Vista: the list refuses, the rules take ours", Family::Vista, true,
         {{"INetFwProfile::get_AuthorizedApplications", denied}}, Outcome::Refused, apps, denied, 0},
        {"Vista: the service is stopped", Family::Vista, true,
         {{"INetFwPolicy2::get_Rules", noEndpoint}, {"INetFwMgr::get_LocalPolicy", noEndpoint}}, Outcome::NoFirewall,
         L"", S_OK, 0},
        {"Vista: the rules are out of reach, the list takes the entry", Family::Vista, true,
         {{"INetFwPolicy2::get_Rules", HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE)}}, Outcome::Done, L"", S_OK, 1},
        {"XP: the list refuses to let go", Family::XpSp2, false, {{"INetFwAuthorizedApplications::Remove", denied}},
         Outcome::Refused, apps, denied, 1},
        {"Vista: the rules refuse to let go", Family::Vista, false, {{"INetFwRules::Remove", denied}},
         Outcome::Refused, rules, denied, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirewallState state(c.family);
        WindowsFirewall firewall(FactoryFor(state));
        if (!c.allow) {
            ASSERT_FALSE(firewall.Allow(kProgram, kName).refused());
        }
        state.failures = c.failures;
        FirewallChange change = c.allow ? firewall.Allow(kProgram, kName) : firewall.Remove(kProgram, kName);
        EXPECT_CHANGE(change, c.outcome, c.part, c.error);
        EXPECT_EQ(state.apps.size(), c.appsAfter);
        EXPECT_EQ(state.live, 0);
        if (c.outcome == Outcome::Refused) {
            wchar_t code[16];
            std::swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(c.error));
            EXPECT_EQ(change.Describe(), std::wstring(c.part) + L", error " + code);
        }
    }
}

// A firewall that says it removed a rule and keeps it must not hold the installer.
TEST(WindowsFirewallTest, ARuleThatWillNotGoEndsTheRemovalAfterAFewTries) {
    FirewallState state(Family::Vista);
    WindowsFirewall firewall(FactoryFor(state));
    ASSERT_FALSE(firewall.Allow(kProgram, kName).refused());
    state.rulesStay = true;
    state.rulesRemoveCalls = 0;
    EXPECT_FALSE(firewall.Remove(kProgram, kName).refused());
    EXPECT_GT(state.rulesRemoveCalls, 1);
    EXPECT_LE(state.rulesRemoveCalls, 64);
}

// The class identifiers are typed in by hand: the prefix's registry names them by their ProgIDs,
// as Windows' does.
TEST(WindowsFirewallTest, TheClassIdentifiersAreTheRegisteredOnes) {
    struct Case {
        const CLSID& clsid;
        const wchar_t* progId;
    };
    const Case cases[] = {
        {kClsidNetFwMgr, L"HNetCfg.FwMgr"},
        {kClsidNetFwAuthorizedApplication, L"HNetCfg.FwAuthorizedApplication"},
        {kClsidNetFwPolicy2, L"HNetCfg.FwPolicy2"},
        {kClsidNetFwRule, L"HNetCfg.FWRule"},
    };
    for (const Case& c : cases) {
        CLSID registered{};
        ASSERT_EQ(CLSIDFromProgID(c.progId, &registered), S_OK) << Narrow(c.progId) << " is not registered here";
        EXPECT_TRUE(registered == c.clsid) << Narrow(c.progId);
    }
}

// ---- The real firewall of this prefix -----------------------------------------------------------

// Wine's hnetcfg.dll takes every change and keeps none (see firewall_exception.cpp): the real code
// must get through it without a refusal, quickly, from a thread in any COM state, and leave that
// state as it found it.
DWORD WINAPI AllowAndRemoveOnThisThread(void* param) {
    auto* results = static_cast<std::vector<FirewallChange>*>(param);
    WindowsFirewall firewall;
    results->push_back(firewall.Allow(kProgram, kName));
    results->push_back(firewall.Remove(kProgram, kName));
    return 0;
}

struct ThreadRun {
    std::vector<FirewallChange> results;
    HRESULT comAfter = E_FAIL;  // CoInitializeEx(MTA) on the thread after the calls
    DWORD ms = 0;
    bool mta = false;
};

DWORD WINAPI RunOnFreshThread(void* param) {
    auto* run = static_cast<ThreadRun*>(param);
    HRESULT before = run->mta ? CoInitializeEx(nullptr, COINIT_MULTITHREADED) : S_FALSE;
    DWORD start = GetTickCount();
    AllowAndRemoveOnThisThread(&run->results);
    run->ms = GetTickCount() - start;
    if (run->mta && SUCCEEDED(before)) CoUninitialize();
    // S_OK only if every initialisation made for the calls was balanced.
    run->comAfter = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(run->comAfter)) CoUninitialize();
    return 0;
}

TEST(WindowsFirewallOnThisSystemTest, WinesFirewallTakesTheChangeFromAnyThread) {
    for (bool mta : {false, true}) {
        SCOPED_TRACE(mta ? "thread already in the multithreaded apartment" : "thread without COM");
        ThreadRun run;
        run.mta = mta;
        HANDLE thread = CreateThread(nullptr, 0, RunOnFreshThread, &run, 0, nullptr);
        ASSERT_TRUE(thread);
        ASSERT_EQ(WaitForSingleObject(thread, 30000), WAIT_OBJECT_0) << "the firewall kept the thread";
        CloseHandle(thread);
        ASSERT_EQ(run.results.size(), 2u);
        // Done, not "no firewall": COM was initialised and Wine's classes answered.
        EXPECT_CHANGE(run.results[0], Outcome::Done, L"", S_OK);
        EXPECT_CHANGE(run.results[1], Outcome::Done, L"", S_OK);
        EXPECT_EQ(run.comAfter, S_OK) << "COM was left initialised on the thread";
        EXPECT_LT(run.ms, 5000u);
    }
}

// ---- The installer's use of it ------------------------------------------------------------------

// Keeps the exceptions as a firewall would, and answers as it is told.
class RecordingFirewall final : public FirewallExceptions {
public:
    FirewallChange answer;
    std::vector<std::pair<std::wstring, std::wstring>> allowed;  // program, name
    std::vector<std::string> calls;
    bool programThere = false;  // at the last call

    FirewallChange Allow(const std::wstring& program, const std::wstring& name) override {
        calls.push_back("Allow");
        programThere = t::PathExists(program);
        if (answer.outcome == Outcome::Done) {
            std::erase(allowed, std::pair(program, name));
            allowed.emplace_back(program, name);
        }
        return answer;
    }
    FirewallChange Remove(const std::wstring& program, const std::wstring& name) override {
        calls.push_back("Remove");
        programThere = t::PathExists(program);
        if (answer.outcome == Outcome::Done) std::erase(allowed, std::pair(program, name));
        return answer;
    }
};

FirewallChange Refusal(const wchar_t* part, HRESULT hr) { return {Outcome::Refused, part, hr}; }
FirewallChange Absent() { return {Outcome::NoFirewall, L"", S_OK}; }

VersionQuery WindowsNT() {
    return [](OSVERSIONINFOA* info) -> BOOL {
        info->dwMajorVersion = 5;
        info->dwPlatformId = VER_PLATFORM_WIN32_NT;
        return TRUE;
    };
}

const wchar_t* const kMediumFiles[] = {L"setup.exe",   L"tovra.exe",  L"tovraa.exe",
                                       L"file.dat",    L"readme.htm", L"utovraa.exe",
                                       L"Tovra Internet Security.lnk", L"About Tovra IS.lnk"};

class InstallerFirewallTest : public ::testing::Test {
protected:
    void SetUp() override {
        snapshot_.ClearProductFolders();
        st::MakeFamilyFolders(VER_PLATFORM_WIN32_NT);
        for (const wchar_t* name : kMediumFiles) medium_.WriteFile(name, "medium:" + Narrow(name));
    }
    st::SystemSnapshot snapshot_;
    t::TempDir medium_;
    RecordingFirewall firewall_;
    Installer installer_{medium_.path(), WindowsNT(), tovra::suite::ClassicFolders(), tovra::SystemRegistry(),
                         &firewall_};
};

TEST_F(InstallerFirewallTest, InstallLetsTheInstalledProgramThroughAndUninstallTakesItBack) {
    tovra::ScriptedMessageBoxes boxes({IDYES});
    const std::vector<std::pair<std::wstring, std::wstring>> ours{{kProgram, kName}};
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(testing::Message() << "installation " << round);
        EXPECT_TRUE(installer_.Install(nullptr).empty());
        EXPECT_TRUE(firewall_.programThere) << "the firewall was asked before tovra.exe was copied";
        EXPECT_EQ(firewall_.allowed, ours);
    }
    installer_.ReportInstall(nullptr, tovra::setup::Outcome{});
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_EQ(boxes.calls()[0].text, L"Installation Completed");

    installer_.Uninstall(nullptr);
    EXPECT_TRUE(firewall_.allowed.empty());
    EXPECT_TRUE(firewall_.programThere) << "the firewall was asked after tovra.exe was deleted";
    EXPECT_FALSE(t::PathExists(kProgram));
    EXPECT_EQ(firewall_.calls, (std::vector<std::string>{"Allow", "Allow", "Remove"}));
}

TEST_F(InstallerFirewallTest, TheClosingReportNamesARefusalAndNothingElse) {
    const std::wstring refusedLine =
        L"These steps could not be done:\nWindows Firewall did not let tovra.exe accept connections from other "
        L"computers: ";
    struct Case {
        const char* name;
        FirewallChange answer;
        bool tovraaMissing;
        const wchar_t* title;
        std::wstring text;
    };
    const Case cases[] = {
        {"no firewall", Absent(), false, L"Finished", L"Installation Completed"},
        {"no firewall, a file missing", Absent(), true, L"error",
         L"Installation incomplete. These files could not be copied:\ntovraa.exe"},
        {"refused", Refusal(WindowsFirewall::kRulesPart, E_ACCESSDENIED), false, L"error",
         L"Installation incomplete. " + refusedLine + L"the inbound rules, error 0x80070005"},
        {"refused, a file missing", Refusal(WindowsFirewall::kApplicationsPart, E_ACCESSDENIED), true, L"error",
         L"Installation incomplete. These files could not be copied:\ntovraa.exe\n" + refusedLine +
             L"the list of allowed programs, error 0x80070005"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        st::SystemSnapshot inner;
        inner.ClearProductFolders();
        t::TempDir medium;
        for (const wchar_t* name : kMediumFiles) {
            if (!(c.tovraaMissing && std::wstring(name) == L"tovraa.exe")) medium.WriteFile(name, "m");
        }
        RecordingFirewall firewall;
        firewall.answer = c.answer;
        Installer installer(medium.path(), WindowsNT(), tovra::suite::ClassicFolders(), tovra::SystemRegistry(),
                            &firewall);
        tovra::ScriptedMessageBoxes boxes;
        tovra::setup::Outcome outcome = installer.Install(nullptr);
        // The firewall is no file: the list stays the files'.
        EXPECT_EQ(outcome.files, c.tovraaMissing ? std::vector<std::wstring>{L"tovraa.exe"} : std::vector<std::wstring>{});
        EXPECT_EQ(installer.FirewallResult().refused(), c.answer.refused());
        installer.ReportInstall(nullptr, outcome);
        ASSERT_EQ(boxes.calls().size(), 1u);
        EXPECT_EQ(Narrow(boxes.calls()[0].text), Narrow(c.text));
        EXPECT_EQ(boxes.calls()[0].title, c.title);
        EXPECT_EQ(boxes.calls()[0].buttons(), static_cast<UINT>(MB_OK));
        EXPECT_EQ(firewall.calls, std::vector<std::string>{"Allow"});
    }
}

// A firewall that keeps the exception is named; the rest of the uninstallation still runs.
TEST_F(InstallerFirewallTest, ARefusalToLetGoLeavesTheRestOfTheUninstallation) {
    tovra::ScriptedMessageBoxes boxes({IDYES});
    ASSERT_TRUE(installer_.Install(nullptr).empty());
    firewall_.answer = Refusal(WindowsFirewall::kRulesPart, E_ACCESSDENIED);
    installer_.Uninstall(nullptr);
    installer_.ReportUninstall(nullptr);
    EXPECT_TRUE(installer_.FirewallResult().refused());
    EXPECT_FALSE(t::PathExists(kProgram));
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_EQ(boxes.calls()[0].text,
              L"Uninstallation incomplete. These steps could not be done:\nWindows Firewall kept the exception that "
              L"let tovra.exe accept connections: the inbound rules, error 0x80070005");
    EXPECT_EQ(boxes.calls()[0].title, L"error");
}

}  // namespace
