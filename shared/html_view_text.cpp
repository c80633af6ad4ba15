#include "shared/html_view_text.h"

#include <commctrl.h>

#include <cwctype>
#include <initializer_list>
#include <string_view>
#include <utility>

namespace tovra {

// ---- TextPane ---------------------------------------------------------------------------------
namespace {
constexpr UINT_PTR kSubclassId = 0x48565458;  // 'HVTX'
}  // namespace

TextPane::~TextPane() { Destroy(); }

bool TextPane::Create(HWND parent, int id, const RECT& rc) {
    if (edit_) return true;
    if (!parent || !IsWindow(parent)) return false;
    edit_ = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                            WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY |
                                ES_AUTOVSCROLL,
                            rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, parent,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    if (!edit_) return false;
    parent_ = parent;
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(parent, WM_GETFONT, 0, 0));
    if (!font) font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    SendMessageW(edit_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    SetWindowSubclass(parent, ParentSubclass, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
    return true;
}

void TextPane::SetText(const std::wstring& text) {
    if (edit_) SetWindowTextW(edit_, text.c_str());
}

std::wstring TextPane::Text() const {
    if (!edit_) return {};
    int n = GetWindowTextLengthW(edit_);
    std::wstring s(static_cast<size_t>(n) + 1, L'\0');
    n = GetWindowTextW(edit_, s.data(), n + 1);
    s.resize(static_cast<size_t>(n > 0 ? n : 0));
    return s;
}

void TextPane::Destroy() {
    if (!edit_) return;
    RemoveWindowSubclass(parent_, ParentSubclass, kSubclassId);
    DestroyWindow(std::exchange(edit_, nullptr));
    parent_ = nullptr;
}

LRESULT CALLBACK TextPane::ParentSubclass(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data) {
    auto* pane = reinterpret_cast<TextPane*>(data);
    // A read-only edit paints grey by default; the page text reads like a page on white.
    if (msg == WM_CTLCOLORSTATIC && pane->edit_ && reinterpret_cast<HWND>(lp) == pane->edit_) {
        HDC dc = reinterpret_cast<HDC>(wp);
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    }
    if (msg == WM_NCDESTROY) {
        // The box went with its parent: forget both.
        RemoveWindowSubclass(hwnd, ParentSubclass, kSubclassId);
        pane->edit_ = nullptr;
        pane->parent_ = nullptr;
    }
    return DefSubclassProc(hwnd, msg, wp, lp);
}

// ---- HtmlToText -------------------------------------------------------------------------------
namespace {

// Collects visible text: runs of white space become one space, breaks are counted and written
// only before the next visible character, so none lead or trail.
class TextBuilder {
public:
    void Char(wchar_t c) {
        if (!out_.empty()) {
            if (breaks_ > 0) {
                for (int i = 0; i < breaks_; ++i) out_ += L"\r\n";
            } else if (space_) {
                out_ += L' ';
            }
        }
        breaks_ = 0;
        space_ = false;
        out_ += c;
    }
    void Space() { space_ = true; }
    void LineBreak() { ++breaks_; }                            // br: every one counts
    void BlockBreak() { breaks_ = breaks_ < 1 ? 1 : breaks_; }  // li, tr: a new line
    void ParagraphBreak() { breaks_ = breaks_ < 2 ? 2 : breaks_; }  // p, div, headings: an empty line
    std::wstring Take() { return std::move(out_); }

private:
    std::wstring out_;
    int breaks_ = 0;
    bool space_ = false;
};

wchar_t Lower(wchar_t c) { return static_cast<wchar_t>(std::towlower(c)); }

bool IsHtmlSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\f'; }

// Case-insensitive search for needle (lower case) from pos.
size_t FindNoCase(const std::wstring& s, std::wstring_view needle, size_t pos) {
    for (; pos + needle.size() <= s.size(); ++pos) {
        size_t k = 0;
        while (k < needle.size() && Lower(s[pos + k]) == needle[k]) ++k;
        if (k == needle.size()) return pos;
    }
    return std::wstring::npos;
}

// End of a tag that starts at '<' (the '>' itself), skipping quoted attribute values.
size_t TagEnd(const std::wstring& s, size_t lt) {
    wchar_t quote = 0;
    for (size_t i = lt + 1; i < s.size(); ++i) {
        wchar_t c = s[i];
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == L'"' || c == L'\'') {
            quote = c;
        } else if (c == L'>') {
            return i;
        }
    }
    return std::wstring::npos;
}

void AppendCodePoint(std::wstring& out, unsigned long cp) {
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out += static_cast<wchar_t>(0xD800 + (cp >> 10));
        out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
    } else {
        out += static_cast<wchar_t>(cp);
    }
}

struct NamedEntity {
    const wchar_t* name;
    wchar_t value;
};
constexpr NamedEntity kEntities[] = {
    {L"amp", L'&'},       {L"lt", L'<'},        {L"gt", L'>'},        {L"quot", L'"'},
    {L"apos", L'\''},     {L"nbsp", 0x00A0},    {L"copy", 0x00A9},    {L"reg", 0x00AE},
    {L"trade", 0x2122},   {L"mdash", 0x2014},   {L"ndash", 0x2013},   {L"hellip", 0x2026},
    {L"laquo", 0x00AB},   {L"raquo", 0x00BB},   {L"lsquo", 0x2018},   {L"rsquo", 0x2019},
    {L"ldquo", 0x201C},   {L"rdquo", 0x201D},   {L"bull", 0x2022},    {L"middot", 0x00B7},
    {L"euro", 0x20AC},    {L"deg", 0x00B0},     {L"sect", 0x00A7},    {L"shy", 0x00AD},
    {L"AMP", L'&'},       {L"LT", L'<'},        {L"GT", L'>'},        {L"QUOT", L'"'},
};

// Decodes the entity at s[amp] == '&'; on success the text goes to *decoded and the index past
// the ';' is returned, otherwise 0 (the '&' is then plain text).
size_t DecodeEntity(const std::wstring& s, size_t amp, std::wstring* decoded) {
    size_t semi = s.find(L';', amp + 1);
    if (semi == std::wstring::npos || semi - amp > 12 || semi == amp + 1) return 0;
    std::wstring name = s.substr(amp + 1, semi - amp - 1);
    if (name[0] == L'#') {
        bool hex = name.size() > 1 && (name[1] == L'x' || name[1] == L'X');
        size_t first = hex ? 2 : 1;
        if (first >= name.size()) return 0;
        unsigned long cp = 0;
        for (size_t i = first; i < name.size(); ++i) {
            wchar_t c = name[i];
            int digit;
            if (c >= L'0' && c <= L'9') digit = c - L'0';
            else if (hex && c >= L'a' && c <= L'f') digit = c - L'a' + 10;
            else if (hex && c >= L'A' && c <= L'F') digit = c - L'A' + 10;
            else return 0;
            cp = cp * (hex ? 16 : 10) + static_cast<unsigned long>(digit);
            if (cp > 0x10FFFF) cp = 0x110000;  // stays out of range without overflowing
        }
        decoded->clear();
        AppendCodePoint(*decoded, cp);
        return semi + 1;
    }
    for (const NamedEntity& e : kEntities) {
        if (name == e.name) {
            *decoded = std::wstring(1, e.value);
            return semi + 1;
        }
    }
    return 0;
}

bool IsOneOf(const std::wstring& name, std::initializer_list<const wchar_t*> names) {
    for (const wchar_t* n : names)
        if (name == n) return true;
    return false;
}

}  // namespace

