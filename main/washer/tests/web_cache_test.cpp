#include "main/washer/web_cache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "main/washer/tests/washer_test_support.h"

namespace tovra::washer::test {
namespace {

constexpr char kSite[] = "http://tovra.test/";

std::vector<std::string> OurUrls() {
    std::vector<std::string> ours;
    for (const std::string& url : CacheUrls()) {
        if (url.find("tovra.test") != std::string::npos) ours.push_back(url);
    }
    return ours;
}

DWORD EntryInfoSize(const std::string& url) {
    DWORD size = 0;
    GetUrlCacheEntryInfoA(url.c_str(), nullptr, &size);
    return size;
}

// WinINet's own cache, with the calls counted.
class CountingCache : public WinInetUrlCache {
public:
    HANDLE FindFirstEntry(INTERNET_CACHE_ENTRY_INFOA* info, DWORD* size) override {
        ++firstEntrySearches;
        return WinInetUrlCache::FindFirstEntry(info, size);
    }
    BOOL DeleteEntry(const char* url) override {
        ++deletes;
        return WinInetUrlCache::DeleteEntry(url);
    }
    int firstEntrySearches = 0;
    int deletes = 0;
};

class WebCacheTest : public ::testing::Test {
protected:
    void SetUp() override { ClearWebCache(); }
    void TearDown() override { ClearWebCache(); }
};

TEST_F(WebCacheTest, EveryEntryGoesIncludingOnesLargerThanTheFirstBuffer) {
    std::vector<std::string> files;
    for (int i = 0; i < 12; ++i) files.push_back(AddCacheEntry(kSite + std::string("page") + std::to_string(i) + ".htm"));
    std::string longUrl = kSite + std::string("long/") + std::string(3000, 'u');
    std::string bigHeaders = kSite + std::string("headers.htm");
    files.push_back(AddCacheEntry(longUrl));
    files.push_back(AddCacheEntry(bigHeaders, 6000));
    ASSERT_TRUE(InternetSetCookieA(kSite, "k", "v; expires=Sat, 01-Jan-2039 00:00:00 GMT"));
    ASSERT_EQ(OurUrls().size(), 15u);  // 14 pages and the cookie
    // The fixtures are what they claim: both need more than 2,048 bytes.
    EXPECT_GT(EntryInfoSize(longUrl), 2048u);
    EXPECT_GT(EntryInfoSize(bigHeaders), 4096u);

    ClearWebCache();

    EXPECT_EQ(CacheUrls(), std::vector<std::string>{});
    for (const std::string& file : files) {
        EXPECT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES) << file;
    }
}

TEST_F(WebCacheTest, AnEmptyCacheEndsAtTheFirstSearch) {
    ASSERT_EQ(CacheUrls(), std::vector<std::string>{});
    CountingCache cache;
    ClearWebCache(cache);
    EXPECT_EQ(cache.firstEntrySearches, 1);
    EXPECT_EQ(cache.deletes, 0);
}

TEST_F(WebCacheTest, AnEntryInUseIsPassedOverAndTheWalkGoesOn) {
    for (int i = 0; i < 6; ++i) AddCacheEntry(kSite + std::string("e") + std::to_string(i));
    std::string locked = kSite + std::string("locked");
    AddCacheEntry(locked);
    std::vector<std::uint64_t> buffer(1024);
    DWORD size = static_cast<DWORD>(buffer.size() * 8);
    ASSERT_TRUE(RetrieveUrlCacheEntryFileA(locked.c_str(), reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(buffer.data()),
                                           &size, 0));
    CountingCache cache;
    ClearWebCache(cache);
    EXPECT_EQ(OurUrls(), std::vector<std::string>{locked});
    EXPECT_EQ(cache.deletes, 7);  // it was tried too
    UnlockUrlCacheEntryFileA(locked.c_str(), 0);
}

// Cache groups scripted around WinINet's real entries (Wine's group functions are stubs).
class ScriptedGroups : public WinInetUrlCache {
public:
    bool bound = true;                    // false: the library has no group functions
    std::vector<GROUPID> groups;          // what the group search yields
    DWORD firstError = ERROR_FILE_NOT_FOUND;
    DWORD endError = ERROR_FILE_NOT_FOUND;  // last error when the group list runs out
    GROUPID undeletable = 0;
    std::vector<std::string> log;

    std::optional<HANDLE> FindFirstGroup(GROUPID* id) override {
        if (!bound) return std::nullopt;
        log.push_back("first");
        if (groups.empty()) {
            SetLastError(firstError);
            return nullptr;
        }
        next_ = 1;
        *id = groups[0];
        return kSearch;
    }
    std::optional<BOOL> FindNextGroup(HANDLE search, GROUPID* id) override {
        if (!bound) return std::nullopt;
        EXPECT_EQ(search, kSearch);
        if (next_ >= groups.size()) {
            SetLastError(endError);
            return FALSE;
        }
        *id = groups[next_++];
        return TRUE;
    }
    std::optional<BOOL> DeleteGroup(GROUPID id) override {
        if (!bound) return std::nullopt;
        log.push_back("delete " + std::to_string(id));
        if (id == undeletable) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        return TRUE;
    }
    HANDLE FindFirstEntry(INTERNET_CACHE_ENTRY_INFOA* info, DWORD* size) override {
        if (log.empty() || log.back() != "entries") log.push_back("entries");
        return WinInetUrlCache::FindFirstEntry(info, size);
    }
    void FindClose(HANDLE search) override {
        if (search == kSearch) {
            log.push_back("close groups");
        } else {
            WinInetUrlCache::FindClose(search);
        }
    }

private:
    inline static const HANDLE kSearch = reinterpret_cast<HANDLE>(0x5150);
    size_t next_ = 0;
};

struct GroupCase {
    const char* what;
    bool bound;
    std::vector<GROUPID> groups;
    DWORD firstError;
    DWORD endError;
    GROUPID undeletable;
    std::vector<std::string> log;
};

TEST_F(WebCacheTest, GroupsFirstThenEntriesWhateverTheGroupPassMeets) {
    const GroupCase cases[] = {
        {"no group functions in the library", false, {}, 0, 0, 0, {"entries"}},
        {"no groups", true, {}, ERROR_FILE_NOT_FOUND, 0, 0, {"first", "entries"}},
        // Wine's stub fails without setting any code: the entries must still go.
        {"group search fails, stale code", true, {}, 0xdeadbeef, 0, 0, {"first", "entries"}},
        {"three groups", true, {7, 8, 9}, 0, ERROR_FILE_NOT_FOUND, 0,
         {"first", "delete 7", "delete 8", "delete 9", "close groups", "entries"}},
        {"a group that cannot be deleted", true, {7, 8}, 0, ERROR_FILE_NOT_FOUND, 7,
         {"first", "delete 7", "delete 8", "close groups", "entries"}},
        {"next group fails otherwise", true, {7}, 0, ERROR_INTERNET_INTERNAL_ERROR, 0,
         {"first", "delete 7", "close groups", "entries"}},
    };
    for (const GroupCase& c : cases) {
        SCOPED_TRACE(c.what);
        for (int i = 0; i < 3; ++i) AddCacheEntry(kSite + std::string("g") + std::to_string(i));
        ScriptedGroups cache;
        cache.bound = c.bound;
        cache.groups = c.groups;
        cache.firstError = c.firstError;
        cache.endError = c.endError;
        cache.undeletable = c.undeletable;
        ClearWebCache(cache);
        EXPECT_EQ(cache.log, c.log);
        EXPECT_EQ(OurUrls(), std::vector<std::string>{});
    }
}

}  // namespace
}  // namespace tovra::washer::test
