// A plain top-level window for the controls under test to live in.
#pragma once
#include <windows.h>

namespace tovra::test {

class ParentWindow {
public:
    ParentWindow() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"TovraTestParent";
        RegisterClassW(&wc);  // once per process; later calls fail harmlessly
        hwnd_ = CreateWindowExW(0, wc.lpszClassName, L"Tovra test", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr,
                                nullptr, wc.hInstance, nullptr);
    }
    ~ParentWindow() {
        if (IsWindow(hwnd_)) DestroyWindow(hwnd_);
    }
    ParentWindow(const ParentWindow&) = delete;
    ParentWindow& operator=(const ParentWindow&) = delete;
    HWND hwnd() const { return hwnd_; }

private:
    HWND hwnd_ = nullptr;
};

}  // namespace tovra::test
