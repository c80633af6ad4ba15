#include "scanner/search_engine.h"

#include <algorithm>
#include <cwchar>
#include <vector>

#include "shared/compat.h"
#include "shared/win_handles.h"

namespace tovra::scanner {
namespace {

constexpr DWORD kSkippedFolder = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_REPARSE_POINT;
constexpr DWORD kNotListed = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

bool IsDriveAbsolute(const std::wstring& p) {
    return p.size() >= 2 && p[1] == L':' && ((p[0] >= L'A' && p[0] <= L'Z') || (p[0] >= L'a' && p[0] <= L'z')) &&
           (p.size() == 2 || p[2] == L'\\');
}

bool IsUnc(const std::wstring& p) { return p.size() > 2 && p[0] == L'\\' && p[1] == L'\\' && p[2] != L'?'; }

// The walk's own paths are exact names from the listings: the \\?\ form keeps them exact (no
// trailing dots or blanks dropped) and lets paths grow past MAX_PATH.
std::wstring FsPath(const std::wstring& path) {
    if (IsDriveAbsolute(path)) return L"\\\\?\\" + path;
    if (IsUnc(path)) return L"\\\\?\\UNC\\" + path.substr(2);
    return path;
}

// Paths handed in by a caller keep their usual meaning; only a long one needs the \\?\ form.
std::wstring LongPathFor(const std::wstring& path) {
    if (path.size() < MAX_PATH) return path;
    return FsPath(path);
}

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
    std::wstring full(MAX_PATH, L'\0');
    DWORD n = GetFullPathNameW(folder.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n >= full.size()) {
        full.resize(n);
        n = GetFullPathNameW(folder.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    }
    if (n == 0 || n >= full.size()) return folder;
    full.resize(n);
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

// ---- The folder tree --------------------------------------------------------------------------

// The folders and file names of one drive as the walk listed them. A folder's subfolders and its
// files are contiguous ranges, so a search can walk the tree again without listing it.
struct SearchEngine::Tree {
    struct Node {
        std::uint32_t nameOffset = 0, nameLength = 0;  // in pool; the root's name is unused
        std::uint32_t firstChild = 0, childCount = 0;
        std::uint32_t firstFile = 0, fileCount = 0;
        bool listed = false;
    };
    struct Name {
        std::uint32_t offset, length;
    };

    explicit Tree(std::wstring rootFolder) : root(std::move(rootFolder)) { nodes.emplace_back(); }

    // One listing of the folder: its files, and the subfolders a search walks.
    void List(std::uint32_t node, const std::wstring& path) {
        std::wstring pattern = FsPath(path) + L"\\*";
        WIN32_FIND_DATAW fd;
        UniqueFind find(compat::FindFirstFileFast(pattern.c_str(), &fd));
        std::uint32_t firstFile = static_cast<std::uint32_t>(files.size());
        std::vector<Name> folders;
        if (find) {
            do {
                const wchar_t* n = fd.cFileName;
                if (n[0] == L'.' && (n[1] == 0 || (n[1] == L'.' && n[2] == 0))) continue;
                Name name{static_cast<std::uint32_t>(pool.size()), static_cast<std::uint32_t>(wcslen(n))};
                if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    if (!WalksInto(fd.dwFileAttributes)) continue;
                    folders.push_back(name);
                } else {
                    files.push_back(name);
                }
                pool.append(n, name.length);
            } while (FindNextFileW(find.get(), &fd));
        }
        Node& self = nodes[node];
        self.firstFile = firstFile;
        self.fileCount = static_cast<std::uint32_t>(files.size()) - firstFile;
        self.firstChild = static_cast<std::uint32_t>(nodes.size());
        self.childCount = static_cast<std::uint32_t>(folders.size());
        self.listed = true;
        for (const Name& f : folders) {
            Node child;
            child.nameOffset = f.offset;
            child.nameLength = f.length;
            nodes.push_back(child);
        }
    }

    std::wstring root;
    std::vector<Node> nodes;  // nodes[0] is the start folder
    std::vector<Name> files;
    std::wstring pool;
    bool complete = false;    // every folder listed: the tree can serve the next search
};

// ---- The search -------------------------------------------------------------------------------

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
        bool sameDrive = kept_ && Equal(kept_->root.data(), kept_->root.size(), root->data(), root->size());
        if (scanning_ && sameDrive && kept_->complete) {
            tree = std::move(kept_);
        } else {
            kept_.reset();
            tree = std::make_unique<Tree>(*root);
        }
        SearchFolder(*tree, name, view);
        if (searching_) tree->complete = true;
        if (scanning_ && tree->complete) kept_ = std::move(tree);
    }
    searching_ = false;
    return SummaryText(view.RowCount());
}

