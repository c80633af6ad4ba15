#include "shared/registry.h"

#include <shlwapi.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "shared/win_handles.h"

namespace {

// Reads a REG_SZ back; nullopt when the value or key is missing or of another type.
std::optional<std::string> ReadString(HKEY root, const char* path, const char* name) {
    char buf[512];
    DWORD size = sizeof buf, type = 0;
    if (RegGetValueA(root, path, name, RRF_RT_ANY, &type, buf, &size) != ERROR_SUCCESS) return std::nullopt;
    if (type != REG_SZ) return std::nullopt;
    return std::string(buf, size ? size - 1 : 0);
}

// The names of a key's values (in the registry's order) and how many sub-keys it has; a key that
// cannot be opened has none of either.
struct KeyContent {
    std::vector<std::string> values;
    DWORD subKeys = 0;
};
KeyContent ContentOf(HKEY root, const char* path) {
    KeyContent content;
    tovra::UniqueKey key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return content;
    RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &content.subKeys, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr);
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD len = sizeof name;
        if (RegEnumValueA(key.get(), i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        content.values.emplace_back(name, len);
    }
    return content;
}

class RegistryTest : public ::testing::Test {
protected:
    static constexpr char kBase[] = "Software\\TovraTest";
    // A value name no root holds; a helper that wrongly wrote above the key it was given would
    // leave it there, and the tear-down takes it away again.
    static constexpr char kStray[] = "TovraTestStrayValue";
    void SetUp() override { TearDown(); }
    void TearDown() override {
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
            SHDeleteKeyA(root, kBase);
            RegDeleteValueA(root, kStray);
            tovra::UniqueKey software;
            if (RegOpenKeyExA(root, "Software", 0, KEY_SET_VALUE, software.put()) == ERROR_SUCCESS)
                RegDeleteValueA(software.get(), kStray);
        }
    }
};

TEST_F(RegistryTest, CreatesTheWholeMissingPath) {
    tovra::SaveSetting("Software\\TovraTest\\Deep\\Nested\\Path", "Name", "value");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, "Software\\TovraTest\\Deep\\Nested\\Path", "Name"), "value");
}

TEST_F(RegistryTest, OverwritesAndKeepsAnEmptySetting) {
    tovra::SaveSettingCurrent("software\\tovratest", "Home", "first");
    tovra::SaveSettingCurrent("SOFTWARE\\TOVRATEST", "home", "");
    // The value stays, with empty text and the terminating NUL as its only byte.
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegGetValueA(HKEY_CURRENT_USER, kBase, "Home", RRF_RT_ANY, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 1u);
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kBase, "Home"), "");
}

TEST_F(RegistryTest, TheTwoRootsAreIndependent) {
    tovra::SaveSetting(kBase, "Which", "machine");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kBase, "Which"), "machine");
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kBase, "Which"), std::nullopt);
    tovra::SaveSettingCurrent(kBase, "Which", "user");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kBase, "Which"), "machine");
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kBase, "Which"), "user");
}

TEST_F(RegistryTest, AFailedOpenIsSilent) {
    // A key name longer than the registry allows (255 characters) cannot be created: the call
    // returns quietly and nothing appears, neither in the fixture key nor above it.
    tovra::SaveSetting(kBase, "Keep", "machine");
    tovra::SaveSettingCurrent(kBase, "Keep", "user");
    const std::string tooLong = std::string(kBase) + "\\" + std::string(300, 'k');
    tovra::SaveSetting(tooLong, kStray, "x");
    tovra::SaveSettingCurrent(tooLong, kStray, "x");
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        const bool machine = root == HKEY_LOCAL_MACHINE;
        SCOPED_TRACE(machine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER");
        KeyContent fixture = ContentOf(root, kBase);
        EXPECT_EQ(fixture.values, std::vector<std::string>{"Keep"});
        EXPECT_EQ(fixture.subKeys, 0u) << "no key, not even a shortened one, was made";
        EXPECT_EQ(ReadString(root, kBase, "Keep"), machine ? "machine" : "user");
        EXPECT_EQ(ReadString(root, "Software", kStray), std::nullopt);
        EXPECT_EQ(ReadString(root, nullptr, kStray), std::nullopt);
    }

    // An empty name is the key's own (default) value; the fixture key holds it.
    tovra::SaveSetting(kBase, "", "default");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kBase, ""), "default");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kBase, "Keep"), "machine");
}

}  // namespace
