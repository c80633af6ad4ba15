// Fixtures shared by the scanner's tests: a recording view and planted files.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "scanner/search_engine.h"

namespace tovra::scanner::test {

struct Row {
    std::wstring name, folder, size, modified;
};

// Records what a search shows; DoEvents can act as a user would between folder steps.
class RecordingView : public SearchView {
public:
    void AddRow(const std::wstring& name, const std::wstring& folder, const std::wstring& size,
                const std::wstring& modified) override {
        rows.push_back({name, folder, size, modified});
    }
    int RowCount() const override { return static_cast<int>(rows.size()); }
    void SetStatus(const std::wstring& text) override { statuses.push_back(text); }
    bool DoEvents() override {
        ++pumps;
        return onDoEvents ? onDoEvents() : true;
    }

    std::vector<Row> rows;
    std::vector<std::wstring> statuses;
    int pumps = 0;
    std::function<bool()> onDoEvents;
};

// Names of the rows, for compact assertions.
std::vector<std::wstring> Names(const std::vector<Row>& rows);

// A file of exactly `size` bytes (made quickly, without writing them all).
void PlantFile(const std::wstring& path, std::uint64_t size = 0);
void SetAttributes(const std::wstring& path, DWORD attributes);
// A Unix directory symlink, the way Wine shows links and junctions (0x410). Both ends must lie
// inside the test prefix.
void MakeDirLink(const std::wstring& link, const std::wstring& target);
// Empties a fixture drive's root ("D:\") without following links.
void EmptyDrive(wchar_t letter);
// Removes the WM_QUIT that closing a scan window posts, so the next test's pump still runs.
bool DrainQuit();

}  // namespace tovra::scanner::test
