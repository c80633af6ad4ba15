// A small forms layer: windows and their controls declared as tables in twips.
#pragma once
#include <windows.h>

#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "shared/win_handles.h"

namespace tovra::forms {

// ---- Measures ---------------------------------------------------------------------------------
// 1440 twips an inch, converted with the screen's real DPI.
int TwipsToPixelsX(double twips);
int TwipsToPixelsY(double twips);
double PixelsToTwipsX(int pixels);
double PixelsToTwipsY(int pixels);
double ScreenWidthTwips();
double ScreenHeightTwips();

// ---- Declarations -----------------------------------------------------------------------------
struct FontSpec {
    const wchar_t* face = nullptr;  // nullptr: the form's font
    double points = 0;
    bool bold = false;
};

constexpr COLORREF kDefaultColor = CLR_INVALID;

enum class Kind {
    Label,         // static text; a click raises OnCommand(id, STN_CLICKED)
    Button,        // push button
    Frame,         // group box; its children are placed relative to it
    CheckBox,      // auto check box
    OptionButton,  // auto radio button
    TextBox,       // single-line edit
    ListView,      // report view
    StatusBar,     // one panel, docked at the bottom
};

struct ControlSpec {
    Kind kind;
    int id;
    const wchar_t* name;     // the control's name, for tests and diagnostics
    const wchar_t* caption;  // initial caption or text
    double left, top, width, height;  // twips, relative to the client area or the frame
    int frame = 0;                    // id of the frame holding it, 0 for the form
    FontSpec font = {};
    COLORREF fore = kDefaultColor;
    COLORREF back = kDefaultColor;    // labels: kDefaultColor means the form's background
    bool visible = true;
    DWORD extraStyle = 0;
};

struct MenuSpec {
    int id;                 // 0 for a top-level menu title
    const wchar_t* name;
    const wchar_t* caption;
    bool topLevel = false;  // true: a menu title on the bar; false: an entry of the last title
    bool checked = false;
};

struct FormSpec {
    const wchar_t* name;                 // also the window class suffix
    const wchar_t* caption;
    double clientWidth, clientHeight;    // twips
    DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    DWORD exStyle = 0;
    COLORREF back = kDefaultColor;       // kDefaultColor: the system's face colour
    FontSpec font = {};                  // the form font; face nullptr: MS Shell Dlg 8 pt
    bool icon = true;                    // carry the program's icon (resource 1)
    std::span<const ControlSpec> controls = {};
    std::span<const MenuSpec> menu = {};
};

// ---- Forms ------------------------------------------------------------------------------------
class Form {
public:
    Form() = default;
    virtual ~Form();
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    // Creates the window hidden, with its controls in table order (the tab order) and its menu.
    bool Create(const FormSpec& layout, HWND owner = nullptr);
    void Destroy();
    HWND hwnd() const { return hwnd_; }
    bool created() const { return hwnd_ != nullptr; }

    void Show(int cmd = SW_SHOW);
    void Hide() { Show(SW_HIDE); }
    bool Visible() const { return hwnd_ && IsWindowVisible(hwnd_); }
    void Enable(bool enabled);

    // Window position and size in twips (outer size, as the form designer reports it).
    double LeftTwips() const;
    double TopTwips() const;
    double WidthTwips() const;
    double HeightTwips() const;
    void MoveTwips(double left, double top);
    // top = (screen height - height) / 2, then left likewise; negative on a small screen.
    void CenterOnScreen();

    // Controls by id.
    HWND Control(int id) const;
    std::wstring Text(int id) const;
    void SetText(int id, const std::wstring& text);
    bool Enabled(int id) const;
    void SetEnabled(int id, bool enabled);
    bool ControlVisible(int id) const;
    void SetVisible(int id, bool visible);
    bool Checked(int id) const;
    void SetChecked(int id, bool checked);
    // Moves and sizes a control in twips relative to the client area; negative sizes become 0.
    void PlaceTwips(int id, double left, double top, double width, double height);

    std::wstring Caption() const;
    void SetCaption(const std::wstring& text);

    // Menu entries by id.
    bool MenuChecked(int id) const;
    void SetMenuChecked(int id, bool checked);
    HMENU Menu() const { return menu_; }

    // The form's table, for tests that compare a window with its declaration.
    const FormSpec* Declaration() const { return layout_; }

protected:
    // Handlers; return values mirror the window messages.
    virtual void OnCreate() {}
    virtual void OnCommand(int id, int notifyCode) {}
    virtual void OnTimer(UINT_PTR timerId) {}
    virtual void OnResize() {}
    virtual LRESULT OnNotify(NMHDR* hdr) { return 0; }
    // WM_CLOSE: return false to keep the window. The default destroys it.
    virtual bool OnClose() { return true; }
    virtual void OnDestroyed() {}
    // Any other message; return true when handled (result in *result).
    virtual bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) { return false; }

private:
    static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp);
    HFONT FontFor(const FontSpec& requested);
    HBRUSH BrushFor(COLORREF color);
    void CreateControls();
    void CreateMenu();

    HWND hwnd_ = nullptr;
    HMENU menu_ = nullptr;
    const FormSpec* layout_ = nullptr;
    std::map<int, const ControlSpec*> byId_;
    // Deleted only after the window and its controls, which select them, are gone.
    std::map<std::wstring, UniqueFont> fonts_;
    std::map<COLORREF, UniqueBrush> brushes_;
};

// ---- Message loop -----------------------------------------------------------------------------
// Runs until WM_QUIT; returns its exit code. Dialog keys (Tab, access keys) work in every form.
int RunMessageLoop();
// Lets pending window events run, as long walks must; false once WM_QUIT has been seen
// (the quit message is posted again, so the outer loop still ends).
bool DoEvents();
// Registers the program's common controls (list view, status bar).
void InitCommonControls();

}  // namespace tovra::forms
