// Window objects on POSIX: a registry of handles and a message queue per thread, with an
// eventfd for posted messages, a timerfd for the earliest timer and the watched descriptors,
// joined in one epoll set. A thread's queue and the windows in it end with the thread; a forked
// child's thread starts a queue of its own, as the parent's descriptors are shared with it.
#include "platform/window.h"

#include "platform/clock.h"
#include "platform/posix/descriptor_watch.h"
#include "platform/thread_identity.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include <errno.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

namespace qarn::platform {

namespace {

struct Message {
    WindowHandle window;
    unsigned message;
    MessageParam wParam;
    MessageParam lParam;
};

struct Timer {
    WindowHandle window;
    unsigned id;
    uint64_t period; // microseconds; 0 for a one-shot timer
    uint64_t due;    // on the MonotonicMicroseconds clock, which is CLOCK_MONOTONIC
};

struct Watch {
    int descriptor;
    WindowHandle window;
    unsigned message;
};

// A watched descriptor's readiness, taken from the epoll set and not yet dispatched.
struct Readiness {
    int descriptor;
    Message message;
};

struct ThreadQueue {
    const uint64_t owner = ThreadSerial();
    std::mutex lock; // guards posted only; everything else belongs to the owner thread
    std::deque<Message> posted;
    int wakeDescriptor = -1;
    int timerDescriptor = -1;
    int pollDescriptor = -1;
    bool signalled = false; // the eventfd is readable; guarded by lock
    std::vector<Timer> timers;
    std::vector<Watch> watches;
    std::deque<Readiness> ready;
    int dispatchDepth = 0;
    int dispatching = 0; // DispatchDue loops running on the owner thread
    std::vector<Window*> finalPending;

    // A queue with all three descriptors, or null when the process has none to spare.
    static std::shared_ptr<ThreadQueue> Create() {
        auto queue = std::make_shared<ThreadQueue>();
        queue->wakeDescriptor = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        queue->timerDescriptor = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        queue->pollDescriptor = epoll_create1(EPOLL_CLOEXEC);
        for (int descriptor : {queue->wakeDescriptor, queue->timerDescriptor}) {
            epoll_event interest{};
            interest.events = EPOLLIN;
            interest.data.fd = descriptor;
            if (descriptor < 0 || queue->pollDescriptor < 0 ||
                epoll_ctl(queue->pollDescriptor, EPOLL_CTL_ADD, descriptor, &interest) != 0)
                return nullptr;
        }
        return queue;
    }
    ~ThreadQueue() {
        for (int descriptor : {pollDescriptor, timerDescriptor, wakeDescriptor})
            if (descriptor >= 0) close(descriptor);
    }

    // The eventfd is written only to wake the owner thread: not when it is already readable,
    // nor for a message the owner posts to itself while dispatching, which takes it before it
    // waits again.
    void Post(const Message& message, bool fromOwnDispatch) {
        std::lock_guard<std::mutex> hold(lock);
        posted.push_back(message);
        if (!fromOwnDispatch) Signal();
    }

    bool TakePosted(Message& message) {
        std::lock_guard<std::mutex> hold(lock);
        if (posted.empty()) return false;
        message = posted.front();
        posted.pop_front();
        if (posted.empty() && signalled) {
            uint64_t count;
            ssize_t got = read(wakeDescriptor, &count, sizeof count);
            (void)got;
            signalled = false;
        }
        return true;
    }

    // Leaving a dispatch with messages still queued (after the quit message): they must wake
    // the next wait.
    void SignalLeftovers() {
        std::lock_guard<std::mutex> hold(lock);
        if (!posted.empty()) Signal();
    }

    bool TakeDueTimer(Message& message) {
        uint64_t now = MonotonicMicroseconds();
        for (auto timer = timers.begin(); timer != timers.end(); ++timer) {
            if (timer->due > now) continue;
            message =
                Message{timer->window, kMessageTimer, static_cast<MessageParam>(timer->id), 0};
            if (timer->period == 0)
                timers.erase(timer);
            else
                timer->due = now + timer->period;
            return true;
        }
        return false;
    }

    // Arms the timerfd for the earliest timer, so the poll descriptor turns readable then.
    // Setting it also clears an earlier expiration; nothing is read afterwards, because a due
    // time that passed while arming expires at once and that expiration must stay readable.
    void ArmTimer() {
        itimerspec when{};
        if (!timers.empty()) {
            uint64_t due = timers.front().due;
            for (const Timer& timer : timers)
                due = std::min(due, timer.due);
            due = std::max<uint64_t>(due, 1);
            when.it_value.tv_sec = static_cast<time_t>(due / 1000000);
            when.it_value.tv_nsec = static_cast<long>(due % 1000000) * 1000L;
        }
        timerfd_settime(timerDescriptor, TFD_TIMER_ABSTIME, &when, nullptr);
    }

