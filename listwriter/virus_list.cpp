#include "listwriter/virus_list.h"

#include <windows.h>

#include "shared/list_format.h"
#include "shared/win_handles.h"

namespace tovra {
namespace {

const char* const kNames[] = {
#include "virus_names.inc"
};

}  // namespace

std::span<const char* const> VirusNames() { return kNames; }

std::string VirusListFileImage(std::span<const char* const> names) { return list_format::FileImage(names); }

bool WriteVirusListFile(const std::wstring& path, std::string_view image) {
    DWORD attrs = GetFileAttributesW(path.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES) {
        // Windows refuses to replace these anyway; Wine running as root would not, so ask first.
        if (attrs & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) return false;
        UniqueHandle probe(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!probe) return false;  // in use or no rights
    }

    std::wstring temp = path + L".new";
    {
        UniqueHandle out(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out) return false;
        DWORD written = 0;
        bool ok = WriteFile(out.get(), image.data(), static_cast<DWORD>(image.size()), &written, nullptr) &&
                  written == image.size() && FlushFileBuffers(out.get());
        if (!ok) {
            out.reset();
            DeleteFileW(temp.c_str());
            return false;
        }
    }
    if (!MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace tovra
