#include "main/washer/folder_sweep.h"

#include <shlobj.h>

#include <cwctype>


namespace tovra::washer {
namespace {

// What the list controls show: folders and files by name, no hidden or system files.
fs::WalkOptions ListOptions() {
    fs::WalkOptions options;
    options.byName = true;
    options.skipFiles = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    return options;
}

std::shared_ptr<const fs::Folder> ReadFolder(const std::wstring& path) {
    auto folder = std::make_shared<fs::Folder>();
    if (!fs::OpenFolder(path, ListOptions(), *folder)) return nullptr;
    return folder;
}

// A listing the walk may extend with its subfolders' listings, leaving the shown one as it is.
fs::Folder WalkableCopy(const fs::Folder& shown) {
    fs::Folder top;
    top.path = shown.path;
    top.location = shown.location;
    top.folders = shown.folders;
    top.files = shown.files;
    top.children.resize(top.folders.size());
    top.listed = shown.listed;
    return top;
}

wchar_t Upper(wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); }

// "*" and "?" without regard to case, iteratively with one point to come back to.
bool Matches(const wchar_t* name, const wchar_t* pattern) {
    const wchar_t* star = nullptr;
    const wchar_t* resume = nullptr;
    while (*name) {
        if (*pattern == L'*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == L'?' || (*pattern && Upper(*pattern) == Upper(*name))) {
            ++pattern;
            ++name;
        } else if (star) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == L'*') ++pattern;
    return !*pattern;
}

std::wstring Trimmed(std::wstring s) {
    s.erase(0, s.find_first_not_of(L' '));
    s.erase(s.find_last_not_of(L' ') + 1);
    return s;
}

}  // namespace

bool MatchesFilePattern(const std::wstring& name, const std::wstring& patterns) {
    size_t start = 0;
    for (;;) {
        size_t end = patterns.find(L';', start);
        std::wstring part = Trimmed(patterns.substr(start, end == std::wstring::npos ? end : end - start));
        if (!part.empty()) {
            if (Matches(name.c_str(), part.c_str())) return true;
            // As the system reads it, a trailing ".*" also matches a name without an extension.
            if (part.size() >= 2 && part.compare(part.size() - 2, 2, L".*") == 0 &&
                name.find(L'.') == std::wstring::npos && Matches(name.c_str(), part.substr(0, part.size() - 2).c_str())) {
                return true;
            }
        }
        if (end == std::wstring::npos) return false;
        start = end + 1;
    }
}

// ---- DirList ----------------------------------------------------------------------------------

const std::wstring& DirList::Path() const {
    static const std::wstring none;
    return listing_ ? listing_->path : none;
}

bool DirList::SetPath(const std::wstring& path) {
    std::wstring full = fs::AbsolutePath(path);
    if (full.empty()) return false;
    std::shared_ptr<const fs::Folder> listing = ReadFolder(full);
    if (!listing) return false;
    Show(std::move(listing));
    return true;
}

bool DirList::OpenSubfolder(int index) {
    if (!listing_ || index < 0 || index >= ListCount()) return false;
    return SetPath(List(index));
}

void DirList::Show(std::shared_ptr<const fs::Folder> listing) {
    listing_ = std::move(listing);
    listIndex_ = -1;
    if (onChange) onChange();
}

int DirList::ListCount() const { return listing_ ? static_cast<int>(listing_->folders.size()) : 0; }

std::wstring DirList::List(int index) const {
    if (index == -1) return Path();
    if (index < 0 || index >= ListCount()) return {};
    return listing_->PathOf(listing_->folders[static_cast<size_t>(index)]);
}

void DirList::SetListIndex(int index) {
    if (index >= -1 && index < ListCount()) listIndex_ = index;
}

// ---- FileList ---------------------------------------------------------------------------------

void FileList::SetPath(const std::wstring& path, std::shared_ptr<const fs::Folder> listing) {
    path_ = path;
    listing_ = listing && listing->path == path ? std::move(listing) : nullptr;
    Refresh();
}

void FileList::SetPattern(const std::wstring& pattern) {
    if (pattern == pattern_) return;
    pattern_ = pattern;
    Refresh();
}

std::wstring FileList::List(int index) const {
    return index >= 0 && index < ListCount() ? names_[static_cast<size_t>(index)] : std::wstring();
}

void FileList::Refresh() {
    names_.clear();
    if (path_.empty()) return;
    if (!listing_) listing_ = ReadFolder(path_);
    if (!listing_) return;
    for (const fs::Entry& file : listing_->files) {
        if (MatchesFilePattern(file.name, pattern_)) names_.push_back(file.name);
    }
}

// ---- FolderSweep ------------------------------------------------------------------------------

FolderSweep::FolderSweep(std::function<void(const std::wstring&)> label1) : label1_(std::move(label1)) {
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
    // The folder list never left the top folder; the file list is read again, its files are gone.
    filList.SetPath(dirList.Path());
}

// Depth first: the subfolders of a folder from the last (by name) to the first, each whole tree
// before the next, and a folder's own files after all of its subfolders. The stop is asked at
// every folder level and before every file.
void FolderSweep::SweepFolder() {
    fs::Folder top = WalkableCopy(*dirList.Listing());
    fs::WalkOptions options = ListOptions();
    options.lastFirst = true;
    options.stopped = [this] {
        if (!stopped_ && cancelled && cancelled()) stopped_ = true;
        return stopped_;
    };
    options.enter = [this](const fs::Folder&, int) {
        if ((keepGoing && !keepGoing()) || (cancelled && cancelled())) stopped_ = true;
        return !stopped_;
    };
    fs::ListedFileDeleter deleter;
    options.leave = [this, &deleter](const fs::Folder& folder) { DeleteFiles(deleter, folder); };
    fs::Walk(top, options);
}

void FolderSweep::DeleteFiles(fs::ListedFileDeleter& deleter, const fs::Folder& folder) {
    std::vector<const fs::Entry*> matching;
    for (const fs::Entry& file : folder.files) {
        if (MatchesFilePattern(file.name, filList.Pattern())) matching.push_back(&file);
    }
    // A read-only file is left, as Windows leaves it (Wine as root would delete it); it is shown all the same.
    deleter.Delete(
        folder, matching,
        [this] {
            if (!stopped_ && cancelled && cancelled()) stopped_ = true;
            return !stopped_;
        },
        [this, &folder](const fs::Entry& file, bool) { SetLabel1(folder.PathOf(file)); });
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
