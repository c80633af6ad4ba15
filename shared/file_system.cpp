#include "shared/file_system.h"

#include <winternl.h>

#include <algorithm>
#include <cstdint>

#include "shared/compat.h"
#include "shared/win_handles.h"

namespace tovra::fs {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool IsDriveAbsolute(const std::wstring& p) {
    return p.size() >= 3 && p[1] == L':' && p[2] == L'\\' &&
           ((p[0] >= L'A' && p[0] <= L'Z') || (p[0] >= L'a' && p[0] <= L'z'));
}

bool IsRoot(const std::wstring& path) {
    size_t n = path.size();
    // "C:\" and "\\?\C:\"
    return n >= 3 && path[n - 1] == L'\\' && path[n - 2] == L':' && (n == 3 || n == 7);
}

// Wine lists Unix names that Windows cannot hold (with ':' a name would even reach another
// file's stream): such names are left out, they could not be opened as listed anyway.
bool IsPlainName(const wchar_t* name) {
    if (!name[0] || (name[0] == L'.' && (!name[1] || (name[1] == L'.' && !name[2])))) return false;
    for (const wchar_t* c = name; *c; ++c) {
        if (*c < 0x20 || wcschr(L"\\/:*?\"<>|", *c)) return false;
    }
    return true;
}

bool NameLess(const Entry& a, const Entry& b) {
    int c = compat::CompareNoCase(a.name.data(), a.name.size(), b.name.data(), b.name.size());
    return c != 0 ? c < 0 : a.name < b.name;
}

// The ntdll calls of the guarded delete, looked up once (every NT version has them).
struct Native {
    using OpenFileFn = LONG(WINAPI*)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, IO_STATUS_BLOCK*, ULONG, ULONG);
    using SetInformationFileFn = LONG(WINAPI*)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, int);
    using QueryObjectFn = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    using StatusToErrorFn = ULONG(WINAPI*)(LONG);
    static constexpr ULONG kSynchronousIoNonAlert = 0x20;
    static constexpr ULONG kNonDirectoryFile = 0x40;
    static constexpr ULONG kOpenReparsePoint = 0x200000;
    static constexpr int kFileDispositionInformation = 13;
    static constexpr int kObjectNameInformation = 1;

    Native() {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        auto find = [ntdll](const char* name) { return reinterpret_cast<void*>(GetProcAddress(ntdll, name)); };
        openFile = reinterpret_cast<OpenFileFn>(find("NtOpenFile"));
        setInformationFile = reinterpret_cast<SetInformationFileFn>(find("NtSetInformationFile"));
        queryObject = reinterpret_cast<QueryObjectFn>(find("NtQueryObject"));
        statusToError = reinterpret_cast<StatusToErrorFn>(find("RtlNtStatusToDosError"));
    }
    static const Native& Get() {
        static const Native calls;
        return calls;
    }
    DWORD ErrorOf(LONG status) const { return statusToError ? statusToError(status) : ERROR_GEN_FAILURE; }

    OpenFileFn openFile = nullptr;
    SetInformationFileFn setInformationFile = nullptr;
    QueryObjectFn queryObject = nullptr;
    StatusToErrorFn statusToError = nullptr;
};

// Where an open file or folder really is, as the system names the open object
// ("\Device\HarddiskVolume2\...", under Wine "\??\C:\..."), or empty. Unlike
// GetFinalPathNameByHandle (which XP lacks) it also works beyond MAX_PATH under Wine.
std::wstring LocationOfHandle(HANDLE h) {
    const Native& nt = Native::Get();
    if (!nt.queryObject) return {};
    std::vector<std::uint64_t> buffer(1024 / sizeof(std::uint64_t));
    for (int attempt = 0; attempt < 3; ++attempt) {
        ULONG bytes = static_cast<ULONG>(buffer.size() * sizeof(std::uint64_t));
        ULONG needed = 0;
        LONG status = nt.queryObject(h, Native::kObjectNameInformation, buffer.data(), bytes, &needed);
        if (status >= 0) {
            const auto* name = reinterpret_cast<const UNICODE_STRING*>(buffer.data());
            return name->Buffer ? std::wstring(name->Buffer, name->Length / sizeof(wchar_t)) : std::wstring();
        }
        if (needed <= bytes || needed > (1u << 20)) return {};
        buffer.resize(needed / sizeof(std::uint64_t) + 1);
    }
    return {};
}

