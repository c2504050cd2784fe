// Window objects: message targets owned by one thread, with parent/child destruction,
// synchronous send, thread-safe post and per-window timers. On Win32 they are hidden
// child windows; on POSIX they live in the library's own per-thread message queue.
#pragma once

#include <cstdint>
#include <functional>

namespace qarn::platform {

using WindowHandle = uint32_t; // the HWND value on Win32, a registry number on POSIX
using MessageParam = intptr_t;

enum : unsigned {
    kMessageCreate = 0x0001,
    kMessageDestroy = 0x0002,
    kMessageQuit = 0x0012,
    kMessageTimer = 0x0113,
};

enum class ParentThread { Same, Any };

class Window {
  public:
    Window();
    virtual ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // Creates the hidden window as a child of parent and runs OnCreate; false (and no window)
    // when the parent is not a window of this thread or OnCreate refuses. On POSIX a parent of
    // 0 makes a top-level window: the application's notification window.
    // With AnyThread a window of another thread of this process serves as parent on Win32; a
    // POSIX window belongs to its thread alone. The new window belongs to this thread either way.
    bool CreateChild(WindowHandle parent, ParentThread parentThread = ParentThread::Same);

    // Runs OnDestroy for this window and then for its children, detaches them all, and
    // schedules OnFinalDestroy for each once no handler of this thread is running, so an
    // object may be destroyed from inside one of its own handlers. False if there is no window.
    bool Destroy();

    WindowHandle Handle() const { return handle_; }
    WindowHandle Parent() const;
    bool Alive() const { return handle_ != 0; }

    bool SetTimer(unsigned id, unsigned periodMilliseconds);
    // A one-shot timer: kMessageTimer with this id reaches the window once, as soon as the
    // MonotonicMicroseconds clock has reached dueMicroseconds (at once when it already has).
    // Setting it again moves it; KillTimer cancels it.
    bool SetDeadlineTimer(unsigned id, uint64_t dueMicroseconds);
    void KillTimer(unsigned id);

    // Called by the backend to deliver a message to this window.
    MessageParam Dispatch(unsigned message, MessageParam wParam, MessageParam lParam);

  protected:
    virtual bool OnCreate() { return true; }
    virtual void OnDestroy() {}
    virtual MessageParam OnMessage(unsigned message, MessageParam wParam, MessageParam lParam);
    // Runs after the window is gone; the library's windows delete themselves here.
    virtual void OnFinalDestroy() {}

  private:
    friend struct WindowBackend;
    WindowHandle handle_ = 0;
};

// Synchronous delivery to any window of the calling thread (the application's too);
// 0 when the handle is not a window. On Win32 a window of another thread of this process gets
// it from that thread's message dispatch, the caller waiting until it has been handled.
MessageParam SendToWindow(WindowHandle window, unsigned message, MessageParam wParam,
                          MessageParam lParam);

// Queues a message for the window's thread; safe from any thread.
bool PostToWindow(WindowHandle window, unsigned message, MessageParam wParam, MessageParam lParam);

bool IsWindow(WindowHandle window);

// Destroys a window of the calling thread by its handle; false when it is none.
bool DestroyWindow(WindowHandle window);

// Dispatches the calling thread's messages and due timers until done() holds after the queue
// has been emptied, blocking (not spinning) while nothing is due. Returns false when it took
// the quit message, which is consumed.
bool PumpUntil(const std::function<bool()>& done);

// A message loop for applications that have none of their own (POSIX): dispatches the calling
// thread's due messages and timers, waiting up to timeoutMilliseconds for the first; returns how
// many were dispatched, -1 when it took the quit message.
int PumpMessages(int timeoutMilliseconds);
void PostQuit(int exitCode);
// Queues the quit message for the thread that owns the window, as that thread's own PostQuit
// would; safe from any thread. False when the handle is not a window.
bool PostQuitToOwnerOf(WindowHandle window);
// A descriptor that is readable while the calling thread has messages or due timers.
int MessageDescriptor();

} // namespace qarn::platform
