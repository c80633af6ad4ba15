#include "main/washer/folder_sweep.h"

#include <shlobj.h>

#include <winternl.h>

#include <algorithm>
#include <cstdint>

#include "shared/compat.h"
#include "shared/forms.h"
#include "shared/win_handles.h"

namespace tovra::washer {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return !a.empty() && compat::EqualNoCase(a, b);
}

// The list controls sort by name without regard to case.
bool NameLess(const FolderEntry& a, const FolderEntry& b) {
    int c = compat::CompareNoCase(a.name.data(), a.name.size(), b.name.data(), b.name.size());
    if (c != 0) return c < 0;
    return a.name < b.name;
}

// Wine lists Unix names that Windows cannot hold (with ':' a name would even reach another
// file's stream): such names are left out, they could not be opened as listed anyway.
bool IsPlainName(const std::wstring& name) {
    if (name.empty() || name == L"." || name == L"..") return false;
    return name.find_first_of(L"\\/:*?\"<>|") == std::wstring::npos;
}

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
    return !folder.empty() && folder.back() == L'\\' ? folder + name : folder + L"\\" + name;
}

// The form every file call gets, so that paths longer than MAX_PATH work too.
std::wstring ExtendedPath(const std::wstring& path) {
    if (path.rfind(L"\\\\?\\", 0) == 0) return path;
    if (path.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + path.substr(2);
    return L"\\\\?\\" + path;
}

bool IsRoot(const std::wstring& path) {
    size_t n = path.size();
    return n >= 3 && path[n - 1] == L'\\' && path[n - 2] == L':' && (n == 3 || n == 7);
}

// Absolute, with backslashes, without a trailing separator except at a drive root.
std::wstring NormalizeFolderPath(const std::wstring& path) {
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

// Where an open file or folder really is, as the system names the open object
// ("\Device\HarddiskVolume2\...", under Wine "\??\C:\..."), or empty. Unlike
// GetFinalPathNameByHandle this also works beyond MAX_PATH under Wine.
std::wstring LocationOf(HANDLE h) {
    using QueryObject = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    constexpr int kObjectNameInformation = 1;
    static const auto query = reinterpret_cast<QueryObject>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
    if (!query) return {};
    std::vector<std::uint64_t> buffer(1024 / sizeof(std::uint64_t));
    for (int attempt = 0; attempt < 3; ++attempt) {
        ULONG bytes = static_cast<ULONG>(buffer.size() * sizeof(std::uint64_t));
        ULONG needed = 0;
        LONG status = query(h, kObjectNameInformation, buffer.data(), bytes, &needed);
        if (status >= 0) {
            const auto* name = reinterpret_cast<const UNICODE_STRING*>(buffer.data());
            return name->Buffer ? std::wstring(name->Buffer, name->Length / sizeof(wchar_t)) : std::wstring();
        }
        if (needed <= bytes || needed > (1u << 20)) return {};
        buffer.resize(needed / sizeof(std::uint64_t) + 1);
    }
    return {};
}

// Reads a folder; nullptr when it is missing, cannot be read or is itself a link. A subfolder
// comes with the location its parent's listing gives it: it was listed as a real folder, and
// should it have been swapped for a link since, the check of every delete still holds.
std::shared_ptr<FolderListing> ReadFolder(const std::wstring& path, std::wstring location) {
    std::wstring extended = ExtendedPath(path);
    if (location.empty()) {
        DWORD attrs = GetFileAttributesW(extended.c_str());
        if (attrs == INVALID_FILE_ATTRIBUTES || !(attrs & FILE_ATTRIBUTE_DIRECTORY) ||
            (attrs & FILE_ATTRIBUTE_REPARSE_POINT)) {
            return nullptr;
        }
        UniqueHandle folder(CreateFileW(extended.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!folder) return nullptr;
        location = LocationOf(folder.get());
        if (location.empty()) return nullptr;
    }
    auto listing = std::make_shared<FolderListing>();
    listing->path = path;
    listing->location = std::move(location);

    WIN32_FIND_DATAW fd;
    UniqueFind find(compat::FindFirstFileFast(Join(extended, L"*").c_str(), &fd));
    if (!find) {
        DWORD error = GetLastError();
        // An empty drive root has not even "." and "..".
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES ? listing : nullptr;
    }
    do {
        FolderEntry entry{fd.cFileName, fd.dwFileAttributes};
        if (!IsPlainName(entry.name)) continue;
        if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!(entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) listing->folders.push_back(std::move(entry));
        } else if (!(entry.attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))) {
            listing->files.push_back(std::move(entry));
        }
    } while (FindNextFileW(find.get(), &fd));
    std::sort(listing->folders.begin(), listing->folders.end(), NameLess);
    std::sort(listing->files.begin(), listing->files.end(), NameLess);
    return listing;
}

// The native file calls: a sweep deletes thousands of files, and under Wine opening through
// CreateFileW costs markedly more than NtOpenFile does.
struct NativeFileCalls {
    using OpenFile = LONG(WINAPI*)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*, IO_STATUS_BLOCK*, ULONG, ULONG);
    using SetInformationFile = LONG(WINAPI*)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, int);
    static constexpr ULONG kSynchronousIoNonAlert = 0x20;
    static constexpr ULONG kNonDirectoryFile = 0x40;
    static constexpr ULONG kOpenReparsePoint = 0x200000;
    static constexpr int kFileDispositionInformation = 13;

    NativeFileCalls() {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        openFile = reinterpret_cast<OpenFile>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtOpenFile")));
        setInformationFile = reinterpret_cast<SetInformationFile>(
            reinterpret_cast<void*>(GetProcAddress(ntdll, "NtSetInformationFile")));
    }
    static const NativeFileCalls& Get() {
        static const NativeFileCalls calls;
        return calls;
    }
    OpenFile openFile = nullptr;
    SetInformationFile setInformationFile = nullptr;
};

