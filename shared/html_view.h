// Shows an HTML page in the embedded web browser control. Where the control or its document
// cannot be had (no HTML engine), the page's text is shown in a read-only text control instead,
// so the view is never empty. Nothing here waits: the browser's events and the view's timer come
// through the window's own message loop.
#pragma once
#include <windows.h>

#include <memory>
#include <string>

#include "shared/html_view_browser.h"

namespace tovra {

class HtmlView {
public:
    // The longest the view waits for the browser's blank document before it shows the page
    // without it. An engine that works has the document within milliseconds; one without an
    // engine reports NavigateError (or nothing at all).
    static constexpr UINT kDocumentWaitMs = 5000;

    // browsers: where the browser control comes from; empty: the system's (HostBrowserControl).
    explicit HtmlView(BrowserFactory browsers = {}, UINT documentWaitMs = kDocumentWaitMs);
    ~HtmlView();
    HtmlView(const HtmlView&) = delete;
    HtmlView& operator=(const HtmlView&) = delete;

    // Creates the view as a child of parent at rc (client pixels): the browser, or the empty
    // text control where no browser can be hosted.
    bool Create(HWND parent, int id, const RECT& rc);
    // Navigates the browser to about:blank and returns at once. The page is written into the
    // document when it completes; when the navigation fails or the wait runs out, it goes into
    // whatever document there is, or its text is shown instead. Without a browser the text shows
    // at once. False when there is nothing to show it in (not created, or the parent has gone).
    bool Load(const std::wstring& html);
    // A page waits for the browser's document.
    bool Loading() const;
    void Move(const RECT& rc);
    bool UsingBrowser() const;
    HWND hwnd() const;  // the child window on show (browser host or text control)
    std::wstring ShownText() const;  // the fallback text control's text, empty when the browser shows

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tovra
