// Shows an HTML page in the embedded web browser control. Where the control or its document
// cannot be had (no HTML engine), the page's text is shown in a read-only text control instead,
// so the view is never empty.
#pragma once
#include <windows.h>

#include <functional>
#include <memory>
#include <string>

namespace tovra {

class HtmlView {
public:
    HtmlView();
    ~HtmlView();
    HtmlView(const HtmlView&) = delete;
    HtmlView& operator=(const HtmlView&) = delete;

    // Creates the view as a child of parent at rc (client pixels).
    bool Create(HWND parent, int id, const RECT& rc);
    // Navigates to about:blank, then writes the page into the document; falls back to the text.
    // Waits up to a few seconds for the blank document and lets window events run meanwhile:
    // the view may be released, or its parent destroyed, by a handler inside that wait. Load then
    // stops at once, touches neither and returns false; otherwise true (page or text on show).
    bool Load(const std::wstring& html);
    void Move(const RECT& rc);
    bool UsingBrowser() const;
    HWND hwnd() const;  // the child window on show (browser host or text control)
    std::wstring ShownText() const;  // the fallback text control's text, empty when the browser shows

    // For tests: runs where the load lets window events in, as a handler would run there.
    using WaitHook = std::function<void()>;
    static WaitHook SetWaitHook(WaitHook hook);

private:
    struct Impl;
    // Shared with a load in progress, which keeps it (and the OLE scope) until it unwinds.
    std::shared_ptr<Impl> impl_;
};

// The text of a page: tags dropped (and the content of title, head, script and style), white
// space collapsed, p and br as line breaks ("\r\n", as a text control wants them), entities decoded.
std::wstring HtmlToText(const std::wstring& html);

}  // namespace tovra
