// The application's window: a real top-level window, never shown, that records the module's
// notifications; and a message loop with a time-out for the test's waits.
#pragma once

#include <functional>
#include <vector>

#include <windows.h>

namespace wintest {

struct Notification {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

class AppWindow {
  public:
    AppWindow() = default;
    ~AppWindow();
    AppWindow(const AppWindow&) = delete;
    AppWindow& operator=(const AppWindow&) = delete;

    bool Create();
    void Destroy();
    HWND Handle() const { return window_; }

    const std::vector<Notification>& Notifications() const { return notifications_; }
    int Count(UINT message) const;
    void Clear() { notifications_.clear(); }

  private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
    std::vector<Notification> notifications_;
};

// The hidden windows below window, all generations, with their parents.
struct ChildWindow {
    HWND window;
    HWND parent;
    bool visible;
    char className[64];
};
std::vector<ChildWindow> DescendantsOf(HWND window);

// Dispatches the thread's messages until done() holds or the time runs out; false on time-out.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMilliseconds);

} // namespace wintest