// The location of a folder, or empty. A walk takes only a real folder (no reparse point): a link
// would lead it out of its tree. A named folder outside any walk may be reached through a link
// (`throughLinks`), as Vista's "Documents and Settings" and "All Users\Desktop" are: it is where
// the link leads that counts.
std::wstring FolderLocation(const std::wstring& path, bool throughLinks = false) {
    // A bare drive ("C:") stands for its root; any other trailing separator would make the
    // attribute query look through a link.
    std::wstring longPath = LongPath(path.size() == 2 && path[1] == L':' ? path + L"\\" : path);
    DWORD attrs = GetFileAttributesW(longPath.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES || !(attrs & FILE_ATTRIBUTE_DIRECTORY) ||
        ((attrs & FILE_ATTRIBUTE_REPARSE_POINT) && !throughLinks)) {
        return {};
    }
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (throughLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    UniqueHandle folder(CreateFileW(longPath.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                    flags, nullptr));
    if (!folder) return {};
    return LocationOfHandle(folder.get());
}

bool Stopped(const WalkOptions& options) { return options.stopped && options.stopped(); }

// One listing of a folder into `folder` (its path and location set already).
bool List(Folder& folder, const WalkOptions& options) {
    folder.folders.clear();
    folder.files.clear();
    folder.children.clear();
    if (options.listings) ++*options.listings;
    WIN32_FIND_DATAW fd;
    UniqueFind find(compat::FindFirstFileFast(LongPath(JoinPath(folder.path, L"*")).c_str(), &fd));
    if (!find) {
        DWORD error = GetLastError();
        // An empty drive root has not even "." and "..".
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_NO_MORE_FILES) return false;
    } else {
        do {
            if (Stopped(options)) return false;
            if (!IsPlainName(fd.cFileName)) continue;
            DWORD attrs = fd.dwFileAttributes;
            if (attrs & FILE_ATTRIBUTE_REPARSE_POINT) continue;  // a junction or link leads out of the tree
            if (attrs & FILE_ATTRIBUTE_DIRECTORY) {
                if (!(attrs & options.skipFolders)) folder.folders.push_back({fd.cFileName, attrs});
            } else if (!(attrs & options.skipFiles)) {
                folder.files.push_back({fd.cFileName, attrs});
            }
        } while (FindNextFileW(find.get(), &fd));
    }
    if (options.byName) {
        std::sort(folder.folders.begin(), folder.folders.end(), NameLess);
        std::sort(folder.files.begin(), folder.files.end(), NameLess);
    }
    folder.children.resize(folder.folders.size());
    folder.listed = true;
    return true;
}

}  // namespace

// ---- Paths ------------------------------------------------------------------------------------

std::wstring LongPath(const std::wstring& path) {
    if (path.rfind(L"\\\\?\\", 0) == 0) return path;
    if (IsDriveAbsolute(path)) return L"\\\\?\\" + path;
    if (path.size() > 2 && path[0] == L'\\' && path[1] == L'\\' && path[2] != L'.') {
        return L"\\\\?\\UNC\\" + path.substr(2);
    }
    return path;
}

std::wstring AbsolutePath(const std::wstring& path) {
    if (path.empty()) return {};
    std::wstring full(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (n == 0) return {};
        if (n < full.size()) {
            full.resize(n);
            while (full.size() > 1 && full.back() == L'\\' && !IsRoot(full)) full.pop_back();
            return full;
        }
        full.resize(n);
    }
    return {};
}

bool SamePath(const std::wstring& a, const std::wstring& b) { return compat::EqualNoCase(a, b); }

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty()) return name;
    if (folder.back() == L'\\' || folder.back() == L'/') return folder + name;
    return folder + L"\\" + name;
}

