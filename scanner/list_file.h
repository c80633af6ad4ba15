// Reading the virus list file: ANSI text, one double-quoted name a line, CR LF.
#pragma once
#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tovra::scanner {

// The names of a list file image (the fields of shared/list_format.h), in the given code page.
std::vector<std::wstring> ParseListFile(std::string_view bytes, UINT codePage = CP_ACP);

// The whole list file; nothing when it is missing or cannot be read.
std::optional<std::vector<std::wstring>> ReadListFile(const std::wstring& path);

}  // namespace tovra::scanner
