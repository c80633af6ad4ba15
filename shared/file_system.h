// The suite's one file-system layer: path forms, the folder walk and the guarded delete that the
// washer's sweep, the scanner and the uninstaller share.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tovra::fs {

// ---- Paths ------------------------------------------------------------------------------------

// The form every file call of a walk gets: "\\?\C:\..." or "\\?\UNC\server\share\...", so that
// names stay exact (no trailing dots or blanks dropped) and paths may pass MAX_PATH. Paths that
// are not absolute, or already in that form, come back unchanged.
std::wstring LongPath(const std::wstring& path);

// Absolute, with backslashes, without a trailing separator except at a drive root ("C:\").
// Empty when the system cannot make it absolute.
std::wstring AbsolutePath(const std::wstring& path);

// Two paths or names that the file system takes for the same: ordinal, without regard to case.
bool SamePath(const std::wstring& a, const std::wstring& b);

// folder + "\" + name; no doubled separator when the folder already ends in one ("C:\"). A bare
// drive ("C:") is taken as its root, never as the drive's current folder.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);

// The full path of the running program's file.
std::wstring OwnPath();

// ---- The walk ---------------------------------------------------------------------------------

struct Entry {
    std::wstring name;
    DWORD attributes = 0;
};

// One folder as the walk listed it.
struct Folder {
    std::wstring path;      // as the caller names it; the paths of its entries are built from it
    std::wstring location;  // where the system has it; every delete in it is checked against this
    std::vector<Entry> folders;  // the subfolders a walk may enter: never a reparse point
    std::vector<Entry> files;    // its files: never a folder or a reparse point
    std::vector<std::unique_ptr<Folder>> children;  // listings of the subfolders, once entered
    bool listed = false;

    std::wstring PathOf(const Entry& e) const { return JoinPath(path, e.name); }
    std::wstring LocationOf(const Entry& e) const { return JoinPath(location, e.name); }
};

struct WalkOptions {
    // Entries sorted by name without regard to case (as the list controls show them); otherwise
    // in the order the system lists them.
    bool byName = false;
    // Subfolders visited from the last to the first.
    bool lastFirst = false;
    // Attribute bits that keep a subfolder out of the walk (reparse points are always kept out).
    DWORD skipFolders = 0;
    // Attribute bits that keep a file out of a folder's files.
    DWORD skipFiles = 0;
    // Checked at every entry; true ends the walk at once.
    std::function<bool()> stopped;
    // A folder has been listed and is about to be walked (depth 0 is the top); false ends the walk.
    std::function<bool(const Folder&, int depth)> enter;
    // All subfolders of a folder are done: its own files' turn.
    std::function<void(const Folder&)> leave;
    // Counts the folder listings made (folders listed by an earlier walk are not listed again).
    std::uint64_t* listings = nullptr;
};

// Reads the top folder of a walk: false when it is missing, cannot be read or is itself a link
// (a reparse point), and then `top` is left as it was.
bool OpenFolder(const std::wstring& path, const WalkOptions& options, Folder& top);

// Depth first with an explicit stack, a folder's files after all of its subfolders. The top is
// opened with OpenFolder unless it is listed already; subfolders listed before (by an earlier
// walk of the same tree) are not listed again. A subfolder that cannot be read is passed over.
// True when the walk ran to its end, false when it was stopped or the top could not be read.
bool Walk(Folder& top, const WalkOptions& options);

// ---- Deleting ---------------------------------------------------------------------------------

// Deletes the file at `path` only if, opened without following a link, it is a file (never a
// folder) that lies at `location`: the place its folder's listing gave it (Folder::LocationOf).
// Under Wine a link to a file looks like a plain file, and deleting it would delete the file it
// points to; this refuses it. True when the file is gone; otherwise the last error says why
// (ERROR_CANT_ACCESS_FILE for a file that is not where it was listed).
bool DeleteListedFile(const std::wstring& path, const std::wstring& location);

// The same for one named file outside any walk: its folder is located first, through any link on
// its path (Vista's junctions under the profile folders), while a link in place of the file itself
// is refused as above.
bool DeletePlainFile(const std::wstring& path);

// Deletes the files of one listed folder after another, each in the order asked and through the
// same guard as DeleteListedFile. Opening a file and checking where it lies are two calls into
// the system (under Wine two round trips to its server, the larger part of a delete), so a helper
// thread does them ahead for the files still to come while the caller's thread deletes the
// current one. The deletions themselves stay on the caller's thread and in order; a file listed
// read-only is left, as Windows leaves it.
class ListedFileDeleter {
public:
    ListedFileDeleter();
    ~ListedFileDeleter();
    ListedFileDeleter(const ListedFileDeleter&) = delete;
    ListedFileDeleter& operator=(const ListedFileDeleter&) = delete;

    // `goOn` is asked before each file (false: stop, the rest stay untouched), `done` is told
    // after each whether it went.
    void Delete(const Folder& folder, const std::vector<const Entry*>& files, const std::function<bool()>& goOn,
                const std::function<void(const Entry&, bool deleted)>& done);

private:
    struct Ahead;
    std::unique_ptr<Ahead> ahead_;  // the helper thread; none where it could not be started
};

}  // namespace tovra::fs