std::wstring OwnPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);  // XP cuts the name without saying so: try a larger buffer
    }
}

// ---- The walk ---------------------------------------------------------------------------------

bool OpenFolder(const std::wstring& path, const WalkOptions& options, Folder& top) {
    if (path.empty()) return false;
    std::wstring location = FolderLocation(path);
    if (location.empty()) return false;
    Folder folder;
    folder.path = path;
    folder.location = std::move(location);
    if (!List(folder, options)) return false;
    top = std::move(folder);
    return true;
}

bool Walk(Folder& top, const WalkOptions& options) {
    if (!top.listed && !OpenFolder(top.path, options, top)) return false;
    struct Level {
        Folder* folder;
        size_t done;  // subfolders visited so far
    };
    std::vector<Level> stack;
    if (Stopped(options) || (options.enter && !options.enter(top, 0))) return false;
    stack.push_back({&top, 0});
    while (!stack.empty()) {
        if (Stopped(options)) return false;
        Level& level = stack.back();
        Folder& folder = *level.folder;
        if (level.done < folder.folders.size()) {
            size_t i = options.lastFirst ? folder.folders.size() - 1 - level.done : level.done;
            ++level.done;
            std::unique_ptr<Folder>& child = folder.children[i];
            if (!child) {
                child = std::make_unique<Folder>();
                child->path = folder.PathOf(folder.folders[i]);
                // It was listed as a real folder; should it have become a link since, the check
                // of every delete in it still holds.
                child->location = folder.LocationOf(folder.folders[i]);
            }
            if (options.enter && !options.enter(*child, static_cast<int>(stack.size()))) return false;
            if (!child->listed && !List(*child, options)) {
                if (Stopped(options)) return false;
                continue;  // cannot be read: passed over
            }
            stack.push_back({child.get(), 0});
            continue;
        }
        if (options.leave) options.leave(folder);
        stack.pop_back();
    }
    return !Stopped(options);
}

// ---- Deleting ---------------------------------------------------------------------------------

namespace {

// A listed file opened for its deletion, or why it was not: the error travels with it, as the
// opening may run on another thread than the deletion.
struct Opened {
    UniqueHandle file;
    DWORD error = ERROR_SUCCESS;
};

// The guard: the file opened without following a link, never a folder, and only where it was listed.
Opened OpenListedFile(const std::wstring& path, const std::wstring& location) {
    const Native& nt = Native::Get();
    Opened out;
    std::wstring longPath = LongPath(path);
    if (longPath.rfind(L"\\\\?\\", 0) != 0 || location.empty()) {
        out.error = ERROR_INVALID_NAME;
        return out;
    }
    std::wstring ntPath = L"\\??\\" + longPath.substr(4);
    if (!nt.openFile || !nt.setInformationFile || ntPath.size() * sizeof(wchar_t) > 0xFFFE) {
        out.error = ERROR_CALL_NOT_IMPLEMENTED;
        return out;
    }
    UNICODE_STRING name{static_cast<USHORT>(ntPath.size() * sizeof(wchar_t)),
                        static_cast<USHORT>(ntPath.size() * sizeof(wchar_t)), ntPath.data()};
    OBJECT_ATTRIBUTES attributes{};
    attributes.Length = sizeof attributes;
    attributes.ObjectName = &name;
    attributes.Attributes = OBJ_CASE_INSENSITIVE;
    IO_STATUS_BLOCK io{};
    HANDLE opened = nullptr;
    // Never a folder; a reparse point is opened as itself, not as what it points to.
    LONG status = nt.openFile(&opened, DELETE | SYNCHRONIZE, &attributes, &io, kShareAll,
                              Native::kNonDirectoryFile | Native::kOpenReparsePoint | Native::kSynchronousIoNonAlert);
    if (status < 0) {
        out.error = nt.ErrorOf(status);
        return out;
    }
    UniqueHandle file(opened);
    if (!SamePath(LocationOfHandle(file.get()), location)) {
        out.error = ERROR_CANT_ACCESS_FILE;
        return out;
    }
    out.file = std::move(file);
    return out;
}

// The second half: the checked handle's file deleted, on the calling thread.
bool DeleteOpenedFile(Opened& opened) {
    if (!opened.file) {
        SetLastError(opened.error);
        return false;
    }
    const Native& nt = Native::Get();
    IO_STATUS_BLOCK io{};
    struct {
        BOOLEAN DeleteFile;
    } disposition{TRUE};  // FILE_DISPOSITION_INFORMATION; a read-only file is refused by the system
    LONG status = nt.setInformationFile(opened.file.get(), &io, &disposition, sizeof disposition,
                                        Native::kFileDispositionInformation);
    opened.file.reset();  // the file goes with its last handle
    if (status < 0) {
        SetLastError(nt.ErrorOf(status));
        return false;
    }
    return true;
}

}  // namespace

