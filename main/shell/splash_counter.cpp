#include "main/shell/splash_counter.h"

#include <charconv>
#include <string>

namespace tovra::shell {

double LeadingNumber(const std::wstring& text) {
    // Gather the numeric head as narrow text: blanks are skipped anywhere, as the label's reader
    // always did; anything else ends the number.
    std::string digits;
    bool seenDigit = false, seenPoint = false, seenExp = false;
    for (size_t i = 0; i < text.size(); ++i) {
        wchar_t c = text[i];
        if (c == L' ' || c == L'\t') continue;
        if (c >= L'0' && c <= L'9') {
            digits += static_cast<char>(c);
            seenDigit = true;
        } else if ((c == L'+' || c == L'-') &&
                   (digits.empty() || digits.back() == 'e')) {
            digits += static_cast<char>(c);
        } else if (c == L'.' && !seenPoint && !seenExp) {
            digits += '.';
            seenPoint = true;
        } else if ((c == L'e' || c == L'E') && seenDigit && !seenExp) {
            digits += 'e';
            seenExp = true;
        } else {
            break;
        }
    }
    if (!digits.empty() && digits.front() == '+') digits.erase(0, 1);
    // A dangling exponent mark or sign is not part of the number.
    while (!digits.empty() && (digits.back() == 'e' || digits.back() == '+' || digits.back() == '-'))
        digits.pop_back();
    double value = 0;
    auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (result.ec != std::errc()) return 0;
    return value;
}

std::wstring NumberText(double value) {
    char buf[64];
    // to_chars ignores the locale: the decimal mark is always a point.
    auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
    std::string s(buf, result.ptr);
    if (s == "-0") s = "0";
    if (s.empty() || s[0] != '-') s.insert(s.begin(), ' ');
    return std::wstring(s.begin(), s.end());
}

std::wstring SplashCounter::Next(const std::wstring& text) { return NumberText(LeadingNumber(text) + 0.1); }

}  // namespace tovra::shell
