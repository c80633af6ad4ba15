// The splash screen's clock: elapsed seconds kept as the text of its label, a tenth per tick.
#pragma once
#include <string>

namespace tovra::shell {

// The leading number of a text: blanks skipped, a point as decimal mark, whatever the locale.
// 0 when the text does not start with a number.
double LeadingNumber(const std::wstring& text);
// A number as the label shows it: at most 15 significant digits, a point as decimal mark, no
// trailing zeros, and a blank where a minus sign would stand.
std::wstring NumberText(double value);

class SplashCounter {
public:
    static constexpr double kEnd = 3;  // seconds on screen

    // The label's text at load.
    static std::wstring InitialText() { return L"0"; }
    // One tick: the text that follows text. Rounding through the text on every tick is what
    // lets thirty tenths add up to exactly 3.
    static std::wstring Next(const std::wstring& text);
    static bool Done(const std::wstring& text) { return LeadingNumber(text) == kEnd; }
};

}  // namespace tovra::shell
