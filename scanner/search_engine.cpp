#include "scanner/search_engine.h"

#include <algorithm>
#include <cwchar>
#include <vector>

#include "shared/compat.h"
#include "shared/file_system.h"
#include "shared/win_handles.h"

namespace tovra::scanner {
namespace {

constexpr DWORD kSkippedFolder = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_REPARSE_POINT;
constexpr DWORD kNotListed = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// Paths handed in by a caller keep their usual meaning; only a long one needs the \\?\ form.
std::wstring LongPathFor(const std::wstring& path) { return path.size() < MAX_PATH ? path : fs::LongPath(path); }

bool Equal(const wchar_t* a, size_t an, const wchar_t* b, size_t bn) {
    // Ordinal comparison without regard to case: what the file system itself does with names.
    return compat::CompareNoCase(a, an, b, bn) == 0;
}

// The start folder as the walk shows it: no trailing backslash, a drive root as the bare "C:".
// Nothing when the folder is made of backslashes only (there is no sound folder to walk).
std::optional<std::wstring> StartFolder(std::wstring folder) {
    if (folder.empty()) folder = L"C:\\";
    while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    if (folder.empty()) return std::nullopt;
    if (folder.size() == 2 && folder[1] == L':') return folder;  // "C:" is the root, not C's current folder
    std::wstring full = fs::AbsolutePath(folder);
    if (full.empty()) return folder;
    while (full.size() > 2 && full.back() == L'\\') full.pop_back();
    return full;
}

}  // namespace

// ---- Texts ------------------------------------------------------------------------------------

std::wstring SummaryText(int rowCount) {
    return std::to_wstring(rowCount) + L" virus(s) found and removed. Please Clean IE";
}

std::wstring SizeText(std::uint64_t bytes) {
    // Above 1024 KB the text counts units of 1000 KB, rounded down.
    if (bytes > 1024ull * 1024ull) return std::to_wstring(bytes / 1024000ull) + L"MB";
    // Otherwise the whole kilobytes plus one (also for an exact multiple), right-aligned in two places.
    std::wstring kb = std::to_wstring(bytes / 1024ull + 1);
    if (kb.size() < 2) kb.insert(0, 2 - kb.size(), L' ');
    return kb + L"KB";
}

std::wstring FileSizeText(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(LongPathFor(path).c_str(), GetFileExInfoStandard, &data)) return {};
    return SizeText((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

std::wstring DateText(const FILETIME& utc) {
    SYSTEMTIME st{}, local{};
    if (!FileTimeToSystemTime(&utc, &st)) return {};
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &st, &local)) return {};
    wchar_t buf[128];
    int n = GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &local, nullptr, buf, 128);
    if (n <= 0) return {};
    std::wstring text(buf, static_cast<size_t>(n - 1));
    if (local.wHour == 0 && local.wMinute == 0 && local.wSecond == 0) return text;  // midnight: date only
    n = GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &local, nullptr, buf, 128);
    if (n <= 0) return text;
    return text + L" " + std::wstring(buf, static_cast<size_t>(n - 1));
}

std::wstring FileDateText(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(LongPathFor(path).c_str(), GetFileExInfoStandard, &data)) return {};
    return DateText(data.ftLastWriteTime);
}

// ---- Patterns ---------------------------------------------------------------------------------

namespace {

bool IsWildcardChar(wchar_t c) { return c == L'*' || c == L'?' || c == L'<' || c == L'>'; }

// Characters no file name holds; "/" and "\" would make the pattern a path into another folder.
bool IsForbiddenChar(wchar_t c) {
    return c < 0x20 || c == L'"' || c == L'/' || c == L'\\' || c == L':' || c == L'|';
}

// The engine's own rule: a pattern with no "." from its second character on gets a "*".
bool GetsStar(const std::wstring& pattern) {
    for (size_t i = pattern.size(); i-- > 1;) {
        if (pattern[i] == L'.') return false;
    }
    return true;
}

}  // namespace

bool HasWildcard(const std::wstring& name) {
    return std::any_of(name.begin(), name.end(), IsWildcardChar);
}

bool WalksInto(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & kSkippedFolder);
}

NamePattern NamePattern::Parse(const std::wstring& pattern, bool widen) {
    NamePattern p;
    // An empty pattern must never grow into "*", which would take every file.
    if (pattern.empty() || HasWildcard(pattern)) return p;
    if (std::any_of(pattern.begin(), pattern.end(), IsForbiddenChar)) return p;
    if (widen && GetsStar(pattern)) {
        p.kind = Kind::Prefix;
        p.text = pattern;
        return p;
    }
    // The system drops trailing dots and blanks from a name it is given.
    std::wstring name = pattern;
    while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.pop_back();
    if (name.empty()) return p;
    p.kind = Kind::Name;
    p.text = std::move(name);
    return p;
}

