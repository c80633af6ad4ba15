// The virus list that utovraa writes and tovraa reads.
#pragma once
#include <span>
#include <string>
#include <string_view>

#include "shared/suite.h"

namespace tovra {

// The built-in list, in file order, repeats included.
std::span<const char* const> VirusNames();

// The file image (shared/list_format.h): each name in double quotes, then CR LF.
std::string VirusListFileImage(std::span<const char* const> names);

// Writes the image beside the old file and replaces it in one step, so the file is either the
// old list or the whole new one. A read-only or busy file is left as it is. True on success.
bool WriteVirusListFile(const std::wstring& path, std::string_view image);

}  // namespace tovra