std::wstring HtmlToText(const std::wstring& html) {
    TextBuilder text;
    const size_t n = html.size();
    size_t i = 0;
    while (i < n) {
        wchar_t c = html[i];
        if (c == L'<' && html.compare(i, 4, L"<!--") == 0) {
            size_t end = html.find(L"-->", i + 4);
            i = end == std::wstring::npos ? n : end + 3;
            continue;
        }
        if (c == L'<' && i + 1 < n &&
            (std::iswalpha(html[i + 1]) || html[i + 1] == L'/' || html[i + 1] == L'!' || html[i + 1] == L'?')) {
            size_t end = TagEnd(html, i);
            if (end == std::wstring::npos) break;  // an unfinished tag shows nothing, as in a browser
            size_t p = i + 1;
            bool closing = html[p] == L'/';
            if (closing) ++p;
            std::wstring name;
            while (p < end && (std::iswalnum(html[p]))) name += Lower(html[p++]);
            i = end + 1;
            if (name == L"br") {
                text.LineBreak();
            } else if (IsOneOf(name, {L"p", L"div", L"h1", L"h2", L"h3", L"h4", L"h5", L"h6", L"ul", L"ol",
                                      L"dl", L"table", L"blockquote", L"pre", L"hr", L"address", L"center"})) {
                text.ParagraphBreak();
            } else if (IsOneOf(name, {L"li", L"tr", L"dt", L"dd"})) {
                text.BlockBreak();
            } else if (IsOneOf(name, {L"td", L"th"})) {
                text.Space();
            }
            // Elements whose content is never shown on the page.
            if (!closing && IsOneOf(name, {L"title", L"script", L"style", L"head"})) {
                size_t close = FindNoCase(html, L"</" + name, i);
                if (close != std::wstring::npos) {
                    size_t closeEnd = TagEnd(html, close);
                    i = closeEnd == std::wstring::npos ? n : closeEnd + 1;
                }
            }
            continue;
        }
        if (c == L'&') {
            std::wstring decoded;
            if (size_t next = DecodeEntity(html, i, &decoded)) {
                for (wchar_t d : decoded) text.Char(d);
                i = next;
                continue;
            }
        }
        if (IsHtmlSpace(c)) {
            text.Space();
        } else {
            text.Char(c);
        }
        ++i;
    }
    return text.Take();
}

}  // namespace tovra
