// Emptying the browser's URL cache: every cache group with its entries, then every entry left.
#pragma once
#include <windows.h>
#include <wininet.h>

#include <optional>

#include "shared/win_handles.h"

namespace tovra::washer {

// The URL-cache operations the clearing needs. Each call leaves its reason for failing in the
// thread's last error. The group operations are optional: nullopt means the library lacks them.
class UrlCacheApi {
public:
    virtual ~UrlCacheApi() = default;
    virtual std::optional<HANDLE> FindFirstGroup(GROUPID* id) = 0;
    virtual std::optional<BOOL> FindNextGroup(HANDLE search, GROUPID* id) = 0;
    // Deletes the group together with its cached entries.
    virtual std::optional<BOOL> DeleteGroup(GROUPID id) = 0;
    // All entries of the cache, no search pattern; *size in/out as WinINet defines it.
    virtual HANDLE FindFirstEntry(INTERNET_CACHE_ENTRY_INFOA* info, DWORD* size) = 0;
    virtual BOOL FindNextEntry(HANDLE search, INTERNET_CACHE_ENTRY_INFOA* info, DWORD* size) = 0;
    virtual BOOL DeleteEntry(const char* sourceUrl) = 0;
    virtual void FindClose(HANDLE search) = 0;
};

// WinINet's cache, bound at run time so that a missing function is passed over.
class WinInetUrlCache : public UrlCacheApi {
public:
    WinInetUrlCache();
    ~WinInetUrlCache() override;
    WinInetUrlCache(const WinInetUrlCache&) = delete;
    WinInetUrlCache& operator=(const WinInetUrlCache&) = delete;

    std::optional<HANDLE> FindFirstGroup(GROUPID* id) override;
    std::optional<BOOL> FindNextGroup(HANDLE search, GROUPID* id) override;
    std::optional<BOOL> DeleteGroup(GROUPID id) override;
    HANDLE FindFirstEntry(INTERNET_CACHE_ENTRY_INFOA* info, DWORD* size) override;
    BOOL FindNextEntry(HANDLE search, INTERNET_CACHE_ENTRY_INFOA* info, DWORD* size) override;
    BOOL DeleteEntry(const char* sourceUrl) override;
    void FindClose(HANDLE search) override;

private:
    UniqueModule module_;
    decltype(&::FindFirstUrlCacheGroup) findFirstGroup_ = nullptr;
    decltype(&::FindNextUrlCacheGroup) findNextGroup_ = nullptr;
    decltype(&::DeleteUrlCacheGroup) deleteGroup_ = nullptr;
    decltype(&::FindFirstUrlCacheEntryA) findFirstEntry_ = nullptr;
    decltype(&::FindNextUrlCacheEntryA) findNextEntry_ = nullptr;
    decltype(&::DeleteUrlCacheEntryA) deleteEntry_ = nullptr;
    decltype(&::FindCloseUrlCache) findClose_ = nullptr;
};

// Deletes every cache group (with its entries), then walks the remaining entries and deletes
// each. Nothing is reported: an entry that cannot be deleted is passed over, and no failure of
// the group pass keeps the entries from being walked.
void ClearWebCache(UrlCacheApi& cache);
// The same through WinINet.
void ClearWebCache();

}  // namespace tovra::washer
