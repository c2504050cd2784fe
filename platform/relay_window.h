// A hidden window through which a platform object takes messages and timers on its owner thread.
// It deletes itself once destroyed, so its owner may end it from inside one of its handlers.
#pragma once

#include "platform/window.h"

namespace qarn::platform {

// Owner has bool OnRelayMessage(unsigned message, MessageParam wParam, MessageParam lParam),
// true when it handled the message.
template <typename Owner> class RelayWindow : public Window {
  public:
    // A child of parent; nullptr when parent is not a window of the calling thread.
    static RelayWindow* Create(Owner* owner, WindowHandle parent) {
        auto* relay = new RelayWindow(owner);
        if (relay->CreateChild(parent)) return relay;
        delete relay;
        return nullptr;
    }

    // Nothing reaches the owner afterwards; relay is cleared first, so the owner can tell from
    // inside a handler that it was ended.
    static void End(RelayWindow*& relay) {
        if (!relay) return;
        RelayWindow* ending = relay;
        relay = nullptr;
        ending->owner_ = nullptr;
        ending->Destroy();
    }

  protected:
    MessageParam OnMessage(unsigned message, MessageParam wParam, MessageParam lParam) override {
        if (owner_ && owner_->OnRelayMessage(message, wParam, lParam)) return 0;
        return Window::OnMessage(message, wParam, lParam);
    }
    void OnFinalDestroy() override { delete this; }

  private:
    explicit RelayWindow(Owner* owner) : owner_(owner) {}
    Owner* owner_;
};

} // namespace qarn::platform
