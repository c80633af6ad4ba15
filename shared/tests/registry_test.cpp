#include "shared/registry.h"

#include <shlwapi.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>

namespace {

// Reads a REG_SZ back; nullopt when the value or key is missing or of another type.
std::optional<std::string> ReadString(HKEY root, const char* path, const char* name) {
    char buf[512];
    DWORD size = sizeof buf, type = 0;
    if (RegGetValueA(root, path, name, RRF_RT_ANY, &type, buf, &size) != ERROR_SUCCESS) return std::nullopt;
    if (type != REG_SZ) return std::nullopt;
    return std::string(buf, size ? size - 1 : 0);
}

class RegistryTest : public ::testing::Test {
protected:
    static constexpr char kBase[] = "Software\\TovraTest";
    void SetUp() override { TearDown(); }
    void TearDown() override {
        SHDeleteKeyA(HKEY_LOCAL_MACHINE, kBase);
        SHDeleteKeyA(HKEY_CURRENT_USER, kBase);
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
    // A path through a value-less nonsense root cannot be created; nothing throws, nothing appears.
    tovra::SaveSetting("", "", "x");  // the root key itself: allowed or not, no crash
    tovra::SaveSettingCurrent(std::string(300, 'k'), "v", "x");  // key name too long
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, std::string(300, 'k').c_str(), "v"), std::nullopt);
}

}  // namespace
