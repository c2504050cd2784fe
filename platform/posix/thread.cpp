#include "platform/thread.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace qarn::platform {

struct Event::State {
    std::mutex lock;
    std::condition_variable changed;
    bool signalled;
};

Event::Event(bool signalled) : state_(new State) { state_->signalled = signalled; }
Event::~Event() = default;

void Event::Set() {
    std::lock_guard<std::mutex> hold(state_->lock);
    state_->signalled = true;
    state_->changed.notify_all();
}

void Event::Reset() {
    std::lock_guard<std::mutex> hold(state_->lock);
    state_->signalled = false;
}

void Event::Wait() {
    std::unique_lock<std::mutex> hold(state_->lock);
    state_->changed.wait(hold, [this] { return state_->signalled; });
}

struct Thread::State {
    std::thread thread;
};

Thread::Thread() : state_(new State) {}
Thread::~Thread() { Join(); }

bool Thread::Start(std::function<void()> body) {
    if (state_->thread.joinable()) return false;
    try {
        state_->thread = std::thread(std::move(body));
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void Thread::Join() {
    if (state_->thread.joinable()) state_->thread.join();
}

bool Thread::Running() const { return state_->thread.joinable(); }

} // namespace qarn::platform
