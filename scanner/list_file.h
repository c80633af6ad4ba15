// Reading the virus list file: ANSI text, one double-quoted name a line, CR LF.
#pragma once
#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tovra::scanner {

// The names of a list file image, as the sequential field read gives them: leading blanks
// skipped; a field in double quotes without its quotes (anything after the closing quote up to
// the comma or line end is dropped); otherwise up to the next comma or line end, trailing blanks
// dropped. A line holding nothing but blanks gives no name, so blank lines (also at the end of
// the file) add no entries. A quoted name ends at the line end even without its closing quote.
std::vector<std::wstring> ParseListFile(std::string_view bytes, UINT codePage = CP_ACP);

// The whole list file; nothing when it is missing or cannot be read.
std::optional<std::vector<std::wstring>> ReadListFile(const std::wstring& path);

}  // namespace tovra::scanner
