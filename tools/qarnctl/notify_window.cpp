#include "notify_window.h"

namespace qarnctl {

struct NotifyWindowAccess {
    static void Forward(int message, int, int, void* window) {
        auto* self = static_cast<NotifyWindow*>(window);
        if (self->handler_) self->handler_(message, self->user_);
    }
};

NotifyWindow::~NotifyWindow() {
    Destroy();
}

bool NotifyWindow::Create(Handler handler, void* user) {
    handler_ = handler;
    user_ = user;
    handle_ = CreateNotifyWindow(&NotifyWindowAccess::Forward, this);
    return handle_ != 0;
}

void NotifyWindow::Destroy() {
    if (handle_) DestroyNotifyWindow(handle_);
    handle_ = 0;
}

void PumpFor(int milliseconds) {
    PumpMessages(milliseconds);
}

} // namespace qarnctl
