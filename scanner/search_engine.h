// SearchEngine: one name searched on one drive. Walks the folder tree depth-first, lists every
// file of that name in the scan window's results and deletes it, then returns the summary.
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "shared/compat.h"
#include "shared/file_system.h"

namespace tovra::scanner {

// What a search needs of the scan window: the results list, the status bar and the message pump.
class SearchView {
public:
    virtual ~SearchView() = default;
    // Appends a row: "Name", "In Folder", "Size", "Modified".
    virtual void AddRow(const std::wstring& name, const std::wstring& folder, const std::wstring& size,
                        const std::wstring& modified) = 0;
    virtual int RowCount() const = 0;
    // The status bar's first panel.
    virtual void SetStatus(const std::wstring& text) = 0;
    // Lets pending window events run; false once the program is ending.
    virtual bool DoEvents() = 0;
};

// The summary a search returns: the rows the list holds now, whoever added them.
std::wstring SummaryText(int rowCount);

// The "Size" column: whole kilobytes rounded up (" 1KB" for 0 to 1023 bytes, "1025KB" for
// 1,048,576), above 1,048,576 bytes whole units of 1,024,000 bytes ("1MB" for 2,000,000).
// Empty when the file's length cannot be read.
std::wstring FileSizeText(const std::wstring& path);
std::wstring SizeText(std::uint64_t bytes);

// The "Modified" column: the last write time in the user's general date format (short date and
// long time, the time left out at midnight). Empty when it cannot be read.
std::wstring FileDateText(const std::wstring& path);
std::wstring DateText(const FILETIME& utc);

// How a search reads its pattern.
struct NamePattern {
    enum class Kind {
        Name,     // a file name, matched without regard to case
        Prefix,   // a name without an extension: every file whose name starts with it
        Nothing,  // empty, a wildcard, a path or characters no file name can hold: matches nothing
    };
    Kind kind = Kind::Nothing;
    std::wstring text;  // the name or prefix to compare with

    // widen: the engine's rule for typed patterns, "name" without an extension stands for
    // "name*". Without it the pattern is taken as the one name it spells.
    static NamePattern Parse(const std::wstring& pattern, bool widen = true);
    bool Matches(const wchar_t* name, size_t length) const;
};

// True for names holding a wildcard ("*", "?" and the system's own "<", ">").
bool HasWildcard(const std::wstring& name);

// The folders a walk enters: every directory that is neither hidden nor system, whatever its
// archive or read-only bit; never a reparse point (a junction or link leads out of the tree).
bool WalksInto(DWORD attributes);

// How SearchFiles reads its pattern.
enum class NameRule {
    Pattern,    // "name" without an extension also finds "name*"
    ExactName,  // a virus list entry: that name and no other
};

class SearchEngine {
public:
    SearchEngine();
    ~SearchEngine();
    SearchEngine(const SearchEngine&) = delete;
    SearchEngine& operator=(const SearchEngine&) = delete;

    // Searches `folder` (a drive root such as "C:\") and its subfolders for files named `pattern`,
    // adds a row for each and deletes it. Returns the summary text. A call while a search runs
    // (from inside its events) stops that search and returns the empty text.
    std::wstring SearchFiles(const std::wstring& pattern, const std::wstring& folder, SearchView& view,
                             NameRule rule = NameRule::Pattern);

    // True while a search runs.
    bool Searching() const { return searching_; }
    // Stops the running search at its next step; nothing more is listed or deleted.
    void Stop() { searching_ = false; }

    // While a scan runs, the folder tree listed by the first search of a drive serves the
    // following searches of that drive; every file is checked on disk before it is listed.
    void BeginScan();
    void EndScan();

    // Folder listings made so far (a scan lists each folder of a drive once).
    std::uint64_t FoldersListed() const { return foldersListed_; }

    // How often a walk lets window events run and shows its folder (0: at every folder step).
    void SetPumpInterval(DWORD milliseconds) { pumpIntervalMs_ = milliseconds; }

private:
    struct Tree;
    // True when the walk ran to its end.
    bool SearchFolder(Tree& tree, const NamePattern& pattern, SearchView& view);
    bool Step(const std::wstring& folder, SearchView& view);
    void FilePass(const fs::Folder& folder, const NamePattern& pattern, SearchView& view);

    bool searching_ = false;
    bool scanning_ = false;
    std::unique_ptr<Tree> kept_;  // the tree of the scan's current drive
    DWORD pumpIntervalMs_ = 30;
    ULONGLONG lastPump_ = 0;
    bool pumpedOnce_ = false;
    compat::FileSystemRedirectionOff* redirection_ = nullptr;  // while a walk runs
    std::uint64_t foldersListed_ = 0;
};

// Makes a search engine reuse its listings for the life of one scan.
class ScanScope {
public:
    explicit ScanScope(SearchEngine& engine) : engine_(engine) { engine_.BeginScan(); }
    ~ScanScope() { engine_.EndScan(); }
    ScanScope(const ScanScope&) = delete;
    ScanScope& operator=(const ScanScope&) = delete;

private:
    SearchEngine& engine_;
};

}  // namespace tovra::scanner
