#include "setup/firewall_exception.h"

// MinGW's netfw.h and the SDK's declare the Vista interfaces (INetFwPolicy2, INetFwRules,
// INetFwRule) whatever _WIN32_WINNT says; only the class identifiers are missing (see the header).
#include <netfw.h>

#include <cwchar>

#include "shared/win_handles.h"

// What Wine 8 answers (measured in-process, COINIT_APARTMENTTHREADED): its hnetcfg.dll serves
// CLSID_NetFwMgr, CLSID_NetFwAuthorizedApplication, CLSID_NetFwPolicy2 and CLSID_NetFwRule in
// process (ThreadingModel Both), so CoCreateInstance succeeds for all four. The profile says the
// firewall is off (FirewallEnabled VARIANT_FALSE); AuthorizedApplications Add, Item and Remove and
// Rules Add and Remove answer S_OK and keep nothing (Rules Count stays 0, the applications' Count,
// Rules Item and _NewEnum are E_NOTIMPL). The whole exchange takes a few milliseconds. So under
// Wine an exception is "made" without complaint, and nothing filters anyway. With hnetcfg
// disabled (WINEDLLOVERRIDES hnetcfg=d), in-process creation fails with E_ACCESSDENIED
// (CLSCTX_ALL: REGDB_E_CLASSNOTREG); like REGDB_E_CLASSNOTREG on Windows before XP SP2, any
// failure to create the manager or the rules' policy is taken for "no such firewall here".

