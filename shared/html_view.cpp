#include "shared/html_view.h"

#include <commctrl.h>
#include <exdisp.h>
#include <exdispid.h>
#include <mshtml.h>
#include <ocidl.h>
#include <oleauto.h>

#include <algorithm>
#include <cwctype>
#include <functional>
#include <string_view>
#include <utility>

#include "shared/compat.h"
#include "shared/win_handles.h"

namespace tovra {
namespace {

// The longest the view waits for the browser's blank document before it shows the text instead.
// An engine that works has the document within milliseconds; one without an engine reports
// NavigateError (or nothing at all), and a hung page must never hang the window's load.
constexpr DWORD kDocumentWaitMs = 5000;
constexpr UINT_PTR kSubclassId = 0x48564957;  // 'HVIW'

using AtlAxWinInitFn = BOOL(WINAPI*)();
using AtlAxGetControlFn = HRESULT(WINAPI*)(HWND, IUnknown**);

// Hears how the navigation to about:blank ends, so the wait ends as soon as it is decided.
class NavigationSink final : public IDispatch {
public:
    bool finished = false;  // document complete or navigation failed

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == DIID_DWebBrowserEvents2) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
        if (n) *n = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        if (id == DISPID_DOCUMENTCOMPLETE || id == DISPID_NAVIGATEERROR) finished = true;
        return S_OK;
    }

private:
    ULONG refs_ = 1;
};

// Lets window events run until done() holds or the time is up.
void PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (!done()) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, std::min<DWORD>(50, timeoutMs - elapsed), QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                // Leave the quit for the program's own loop.
                PostQuitMessage(static_cast<int>(msg.wParam));
                return;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

// Writes the page into the document as one string.
bool WriteDocument(IDispatch* documentDispatch, const std::wstring& html) {
    ComPtr<IHTMLDocument2> doc;
    if (FAILED(documentDispatch->QueryInterface(IID_IHTMLDocument2, doc.put_void())) || !doc) return false;
    SAFEARRAY* lines = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    if (!lines) return false;
    VARIANT* item = nullptr;
    bool ok = false;
    if (SUCCEEDED(SafeArrayAccessData(lines, reinterpret_cast<void**>(&item)))) {
        item->vt = VT_BSTR;
        item->bstrVal = SysAllocStringLen(html.data(), static_cast<UINT>(html.size()));
        SafeArrayUnaccessData(lines);
        ok = item->bstrVal && SUCCEEDED(doc->write(lines));
        doc->close();
    }
    SafeArrayDestroy(lines);  // frees the string too
    return ok;
}

LRESULT CALLBACK ParentSubclass(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data) {
    // A read-only edit paints grey by default; the page text reads like a page on white.
    if (msg == WM_CTLCOLORSTATIC && reinterpret_cast<HWND>(lp) == reinterpret_cast<HWND>(data)) {
        HDC dc = reinterpret_cast<HDC>(wp);
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    }
    return DefSubclassProc(hwnd, msg, wp, lp);
}

HtmlView::WaitHook& TheWaitHook() {
    static HtmlView::WaitHook hook;
    return hook;
}

}  // namespace

struct HtmlView::Impl {
    std::unique_ptr<ComScope> ole;  // first in, last out: every COM reference below goes before it
    HWND parent = nullptr;
    int id = 0;
    RECT rc{};
    HWND host = nullptr;  // the AtlAxWin window holding the browser
    HWND text = nullptr;  // the fallback text control
    ComPtr<IWebBrowser2> browser;
    bool released = false;  // the view has gone (perhaps from within a load's wait)

    bool CreateBrowser();
    void DropBrowser();
    void ShowText(const std::wstring& html);
    bool WriteIntoBrowser(const std::wstring& html);
    // Nothing more may be done for the view: it was released, or its window went with the parent.
    bool Gone() const { return released || !parent || !IsWindow(parent); }
    void Release();
};

bool HtmlView::Impl::CreateBrowser() {
    if (!ole || !ole->ok()) return false;  // e.g. a multithreaded apartment: no control can be hosted
    UniqueModule atl(compat::LoadSystemLibrary(L"atl.dll"));
    if (!atl) return false;
    auto init =
        reinterpret_cast<AtlAxWinInitFn>(reinterpret_cast<void*>(GetProcAddress(atl.get(), "AtlAxWinInit")));
    auto getControl =
        reinterpret_cast<AtlAxGetControlFn>(reinterpret_cast<void*>(GetProcAddress(atl.get(), "AtlAxGetControl")));
    if (!init || !getControl) return false;  // not the library we need: let it go again
    // Once initialised, atl.dll stays loaded for the life of the process: its window class keeps
    // pointing into it.
    HMODULE atlModule = atl.release();
    // Wine's AtlAxWinInit fails once the host's class is registered (Windows' answers TRUE), which
    // left every view after the first in a process without a browser.
    auto registered = [atlModule] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        return GetClassInfoExW(atlModule, L"AtlAxWin", &wc) || GetClassInfoExW(nullptr, L"AtlAxWin", &wc) ||
               GetClassInfoExW(GetModuleHandleW(nullptr), L"AtlAxWin", &wc);
    };
    if (!init() && !registered()) return false;
    host = CreateWindowExW(0, L"AtlAxWin", L"Shell.Explorer.2", WS_CHILD | WS_VISIBLE | WS_TABSTOP, rc.left,
                           rc.top, rc.right - rc.left, rc.bottom - rc.top, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    if (!host) return false;
    ComPtr<IUnknown> control;
    if (SUCCEEDED(getControl(host, control.put())) && control) {
        browser = control.As<IWebBrowser2>(IID_IWebBrowser2);
    }
    if (!browser) {
        DropBrowser();
        return false;
    }
    browser->put_Silent(VARIANT_TRUE);  // no script error or download dialogs from the page view
    return true;
}