bool NamePattern::Matches(const wchar_t* name, size_t length) const {
    switch (kind) {
    case Kind::Name:
        return length == text.size() && Equal(name, length, text.data(), text.size());
    case Kind::Prefix:
        return length >= text.size() && Equal(name, text.size(), text.data(), text.size());
    case Kind::Nothing:
        break;
    }
    return false;
}

// ---- The search -------------------------------------------------------------------------------

// The folders and files of one drive as the walk listed them, kept for the next search of a scan.
struct SearchEngine::Tree {
    fs::Folder top;
    bool complete = false;  // every folder listed: the tree can serve the next search
};

SearchEngine::SearchEngine() = default;
SearchEngine::~SearchEngine() = default;

void SearchEngine::BeginScan() {
    scanning_ = true;
    kept_.reset();
}

void SearchEngine::EndScan() {
    scanning_ = false;
    kept_.reset();
}

std::wstring SearchEngine::SearchFiles(const std::wstring& pattern, const std::wstring& folder, SearchView& view,
                                       NameRule rule) {
    if (searching_) {
        // A second search from inside the first one's events is a request to stop.
        searching_ = false;
        return {};
    }
    NamePattern name = NamePattern::Parse(pattern, rule == NameRule::Pattern);
    std::optional<std::wstring> root = StartFolder(folder);
    searching_ = true;
    pumpedOnce_ = false;
    if (root) {
        std::unique_ptr<Tree> tree;
        bool sameDrive = kept_ && fs::SamePath(kept_->top.path, *root);
        if (scanning_ && sameDrive && kept_->complete) {
            tree = std::move(kept_);
        } else {
            kept_.reset();
            tree = std::make_unique<Tree>();
            tree->top.path = *root;
        }
        if (SearchFolder(*tree, name, view)) tree->complete = true;
        if (scanning_ && tree->complete) kept_ = std::move(tree);
    }
    searching_ = false;
    return SummaryText(view.RowCount());
}

// Depth-first, subfolders in listing order, each folder's own files after its subfolders.
bool SearchEngine::SearchFolder(Tree& tree, const NamePattern& pattern, SearchView& view) {
    if (!searching_) return false;
    // A 32-bit scanner on 64-bit Windows would list SysWOW64 under the name System32, and the
    // location check would not find its files where it looks: the walk and its deletions see
    // the real folders.
    compat::FileSystemRedirectionOff redirectionOff;
    redirection_ = &redirectionOff;
    struct Clear {
        compat::FileSystemRedirectionOff*& p;
        ~Clear() { p = nullptr; }
    } clear{redirection_};
    fs::WalkOptions options;
    options.skipFolders = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    options.stopped = [this] { return !searching_; };
    options.enter = [this, &view](const fs::Folder& folder, int depth) { return depth == 0 || Step(folder.path, view); };
    options.leave = [this, &pattern, &view](const fs::Folder& folder) { FilePass(folder, pattern, view); };
    options.listings = &foldersListed_;
    return fs::Walk(tree.top, options) && searching_;
}

// A folder step: now and then show the folder and let the window's events run (Exit among them).
bool SearchEngine::Step(const std::wstring& folder, SearchView& view) {
    if (!searching_) return false;
    ULONGLONG now = compat::TickCount64();
    if (!pumpedOnce_ || pumpIntervalMs_ == 0 || now - lastPump_ >= pumpIntervalMs_) {
        pumpedOnce_ = true;
        lastPump_ = now;
        compat::FileSystemRedirectionOff::Restored forTheWindow(redirection_);
        view.SetStatus(folder);
        if (!view.DoEvents()) searching_ = false;
    }
    return searching_;
}

void SearchEngine::FilePass(const fs::Folder& folder, const NamePattern& pattern, SearchView& view) {
    if (pattern.kind == NamePattern::Kind::Nothing) return;
    for (const fs::Entry& file : folder.files) {
        if (!searching_) return;
        if (!pattern.Matches(file.name.data(), file.name.size())) continue;
        std::wstring path = folder.PathOf(file);
        // Only a file that is there now, and that a listing of plain files shows, gets a row.
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!GetFileAttributesExW(fs::LongPath(path).c_str(), GetFileExInfoStandard, &data)) continue;
        if (data.dwFileAttributes & kNotListed) continue;
        std::uint64_t size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        view.AddRow(file.name, folder.path, SizeText(size), DateText(data.ftLastWriteTime));
        // A file that cannot go (read-only, in use, no rights) keeps its row and counts; a link
        // named like a list entry is not followed to the file it points to.
        fs::DeleteListedFile(path, folder.LocationOf(file));
    }
}

}  // namespace tovra::scanner
