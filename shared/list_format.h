// The format of the virus list file, in one place: the list writer writes it, the scanner reads
// it and the build makes the medium's copy with it (this file builds on the build host too, so
// it uses no Windows headers).
#pragma once
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tovra::list_format {

// One record: the name in double quotes, then CR LF (bytes 0D 0A); ANSI text, nothing else in
// the file (no header, no count, no blank line at the end).
std::string Record(std::string_view name);
// The whole file: one record for each name, in order, repeats included.
std::string FileImage(std::span<const char* const> names);

// The fields of a file image, as the sequential field read gives them: leading blanks skipped;
// a field in double quotes without its quotes (anything after the closing quote up to the comma
// or line end is dropped); otherwise up to the next comma or line end, trailing blanks dropped.
// A line holding nothing but blanks gives no field, so blank lines (also at the end of the file)
// add none. A quoted field ends at the line end even without its closing quote.
std::vector<std::string> ParseFields(std::string_view image);

}  // namespace tovra::list_format