// Deletes one listed file ("\\?\" path); failures (read-only, in use, gone) are passed over.
bool TryDeleteFile(const std::wstring& extendedPath, const std::wstring& expectedLocation) {
    const NativeFileCalls& nt = NativeFileCalls::Get();
    std::wstring ntPath = L"\\??\\" + extendedPath.substr(4);
    if (!nt.openFile || !nt.setInformationFile || ntPath.size() * sizeof(wchar_t) > 0xFFFE) return false;
    UNICODE_STRING name{static_cast<USHORT>(ntPath.size() * sizeof(wchar_t)),
                        static_cast<USHORT>(ntPath.size() * sizeof(wchar_t)), ntPath.data()};
    OBJECT_ATTRIBUTES attributes{};
    attributes.Length = sizeof attributes;
    attributes.ObjectName = &name;
    attributes.Attributes = OBJ_CASE_INSENSITIVE;
    IO_STATUS_BLOCK io{};
    HANDLE opened = nullptr;
    if (nt.openFile(&opened, DELETE | SYNCHRONIZE, &attributes, &io, kShareAll,
                    NativeFileCalls::kNonDirectoryFile | NativeFileCalls::kOpenReparsePoint |
                        NativeFileCalls::kSynchronousIoNonAlert) < 0) {
        return false;
    }
    UniqueHandle file(opened);
    // Wine shows a Unix link to a file as a plain file, and deleting it deletes the file it points
    // to: delete only what really lies at this place of the tree.
    if (!SamePath(LocationOf(file.get()), expectedLocation)) return false;
    struct {
        BOOLEAN DeleteFile;
    } disposition{TRUE};  // FILE_DISPOSITION_INFORMATION
    return nt.setInformationFile(file.get(), &io, &disposition, sizeof disposition,
                                 NativeFileCalls::kFileDispositionInformation) >= 0;
}

