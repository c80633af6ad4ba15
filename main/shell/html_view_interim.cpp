// Text stand-in for the page view, used only while the shared HTML view is not built.
#include <windows.h>

#include "shared/html_view.h"

namespace tovra {

struct HtmlView::Impl {
    HWND edit = nullptr;
    std::wstring text;
};

HtmlView::HtmlView() : impl_(new Impl) {}
HtmlView::~HtmlView() {
    if (impl_->edit && IsWindow(impl_->edit)) DestroyWindow(impl_->edit);
    delete impl_;
}

bool HtmlView::Create(HWND parent, int id, const RECT& rc) {
    impl_->edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                                  WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY, rc.left, rc.top,
                                  rc.right - rc.left, rc.bottom - rc.top, parent,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    if (impl_->edit) SendMessageW(impl_->edit, WM_SETFONT, SendMessageW(parent, WM_GETFONT, 0, 0), FALSE);
    return impl_->edit != nullptr;
}

void HtmlView::Load(const std::wstring& html) {
    impl_->text = HtmlToText(html);
    if (impl_->edit) SetWindowTextW(impl_->edit, impl_->text.c_str());
}

void HtmlView::Move(const RECT& rc) {
    if (impl_->edit) MoveWindow(impl_->edit, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, TRUE);
}
bool HtmlView::UsingBrowser() const { return false; }
HWND HtmlView::hwnd() const { return impl_->edit; }
std::wstring HtmlView::ShownText() const { return impl_->text; }

std::wstring HtmlToText(const std::wstring& html) {
    std::wstring out;
    bool inTag = false, inTitle = false;
    std::wstring tag;
    for (wchar_t c : html) {
        if (c == L'<') { inTag = true; tag.clear(); continue; }
        if (inTag) {
            if (c != L'>') { tag += static_cast<wchar_t>(towlower(c)); continue; }
            inTag = false;
            if (tag == L"title") inTitle = true;
            else if (tag == L"/title") inTitle = false;
            else if (tag == L"br" || tag == L"p") out += L"\r\n";
            continue;
        }
        if (!inTitle) out += c;
    }
    return out;
}

}  // namespace tovra