void HtmlView::Impl::DropBrowser() {
    browser.reset();
    if (host) DestroyWindow(host);
    host = nullptr;
}

bool HtmlView::Impl::WriteIntoBrowser(const std::wstring& html) {
    // Held here: a handler inside the wait may drop the view's own reference.
    ComPtr<IWebBrowser2> web = browser;
    if (!web) return false;
    ComPtr<NavigationSink> sink = ComPtr<NavigationSink>::Attach(new NavigationSink);
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    if (auto container = web.As<IConnectionPointContainer>(IID_IConnectionPointContainer)) {
        if (SUCCEEDED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, point.put())) && point) {
            if (FAILED(point->Advise(sink.get(), &cookie))) point.reset();
        }
    }

    BSTR blank = SysAllocString(L"about:blank");
    VARIANT empty;
    VariantInit(&empty);
    HRESULT hr = web->Navigate(blank, &empty, &empty, &empty, &empty);
    SysFreeString(blank);

    ComPtr<IDispatch> document;
    auto haveDocument = [&] {
        if (Gone() || !browser) return true;
        document.reset();
        return SUCCEEDED(web->get_Document(document.put())) && document;
    };
    if (SUCCEEDED(hr)) {
        if (const WaitHook& hook = TheWaitHook()) hook();
        if (!haveDocument()) {
            PumpUntil([&] { return haveDocument() || sink->finished; }, kDocumentWaitMs);
            if (!document) haveDocument();
        }
    }
    if (point) point->Unadvise(cookie);
    if (Gone() || !browser) return false;
    return document && WriteDocument(document.get(), html);
}

void HtmlView::Impl::ShowText(const std::wstring& html) {
    std::wstring shown = HtmlToText(html);
    if (!text) {
        text = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                               WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY |
                                   ES_AUTOVSCROLL,
                               rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, parent,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr),
                               nullptr);
        if (!text) return;
        HFONT font = reinterpret_cast<HFONT>(SendMessageW(parent, WM_GETFONT, 0, 0));
        if (!font) font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
        SendMessageW(text, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        SetWindowSubclass(parent, ParentSubclass, kSubclassId, reinterpret_cast<DWORD_PTR>(text));
    }
    SetWindowTextW(text, shown.c_str());
}

HtmlView::HtmlView() : impl_(std::make_shared<Impl>()) {}

HtmlView::~HtmlView() { impl_->Release(); }

void HtmlView::Impl::Release() {
    if (released) return;
    released = true;
    if (text) {
        if (parent && IsWindow(parent)) RemoveWindowSubclass(parent, ParentSubclass, kSubclassId);
        if (IsWindow(text)) DestroyWindow(text);
        text = nullptr;
    }
    browser.reset();
    if (host && IsWindow(host)) DestroyWindow(host);
    host = nullptr;
    // OLE itself ends with the Impl: after any load that is still waiting has unwound.
}

bool HtmlView::Create(HWND parent, int id, const RECT& rc) {
    if (impl_->host || impl_->text) return true;
    impl_->parent = parent;
    impl_->id = id;
    impl_->rc = rc;
    if (!parent) return false;
    if (!impl_->ole) impl_->ole = std::make_unique<ComScope>(ComScope::Ole);
    if (impl_->CreateBrowser()) return true;
    impl_->ShowText(L"");
    return impl_->text != nullptr;
}

bool HtmlView::Load(const std::wstring& html) {
    // This object may be released while the page loads; the load goes on with its own reference.
    std::shared_ptr<Impl> impl = impl_;
    if (impl->browser && impl->WriteIntoBrowser(html)) return true;
    if (impl->Gone()) {
        // The child windows went with the parent: forget them, make no new ones.
        if (!IsWindow(impl->host)) impl->host = nullptr;
        if (!IsWindow(impl->text)) impl->text = nullptr;
        return false;
    }
    // No HTML engine, no document or no control at all: the page's words, never an empty view.
    impl->DropBrowser();
    impl->ShowText(html);
    return true;
}

HtmlView::WaitHook HtmlView::SetWaitHook(WaitHook hook) { return std::exchange(TheWaitHook(), std::move(hook)); }

void HtmlView::Move(const RECT& rc) {
    impl_->rc = rc;
    if (HWND h = hwnd()) MoveWindow(h, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, TRUE);
}

bool HtmlView::UsingBrowser() const { return impl_->browser && impl_->host; }

HWND HtmlView::hwnd() const { return impl_->host ? impl_->host : impl_->text; }

std::wstring HtmlView::ShownText() const {
    if (!impl_->text || impl_->host) return {};
    int n = GetWindowTextLengthW(impl_->text);
    std::wstring s(static_cast<size_t>(n) + 1, L'\0');
    n = GetWindowTextW(impl_->text, s.data(), n + 1);
    s.resize(static_cast<size_t>(n > 0 ? n : 0));
    return s;
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
