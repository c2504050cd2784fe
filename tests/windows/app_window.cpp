#include "app_window.h"

#include <algorithm>

namespace wintest {

namespace {

const char kClassName[] = "QarnTestApplication";

bool IsModuleNotification(UINT message) {
    return message >= 0x0D63 && message <= 0x0D65;
}

} // namespace

AppWindow::~AppWindow() {
    Destroy();
}

bool AppWindow::Create() {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kClassName;
    RegisterClassA(&windowClass); // fails harmlessly when a second window registers it again
    window_ = CreateWindowExA(0, kClassName, "qarn test", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                              nullptr, nullptr, instance, this);
    return window_ != nullptr;
}

void AppWindow::Destroy() {
    if (window_) DestroyWindow(window_);
    window_ = nullptr;
}

int AppWindow::Count(UINT message) const {
    return static_cast<int>(
        std::count_if(notifications_.begin(), notifications_.end(),
                      [message](const Notification& n) { return n.message == message; }));
}

LRESULT CALLBACK AppWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* creation = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
    }
    auto* self = reinterpret_cast<AppWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self && IsModuleNotification(message)) {
        self->notifications_.push_back({message, wParam, lParam});
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

namespace {

BOOL CALLBACK CollectChild(HWND window, LPARAM list) {
    ChildWindow child{window, GetParent(window), IsWindowVisible(window) != FALSE, {}};
    GetClassNameA(window, child.className, sizeof child.className);
    reinterpret_cast<std::vector<ChildWindow>*>(list)->push_back(child);
    return TRUE;
}

} // namespace

std::vector<ChildWindow> DescendantsOf(HWND window) {
    std::vector<ChildWindow> children;
    EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&children));
    return children;
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMilliseconds) {
    DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (done()) return true;
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMilliseconds) return false;
        MsgWaitForMultipleObjectsEx(0, nullptr, timeoutMilliseconds - elapsed, QS_ALLINPUT,
                                    MWMO_INPUTAVAILABLE);
    }
}

} // namespace wintest
