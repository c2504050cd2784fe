#include "notify_window.h"

#include <windows.h>

namespace qarnctl {

namespace {

const char kClassName[] = "qarnctlNotify";

} // namespace

struct NotifyWindowAccess {
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<NotifyWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self && self->handler_ &&
            (message == WM_HDLC_STREAM || message == WM_HDLC_FRAME || message == WM_HDLC_SENT)) {
            self->handler_(static_cast<int>(message), self->user_);
            return 0;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }
};

NotifyWindow::~NotifyWindow() {
    Destroy();
}

bool NotifyWindow::Create(Handler handler, void* user) {
    handler_ = handler;
    user_ = user;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &NotifyWindowAccess::Procedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kClassName;
    if (!RegisterClassA(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    // A top-level window that is never shown: the device object's windows are its children.
    HWND window = CreateWindowExA(0, kClassName, "qarnctl", WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                                  nullptr, instance, nullptr);
    if (!window) return false;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    handle_ = window;
    return true;
}

void NotifyWindow::Destroy() {
    if (handle_) DestroyWindow(static_cast<HWND>(handle_));
    handle_ = nullptr;
}

void PumpFor(int milliseconds) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(milliseconds), QS_ALLINPUT);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

} // namespace qarnctl
