#include "main/washer/browser_defaults.h"

#include <cstring>
#include <string>

#include "shared/registry.h"

namespace tovra::washer {
namespace {

#define TOVRA_REDIRECTOR "http://www.microsoft.com/isapi/redir.dll"
constexpr char kHomePage[] = TOVRA_REDIRECTOR "?prd=ie&pver=6&ar=msnhome";
constexpr char kSearch[] = TOVRA_REDIRECTOR "?prd=ie&ar=iesearch";
// The closing quote is part of the data, as the browser has always been given it.
constexpr char kSearchQuoted[] = TOVRA_REDIRECTOR "?prd=ie&ar=iesearch\"";
constexpr char kHomeTemplate[] = TOVRA_REDIRECTOR "?prd={SUB_PRD}&clcid={SUB_CLSID}&pver={SUB_PVER}&ar=home";
#undef TOVRA_REDIRECTOR

constexpr auto M = SettingsRoot::Machine;
constexpr auto U = SettingsRoot::User;

}  // namespace

// Odd-looking literals are deliberate: the data is text, not a number ("hex:0a,00,00,00"), the
// local page keeps its doubled backslashes, and "Show_ChannelBand" gets a capital "No".
const std::array<BrowserDefault, 25> kBrowserDefaults{{
    {M, "Default_Page_URL", kHomePage},
    {M, "Default_Search_URL", kSearch},
    {M, "Search Page", kSearchQuoted},
    {M, "Enable_Disk_Cache", "yes"},
    {M, "Cache_Percent_of_Disk", "hex:0a,00,00,00"},
    {M, "Delete_Temp_Files_On_Exit", "yes"},
    {M, "Use_Async_DNS", "yes"},
    {M, "Start Page", kHomeTemplate},
    {M, "CompanyName", "Microsoft Corporation"},
    {M, "Custom_Key", "MICROSO"},
    {U, "Disable Script Debugger", "yes"},
    {U, "Show_ChannelBand", "No"},
    {U, "Anchor Underline", "yes"},
    {U, "Cache_Update_Frequency", "Once_Per_Session"},
    {U, "Display Inline Images", "yes"},
    {U, "Local Page", R"(C:\\WINDOWS\\System32\\blank.htm)"},
    {U, "Save_Session_History_On_Exit", "no"},
    {U, "Show_FullURL", "no"},
    {U, "Show_StatusBar", "yes"},
    {U, "Show_ToolBar", "yes"},
    {U, "Show_URLinStatusBar", "yes"},
    {U, "Show_URLToolBar", "yes"},
    {U, "Start Page", kHomePage},
    {U, "Search Page", kSearchQuoted},
    {U, "Check_Associations", "yes"},
}};

bool WriteBrowserDefaults(SettingsRoot root, Registry& registry) {
    // Every literal of the table is ASCII, the same in every code page.
    auto wide = [](const char* s) { return std::wstring(s, s + std::strlen(s)); };
    const std::wstring key = wide(kBrowserSettingsKey);
    bool all = true;
    for (const BrowserDefault& row : kBrowserDefaults) {
        if (row.root != root) continue;
        bool written = root == SettingsRoot::Machine ? SaveSetting(key, wide(row.name), wide(row.data), registry)
                                                     : SaveSettingCurrent(key, wide(row.name), wide(row.data), registry);
        all = written && all;
    }
    return all;
}

}  // namespace tovra::washer