bool MatchesAllFiles(const std::wstring& pattern) { return pattern == L"*" || pattern == L"*.*"; }

std::vector<std::wstring> SplitPatterns(const std::wstring& pattern) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    for (;;) {
        size_t end = pattern.find(L';', start);
        std::wstring part = pattern.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        part.erase(0, part.find_first_not_of(L' '));
        part.erase(part.find_last_not_of(L' ') + 1);
        if (!part.empty()) parts.push_back(part);
        if (end == std::wstring::npos) return parts;
        start = end + 1;
    }
}

}  // namespace

// ---- DirList ----------------------------------------------------------------------------------

const std::wstring& DirList::Path() const {
    static const std::wstring none;
    return listing_ ? listing_->path : none;
}

bool DirList::SetPath(const std::wstring& path) {
    std::wstring normalized = NormalizeFolderPath(path);
    if (normalized.empty()) return false;
    std::shared_ptr<FolderListing> listing = ReadFolder(normalized, L"");
    if (!listing) return false;
    Show(std::move(listing));
    return true;
}

bool DirList::OpenSubfolder(int index) {
    if (!listing_ || index < 0 || index >= ListCount()) return false;
    const std::wstring& name = listing_->folders[static_cast<size_t>(index)].name;
    std::shared_ptr<FolderListing> listing = ReadFolder(Join(listing_->path, name), Join(listing_->location, name));
    if (!listing) return false;
    Show(std::move(listing));
    return true;
}

void DirList::Show(std::shared_ptr<const FolderListing> listing) {
    listing_ = std::move(listing);
    listIndex_ = -1;
    if (onChange) onChange();
}

int DirList::ListCount() const { return listing_ ? static_cast<int>(listing_->folders.size()) : 0; }

std::wstring DirList::List(int index) const {
    if (index == -1) return Path();
    if (index < 0 || index >= ListCount()) return {};
    return Join(listing_->path, listing_->folders[static_cast<size_t>(index)].name);
}

void DirList::SetListIndex(int index) {
    if (index >= -1 && index < ListCount()) listIndex_ = index;
}

// ---- FileList ---------------------------------------------------------------------------------

void FileList::SetPath(const std::wstring& path, std::shared_ptr<const FolderListing> listing) {
    path_ = path;
    listing_ = std::move(listing);
    stale_ = true;
}

void FileList::SetPattern(const std::wstring& pattern) {
    if (pattern == pattern_) return;
    pattern_ = pattern;
    stale_ = true;
}

int FileList::ListCount() const { return static_cast<int>(Files().size()); }

std::wstring FileList::List(int index) const {
    const auto& files = Files();
    return index >= 0 && index < static_cast<int>(files.size()) ? files[static_cast<size_t>(index)].name
                                                                 : std::wstring();
}

DWORD FileList::Attributes(int index) const {
    const auto& files = Files();
    return index >= 0 && index < static_cast<int>(files.size()) ? files[static_cast<size_t>(index)].attributes : 0;
}

const std::vector<FolderEntry>& FileList::Files() const {
    if (!stale_) return files_;
    stale_ = false;
    files_.clear();
    if (path_.empty()) return files_;
    if (listing_ && listing_->path == path_ && MatchesAllFiles(pattern_)) {
        files_ = listing_->files;
        return files_;
    }
    std::wstring folder = ExtendedPath(path_);
    for (const std::wstring& part : SplitPatterns(pattern_)) {
        WIN32_FIND_DATAW fd;
        UniqueFind find(compat::FindFirstFileFast(Join(folder, part).c_str(), &fd));
        if (!find) continue;
        do {
            FolderEntry entry{fd.cFileName, fd.dwFileAttributes};
            if (!IsPlainName(entry.name)) continue;
            if (entry.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) continue;
            files_.push_back(std::move(entry));
        } while (FindNextFileW(find.get(), &fd));
    }
    std::sort(files_.begin(), files_.end(), NameLess);
    files_.erase(std::unique(files_.begin(), files_.end(),
                             [](const FolderEntry& a, const FolderEntry& b) { return a.name == b.name; }),
                 files_.end());
    return files_;
}

