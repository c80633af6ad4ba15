// The folder file sweep: a folder enumerator, a file enumerator and the depth-first walk that
// deletes the matching files of a folder tree (folders themselves stay).
#pragma once
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "shared/file_system.h"

namespace tovra::washer {

// The folder enumerator: the folder being worked on and its immediate subfolders by index, in
// name order. Links (reparse points) are never listed, so never entered.
class DirList {
public:
    const std::wstring& Path() const;
    // Opens a folder (absolute or relative path). False, and nothing changed, when it does not
    // exist, cannot be read or is itself a link to somewhere else.
    bool SetPath(const std::wstring& path);
    // Opens subfolder `index` of the folder shown.
    bool OpenSubfolder(int index);

    int ListCount() const;
    // List(-1) is the folder itself; List(0) to List(ListCount() - 1) its subfolders, full paths.
    std::wstring List(int index) const;
    int ListIndex() const { return listIndex_; }
    void SetListIndex(int index);
    // The folder's listing as the walk reads it.
    const std::shared_ptr<const fs::Folder>& Listing() const { return listing_; }

    // Raised whenever Path changes (the file enumerator follows it).
    std::function<void()> onChange;

private:
    void Show(std::shared_ptr<const fs::Folder> listing);

    std::shared_ptr<const fs::Folder> listing_;
    int listIndex_ = -1;
};

// The file enumerator: the files of one folder that match a wildcard pattern, by index in name
// order. Normal, archive and read-only files are listed; hidden and system files are not.
class FileList {
public:
    const std::wstring& Path() const { return path_; }
    // `listing`, when it is a read of the same folder, spares a second read.
    void SetPath(const std::wstring& path, std::shared_ptr<const fs::Folder> listing = nullptr);
    const std::wstring& Pattern() const { return pattern_; }
    // One or more wildcard patterns separated by ";", as the file list control takes them.
    void SetPattern(const std::wstring& pattern);

    int ListCount() const { return static_cast<int>(names_.size()); }
    std::wstring List(int index) const;  // the name, without folder

private:
    void Refresh();

    std::wstring path_;
    std::wstring pattern_ = L"*.*";
    std::shared_ptr<const fs::Folder> listing_;
    std::vector<std::wstring> names_;
};

// True when a file name matches one of the ";"-separated wildcard patterns ("*" and "?",
// without regard to case; "*.*" matches every name, also one without a ".").
bool MatchesFilePattern(const std::wstring& name, const std::wstring& patterns);

// Deletes files from folder trees, as the washing run asks: select a folder, then Find.
class FolderSweep {
public:
    // label1 receives the full path of each file as it is deleted.
    explicit FolderSweep(std::function<void(const std::wstring&)> label1 = {});
    FolderSweep(const FolderSweep&) = delete;
    FolderSweep& operator=(const FolderSweep&) = delete;

    DirList dirList;
    FileList filList;
    std::wstring txtSearchSpec = L"*.*";  // every file the enumerators list

    // Sweeps the folder that dirList shows with the pattern of txtSearchSpec; dirList stays on
    // that folder throughout.
    void Find();
    // dirList's events.
    void dirList_Change();
    void dirList_LostFocus();

    // The last path shown in Label1 (empty until a file has been met).
    const std::wstring& Label1() const { return label1Text_; }
    // Asked at every folder level; false stops the walk (the program is ending).
    std::function<bool()> keepGoing;
    // Asked before every file too: true stops the walk at once (the run was cancelled).
    std::function<bool()> cancelled;
    // True once keepGoing or cancelled has stopped the walk; later sweeps do nothing.
    bool Stopped() const { return stopped_; }
    // Where Label1's paths go from now on (the run's thread hands them to the window).
    void SetLabel1Sink(std::function<void(const std::wstring&)> label1) { label1_ = std::move(label1); }

private:
    void SweepFolder();
    void DeleteFiles(fs::ListedFileDeleter& deleter, const fs::Folder& folder);
    void SetLabel1(const std::wstring& text);

    std::function<void(const std::wstring&)> label1_;
    std::wstring label1Text_;
    bool stopped_ = false;
};

// The file-system path of a shell special folder (a CSIDL number), without a trailing separator
// except at a drive root; empty when the shell does not know it or it has no such path.
std::wstring SpecialFolderPath(int csidl);

}  // namespace tovra::washer
