#include "scanner/tests/scanner_fixtures.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace tovra::scanner::test {

std::vector<std::wstring> Names(const std::vector<Row>& rows) {
    std::vector<std::wstring> names;
    for (const Row& r : rows) names.push_back(r.name);
    return names;
}

void PlantFile(const std::wstring& path, std::uint64_t size) {
    tovra::test::WriteFileAt(path, "");
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << "cannot plant a fixture file";
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size);
    SetFilePointerEx(h, at, nullptr, FILE_BEGIN);
    SetEndOfFile(h);
    CloseHandle(h);
}

void SetAttributes(const std::wstring& path, DWORD attributes) {
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), attributes)) << "cannot set attributes, error " << GetLastError();
}

void MakeDirLink(const std::wstring& link, const std::wstring& target) {
    std::string unixTarget = tovra::test::UnixPath(target);
    std::string unixLink = tovra::test::UnixPath(link);
    ASSERT_FALSE(unixTarget.empty());
    ASSERT_FALSE(unixLink.empty());
    ASSERT_EQ(tovra::test::RunUnixShell("ln -s '" + unixTarget + "' '" + unixLink + "'"), 0);
    const DWORD junction = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    ASSERT_EQ(GetFileAttributesW(link.c_str()), junction)
        << "the link does not look like a junction";
}

void EmptyDrive(wchar_t letter) {
    std::wstring root{letter, L':', L'\\'};
    ASSERT_EQ(GetDriveTypeW(root.c_str()), static_cast<UINT>(DRIVE_FIXED)) << "fixture drive " << char(letter)
                                                                           << ": is not mapped";
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((root + L"*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    std::vector<std::wstring> names;
    do {
        std::wstring n = fd.cFileName;
        if (n != L"." && n != L"..") names.push_back(n);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    for (const std::wstring& n : names) {
        std::wstring p = root + n;
        DWORD a = GetFileAttributesW(p.c_str());
        if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY)) {
            tovra::test::RemoveTree(p);
        } else {
            SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(p.c_str());
        }
    }
}

bool DrainQuit() {
    MSG msg;
    bool any = false;
    while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) any = true;
    return any;
}

}  // namespace tovra::scanner::test