bool DeleteListedFile(const std::wstring& path, const std::wstring& location) {
    Opened opened = OpenListedFile(path, location);
    return DeleteOpenedFile(opened);
}

// ---- Deleting a folder's files in order -------------------------------------------------------

// The helper thread and one batch of work for it. The caller's thread hands over a folder's files
// and takes the opened ones back in order. Everything the two share is guarded by one lock; each
// side waits on its event only for a state the other changes under that lock, and the other
// signals only a side that said it waits, so no change is missed and no wait needs a time-out.
struct ListedFileDeleter::Ahead {
    Ahead() { InitializeCriticalSection(&lock); }
    ~Ahead() { DeleteCriticalSection(&lock); }
    Ahead(const Ahead&) = delete;
    Ahead& operator=(const Ahead&) = delete;

    CRITICAL_SECTION lock;
    UniqueHandle thread;
    UniqueHandle work;      // auto-reset: a batch is there, or the end
    UniqueHandle progress;  // auto-reset: another file is ready, or the batch is over
    // Under the lock:
    bool quit = false;
    bool busy = false;    // the helper has a batch
    bool cancel = false;  // the caller wants no more of this batch
    bool callerWaits = false;
    size_t ready = 0;     // files of the batch the helper has done
    // Set by the caller before the batch is handed over; then read by the helper only.
    const Folder* folder = nullptr;
    const std::vector<const Entry*>* files = nullptr;
    std::vector<Opened> opened;  // slot i written by the helper before `ready` passes i
    bool inBatch = false;        // the caller's thread only

    static DWORD WINAPI Run(void* self) {
        static_cast<Ahead*>(self)->Loop();
        return 0;
    }
    void Loop() {
        for (;;) {
            WaitForSingleObject(work.get(), INFINITE);
            EnterCriticalSection(&lock);
            bool stop = quit, have = busy;
            LeaveCriticalSection(&lock);
            if (stop) return;
            if (!have) continue;
            for (size_t i = 0; i < files->size(); ++i) {
                EnterCriticalSection(&lock);
                bool cancelled = cancel;
                LeaveCriticalSection(&lock);
                if (cancelled) break;
                const Entry& file = *(*files)[i];
                if (!(file.attributes & FILE_ATTRIBUTE_READONLY)) {
                    opened[i] = OpenListedFile(folder->PathOf(file), folder->LocationOf(file));
                }
                Update([&] { ready = i + 1; });
            }
            Update([&] { busy = false; });
        }
    }
    // On the helper's thread: a change of the shared state, and a signal if the caller waits.
    template <typename Change>
    void Update(Change change) {
        EnterCriticalSection(&lock);
        change();
        bool wake = callerWaits;
        LeaveCriticalSection(&lock);
        if (wake) SetEvent(progress.get());
    }
    // On the caller's thread: until `until` holds (read under the lock).
    template <typename Until>
    void Await(Until until) {
        EnterCriticalSection(&lock);
        while (!until()) {
            callerWaits = true;
            LeaveCriticalSection(&lock);
            WaitForSingleObject(progress.get(), INFINITE);
            EnterCriticalSection(&lock);
            callerWaits = false;
        }
        LeaveCriticalSection(&lock);
    }
};