// Depth-first, subfolders in listing order, each folder's own files after its subfolders.
// An explicit stack: a deep tree costs memory, never the thread's stack.
void SearchEngine::SearchFolder(Tree& tree, const NamePattern& pattern, SearchView& view) {
    if (!searching_) return;
    std::wstring path = tree.root;
    if (!tree.nodes[0].listed) {
        tree.List(0, path);
        ++foldersListed_;
    }
    struct Frame {
        std::uint32_t node, next;
        size_t pathLength;
    };
    std::vector<Frame> stack{{0, 0, path.size()}};
    while (!stack.empty()) {
        Frame& top = stack.back();
        const Tree::Node& node = tree.nodes[top.node];
        if (top.next < node.childCount) {
            std::uint32_t child = node.firstChild + top.next++;
            const Tree::Node& c = tree.nodes[child];
            path.resize(top.pathLength);
            path += L'\\';
            path.append(tree.pool, c.nameOffset, c.nameLength);
            if (!Step(path, view)) return;
            if (!tree.nodes[child].listed) {
                tree.List(child, path);
                ++foldersListed_;
            }
            stack.push_back({child, 0, path.size()});
        } else {
            path.resize(top.pathLength);
            if (!searching_) return;
            FilePass(tree, top.node, path, pattern, view);
            stack.pop_back();
        }
    }
}

// A folder step: now and then show the folder and let the window's events run (Exit among them).
bool SearchEngine::Step(const std::wstring& folder, SearchView& view) {
    if (!searching_) return false;
    ULONGLONG now = compat::TickCount64();
    if (!pumpedOnce_ || pumpIntervalMs_ == 0 || now - lastPump_ >= pumpIntervalMs_) {
        pumpedOnce_ = true;
        lastPump_ = now;
        view.SetStatus(folder);
        if (!view.DoEvents()) searching_ = false;
    }
    return searching_;
}

void SearchEngine::FilePass(const Tree& tree, std::uint32_t node, const std::wstring& folder,
                            const NamePattern& pattern, SearchView& view) {
    if (pattern.kind == NamePattern::Kind::Nothing) return;
    const Tree::Node& n = tree.nodes[node];
    for (std::uint32_t i = n.firstFile; i < n.firstFile + n.fileCount && searching_; ++i) {
        const Tree::Name& f = tree.files[i];
        if (!pattern.Matches(tree.pool.data() + f.offset, f.length)) continue;
        std::wstring name(tree.pool, f.offset, f.length);
        std::wstring fs = FsPath(folder + L"\\" + name);
        // Only a file that is there now, and that a listing of plain files shows, gets a row.
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!GetFileAttributesExW(fs.c_str(), GetFileExInfoStandard, &data)) continue;
        if (data.dwFileAttributes & kNotListed) continue;
        std::uint64_t size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        view.AddRow(name, folder, SizeText(size), DateText(data.ftLastWriteTime));
        // A file that cannot go (read-only, in use, no rights) keeps its row and counts.
        TryDeleteFile(fs);
    }
}

void SearchEngine::TryDeleteFile(const std::wstring& fsPath) { DeleteFileW(fsPath.c_str()); }

}  // namespace tovra::scanner
