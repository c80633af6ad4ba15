// The washer's machine-wide steps: what it writes or deletes under HKEY_LOCAL_MACHINE. Where User
// Account Control keeps this process from them, an elevated instance of the program does just
// these steps, started with a switch, and its exit code says which of them failed.
#pragma once
#include <windows.h>

#include <optional>
#include <string>

#include "shared/registry.h"

namespace tovra::washer {

// The steps as bits, in the order a run makes them.
enum MachineStep : unsigned {
    kMachineBrowserDefaults = 1u << 0,  // the default settings' rows for all users
    kMachineTypedUrls = 1u << 1,        // the typed addresses under the machine root
    kMachineRunCleaning = 1u << 2,      // the machine's start-up programs, in every registry view
    kMachineOwnEntry = 1u << 3,         // then the product's own start-up entry, written back
};
inline constexpr unsigned kMachineStartUp = kMachineRunCleaning | kMachineOwnEntry;
inline constexpr unsigned kAllMachineSteps = kMachineBrowserDefaults | kMachineTypedUrls | kMachineStartUp;

// Does the steps in this process, each whatever became of the ones before; the failed ones.
unsigned DoMachineSteps(unsigned steps, Registry& registry);

// The switch that asks an instance for the steps ("/machine-steps:13"), and the steps a command
// line asks for: nullopt without the switch, or with one that names no known step.
std::wstring MachineStepsSwitch(unsigned steps);
std::optional<unsigned> ParseMachineStepsSwitch(const std::wstring& commandLine);

// Who does the machine-wide steps where this process may not.
class Elevation {
public:
    virtual ~Elevation() = default;
    // True where the steps need another, elevated instance: Vista on, with a token that is not
    // elevated. False on XP and for an elevated process: the steps are done in place.
    virtual bool Needed() = 0;
    // Does the steps elevated and waits for them, or until `cancel` (may be null) is signalled:
    // the steps that were not done, all of them when the user refuses the elevation or the
    // instance cannot be started.
    virtual unsigned RunElevated(HWND owner, unsigned steps, HANDLE cancel) = 0;
};

// The system's: the program itself, started with the "runas" verb and the switch.
class ElevatedInstance final : public Elevation {
public:
    bool Needed() override;
    unsigned RunElevated(HWND owner, unsigned steps, HANDLE cancel) override;
};

}  // namespace tovra::washer
