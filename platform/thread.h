// The serial reader thread and its handshake event.
#pragma once

#include <functional>
#include <memory>

namespace qarn::platform {

// Manual-reset event.
class Event {
  public:
    explicit Event(bool signalled);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    void Set();
    void Reset();
    void Wait();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

class Thread {
  public:
    Thread();
    ~Thread(); // joins a thread that is still running
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    bool Start(std::function<void()> body);
    void Join();
    bool Running() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace qarn::platform