    void Signal() {
        if (signalled) return;
        uint64_t one = 1;
        ssize_t written = write(wakeDescriptor, &one, sizeof one);
        (void)written;
        signalled = true;
    }

    bool TakeReady(Message& message) {
        if (ready.empty()) return false;
        message = ready.front().message;
        ready.pop_front();
        return true;
    }

    // Waits until something is due and takes the watched descriptors that turned ready; the
    // eventfd and the timerfd are read by TakePosted and TakeDueTimer.
    void WaitForWork(int timeoutMilliseconds) {
        ArmTimer();
        epoll_event events[8];
        int count;
        while ((count = epoll_wait(pollDescriptor, events, 8, timeoutMilliseconds)) < 0 &&
               errno == EINTR) {
        }
        for (int i = 0; i < count; ++i)
            for (const Watch& watch : watches)
                if (watch.descriptor == events[i].data.fd)
                    ready.push_back(Readiness{
                        watch.descriptor, Message{watch.window, watch.message, 0,
                                                  static_cast<MessageParam>(events[i].events)}});
    }
};

// The calling thread's queue; it destroys the thread's windows when the thread ends.
struct QueueHolder {
    std::shared_ptr<ThreadQueue> queue;
    ~QueueHolder();
};

QueueHolder& Holder() {
    thread_local QueueHolder holder;
    return holder;
}

// The calling thread's queue, made on first use and again in a forked child; null when its
// descriptors cannot be had, and tried again on the next call.
ThreadQueue* CurrentQueue() {
    std::shared_ptr<ThreadQueue>& queue = Holder().queue;
    if (!queue || queue->owner != ThreadSerial()) queue = ThreadQueue::Create();
    return queue.get();
}

// The queue, if the calling thread has one already.
ThreadQueue* ExistingQueue() {
    const std::shared_ptr<ThreadQueue>& queue = Holder().queue;
    return queue && queue->owner == ThreadSerial() ? queue.get() : nullptr;
}

struct Entry {
    Window* object;
    std::shared_ptr<ThreadQueue> queue;
    WindowHandle parent;
    std::vector<WindowHandle> children;
};

std::mutex registryLock;
std::unordered_map<WindowHandle, Entry> registry;
WindowHandle lastHandle = 0x10000;

Window* FindOwnWindow(WindowHandle window) {
    std::lock_guard<std::mutex> hold(registryLock);
    auto found = registry.find(window);
    if (found == registry.end() || found->second.queue.get() != ExistingQueue()) return nullptr;
    return found->second.object;
}

// The windows of the queue without a parent; destroying them destroys all the queue's windows.
std::vector<WindowHandle> TopWindows(const ThreadQueue* queue) {
    std::lock_guard<std::mutex> hold(registryLock);
    std::vector<WindowHandle> top;
    for (const auto& [handle, entry] : registry)
        if (entry.queue.get() == queue && entry.parent == 0) top.push_back(handle);
    return top;
}

// A thread that ends takes its windows with it, as if each had been destroyed: the device objects
// among them close their ports and release their handles. A forked child's copy of the parent's
// queue is left alone, since its descriptors are the parent's too.
QueueHolder::~QueueHolder() {
    if (!queue || queue->owner != ThreadSerial()) return;
    for (WindowHandle window : TopWindows(queue.get()))
        if (Window* object = FindOwnWindow(window)) object->Destroy();
    queue.reset();
}

void RunFinalDestroys(ThreadQueue& queue) {
    while (queue.dispatchDepth == 0 && !queue.finalPending.empty()) {
        Window* window = queue.finalPending.front();
        queue.finalPending.erase(queue.finalPending.begin());
        window->Dispatch(0, 0, 0); // the backend's signal for the final clean-up
    }
}

// Takes the next message of the calling thread; false when nothing is due.
bool TakeNext(ThreadQueue& queue, Message& message) {
    return queue.TakePosted(message) || queue.TakeDueTimer(message) || queue.TakeReady(message);
}

} // namespace

struct WindowBackend {
    static void Unregister(Window& window) {
        std::lock_guard<std::mutex> hold(registryLock);
        auto found = registry.find(window.handle_);
        if (found == registry.end()) return;
        auto parent = registry.find(found->second.parent);
        if (parent != registry.end()) {
            auto& siblings = parent->second.children;
            siblings.erase(std::remove(siblings.begin(), siblings.end(), window.handle_),
                           siblings.end());
        }
        registry.erase(found);
    }

    static std::vector<WindowHandle> Children(const Window& window) {
        std::lock_guard<std::mutex> hold(registryLock);
        auto found = registry.find(window.handle_);
        return found == registry.end() ? std::vector<WindowHandle>{} : found->second.children;
    }

