// Internet Explorer's settings put back to fixed values ("IE Default" and the washing run).
#pragma once
#include <array>

#include "shared/registry.h"

namespace tovra::washer {

enum class SettingsRoot { Machine, User };  // HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER

struct BrowserDefault {
    SettingsRoot root;
    const char* name;
    const char* data;
};

inline constexpr char kBrowserSettingsKey[] = "software\\Microsoft\\Internet Explorer\\Main";

// The 25 writes, in the order they are made.
extern const std::array<BrowserDefault, 25> kBrowserDefaults;

// Writes the rows of one root in table order; a write that fails is passed over and the rest are
// still written. True when every row was written.
bool WriteBrowserDefaults(SettingsRoot root, Registry& registry = SystemRegistry());

}  // namespace tovra::washer
