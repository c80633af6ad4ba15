#include "shared/list_format.h"

namespace tovra::list_format {
namespace {

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::string Record(std::string_view name) {
    std::string record;
    record.reserve(name.size() + 4);
    record += '"';
    record += name;
    record += "\"\r\n";
    return record;
}

std::string FileImage(std::span<const char* const> names) {
    std::string image;
    for (const char* name : names) image += Record(name);
    return image;
}

std::vector<std::string> ParseFields(std::string_view s) {
    std::vector<std::string> fields;
    const size_t n = s.size();
    size_t i = 0;
    auto skipLineEnd = [&] {
        if (s[i] == '\r' && i + 1 < n && s[i + 1] == '\n') ++i;
        ++i;
    };
    while (i < n) {
        while (i < n && IsBlank(s[i])) ++i;
        if (i == n) break;
        if (IsLineEnd(s[i])) {
            skipLineEnd();
            continue;
        }
        std::string_view field;
        if (s[i] == '"') {
            size_t start = ++i;
            while (i < n && s[i] != '"' && !IsLineEnd(s[i])) ++i;
            field = s.substr(start, i - start);
            while (i < n && s[i] != ',' && !IsLineEnd(s[i])) ++i;
        } else {
            size_t start = i;
            while (i < n && s[i] != ',' && !IsLineEnd(s[i])) ++i;
            size_t end = i;
            while (end > start && IsBlank(s[end - 1])) --end;
            field = s.substr(start, end - start);
        }
        if (i < n) {
            if (s[i] == ',') {
                ++i;
            } else {
                skipLineEnd();
            }
        }
        fields.emplace_back(field);
    }
    return fields;
}

}  // namespace tovra::list_format
