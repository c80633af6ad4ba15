#include "main/washer/browser_defaults.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "main/washer/tests/washer_test_support.h"
#include "main/washer/washer.h"
#include "shared/message_box.h"

namespace tovra::washer::test {
namespace {

constexpr char kKey[] = "software\\Microsoft\\Internet Explorer\\Main";
constexpr wchar_t kKeyW[] = L"software\\Microsoft\\Internet Explorer\\Main";
constexpr char kHome[] = "http://www.microsoft.com/isapi/redir.dll?prd=ie&pver=6&ar=msnhome";
constexpr char kSearch[] = "http://www.microsoft.com/isapi/redir.dll?prd=ie&ar=iesearch";
constexpr char kSearchQuote[] = "http://www.microsoft.com/isapi/redir.dll?prd=ie&ar=iesearch\"";
constexpr char kTemplate[] =
    "http://www.microsoft.com/isapi/redir.dll?prd={SUB_PRD}&clcid={SUB_CLSID}&pver={SUB_PVER}&ar=home";

struct Row {
    HKEY root;
    const char* name;
    const char* data;
};
// Spelled out again here, so a slip in the product's table shows up.
const Row kExpected[] = {
    {HKEY_LOCAL_MACHINE, "Default_Page_URL", kHome},
    {HKEY_LOCAL_MACHINE, "Default_Search_URL", kSearch},
    {HKEY_LOCAL_MACHINE, "Search Page", kSearchQuote},
    {HKEY_LOCAL_MACHINE, "Enable_Disk_Cache", "yes"},
    {HKEY_LOCAL_MACHINE, "Cache_Percent_of_Disk", "hex:0a,00,00,00"},
    {HKEY_LOCAL_MACHINE, "Delete_Temp_Files_On_Exit", "yes"},
    {HKEY_LOCAL_MACHINE, "Use_Async_DNS", "yes"},
    {HKEY_LOCAL_MACHINE, "Start Page", kTemplate},
    {HKEY_LOCAL_MACHINE, "CompanyName", "Microsoft Corporation"},
    {HKEY_LOCAL_MACHINE, "Custom_Key", "MICROSO"},
    {HKEY_CURRENT_USER, "Disable Script Debugger", "yes"},
    {HKEY_CURRENT_USER, "Show_ChannelBand", "No"},
    {HKEY_CURRENT_USER, "Anchor Underline", "yes"},
    {HKEY_CURRENT_USER, "Cache_Update_Frequency", "Once_Per_Session"},
    {HKEY_CURRENT_USER, "Display Inline Images", "yes"},
    {HKEY_CURRENT_USER, "Local Page", "C:\\\\WINDOWS\\\\System32\\\\blank.htm"},
    {HKEY_CURRENT_USER, "Save_Session_History_On_Exit", "no"},
    {HKEY_CURRENT_USER, "Show_FullURL", "no"},
    {HKEY_CURRENT_USER, "Show_StatusBar", "yes"},
    {HKEY_CURRENT_USER, "Show_ToolBar", "yes"},
    {HKEY_CURRENT_USER, "Show_URLinStatusBar", "yes"},
    {HKEY_CURRENT_USER, "Show_URLToolBar", "yes"},
    {HKEY_CURRENT_USER, "Start Page", kHome},
    {HKEY_CURRENT_USER, "Search Page", kSearchQuote},
    {HKEY_CURRENT_USER, "Check_Associations", "yes"},
};

class NullView : public WasherView {
public:
    HWND Owner() const override { return nullptr; }
    void SetWasherButtonEnabled(bool) override { ++calls; }
    void SetWasherStatus(const std::wstring&) override { ++calls; }
    void SetLabel1(const std::wstring&) override { ++calls; }
    int calls = 0;
};

class BrowserDefaultsTest : public ::testing::Test {
protected:
    void Sentinels() {
        for (const Row& row : kExpected) {
            std::wstring name(row.name, row.name + strlen(row.name));
            WriteString(row.root, kKeyW, name, L"sentinel");
        }
    }
    // The key under both roots is put back as it was.
    RegistryKeySnapshot machine_{HKEY_LOCAL_MACHINE, kKeyW};
    RegistryKeySnapshot user_{HKEY_CURRENT_USER, kKeyW};
};

TEST_F(BrowserDefaultsTest, TheTableInOrder) {
    ASSERT_EQ(kBrowserDefaults.size(), std::size(kExpected));
    EXPECT_STREQ(kBrowserSettingsKey, kKey);
    for (size_t i = 0; i < kBrowserDefaults.size(); ++i) {
        SCOPED_TRACE("row " + std::to_string(i + 1));
        const BrowserDefault& row = kBrowserDefaults[i];
        EXPECT_EQ(row.root == SettingsRoot::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, kExpected[i].root);
        EXPECT_STREQ(row.name, kExpected[i].name);
        EXPECT_STREQ(row.data, kExpected[i].data);
    }
}

TEST_F(BrowserDefaultsTest, YesWritesEveryValueUnderBothRootsAndShowsNothingMore) {
    Sentinels();
    auto otherUser = ValueNames(HKEY_CURRENT_USER, kKeyW);
    auto otherMachine = ValueNames(HKEY_LOCAL_MACHINE, kKeyW);
    NullView view;
    Washer washer(view);
    ScriptedMessageBoxes boxes({IDYES, IDYES});
    washer.IEDefault();
    washer.Finish();
    washer.IEDefault();  // twice is the same as once
    washer.Finish();

    ASSERT_EQ(boxes.calls().size(), 2u);
    const MessageBoxCall& box = boxes.calls()[0];
    EXPECT_EQ(box.text, L"Are you sure you want to change to Internet Explorer Default Settings");
    EXPECT_EQ(box.title, L"Default Settings");
    EXPECT_EQ(box.buttons(), static_cast<UINT>(MB_YESNO));
    EXPECT_EQ(box.icon(), 0u);
    EXPECT_EQ(view.calls, 0);  // no status, no label

    for (const Row& row : kExpected) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ReadString(row.root, kKey, row.name), std::optional<std::string>(row.data));
    }
    // No other value appeared: the address-named write is not made.
    EXPECT_EQ(ValueNames(HKEY_CURRENT_USER, kKeyW), otherUser);
    EXPECT_EQ(ValueNames(HKEY_LOCAL_MACHINE, kKeyW), otherMachine);
    EXPECT_FALSE(ReadString(HKEY_CURRENT_USER, kKey, kHome).has_value());
}

TEST_F(BrowserDefaultsTest, NoLeavesTheRegistryUntouched) {
    Sentinels();
    auto user = ValueNames(HKEY_CURRENT_USER, kKeyW);
    NullView view;
    Washer washer(view);
    ScriptedMessageBoxes boxes({IDNO});
    washer.IEDefault();
    washer.Finish();
    ASSERT_EQ(boxes.calls().size(), 1u);
    for (const Row& row : kExpected) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ReadString(row.root, kKey, row.name), std::optional<std::string>("sentinel"));
    }
    EXPECT_EQ(ValueNames(HKEY_CURRENT_USER, kKeyW), user);
}

}  // namespace
}  // namespace tovra::washer::test
