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
    static constexpr wchar_t kBaseW[] = L"Software\\TovraTest";
    // A value name no root holds; a helper that wrongly wrote above the key it was given would
    // leave it there, and the tear-down takes it away again.
    static constexpr char kStray[] = "TovraTestStrayValue";
    void SetUp() override { TearDown(); }
    void TearDown() override {
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
            SHDeleteKeyA(root, kBase);
            tovra::SystemRegistry().DeleteKey(root, kBaseW, tovra::RegistryView::Bits32);
            RegDeleteValueA(root, kStray);
            tovra::UniqueKey software;
            if (RegOpenKeyExA(root, "Software", 0, KEY_SET_VALUE, software.put()) == ERROR_SUCCESS)
                RegDeleteValueA(software.get(), kStray);
        }
    }
};

TEST_F(RegistryTest, CreatesTheWholeMissingPath) {
    EXPECT_TRUE(tovra::SaveSetting(L"Software\\TovraTest\\Deep\\Nested\\Path", L"Name", L"value"));
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, "Software\\TovraTest\\Deep\\Nested\\Path", "Name"), "value");
}

TEST_F(RegistryTest, OverwritesAndKeepsAnEmptySetting) {
    EXPECT_TRUE(tovra::SaveSettingCurrent(L"software\\tovratest", L"Home", L"first"));
    EXPECT_TRUE(tovra::SaveSettingCurrent(L"SOFTWARE\\TOVRATEST", L"home", L""));
    // The value stays, with empty text and the terminating NUL as its only character.
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, kBaseW, L"Home", RRF_RT_ANY, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, sizeof(wchar_t));
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kBase, "Home"), "");
}

TEST_F(RegistryTest, TheTwoRootsAreIndependent) {
    tovra::SaveSetting(kBaseW, L"Which", L"machine");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kBase, "Which"), "machine");
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kBase, "Which"), std::nullopt);
    tovra::SaveSettingCurrent(kBaseW, L"Which", L"user");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kBase, "Which"), "machine");
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kBase, "Which"), "user");
}

TEST_F(RegistryTest, AFailedOpenIsReportedAndChangesNothing) {
    // A key name longer than the registry allows (255 characters) cannot be created: the call
    // says so and nothing appears, neither in the fixture key nor above it.
    tovra::SaveSetting(kBaseW, L"Keep", L"machine");
    tovra::SaveSettingCurrent(kBaseW, L"Keep", L"user");
    const std::wstring tooLong = std::wstring(kBaseW) + L"\\" + std::wstring(300, L'k');
    const std::wstring stray(kStray, kStray + sizeof kStray - 1);
    EXPECT_FALSE(tovra::SaveSetting(tooLong, stray, L"x"));
    EXPECT_FALSE(tovra::SaveSettingCurrent(tooLong, stray, L"x"));
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
    tovra::SaveSetting(kBaseW, L"", L"default");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kBase, ""), "default");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kBase, "Keep"), "machine");
}

TEST_F(RegistryTest, DeletingAKeyTakesItsValuesAndAMissingKeyCountsAsGone) {
    tovra::Registry& registry = tovra::SystemRegistry();
    const std::wstring key = std::wstring(kBaseW) + L"\\Run";
    ASSERT_TRUE(tovra::SaveSettingCurrent(key, L"a", L"1"));
    ASSERT_TRUE(tovra::SaveSettingCurrent(key, L"b", L"2"));
    EXPECT_EQ(registry.DeleteKey(HKEY_CURRENT_USER, key), ERROR_SUCCESS);
    EXPECT_EQ(ContentOf(HKEY_CURRENT_USER, "Software\\TovraTest\\Run").values.size(), 0u);
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, "Software\\TovraTest\\Run", "a"), std::nullopt);
    EXPECT_EQ(registry.DeleteKey(HKEY_CURRENT_USER, key), ERROR_SUCCESS) << "missing: nothing to do";

    // A key with a subkey cannot go on Windows NT; its own values go all the same.
    ASSERT_TRUE(tovra::SaveSettingCurrent(key, L"a", L"1"));
    ASSERT_TRUE(tovra::SaveSettingCurrent(key + L"\\Sub", L"kept", L"x"));
    EXPECT_EQ(registry.DeleteKey(HKEY_CURRENT_USER, key), ERROR_SUCCESS);
    KeyContent left = ContentOf(HKEY_CURRENT_USER, "Software\\TovraTest\\Run");
    EXPECT_TRUE(left.values.empty());
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, "Software\\TovraTest\\Run\\Sub", "kept"), "x");
}

TEST_F(RegistryTest, TheTwoViewsOf64BitWindowsAreWrittenAndDeletedApart) {
    // This build is 64-bit, so Windows (and Wine) keep a 32-bit view of HKLM\Software beside it.
    const std::vector<tovra::RegistryView> views = tovra::AllViews();
    ASSERT_EQ(views.size(), 2u);
    tovra::Registry& registry = tovra::SystemRegistry();
    const std::wstring key = kBaseW;
    ASSERT_EQ(registry.SetString(HKEY_LOCAL_MACHINE, key, L"Which", L"64", tovra::RegistryView::Bits64), ERROR_SUCCESS);
    ASSERT_EQ(registry.SetString(HKEY_LOCAL_MACHINE, key, L"Which", L"32", tovra::RegistryView::Bits32), ERROR_SUCCESS);
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kBase, "Which"), "64") << "the native view of a 64-bit program";
    auto read32 = [&] {
        tovra::UniqueKey k;
        wchar_t buf[16] = {};
        DWORD size = sizeof buf;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kBaseW, 0, KEY_READ | KEY_WOW64_32KEY, k.put()) != ERROR_SUCCESS ||
            RegQueryValueExW(k.get(), L"Which", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size) != ERROR_SUCCESS)
            return std::wstring(L"(none)");
        return std::wstring(buf);
    };
    EXPECT_EQ(read32(), L"32");
    EXPECT_EQ(registry.DeleteKey(HKEY_LOCAL_MACHINE, key, tovra::RegistryView::Bits32), ERROR_SUCCESS);
    EXPECT_EQ(read32(), L"(none)");
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kBase, "Which"), "64") << "the other view is untouched";
    EXPECT_EQ(registry.DeleteKey(HKEY_LOCAL_MACHINE, key, tovra::RegistryView::Bits64), ERROR_SUCCESS);
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kBase, "Which"), std::nullopt);
}

}  // namespace
