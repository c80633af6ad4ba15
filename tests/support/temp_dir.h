// A scratch folder that a test owns: made in set-up, removed (without following links) at the end.
#pragma once
#include <string>

namespace tovra::test {

class TempDir {
public:
    // Under the given parent (default: the user's temp folder), named after the test.
    explicit TempDir(const std::wstring& parent = L"");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& rel) const { return path_ + L"\\" + rel; }

    // Relative paths; folders on the way are made.
    void WriteFile(const std::wstring& rel, const std::string& bytes) const;
    std::string ReadFile(const std::wstring& rel) const;
    void MakeDir(const std::wstring& rel) const;
    bool Exists(const std::wstring& rel) const;

private:
    std::wstring path_;
};

// Removes a folder tree; reparse points are unlinked, never entered.
void RemoveTree(const std::wstring& path);
// Writes bytes to an absolute path, making the folders on the way.
void WriteFileAt(const std::wstring& path, const std::string& bytes);
std::string ReadFileAt(const std::wstring& path);
bool PathExists(const std::wstring& path);
// The folder of the running test executable (where the programs under test are built).
std::wstring ModuleDir();
// Runs a Unix command line through /bin/sh (Wine starts Unix programs); returns its exit code.
int RunUnixShell(const std::string& command);
// The Unix path of a Windows path (Wine), empty if unknown.
std::string UnixPath(const std::wstring& windowsPath);
// A Unix symbolic link to a file, made from Linux (Wine cannot make one, and shows it as a plain
// file). Both ends must lie in the test's own scratch folders or fixture drives; RemoveTree
// unlinks it without touching its target.
void MakeFileLink(const std::wstring& link, const std::wstring& target);

}  // namespace tovra::test
