#include "forms.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <iterator>
#include <exception>
#include <set>

namespace tovra::forms {
namespace {

int ScreenDpi(int axis) {
    HDC dc = GetDC(nullptr);
    int dpi = dc ? GetDeviceCaps(dc, axis) : 96;
    if (dc) ReleaseDC(nullptr, dc);
    return dpi > 0 ? dpi : 96;
}

// Top-level forms, for dialog-key routing in the message loop.
std::set<HWND>& Forms() {
    static std::set<HWND> forms;
    return forms;
}

bool RouteDialogMessage(MSG& msg) {
    HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (root && Forms().count(root)) return IsDialogMessageW(root, &msg) != 0;
    return false;
}

const wchar_t* ClassFor(Kind kind) {
    switch (kind) {
    case Kind::Label: return L"STATIC";
    case Kind::Button:
    case Kind::Frame:
    case Kind::CheckBox:
    case Kind::OptionButton: return L"BUTTON";
    case Kind::TextBox: return L"EDIT";
    case Kind::ListView: return WC_LISTVIEWW;
    case Kind::StatusBar: return STATUSCLASSNAMEW;
    }
    return L"STATIC";
}

DWORD StyleFor(Kind kind) {
    switch (kind) {
    case Kind::Label: return SS_NOTIFY | SS_LEFT;
    case Kind::Button: return WS_TABSTOP | BS_PUSHBUTTON;
    case Kind::Frame: return BS_GROUPBOX;
    case Kind::CheckBox: return WS_TABSTOP | BS_AUTOCHECKBOX;
    case Kind::OptionButton: return WS_TABSTOP | BS_AUTORADIOBUTTON;
    case Kind::TextBox: return WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL;
    case Kind::ListView: return WS_TABSTOP | WS_BORDER | LVS_REPORT | LVS_SHOWSELALWAYS;
    case Kind::StatusBar: return SBARS_SIZEGRIP;
    }
    return 0;
}

// One line on the debug output: the form, the message and what its handler threw.
void ReportFailedHandler(const wchar_t* form, UINT msg, const char* what) noexcept {
    wchar_t line[512];
    int n = std::swprintf(line, 200, L"Tovra: form %ls: the handler of message 0x%04X threw: ", form, msg);
    if (n < 0) n = 0;
    int added = 0;
    if (what) {
        // what() is narrow text in no stated code page: the ANSI one reads best. Cut to fit.
        char cut[300];
        lstrcpynA(cut, what, static_cast<int>(std::size(cut)));
        added = MultiByteToWideChar(CP_ACP, 0, cut, -1, line + n, static_cast<int>(std::size(line)) - n - 2) - 1;
    } else {
        added = std::swprintf(line + n, std::size(line) - n - 2, L"an exception of unknown type");
    }
    if (added > 0) n += added;
    line[n++] = L'\n';
    line[n] = L'\0';
    OutputDebugStringW(line);
}

}  // namespace

int TwipsToPixelsX(double twips) { return static_cast<int>(std::lround(twips * ScreenDpi(LOGPIXELSX) / 1440.0)); }
int TwipsToPixelsY(double twips) { return static_cast<int>(std::lround(twips * ScreenDpi(LOGPIXELSY) / 1440.0)); }
double PixelsToTwipsX(int pixels) { return pixels * 1440.0 / ScreenDpi(LOGPIXELSX); }
double PixelsToTwipsY(int pixels) { return pixels * 1440.0 / ScreenDpi(LOGPIXELSY); }
double ScreenWidthTwips() { return PixelsToTwipsX(GetSystemMetrics(SM_CXSCREEN)); }
double ScreenHeightTwips() { return PixelsToTwipsY(GetSystemMetrics(SM_CYSCREEN)); }

void InitCommonControls() {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
}

Form::~Form() { Destroy(); }

bool Form::Create(const FormSpec& layout, HWND owner) {
    if (hwnd_) return true;
    layout_ = &layout;
    HINSTANCE inst = GetModuleHandleW(nullptr);
    std::wstring cls = std::wstring(L"Tovra.") + layout.name;
    WNDCLASSEXW wc{sizeof wc};
    if (!GetClassInfoExW(inst, cls.c_str(), &wc)) {
        wc = WNDCLASSEXW{sizeof wc};
        wc.lpfnWndProc = WndProc;
        wc.hInstance = inst;
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = cls.c_str();
        if (layout.icon) {
            wc.hIcon = LoadIconW(inst, MAKEINTRESOURCEW(1));
            wc.hIconSm = static_cast<HICON>(LoadImageW(inst, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                       GetSystemMetrics(SM_CXSMICON),
                                                       GetSystemMetrics(SM_CYSMICON), 0));
        }
        if (!RegisterClassExW(&wc)) return false;
    }
    if (!layout.menu.empty()) CreateMenu();
    RECT rc{0, 0, TwipsToPixelsX(layout.clientWidth), TwipsToPixelsY(layout.clientHeight)};
    AdjustWindowRectEx(&rc, layout.style, menu_ != nullptr, layout.exStyle);
    // The menu bar may wrap; correct the client height once the window exists.
    hwnd_ = CreateWindowExW(layout.exStyle, cls.c_str(), layout.caption, layout.style & ~WS_VISIBLE,
                            CW_USEDEFAULT, CW_USEDEFAULT, rc.right - rc.left, rc.bottom - rc.top,
                            owner, menu_, inst, this);
    if (!hwnd_) return false;
    RECT client{};
    GetClientRect(hwnd_, &client);
    int wantH = TwipsToPixelsY(layout.clientHeight);
    if (client.bottom != wantH) {
        RECT wr{};
        GetWindowRect(hwnd_, &wr);
        SetWindowPos(hwnd_, nullptr, 0, 0, wr.right - wr.left, wr.bottom - wr.top + wantH - client.bottom,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    CreateControls();
    Forms().insert(hwnd_);
    OnCreate();
    return true;
}

void Form::Destroy() {
    if (hwnd_) {
        HWND h = hwnd_;
        DestroyWindow(h);  // WM_NCDESTROY clears hwnd_
        hwnd_ = nullptr;
    }
    fonts_.clear();
    brushes_.clear();
}

void Form::CreateMenu() {
    menu_ = ::CreateMenu();
    HMENU popup = nullptr;
    for (const MenuSpec& m : layout_->menu) {
        if (m.topLevel) {
            popup = CreatePopupMenu();
            AppendMenuW(menu_, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(popup), m.caption);
        } else if (popup) {
            AppendMenuW(popup, MF_STRING | (m.checked ? MF_CHECKED : MF_UNCHECKED), m.id, m.caption);
        }
    }
}

HFONT Form::FontFor(const FontSpec& requested) {
    FontSpec font = requested.face ? requested : layout_->font;
    if (!font.face) font = FontSpec{L"MS Shell Dlg", 8.25, false};
    std::wstring key = std::wstring(font.face) + L"|" + std::to_wstring(font.points) + (font.bold ? L"|b" : L"");
    auto it = fonts_.find(key);
    if (it != fonts_.end()) return it->second.get();
    LOGFONTW lf{};
    lf.lfHeight = -static_cast<LONG>(std::lround(font.points * ScreenDpi(LOGPIXELSY) / 72.0));
    lf.lfWeight = font.bold ? FW_BOLD : FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(lf.lfFaceName, font.face, LF_FACESIZE);
    UniqueFont& f = fonts_[key];
    f.reset(CreateFontIndirectW(&lf));
    return f.get();
}

HBRUSH Form::BrushFor(COLORREF color) {
    auto it = brushes_.find(color);
    if (it != brushes_.end()) return it->second.get();
    UniqueBrush& b = brushes_[color];
    b.reset(CreateSolidBrush(color));
    return b.get();
}

void Form::CreateControls() {
    HINSTANCE inst = GetModuleHandleW(nullptr);
    for (const ControlSpec& c : layout_->controls) {
        byId_[c.id] = &c;
        double left = c.left, top = c.top;
        if (c.frame) {
            auto f = byId_.find(c.frame);
            if (f != byId_.end()) {
                left += f->second->left;
                top += f->second->top;
            }
        }
        DWORD style = WS_CHILD | StyleFor(c.kind) | c.extraStyle | (c.visible ? WS_VISIBLE : 0);
        DWORD ex = (c.kind == Kind::ListView) ? WS_EX_CLIENTEDGE : 0;
        if (c.kind == Kind::TextBox) ex = WS_EX_CLIENTEDGE, style &= ~WS_BORDER;
        int x = TwipsToPixelsX(left), y = TwipsToPixelsY(top);
        int w = TwipsToPixelsX(c.width), h = TwipsToPixelsY(c.height);
        HWND ctl = CreateWindowExW(ex, ClassFor(c.kind), c.caption ? c.caption : L"", style, x, y, w, h,
                                   hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), inst, nullptr);
        if (!ctl) continue;
        SendMessageW(ctl, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(c.font)), FALSE);
        if (c.kind == Kind::ListView) {
            ListView_SetExtendedListViewStyle(ctl, LVS_EX_FULLROWSELECT);
        }
        if (c.kind == Kind::StatusBar && c.height > 0) {
            SendMessageW(ctl, SB_SETMINHEIGHT, h, 0);
            SendMessageW(ctl, WM_SIZE, 0, 0);
        }
    }
}

void Form::Show(int cmd) {
    if (hwnd_) ShowWindow(hwnd_, cmd);
}

void Form::Enable(bool enabled) {
    if (hwnd_) EnableWindow(hwnd_, enabled);
}

double Form::LeftTwips() const {
    RECT r{};
    GetWindowRect(hwnd_, &r);
    return PixelsToTwipsX(r.left);
}
double Form::TopTwips() const {
    RECT r{};
    GetWindowRect(hwnd_, &r);
    return PixelsToTwipsY(r.top);
}
double Form::WidthTwips() const {
    RECT r{};
    GetWindowRect(hwnd_, &r);
    return PixelsToTwipsX(r.right - r.left);
}
double Form::HeightTwips() const {
    RECT r{};
    GetWindowRect(hwnd_, &r);
    return PixelsToTwipsY(r.bottom - r.top);
}

void Form::MoveTwips(double left, double top) {
    if (!hwnd_) return;
    SetWindowPos(hwnd_, nullptr, TwipsToPixelsX(left), TwipsToPixelsY(top), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form::CenterOnScreen() {
    double top = (ScreenHeightTwips() - HeightTwips()) / 2;
    double left = (ScreenWidthTwips() - WidthTwips()) / 2;
    MoveTwips(left, top);
}

HWND Form::Control(int id) const { return hwnd_ ? GetDlgItem(hwnd_, id) : nullptr; }

std::wstring Form::Text(int id) const {
    HWND c = Control(id);
    if (!c) return {};
    int n = GetWindowTextLengthW(c);
    std::wstring s(static_cast<size_t>(n) + 1, L'\0');
    n = GetWindowTextW(c, s.data(), n + 1);
    s.resize(static_cast<size_t>(std::max(n, 0)));
    return s;
}

void Form::SetText(int id, const std::wstring& text) {
    if (HWND c = Control(id)) {
        SetWindowTextW(c, text.c_str());
        // Labels with their own background repaint the old text area too.
        InvalidateRect(c, nullptr, TRUE);
    }
}

bool Form::Enabled(int id) const { HWND c = Control(id); return c && IsWindowEnabled(c); }
void Form::SetEnabled(int id, bool enabled) { if (HWND c = Control(id)) EnableWindow(c, enabled); }
bool Form::ControlVisible(int id) const { HWND c = Control(id); return c && (GetWindowLongW(c, GWL_STYLE) & WS_VISIBLE); }
void Form::SetVisible(int id, bool visible) { if (HWND c = Control(id)) ShowWindow(c, visible ? SW_SHOWNA : SW_HIDE); }
bool Form::Checked(int id) const { HWND c = Control(id); return c && SendMessageW(c, BM_GETCHECK, 0, 0) == BST_CHECKED; }
void Form::SetChecked(int id, bool checked) { if (HWND c = Control(id)) SendMessageW(c, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0); }

void Form::PlaceTwips(int id, double left, double top, double width, double height) {
    if (HWND c = Control(id)) {
        MoveWindow(c, TwipsToPixelsX(left), TwipsToPixelsY(top), std::max(0, TwipsToPixelsX(width)),
                   std::max(0, TwipsToPixelsY(height)), TRUE);
    }
}

std::wstring Form::Caption() const {
    if (!hwnd_) return {};
    int n = GetWindowTextLengthW(hwnd_);
    std::wstring s(static_cast<size_t>(n) + 1, L'\0');
    n = GetWindowTextW(hwnd_, s.data(), n + 1);
    s.resize(static_cast<size_t>(std::max(n, 0)));
    return s;
}

void Form::SetCaption(const std::wstring& text) { if (hwnd_) SetWindowTextW(hwnd_, text.c_str()); }

bool Form::MenuChecked(int id) const {
    if (!menu_) return false;
    UINT state = GetMenuState(menu_, id, MF_BYCOMMAND);
    return state != static_cast<UINT>(-1) && (state & MF_CHECKED);
}

void Form::SetMenuChecked(int id, bool checked) {
    if (menu_) CheckMenuItem(menu_, id, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

LRESULT CALLBACK Form::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    Form* self = nullptr;
    if (msg == WM_NCCREATE) {
        self = static_cast<Form*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<Form*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    }
    if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
    // Nothing may unwind into Windows: a failed handler is skipped, as the program goes on, and
    // leaves a line for a debugger (or DebugView) to say what it was.
    const wchar_t* form = self->layout_ ? self->layout_->name : L"?";
    try {
        return self->HandleMessage(msg, wp, lp);
    } catch (const std::exception& e) {
        ReportFailedHandler(form, msg, e.what());
    } catch (...) {
        ReportFailedHandler(form, msg, nullptr);
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT Form::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
    LRESULT result = 0;
    switch (msg) {
    case WM_COMMAND:
        OnCommand(LOWORD(wp), HIWORD(wp));
        return 0;
    case WM_TIMER:
        OnTimer(wp);
        return 0;
    case WM_SIZE:
        if (HWND bar = [this] {
                for (const ControlSpec& c : layout_->controls)
                    if (c.kind == Kind::StatusBar) return Control(c.id);
                return HWND{};
            }())
            SendMessageW(bar, WM_SIZE, 0, 0);
        OnResize();
        return 0;
    case WM_NOTIFY:
        return OnNotify(reinterpret_cast<NMHDR*>(lp));
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
        HWND ctl = reinterpret_cast<HWND>(lp);
        auto it = byId_.find(GetDlgCtrlID(ctl));
        if (it == byId_.end()) break;
        const ControlSpec& c = *it->second;
        HDC dc = reinterpret_cast<HDC>(wp);
        if (c.fore != kDefaultColor) SetTextColor(dc, c.fore);
        COLORREF back = c.back != kDefaultColor ? c.back : layout_->back;
        if (back == kDefaultColor) break;
        SetBkColor(dc, back);
        return reinterpret_cast<LRESULT>(BrushFor(back));
    }
    case WM_ERASEBKGND:
        if (layout_->back != kDefaultColor) {
            RECT rc{};
            GetClientRect(hwnd_, &rc);
            FillRect(reinterpret_cast<HDC>(wp), &rc, BrushFor(layout_->back));
            return 1;
        }
        break;
    case WM_CLOSE:
        if (OnClose()) DestroyWindow(hwnd_);
        return 0;
    case WM_NCDESTROY: {
        Forms().erase(hwnd_);
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        HWND h = hwnd_;
        hwnd_ = nullptr;
        OnDestroyed();
        return DefWindowProcW(h, msg, wp, lp);
    }
    default:
        break;
    }
    if (OnMessage(msg, wp, lp, &result)) return result;
    return DefWindowProcW(hwnd_, msg, wp, lp);
}

int RunMessageLoop() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (RouteDialogMessage(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

bool DoEvents() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return false;
        }
        if (RouteDialogMessage(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return true;
}

}  // namespace tovra::forms
