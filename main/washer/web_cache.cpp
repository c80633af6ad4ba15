#include "main/washer/web_cache.h"

#include <cstdint>
#include <vector>

#include "shared/compat.h"

namespace tovra::washer {
namespace {

template <typename Fn>
void Bind(HMODULE module, const char* name, Fn& fn) {
    fn = module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

// Room for one entry's information; grows to what the platform asks for.
class EntryBuffer {
public:
    INTERNET_CACHE_ENTRY_INFOA* info() { return reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(words_.data()); }
    DWORD bytes() const { return static_cast<DWORD>(words_.size() * sizeof(std::uint64_t)); }

    // Runs call(info, &size) until it fits: an entry larger than the buffer must not end the walk.
    template <typename Call>
    bool Fill(Call&& call) {
        for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
            DWORD size = bytes();
            info()->dwStructSize = sizeof(INTERNET_CACHE_ENTRY_INFOA);
            if (call(info(), &size)) return true;
            if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= bytes() || size > kMaxBytes) return false;
            words_.resize((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
        }
        return false;
    }

private:
    static constexpr int kMaxAttempts = 4;        // the size asked for can grow between two calls
    static constexpr DWORD kMaxBytes = 16u << 20;  // no real entry comes near this
    // 64-bit words keep the record aligned for its pointers and 64-bit fields.
    std::vector<std::uint64_t> words_ = std::vector<std::uint64_t>(2048 / sizeof(std::uint64_t));
};

void DeleteAllGroups(UrlCacheApi& cache) {
    GROUPID id = 0;
    SetLastError(ERROR_SUCCESS);
    std::optional<HANDLE> search = cache.FindFirstGroup(&id);
    if (!search || !*search) return;  // no groups, or no group support at all
    for (;;) {
        cache.DeleteGroup(id);  // a group that stays is emptied entry by entry below
        GROUPID next = id;
        std::optional<BOOL> more = cache.FindNextGroup(*search, &next);
        if (!more || !*more || next == id) break;  // the end (2), a failure, or no progress
        id = next;
    }
    cache.FindClose(*search);
}

void DeleteAllEntries(UrlCacheApi& cache) {
    EntryBuffer buffer;
    HANDLE search = nullptr;
    if (!buffer.Fill([&](INTERNET_CACHE_ENTRY_INFOA* info, DWORD* size) {
            search = cache.FindFirstEntry(info, size);
            return search != nullptr;
        })) {
        return;  // 259: the cache is empty
    }
    do {
        if (const char* url = buffer.info()->lpszSourceUrlName) cache.DeleteEntry(url);  // in use: passed over
    } while (buffer.Fill([&](INTERNET_CACHE_ENTRY_INFOA* info, DWORD* size) {
        return cache.FindNextEntry(search, info, size) != FALSE;
    }));
    cache.FindClose(search);
}

}  // namespace

WinInetUrlCache::WinInetUrlCache() : module_(compat::LoadSystemLibrary(L"wininet.dll")) {
    HMODULE m = module_.get();
    Bind(m, "FindFirstUrlCacheGroup", findFirstGroup_);
    Bind(m, "FindNextUrlCacheGroup", findNextGroup_);
    Bind(m, "DeleteUrlCacheGroup", deleteGroup_);
    Bind(m, "FindFirstUrlCacheEntryA", findFirstEntry_);
    Bind(m, "FindNextUrlCacheEntryA", findNextEntry_);
    Bind(m, "DeleteUrlCacheEntryA", deleteEntry_);
    Bind(m, "FindCloseUrlCache", findClose_);
}

// The bound functions point into the module, which goes last, with the object.
WinInetUrlCache::~WinInetUrlCache() = default;

std::optional<HANDLE> WinInetUrlCache::FindFirstGroup(GROUPID* id) {
    if (!findFirstGroup_) return std::nullopt;
    return findFirstGroup_(0, CACHEGROUP_SEARCH_ALL, nullptr, 0, id, nullptr);
}

std::optional<BOOL> WinInetUrlCache::FindNextGroup(HANDLE search, GROUPID* id) {
    if (!findNextGroup_) return std::nullopt;
    return findNextGroup_(search, id, nullptr);
}

std::optional<BOOL> WinInetUrlCache::DeleteGroup(GROUPID id) {
    if (!deleteGroup_) return std::nullopt;
    return deleteGroup_(id, CACHEGROUP_FLAG_FLUSHURL_ONDELETE, nullptr);
}

HANDLE WinInetUrlCache::FindFirstEntry(INTERNET_CACHE_ENTRY_INFOA* info, DWORD* size) {
    if (!findFirstEntry_) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return findFirstEntry_(nullptr, info, size);
}

BOOL WinInetUrlCache::FindNextEntry(HANDLE search, INTERNET_CACHE_ENTRY_INFOA* info, DWORD* size) {
    if (!findNextEntry_) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return FALSE;
    }
    return findNextEntry_(search, info, size);
}

BOOL WinInetUrlCache::DeleteEntry(const char* sourceUrl) {
    return deleteEntry_ ? deleteEntry_(sourceUrl) : FALSE;
}

void WinInetUrlCache::FindClose(HANDLE search) {
    if (findClose_ && search) findClose_(search);
}

void ClearWebCache(UrlCacheApi& cache) {
    DeleteAllGroups(cache);
    DeleteAllEntries(cache);
}

void ClearWebCache() {
    WinInetUrlCache cache;
    ClearWebCache(cache);
}

}  // namespace tovra::washer
