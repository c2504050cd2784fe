// qarn::NotifyWindow: the application's window that the library's notifications reach.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <thread>

#include "qarn.h"
#include "qarn/monitor.hpp"
#include "qarn/result.hpp"

namespace qarn {

class Device;

// A notification window on the calling thread. Messages WM_HDLC_STREAM, WM_HDLC_FRAME and
// WM_HDLC_SENT reach the handlers synchronously, with the device's handle, while the thread
// waits inside a command or calls pump(): the message handler takes them as they are, the
// event handler as LineEvents (qarn/monitor.hpp); a device's stream() and last_frame() read
// what they tell of. Destroying the window closes every device opened on it, so it must
// outlive them. Move-only; it belongs to the thread that made it.
class NotifyWindow {
  public:
    using Handler = std::function<void(int message, int device)>;
    using EventHandler = std::function<void(LineEvent event, int device)>;

    // Throws qarn::Error (Failure::open) when no window can be made; create() does not.
    explicit NotifyWindow(Handler handler = {})
        : NotifyWindow(create(std::move(handler)).value()) {}
    explicit NotifyWindow(EventHandler handler)
        : NotifyWindow(create(std::move(handler)).value()) {}

    static Result<NotifyWindow> create(Handler handler = {}) {
        auto state = std::make_shared<State>();
        state->handler = std::move(handler);
        state->handle = CreateNotifyWindow(&NotifyWindow::Dispatch, state.get());
        if (state->handle == 0)
            return Error(Failure::open, -1, "qarn: the notification window was not made");
        return NotifyWindow(std::move(state));
    }
    static Result<NotifyWindow> create(EventHandler handler) {
        auto window = create(Handler());
        if (window) window->set_event_handler(std::move(handler));
        return window;
    }

    ~NotifyWindow() {
        if (state_) DestroyNotifyWindow(state_->handle);
    }
    NotifyWindow(NotifyWindow&& other) noexcept : state_(std::move(other.state_)) {}
    NotifyWindow& operator=(NotifyWindow&& other) noexcept {
        if (this != &other) {
            if (state_) DestroyNotifyWindow(state_->handle);
            state_ = std::move(other.state_);
        }
        return *this;
    }

    int handle() const { return state_ ? state_->handle : 0; }
    void set_handler(Handler handler) { state_->handler = std::move(handler); }
    void set_event_handler(EventHandler handler) { state_->events = std::move(handler); }

    // Dispatches the thread's due messages and timers, waiting up to timeoutMs for the first:
    // how many were dispatched, -1 when the quit message was taken.
    static int pump(int timeoutMs) { return PumpMessages(timeoutMs); }
    // Readable while the calling thread has messages or due timers: for poll and event loops.
    static int message_fd() { return GetMessageFd(); }

  private:
    friend class Device;

    struct State {
        int handle = 0;
        Handler handler;
        EventHandler events;
        std::map<int, std::function<void(int message)>> listeners; // by device handle
    };

    // Copies of the callbacks run, so that a handler may close a device or replace itself.
    static void Dispatch(int message, int, int device, void* user) {
        auto* state = static_cast<State*>(user);
        auto found = state->listeners.find(device);
        if (found != state->listeners.end()) {
            std::function<void(int)> listener = found->second;
            if (listener) listener(message);
        }
        Handler handler = state->handler;
        if (handler) handler(message, device);
        EventHandler events = state->events;
        auto event = line_event(message);
        if (events && event) events(*event, device);
    }

    explicit NotifyWindow(std::shared_ptr<State> state) : state_(std::move(state)) {}

    // Devices keep the state, so a device that outlives its window by mistake touches nothing
    // freed; its handle is stale then and every call on it fails.
    std::shared_ptr<State> state_;
};

} // namespace qarn