// ---- FolderSweep ------------------------------------------------------------------------------

FolderSweep::FolderSweep(std::function<void(const std::wstring&)> label1) : label1_(std::move(label1)) {
    doEvents = [] { return forms::DoEvents(); };
    dirList.onChange = [this] { dirList_Change(); };
}

void FolderSweep::dirList_Change() { filList.SetPath(dirList.Path(), dirList.Listing()); }

void FolderSweep::dirList_LostFocus() {
    int index = dirList.ListIndex();
    if (index == -1) {
        dirList.SetPath(dirList.Path());
    } else {
        dirList.OpenSubfolder(index);
    }
}

void FolderSweep::Find() {
    if (dirList.Path().empty() || stopped_) return;  // nothing selected, or the program is ending
    // Another entry than the open folder is highlighted: open it instead of sweeping.
    if (dirList.List(dirList.ListIndex()) != dirList.Path()) {
        dirList_LostFocus();
        return;
    }
    filList.SetPattern(txtSearchSpec);
    SweepFolder();
    filList.SetPath(dirList.Path());  // read again: the files are gone now
}

// Depth first with an explicit stack, so a deep tree cannot exhaust the call stack: the
// subfolders of a folder from the last to the first, each whole tree before the next, and a
// folder's own files after all of its subfolders.
void FolderSweep::SweepFolder() {
    struct Level {
        std::shared_ptr<const FolderListing> listing;
        int counter;  // subfolders still to visit, counting down
    };
    std::vector<Level> levels;
    auto enter = [&] {
        levels.push_back({dirList.Listing(), dirList.ListCount()});
        if (doEvents && !doEvents()) stopped_ = true;
    };
    enter();
    while (!levels.empty()) {
        Level& level = levels.back();
        // An event handler may have moved the list in between: show this level's folder again.
        if (dirList.Listing() != level.listing) dirList.Show(level.listing);
        if (level.counter > 0 && !stopped_) {
            --level.counter;
            if (dirList.OpenSubfolder(level.counter)) enter();  // a folder that cannot be opened is passed over
            continue;
        }
        if (!stopped_) DeleteFilesShown();
        levels.pop_back();
        if (!levels.empty()) dirList.Show(levels.back().listing);
    }
}

void FolderSweep::DeleteFilesShown() {
    const std::shared_ptr<const FolderListing>& folder = dirList.Listing();
    int count = filList.ListCount();
    if (!folder || count == 0) return;
    // A drive root already ends with its separator.
    std::wstring prefix = Join(folder->path, L"");
    std::wstring extendedPrefix = ExtendedPath(prefix);
    for (int i = 0; i < count; ++i) {
        std::wstring name = filList.List(i);
        // As root, Wine would delete a read-only file: leave it, as Windows does.
        if (!(filList.Attributes(i) & FILE_ATTRIBUTE_READONLY)) {
            TryDeleteFile(extendedPrefix + name, Join(folder->location, name));
        }
        SetLabel1(prefix + name);
    }
}

void FolderSweep::SetLabel1(const std::wstring& text) {
    label1Text_ = text;
    if (label1_) label1_(text);
}

// ---- Special folders --------------------------------------------------------------------------

std::wstring SpecialFolderPath(int csidl) {
    LPITEMIDLIST items = nullptr;
    if (SHGetSpecialFolderLocation(nullptr, csidl, &items) != S_OK || !items) return {};
    wchar_t buffer[MAX_PATH + 1] = {};
    BOOL ok = SHGetPathFromIDListW(items, buffer);
    CoTaskMemFree(items);
    if (!ok || !buffer[0]) return {};
    std::wstring path = buffer;
    // Some folders come back with a trailing separator; paths are joined with one later.
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    return path;
}

}  // namespace tovra::washer