ListedFileDeleter::ListedFileDeleter() {
    Native::Get();  // looked up before a second thread needs it
    auto ahead = std::make_unique<Ahead>();
    ahead->work.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    ahead->progress.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!ahead->work || !ahead->progress) return;
    ahead->thread.reset(CreateThread(nullptr, 0, &Ahead::Run, ahead.get(), 0, nullptr));
    if (ahead->thread) ahead_ = std::move(ahead);  // else every file is opened on the caller's thread
}

ListedFileDeleter::~ListedFileDeleter() {
    if (!ahead_) return;
    EnterCriticalSection(&ahead_->lock);
    ahead_->quit = true;
    LeaveCriticalSection(&ahead_->lock);
    SetEvent(ahead_->work.get());
    WaitForSingleObject(ahead_->thread.get(), INFINITE);
}

void ListedFileDeleter::Delete(const Folder& folder, const std::vector<const Entry*>& files,
                               const std::function<bool()>& goOn,
                               const std::function<void(const Entry&, bool)>& done) {
    // One file alone gains nothing from the hand-over; a call from inside a batch's callbacks
    // finds the helper busy with that batch.
    if (!ahead_ || files.size() < 2 || ahead_->inBatch) {
        for (const Entry* file : files) {
            if (!goOn()) return;
            bool deleted = false;
            if (!(file->attributes & FILE_ATTRIBUTE_READONLY)) {
                deleted = DeleteListedFile(folder.PathOf(*file), folder.LocationOf(*file));
            }
            done(*file, deleted);
        }
        return;
    }
    Ahead& ahead = *ahead_;
    ahead.inBatch = true;
    ahead.folder = &folder;
    ahead.files = &files;
    ahead.opened.clear();
    ahead.opened.resize(files.size());
    EnterCriticalSection(&ahead.lock);
    ahead.ready = 0;
    ahead.cancel = false;
    ahead.busy = true;
    LeaveCriticalSection(&ahead.lock);
    SetEvent(ahead.work.get());
    // However this ends, the helper is done with the batch before it goes out of scope; files
    // opened ahead and not deleted are only closed.
    struct EndOfBatch {
        Ahead& ahead;
        ~EndOfBatch() {
            EnterCriticalSection(&ahead.lock);
            ahead.cancel = true;
            LeaveCriticalSection(&ahead.lock);
            ahead.Await([this] { return !ahead.busy; });
            ahead.opened.clear();
            ahead.inBatch = false;
        }
    } end{ahead};
    for (size_t i = 0; i < files.size(); ++i) {
        if (!goOn()) return;
        ahead.Await([&] { return ahead.ready > i; });
        bool deleted = !(files[i]->attributes & FILE_ATTRIBUTE_READONLY) && DeleteOpenedFile(ahead.opened[i]);
        done(*files[i], deleted);
    }
}

bool DeletePlainFile(const std::wstring& path) {
    std::wstring full = AbsolutePath(path);
    size_t slash = full.find_last_of(L'\\');
    if (full.empty() || slash == std::wstring::npos || slash + 1 == full.size()) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    std::wstring folder = full.substr(0, slash);
    if (folder.size() == 2) folder += L'\\';  // "C:" stands for the drive's root here
    // The file's folder as the caller names it, links on the way included; the file itself is
    // still opened as itself and must lie in that folder.
    std::wstring location = FolderLocation(folder, /*throughLinks=*/true);
    if (location.empty()) {
        DWORD attrs = GetFileAttributesW(LongPath(folder).c_str());
        SetLastError(attrs == INVALID_FILE_ATTRIBUTES ? ERROR_PATH_NOT_FOUND : ERROR_CANT_ACCESS_FILE);
        return false;
    }
    return DeleteListedFile(full, JoinPath(location, full.substr(slash + 1)));
}

}  // namespace tovra::fs
