// The application's window on Linux: a top-level message target whose messages go to a
// callback, and the message loop functions for applications without one of their own.
#include "qarn.h"

#if !defined(_WIN32)

#include <mutex>
#include <set>

#include "platform/window.h"

namespace {

class NotifyWindow : public qarn::platform::Window {
  public:
    NotifyWindow(QarnNotifyProc proc, void* user) : proc_(proc), user_(user) {}

  protected:
    qarn::platform::MessageParam OnMessage(unsigned message, qarn::platform::MessageParam wParam,
                                           qarn::platform::MessageParam lParam) override {
        proc_(static_cast<int>(message), static_cast<int>(wParam), static_cast<int>(lParam), user_);
        return 0;
    }
    void OnDestroy() override;
    void OnFinalDestroy() override { delete this; }

  private:
    QarnNotifyProc proc_;
    void* user_;
};

// Only windows made here may be destroyed through DestroyNotifyWindow.
std::mutex windowsLock;
std::set<int> notifyWindows;

void NotifyWindow::OnDestroy() {
    std::lock_guard<std::mutex> hold(windowsLock);
    notifyWindows.erase(static_cast<int>(Handle()));
}

} // namespace

extern "C" {

int CreateNotifyWindow(QarnNotifyProc proc, void* user) {
    if (!proc) return 0;
    auto* window = new NotifyWindow(proc, user);
    if (!window->CreateChild(0)) {
        delete window;
        return 0;
    }
    std::lock_guard<std::mutex> hold(windowsLock);
    notifyWindows.insert(static_cast<int>(window->Handle()));
    return static_cast<int>(window->Handle());
}

int DestroyNotifyWindow(int window) {
    {
        std::lock_guard<std::mutex> hold(windowsLock);
        if (!notifyWindows.count(window)) return 0;
    }
    return qarn::platform::DestroyWindow(static_cast<qarn::platform::WindowHandle>(window)) ? 1 : 0;
}

int PumpMessages(int timeoutMs) {
    return qarn::platform::PumpMessages(timeoutMs);
}

void PostQuitMessage(int exitCode) {
    qarn::platform::PostQuit(exitCode);
}

int GetMessageFd(void) {
    return qarn::platform::MessageDescriptor();
}

} // extern "C"

#endif
