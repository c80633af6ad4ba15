// An HTML view's fallback where no HTML engine shows the page: the page's words, in a read-only
// text box.
#pragma once
#include <windows.h>

#include <string>

namespace tovra {

// The text of a page: tags dropped (and the content of title, head, script and style), white
// space collapsed, p and br as line breaks ("\r\n", as a text control wants them), entities decoded.
std::wstring HtmlToText(const std::wstring& html);

// A read-only, multi-line text box that reads like a page: black on white, the parent's font.
class TextPane {
public:
    TextPane() = default;
    ~TextPane();
    TextPane(const TextPane&) = delete;
    TextPane& operator=(const TextPane&) = delete;

    // Makes the box as a child of parent at rc (client pixels) with the given id, once.
    bool Create(HWND parent, int id, const RECT& rc);
    void SetText(const std::wstring& text);
    std::wstring Text() const;
    // The box, or nullptr before Create and once it has gone (with its parent, too).
    HWND hwnd() const { return edit_; }
    void Destroy();

private:
    static LRESULT CALLBACK ParentSubclass(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR data);

    HWND parent_ = nullptr;
    HWND edit_ = nullptr;
};

}  // namespace tovra
