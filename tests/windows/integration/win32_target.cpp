#include <windows.h>

#include "target.h"

namespace scenario {

namespace {

const char kClassName[] = "QarnScenarioApplication";

struct Listener {
    NotifyProc proc;
    void* user;
};

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* creation = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
    }
    auto* listener = reinterpret_cast<Listener*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        delete listener;
    } else if (listener && message >= WM_HDLC_STREAM && message <= WM_HDLC_SENT) {
        listener->proc(static_cast<int>(message), static_cast<int>(wParam),
                       static_cast<int>(lParam), listener->user);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

QarnWindow CreateAppWindow(NotifyProc proc, void* user) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kClassName;
    RegisterClassA(&windowClass); // a second registration fails harmlessly
    auto* listener = new Listener{proc, user};
    HWND window = CreateWindowExA(0, kClassName, "qarn scenario", WS_OVERLAPPEDWINDOW, 0, 0, 200,
                                  100, nullptr, nullptr, instance, listener);
    if (!window) delete listener;
    return window;
}

bool DestroyAppWindow(QarnWindow window) {
    return IsWindow(static_cast<HWND>(window)) && DestroyWindow(static_cast<HWND>(window));
}

QarnWindow AsWindow(int value) {
    return reinterpret_cast<QarnWindow>(static_cast<INT_PTR>(value));
}

void Pump(int milliseconds) {
    DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= static_cast<DWORD>(milliseconds)) return;
        MsgWaitForMultipleObjectsEx(0, nullptr, milliseconds - elapsed, QS_ALLINPUT,
                                    MWMO_INPUTAVAILABLE);
    }
}

void PostQuit() {
    PostQuitMessage(0);
}

double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    auto seconds = [](const FILETIME& time) {
        return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32 | time.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

// The simulated line is a pty, which refuses parity under Wine: the line runs without.
std::string LineSettings(const std::string& port, int baud) {
    return port + ":baud=" + std::to_string(baud) + ",parity=N,data=8,stop=1";
}

} // namespace scenario
