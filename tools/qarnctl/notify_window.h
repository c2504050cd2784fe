// The application window the device object notifies: the library's notification window on
// Linux, a hidden window of qarnctl's own on Windows.
#pragma once

#include "qarn.h"

namespace qarnctl {

class NotifyWindow {
  public:
    using Handler = void (*)(int message, void* user);

    NotifyWindow() = default;
    NotifyWindow(const NotifyWindow&) = delete;
    NotifyWindow& operator=(const NotifyWindow&) = delete;
    ~NotifyWindow();

    // False when the window cannot be made; handler then receives WM_HDLC_STREAM, _FRAME and
    // _SENT on this thread while it pumps.
    bool Create(Handler handler, void* user);
    QarnWindow Handle() const { return handle_; }
    void Destroy();

  private:
    QarnWindow handle_{};
    Handler handler_ = nullptr;
    void* user_ = nullptr;

    friend struct NotifyWindowAccess;
};

// Dispatches this thread's messages, waiting up to `milliseconds` for the first one.
void PumpFor(int milliseconds);

} // namespace qarnctl