namespace tovra::setup {
namespace {

// A BSTR for the length of one call.
class Bstr {
public:
    explicit Bstr(const std::wstring& s) : b_(SysAllocStringLen(s.data(), static_cast<UINT>(s.size()))) {}
    ~Bstr() { SysFreeString(b_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return b_; }
    explicit operator bool() const { return b_ != nullptr; }

private:
    BSTR b_;
};

const HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

// Rules Remove takes one rule per call, and a name can be on several (an earlier installation;
// the rules Vista and later make from an entry in the list of applications). Bounded, so that a
// firewall that answers S_OK and keeps the rule cannot hold the installer.
constexpr int kMostRulesOfOneName = 64;

// The answers of a firewall whose service is stopped, disabled or missing (its RPC endpoint is
// not there). Such a firewall filters nothing, so there is nothing to make an exception in. The
// objects themselves are in process (CreateInProcess), so no activation waits for a server.
bool ServiceNotRunning(HRESULT hr) {
    const DWORD codes[] = {ERROR_SERVICE_NOT_ACTIVE, ERROR_SERVICE_DISABLED, ERROR_SERVICE_DOES_NOT_EXIST,
                           RPC_S_SERVER_UNAVAILABLE, EPT_S_NOT_REGISTERED};
    for (DWORD code : codes) {
        if (hr == HRESULT_FROM_WIN32(code)) return true;
    }
    return false;
}

FirewallChange Done() { return {}; }
FirewallChange NoFirewall() { return {FirewallChange::Outcome::NoFirewall, {}, S_OK}; }
FirewallChange Answer(const wchar_t* part, HRESULT hr) {
    if (SUCCEEDED(hr)) return Done();
    if (ServiceNotRunning(hr)) return NoFirewall();
    return {FirewallChange::Outcome::Refused, part, hr};
}

// A refusal outweighs a change made, and a change made outweighs a part that is not there; of two
// refusals the first is told.
FirewallChange Combine(const FirewallChange& first, const FirewallChange& second) {
    if (first.refused()) return first;
    if (second.refused()) return second;
    if (first.outcome == FirewallChange::Outcome::Done || second.outcome == FirewallChange::Outcome::Done) {
        return Done();
    }
    return NoFirewall();
}

// An object handed out as S_OK but NULL is no object.
template <typename T>
HRESULT Got(HRESULT hr, const ComPtr<T>& p) {
    return SUCCEEDED(hr) && !p ? E_POINTER : hr;
}

// ---- The list of authorized applications (XP SP2 and later) ------------------------------------

// The current profile's list; without the manager's class (before XP SP2) there is no firewall.
FirewallChange OpenApplications(const ComFactory& create, ComPtr<INetFwAuthorizedApplications>& apps) {
    ComPtr<INetFwMgr> manager;
    if (FAILED(Got(create(kClsidNetFwMgr, __uuidof(INetFwMgr), manager.put_void()), manager))) return NoFirewall();
    ComPtr<INetFwPolicy> policy;
    ComPtr<INetFwProfile> profile;
    HRESULT hr = Got(manager->get_LocalPolicy(policy.put()), policy);
    if (SUCCEEDED(hr)) hr = Got(policy->get_CurrentProfile(profile.put()), profile);
    if (SUCCEEDED(hr)) hr = Got(profile->get_AuthorizedApplications(apps.put()), apps);
    if (FAILED(hr)) apps.reset();
    return Answer(WindowsFirewall::kApplicationsPart, hr);
}

FirewallChange AllowApplication(const ComFactory& create, const std::wstring& path, const std::wstring& name) {
    ComPtr<INetFwAuthorizedApplications> apps;
    FirewallChange opened = OpenApplications(create, apps);
    if (!apps) return opened;
    Bstr image(path), title(name);
    ComPtr<INetFwAuthorizedApplication> app;
    HRESULT hr = image && title ? S_OK : E_OUTOFMEMORY;
    if (SUCCEEDED(hr)) {
        hr = Got(create(kClsidNetFwAuthorizedApplication, __uuidof(INetFwAuthorizedApplication), app.put_void()), app);
    }
    if (SUCCEEDED(hr)) hr = app->put_ProcessImageFileName(image.get());
    if (SUCCEEDED(hr)) hr = app->put_Name(title.get());
    if (SUCCEEDED(hr)) hr = app->put_Scope(NET_FW_SCOPE_ALL);
    if (SUCCEEDED(hr)) hr = app->put_Enabled(VARIANT_TRUE);
    // An entry for the same program is replaced, so installing again leaves one.
    if (SUCCEEDED(hr)) hr = apps->Add(app.get());
    return Answer(WindowsFirewall::kApplicationsPart, hr);
}

FirewallChange RemoveApplication(const ComFactory& create, const std::wstring& path) {
    ComPtr<INetFwAuthorizedApplications> apps;
    FirewallChange opened = OpenApplications(create, apps);
    if (!apps) return opened;
    Bstr image(path);
    HRESULT hr = image ? apps->Remove(image.get()) : E_OUTOFMEMORY;
    if (hr == kNotFound) hr = S_OK;  // not listed: nothing to take back
    return Answer(WindowsFirewall::kApplicationsPart, hr);
}

// ---- The rules (Vista and later) ---------------------------------------------------------------

// Without the class (before Vista) the list of applications is the whole firewall.
FirewallChange OpenRules(const ComFactory& create, ComPtr<INetFwRules>& rules) {
    ComPtr<INetFwPolicy2> policy;
    if (FAILED(Got(create(kClsidNetFwPolicy2, __uuidof(INetFwPolicy2), policy.put_void()), policy))) {
        return NoFirewall();
    }
    HRESULT hr = Got(policy->get_Rules(rules.put()), rules);
    if (FAILED(hr)) rules.reset();
    return Answer(WindowsFirewall::kRulesPart, hr);
}

// Every rule of this name, and only those.
HRESULT RemoveRulesNamed(INetFwRules* rules, BSTR name) {
    for (int i = 0; i < kMostRulesOfOneName; ++i) {
        ComPtr<INetFwRule> rule;
        HRESULT hr = rules->Item(name, rule.put());
        if (hr == kNotFound) return S_OK;
        // A firewall that cannot look rules up (Wine's) is asked once.
        if (hr == E_NOTIMPL) return rules->Remove(name);
        if (FAILED(hr)) return hr;
        hr = rules->Remove(name);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

FirewallChange AllowRule(const ComFactory& create, const std::wstring& path, const std::wstring& name) {
    ComPtr<INetFwRules> rules;
    FirewallChange opened = OpenRules(create, rules);
    if (!rules) return opened;
    Bstr image(path), title(name);
    HRESULT hr = image && title ? S_OK : E_OUTOFMEMORY;
    // Installing again replaces the rule rather than adding a second one.
    if (SUCCEEDED(hr)) hr = RemoveRulesNamed(rules.get(), title.get());
    ComPtr<INetFwRule> rule;
    if (SUCCEEDED(hr)) hr = Got(create(kClsidNetFwRule, __uuidof(INetFwRule), rule.put_void()), rule);
    if (SUCCEEDED(hr)) hr = rule->put_Name(title.get());
    if (SUCCEEDED(hr)) hr = rule->put_ApplicationName(image.get());
    if (SUCCEEDED(hr)) hr = rule->put_Protocol(NET_FW_IP_PROTOCOL_TCP);
    if (SUCCEEDED(hr)) hr = rule->put_Direction(NET_FW_RULE_DIR_IN);
    if (SUCCEEDED(hr)) hr = rule->put_Action(NET_FW_ACTION_ALLOW);
    if (SUCCEEDED(hr)) hr = rule->put_Profiles(NET_FW_PROFILE2_ALL);
    if (SUCCEEDED(hr)) hr = rule->put_Enabled(VARIANT_TRUE);
    if (SUCCEEDED(hr)) hr = rules->Add(rule.get());
    return Answer(WindowsFirewall::kRulesPart, hr);
}

FirewallChange RemoveRules(const ComFactory& create, const std::wstring& name) {
    ComPtr<INetFwRules> rules;
    FirewallChange opened = OpenRules(create, rules);
    if (!rules) return opened;
    Bstr title(name);
    return Answer(WindowsFirewall::kRulesPart, title ? RemoveRulesNamed(rules.get(), title.get()) : E_OUTOFMEMORY);
}

}  // namespace

std::wstring FirewallChange::Describe() const {
    if (!refused()) return {};
    wchar_t code[32];
    std::swprintf(code, sizeof code / sizeof code[0], L"0x%08lX", static_cast<unsigned long>(error));
    return part + L", error " + code;
}

HRESULT CreateInProcess(REFCLSID clsid, REFIID iid, void** out) {
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, out);
}

WindowsFirewall::WindowsFirewall(ComFactory create) : create_(std::move(create)) {}

// Setup's thread may have no COM yet (nothing before the licence view starts it) or be in an
// apartment already; either way COM is usable for the scope (RPC_E_CHANGED_MODE included), and
// every object is released before it ends.
FirewallChange WindowsFirewall::Allow(const std::wstring& programPath, const std::wstring& name) {
    ComScope com;
    // The rules first: clearing old rules of this name must not take the ones that Vista and
    // later derive from the list's entry.
    FirewallChange rules = AllowRule(create_, programPath, name);
    FirewallChange apps = AllowApplication(create_, programPath, name);
    return Combine(rules, apps);
}

FirewallChange WindowsFirewall::Remove(const std::wstring& programPath, const std::wstring& name) {
    ComScope com;
    FirewallChange apps = RemoveApplication(create_, programPath);
    FirewallChange rules = RemoveRules(create_, name);
    return Combine(rules, apps);
}

}  // namespace tovra::setup