    static void DestroyTree(Window& window) {
        ThreadQueue& queue = *ExistingQueue();
        ++queue.dispatchDepth;
        window.OnDestroy();
        for (WindowHandle child : Children(window)) {
            Window* object = FindOwnWindow(child);
            if (object && object->Alive()) DestroyTree(*object);
        }
        WindowHandle handle = window.handle_;
        auto& timers = queue.timers;
        timers.erase(std::remove_if(timers.begin(), timers.end(),
                                    [handle](const Timer& t) { return t.window == handle; }),
                     timers.end());
        std::vector<int> watched;
        for (const Watch& watch : queue.watches)
            if (watch.window == handle) watched.push_back(watch.descriptor);
        for (int descriptor : watched)
            UnwatchDescriptor(descriptor);
        Unregister(window);
        window.handle_ = 0;
        queue.finalPending.push_back(&window);
        --queue.dispatchDepth;
    }

    static void FinalDestroy(Window& window) { window.OnFinalDestroy(); }
};

Window::Window() = default;

Window::~Window() {
    if (handle_ != 0) WindowBackend::Unregister(*this);
    if (ThreadQueue* queue = ExistingQueue()) {
        auto& pending = queue->finalPending;
        pending.erase(std::remove(pending.begin(), pending.end(), this), pending.end());
    }
}

bool Window::CreateChild(WindowHandle parent, ParentThread) {
    if (handle_ != 0 || !CurrentQueue()) return false;
    ThreadQueue& queue = *CurrentQueue();
    {
        std::lock_guard<std::mutex> hold(registryLock);
        if (parent != 0) {
            auto found = registry.find(parent);
            if (found == registry.end() || found->second.queue.get() != &queue) return false;
        }
        handle_ = ++lastHandle;
        registry[handle_] = Entry{this, Holder().queue, parent, {}};
        if (parent != 0) registry[parent].children.push_back(handle_);
    }
    ++queue.dispatchDepth;
    bool accepted = OnCreate();
    --queue.dispatchDepth;
    if (!accepted) {
        for (WindowHandle child : WindowBackend::Children(*this)) {
            Window* object = FindOwnWindow(child);
            if (object) object->Destroy();
        }
        WindowBackend::Unregister(*this);
        handle_ = 0;
    }
    RunFinalDestroys(queue);
    return accepted;
}

bool Window::Destroy() {
    if (handle_ == 0 || !FindOwnWindow(handle_)) return false;
    WindowBackend::DestroyTree(*this);
    RunFinalDestroys(*ExistingQueue());
    return true;
}

WindowHandle Window::Parent() const {
    std::lock_guard<std::mutex> hold(registryLock);
    auto found = registry.find(handle_);
    return found == registry.end() ? 0 : found->second.parent;
}

bool Window::SetTimer(unsigned id, unsigned periodMilliseconds) {
    if (handle_ == 0 || !ExistingQueue()) return false;
    KillTimer(id);
    uint64_t period = std::max(periodMilliseconds, 1u) * uint64_t{1000};
    ExistingQueue()->timers.push_back(Timer{handle_, id, period, MonotonicMicroseconds() + period});
    return true;
}

bool Window::SetDeadlineTimer(unsigned id, uint64_t dueMicroseconds) {
    if (handle_ == 0 || !ExistingQueue()) return false;
    KillTimer(id);
    ExistingQueue()->timers.push_back(Timer{handle_, id, 0, dueMicroseconds});
    return true;
}

void Window::KillTimer(unsigned id) {
    ThreadQueue* queue = ExistingQueue();
    if (!queue) return;
    auto& timers = queue->timers;
    WindowHandle handle = handle_;
    timers.erase(std::remove_if(timers.begin(), timers.end(),
                                [&](const Timer& t) { return t.window == handle && t.id == id; }),
                 timers.end());
}

MessageParam Window::OnMessage(unsigned, MessageParam, MessageParam) {
    return 0;
}

MessageParam Window::Dispatch(unsigned message, MessageParam wParam, MessageParam lParam) {
    if (handle_ == 0) {
        if (message == 0) WindowBackend::FinalDestroy(*this);
        return 0;
    }
    ThreadQueue& queue = *ExistingQueue();
    ++queue.dispatchDepth;
    MessageParam result = OnMessage(message, wParam, lParam);
    --queue.dispatchDepth;
    RunFinalDestroys(queue);
    return result;
}

MessageParam SendToWindow(WindowHandle window, unsigned message, MessageParam wParam,
                          MessageParam lParam) {
    Window* object = FindOwnWindow(window);
    return object ? object->Dispatch(message, wParam, lParam) : 0;
}

namespace {

// Queues a message on the queue of the window's thread; a null target window makes it a
// message of the thread itself, as the quit message is.
bool PostToQueueOf(WindowHandle window, const Message& message) {
    std::shared_ptr<ThreadQueue> queue;
    {
        std::lock_guard<std::mutex> hold(registryLock);
        auto found = registry.find(window);
        if (found == registry.end()) return false;
        queue = found->second.queue;
    }
    bool fromOwnDispatch = queue.get() == ExistingQueue() && queue->dispatching > 0;
    queue->Post(message, fromOwnDispatch);
    return true;
}

} // namespace

bool PostToWindow(WindowHandle window, unsigned message, MessageParam wParam, MessageParam lParam) {
    return PostToQueueOf(window, Message{window, message, wParam, lParam});
}

bool PostQuitToOwnerOf(WindowHandle window) {
    return PostToQueueOf(window, Message{0, kMessageQuit, 0, 0});
}

bool IsWindow(WindowHandle window) {
    std::lock_guard<std::mutex> hold(registryLock);
    return window != 0 && registry.count(window) != 0;
}

bool DestroyWindow(WindowHandle window) {
    Window* object = FindOwnWindow(window);
    return object && object->Destroy();
}

namespace {

// Dispatches everything due; -1 when the quit message was taken.
int DispatchDue(ThreadQueue& queue) {
    int dispatched = 0;
    Message message;
    ++queue.dispatching;
    while (TakeNext(queue, message)) {
        if (message.message == kMessageQuit && message.window == 0) {
            dispatched = -1;
            break;
        }
        SendToWindow(message.window, message.message, message.wParam, message.lParam);
        ++dispatched;
    }
    if (--queue.dispatching == 0) queue.SignalLeftovers();
    return dispatched;
}

} // namespace

bool PumpUntil(const std::function<bool()>& done) {
    // Without a queue the thread has no window, so nothing could make done() hold.
    ThreadQueue* own = ExistingQueue();
    if (done() || !own) return true;
    ThreadQueue& queue = *own;
    ++queue.dispatchDepth;
    bool quit = false;
    for (;;) {
        if (DispatchDue(queue) < 0) {
            quit = true;
            break;
        }
        if (done()) break;
        queue.WaitForWork(-1);
    }
    --queue.dispatchDepth;
    RunFinalDestroys(queue);
    return !quit;
}

int PumpMessages(int timeoutMilliseconds) {
    ThreadQueue* own = CurrentQueue();
    if (!own) {
        // No descriptor for a queue: no message can come, but the caller's loop must not spin.
        poll(nullptr, 0, timeoutMilliseconds < 0 ? -1 : timeoutMilliseconds);
        return 0;
    }
    ThreadQueue& queue = *own;
    int dispatched = DispatchDue(queue);
    if (dispatched == 0) {
        queue.WaitForWork(timeoutMilliseconds < 0 ? -1 : timeoutMilliseconds);
        dispatched = DispatchDue(queue);
    }
    queue.ArmTimer();
    return dispatched;
}

void PostQuit(int exitCode) {
    if (ThreadQueue* queue = CurrentQueue())
        queue->Post(Message{0, kMessageQuit, exitCode, 0}, false);
}

bool WatchDescriptor(int descriptor, uint32_t events, WindowHandle window, unsigned message) {
    ThreadQueue* own = ExistingQueue();
    if (!own || !FindOwnWindow(window)) return false;
    ThreadQueue& queue = *own;
    epoll_event interest{};
    interest.events = events;
    interest.data.fd = descriptor;
    if (epoll_ctl(queue.pollDescriptor, EPOLL_CTL_ADD, descriptor, &interest) != 0) return false;
    queue.watches.push_back(Watch{descriptor, window, message});
    return true;
}

void UnwatchDescriptor(int descriptor) {
    ThreadQueue* own = ExistingQueue();
    if (!own) return;
    ThreadQueue& queue = *own;
    epoll_ctl(queue.pollDescriptor, EPOLL_CTL_DEL, descriptor, nullptr);
    auto& watches = queue.watches;
    watches.erase(
        std::remove_if(watches.begin(), watches.end(),
                       [descriptor](const Watch& w) { return w.descriptor == descriptor; }),
        watches.end());
    auto& ready = queue.ready;
    ready.erase(
        std::remove_if(ready.begin(), ready.end(),
                       [descriptor](const Readiness& r) { return r.descriptor == descriptor; }),
        ready.end());
}

int MessageDescriptor() {
    ThreadQueue* queue = CurrentQueue();
    if (!queue) return -1;
    queue->ArmTimer();
    return queue->pollDescriptor;
}

} // namespace qarn::platform
