// The Windows Firewall exception that lets other computers reach the port watch of tovra.exe:
// made by the installation, taken back by the uninstallation.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

namespace tovra::setup {

// What one change to the firewall came to. A Windows without a firewall (before XP SP2) is not a
// failure: nothing there blocks the port watch.
struct FirewallChange {
    enum class Outcome { Done, NoFirewall, Refused };
    Outcome outcome = Outcome::Done;
    // When refused: the part of the firewall that said no, and what it said.
    std::wstring part;
    HRESULT error = S_OK;

    bool refused() const { return outcome == Outcome::Refused; }
    // For the user: "the inbound rules, error 0x80070005"; empty unless refused.
    std::wstring Describe() const;
};

class FirewallExceptions {
public:
    virtual ~FirewallExceptions() = default;
    // Lets the program at this path accept connections from other computers, under this name.
    virtual FirewallChange Allow(const std::wstring& programPath, const std::wstring& name) = 0;
    // Takes back what Allow made for this program and name, and nothing else.
    virtual FirewallChange Remove(const std::wstring& programPath, const std::wstring& name) = 0;
};

// CoCreateInstance's shape, so that tests can hand out doubles in place of the firewall's objects.
using ComFactory = std::function<HRESULT(REFCLSID clsid, REFIID iid, void** out)>;
// In-process only: the firewall's classes live in hnetcfg.dll, and an out-of-process activation
// is the one way a missing class could keep the installer waiting.
HRESULT CreateInProcess(REFCLSID clsid, REFIID iid, void** out);

// The firewall's classes: MinGW's uuid library does not carry them, so they are spelt out here.
inline constexpr CLSID kClsidNetFwMgr = {0x304ce942, 0x6e39, 0x40d8, {0x94, 0x3a, 0xb9, 0x13, 0xc4, 0x0c, 0x9c, 0xd4}};
inline constexpr CLSID kClsidNetFwAuthorizedApplication = {
    0xec9846b3, 0x2762, 0x4a6b, {0xa2, 0x14, 0x6a, 0xcb, 0x60, 0x34, 0x62, 0xd2}};
inline constexpr CLSID kClsidNetFwPolicy2 = {0xe2b3c97f, 0x6ae1, 0x41ac, {0x81, 0x7a, 0xf6, 0xf9, 0x21, 0x66, 0xd7, 0xdd}};
inline constexpr CLSID kClsidNetFwRule = {0x2c5bc43e, 0x3369, 0x4c33, {0xab, 0x0c, 0xbe, 0x94, 0x69, 0x67, 0x7a, 0xf4}};

// Windows Firewall through its COM interfaces, each change made in two places where they exist:
// the current profile's list of authorized applications (XP SP2 and later; Vista and later turn
// an entry into rules of their own, for the current profile) and the rules (Vista and later): one
// inbound TCP allow rule for the program in every profile. Each call initialises COM on its
// thread for its own length, so it does not depend on the caller's apartment.
class WindowsFirewall final : public FirewallExceptions {
public:
    explicit WindowsFirewall(ComFactory create = CreateInProcess);

    FirewallChange Allow(const std::wstring& programPath, const std::wstring& name) override;
    FirewallChange Remove(const std::wstring& programPath, const std::wstring& name) override;

    // The parts' names as Describe shows them.
    static constexpr wchar_t kApplicationsPart[] = L"the list of allowed programs";
    static constexpr wchar_t kRulesPart[] = L"the inbound rules";

private:
    ComFactory create_;
};

}  // namespace tovra::setup
