#include "scanner/list_file.h"

#include "shared/list_format.h"
#include "shared/win_handles.h"

namespace tovra::scanner {
namespace {

// A list file this large is not a virus list; reading it whole would only exhaust memory.
constexpr ULONGLONG kMaxListBytes = 64ull * 1024 * 1024;

std::wstring Widen(std::string_view bytes, UINT codePage) {
    if (bytes.empty()) return {};
    int n = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
    return out;
}

}  // namespace

std::vector<std::wstring> ParseListFile(std::string_view bytes, UINT codePage) {
    std::vector<std::wstring> names;
    for (const std::string& field : list_format::ParseFields(bytes)) names.push_back(Widen(field, codePage));
    return names;
}

std::optional<std::vector<std::wstring>> ReadListFile(const std::wstring& path) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || static_cast<ULONGLONG>(size.QuadPart) > kMaxListBytes) {
        return std::nullopt;
    }
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    size_t got = 0;
    while (got < bytes.size()) {
        DWORD chunk = 0;
        if (!ReadFile(file.get(), bytes.data() + got, static_cast<DWORD>(bytes.size() - got), &chunk, nullptr)) {
            return std::nullopt;
        }
        if (chunk == 0) break;  // the file shrank while we read it
        got += chunk;
    }
    bytes.resize(got);
    return ParseListFile(bytes);
}

}  // namespace tovra::scanner
