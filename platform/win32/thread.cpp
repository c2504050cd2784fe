#include "platform/thread.h"

#include <windows.h>

namespace qarn::platform {

struct Event::State {
    HANDLE event;
};

Event::Event(bool signalled) : state_(new State) {
    state_->event = CreateEventA(nullptr, TRUE, signalled ? TRUE : FALSE, nullptr);
}

Event::~Event() {
    if (state_->event) CloseHandle(state_->event);
}

void Event::Set() {
    SetEvent(state_->event);
}

void Event::Reset() {
    ResetEvent(state_->event);
}

void Event::Wait() {
    WaitForSingleObject(state_->event, INFINITE);
}

struct Thread::State {
    HANDLE thread = nullptr;
};

namespace {

DWORD WINAPI RunBody(void* argument) {
    auto* body = static_cast<std::function<void()>*>(argument);
    (*body)();
    delete body;
    return 0;
}

} // namespace

Thread::Thread() : state_(new State) {}

Thread::~Thread() {
    Join();
}

bool Thread::Start(std::function<void()> body) {
    if (state_->thread) return false;
    auto* owned = new std::function<void()>(std::move(body));
    state_->thread = CreateThread(nullptr, 0, RunBody, owned, 0, nullptr);
    if (!state_->thread) {
        delete owned;
        return false;
    }
    return true;
}

void Thread::Join() {
    if (!state_->thread) return;
    WaitForSingleObject(state_->thread, INFINITE);
    CloseHandle(state_->thread);
    state_->thread = nullptr;
}

bool Thread::Running() const {
    return state_->thread != nullptr;
}

} // namespace qarn::platform
