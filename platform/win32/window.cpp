// Window objects on Win32: hidden child windows of the common-controls toolbar class, subclassed
// so that their messages reach the object. The object is found through a window property.
//
// Deadline timers: each thread keeps its deadlines and one waitable timer armed for the earliest,
// which the library's own message loop waits on beside the queue, so a deadline is met to well
// under a millisecond. Each deadline also has a window timer behind it, so that a message loop
// of the application's own still delivers it, at the window timer's coarser resolution.
//
// A thread that ends destroys its windows of this library first, from a fiber-local storage
// callback: it runs as the thread ends, before the loader's thread-detach calls and outside the
// loader lock, so a serial port's reader thread can still be waited for.
#include "platform/window.h"

#include "platform/clock.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include <windows.h>

#include <commctrl.h>

extern "C" IMAGE_DOS_HEADER __ImageBase; // this module's instance

namespace qarn::platform {

namespace {

const char kObjectProperty[] = "qarn.window";

// The toolbar class's own procedure, which handles every message the objects leave alone.
std::atomic<WNDPROC> toolbarProcedure{nullptr};

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

struct Deadline {
    HWND window;
    unsigned id;
    uint64_t due; // MonotonicMicroseconds
};

struct ThreadState {
    int handlerDepth = 0;         // handlers of this thread now running
    std::vector<Window*> windows; // the objects attached to this thread's windows
    std::vector<Window*> finalPending;
    std::vector<Deadline> deadlines;
    HANDLE waitable = nullptr; // created with the first deadline

    ~ThreadState() {
        if (waitable) CloseHandle(waitable);
    }

    // Arms the waitable timer for the earliest deadline, or stops it when there is none.
    void ArmWaitable() {
        if (deadlines.empty()) {
            if (waitable) CancelWaitableTimer(waitable);
            return;
        }
        if (!waitable) {
            // The high-resolution kind is not known everywhere; the plain one is the fallback.
            waitable = CreateWaitableTimerExW(
                nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
            if (!waitable) waitable = CreateWaitableTimerW(nullptr, FALSE, nullptr);
            if (!waitable) return;
        }
        uint64_t due = deadlines.front().due;
        for (const Deadline& deadline : deadlines)
            due = std::min(due, deadline.due);
        uint64_t now = MonotonicMicroseconds();
        LARGE_INTEGER relative; // negative: 100 ns units from now
        relative.QuadPart = due > now ? -static_cast<LONGLONG>(due - now) * 10 : -1;
        SetWaitableTimer(waitable, &relative, 0, nullptr, nullptr, FALSE);
    }

    void Forget(HWND window, unsigned id, bool anyId) {
        deadlines.erase(std::remove_if(deadlines.begin(), deadlines.end(),
                                       [&](const Deadline& d) {
                                           return d.window == window && (anyId || d.id == id);
                                       }),
                        deadlines.end());
    }

    Deadline* Find(HWND window, unsigned id) {
        for (Deadline& deadline : deadlines)
            if (deadline.window == window && deadline.id == id) return &deadline;
        return nullptr;
    }

    // Takes one deadline that has passed, with its window timer stopped.
    bool TakeDue(Deadline& taken) {
        uint64_t now = MonotonicMicroseconds();
        for (auto deadline = deadlines.begin(); deadline != deadlines.end(); ++deadline) {
            if (deadline->due > now) continue;
            taken = *deadline;
            deadlines.erase(deadline);
            ::KillTimer(taken.window, taken.id);
            ArmWaitable();
            return true;
        }
        return false;
    }
};

// Window timer behind a deadline: whole milliseconds, rounded up.
void SetBackingTimer(HWND window, unsigned id, uint64_t due) {
    uint64_t now = MonotonicMicroseconds();
    uint64_t milliseconds = due > now ? (due - now + 999) / 1000 : 1;
    ::SetTimer(window, id, static_cast<UINT>(std::min<uint64_t>(milliseconds, 0x7FFFFFFF)),
               nullptr);
}

ThreadState& Current() {
    thread_local ThreadState state;
    return state;
}

void WINAPI ThreadEnds(void* state);

// The fiber-local slot whose callback ends a thread's windows; freed when the module is unloaded,
// so that no thread calls into the unloaded code.
struct ThreadEndSlot {
    std::atomic<bool> unloading{false};
    DWORD index = FlsAlloc(ThreadEnds);
    ~ThreadEndSlot() {
        unloading = true;
        if (index != FLS_OUT_OF_INDEXES) FlsFree(index);
    }
} threadEndSlot;

void Forget(std::vector<Window*>& list, Window* window) {
    list.erase(std::remove(list.begin(), list.end(), window), list.end());
}

HWND ToHwnd(WindowHandle window) {
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(window));
}

WindowHandle ToHandle(HWND window) {
    return static_cast<WindowHandle>(reinterpret_cast<uintptr_t>(window));
}

bool OwnedByThisThread(HWND window) {
    return window && ::IsWindow(window) &&
           GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
}

bool OwnedByThisProcess(HWND window) {
    DWORD process = 0;
    return window && ::IsWindow(window) && GetWindowThreadProcessId(window, &process) != 0 &&
           process == GetCurrentProcessId();
}

Window* ObjectOf(HWND window) {
    return static_cast<Window*>(GetPropA(window, kObjectProperty));
}

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Gives the window back to the toolbar procedure; it no longer reaches an object.
void Detach(HWND window) {
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(toolbarProcedure.load()));
    RemovePropA(window, kObjectProperty);
}

LRESULT CallToolbar(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return CallWindowProcA(toolbarProcedure.load(), window, message, wParam, lParam);
}

} // namespace

struct WindowBackend {
    static void RunFinalDestroys(ThreadState& state) {
        while (state.handlerDepth == 0 && !state.finalPending.empty()) {
            Window* window = state.finalPending.front();
            state.finalPending.erase(state.finalPending.begin());
            window->OnFinalDestroy();
        }
    }

    static bool Attach(Window& object, HWND window) {
        if (!SetPropA(window, kObjectProperty, &object)) return false;
        auto previous = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Procedure)));
        if (!previous) {
            RemovePropA(window, kObjectProperty);
            return false;
        }
        toolbarProcedure = previous;
        object.handle_ = ToHandle(window);
        ThreadState& state = Current();
        // The slot's value makes the thread's end call ThreadEnds.
        if (state.windows.empty() && threadEndSlot.index != FLS_OUT_OF_INDEXES)
            FlsSetValue(threadEndSlot.index, &state);
        state.windows.push_back(&object);
        return true;
    }

    static LRESULT Handle(Window& object, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        ThreadState& state = Current();
        LRESULT result = 0;
        switch (message) {
        case WM_DESTROY:
            ++state.handlerDepth;
            object.OnDestroy();
            result = CallToolbar(window, message, wParam, lParam);
            --state.handlerDepth;
            break;
        case WM_NCDESTROY:
            // The children are gone by now; the object's final clean-up waits until no handler
            // of this thread runs, as it may be deleting itself from inside one.
            result = CallToolbar(window, message, wParam, lParam);
            Detach(window);
            object.handle_ = 0;
            Forget(state.windows, &object);
            state.Forget(window, 0, true);
            state.finalPending.push_back(&object);
            break;
        case WM_TIMER: {
            // The window timer behind a deadline, dispatched by some message loop: the deadline
            // is delivered if it has passed, else the timer waits on.
            unsigned id = static_cast<unsigned>(wParam);
            if (Deadline* deadline = state.Find(window, id)) {
                if (deadline->due > MonotonicMicroseconds()) {
                    SetBackingTimer(window, id, deadline->due);
                    return 0;
                }
                state.Forget(window, id, false);
                ::KillTimer(window, id);
                state.ArmWaitable();
            }
            return object.Dispatch(message, static_cast<MessageParam>(wParam),
                                   static_cast<MessageParam>(lParam));
        }
        default:
            return object.Dispatch(message, static_cast<MessageParam>(wParam),
                                   static_cast<MessageParam>(lParam));
        }
        RunFinalDestroys(state);
        return result;
    }
};

namespace {

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* object = ObjectOf(window);
    if (!object) return CallToolbar(window, message, wParam, lParam);
    return WindowBackend::Handle(*object, window, message, wParam, lParam);
}

// Destroys the ending thread's windows whose parent is none of this library's (the device objects),
// and with them all the others. Called with another thread's state only when the slot is freed.
void WINAPI ThreadEnds(void* state) {
    ThreadState& current = Current();
    if (threadEndSlot.unloading || state != &current) return;
    std::vector<Window*> top;
    for (Window* window : current.windows)
        if (!ObjectOf(GetParent(ToHwnd(window->Handle())))) top.push_back(window);
    for (Window* window : top)
        if (std::find(current.windows.begin(), current.windows.end(), window) !=
            current.windows.end())
            window->Destroy();
}

} // namespace

Window::Window() = default;

Window::~Window() {
    if (handle_ != 0) {
        HWND window = ToHwnd(handle_);
        Detach(window);
        handle_ = 0;
        ::DestroyWindow(window);
    }
    Forget(Current().windows, this);
    Forget(Current().finalPending, this);
}

bool Window::CreateChild(WindowHandle parent, ParentThread parentThread) {
    HWND parentWindow = ToHwnd(parent);
    bool parentTaken = parentThread == ParentThread::Any ? OwnedByThisProcess(parentWindow)
                                                         : OwnedByThisThread(parentWindow);
    if (handle_ != 0 || !parentTaken) return false;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    HWND window = CreateWindowExA(0, TOOLBARCLASSNAMEA, nullptr, WS_CHILD, 0, 0, 0, 0, parentWindow,
                                  nullptr, reinterpret_cast<HINSTANCE>(&__ImageBase), nullptr);
    if (!window) return false;
    if (!WindowBackend::Attach(*this, window)) {
        ::DestroyWindow(window);
        return false;
    }
    ThreadState& state = Current();
    ++state.handlerDepth;
    bool accepted = OnCreate();
    --state.handlerDepth;
    if (!accepted) {
        // A refused window never ran OnCreate to its end: no OnDestroy and no final clean-up
        // for it, but the children it made are destroyed as usual.
        Detach(window);
        handle_ = 0;
        Forget(state.windows, this);
        ++state.handlerDepth;
        ::DestroyWindow(window);
        --state.handlerDepth;
    }
    WindowBackend::RunFinalDestroys(state);
    return accepted;
}

bool Window::Destroy() {
    if (handle_ == 0) return false;
    ThreadState& state = Current();
    ++state.handlerDepth;
    bool destroyed = ::DestroyWindow(ToHwnd(handle_)) != FALSE;
    --state.handlerDepth;
    WindowBackend::RunFinalDestroys(state);
    return destroyed;
}

WindowHandle Window::Parent() const {
    return handle_ == 0 ? 0 : ToHandle(GetParent(ToHwnd(handle_)));
}

bool Window::SetTimer(unsigned id, unsigned periodMilliseconds) {
    return handle_ != 0 && ::SetTimer(ToHwnd(handle_), id, periodMilliseconds, nullptr) != 0;
}

bool Window::SetDeadlineTimer(unsigned id, uint64_t dueMicroseconds) {
    if (handle_ == 0) return false;
    HWND window = ToHwnd(handle_);
    ThreadState& state = Current();
    state.Forget(window, id, false);
    state.deadlines.push_back(Deadline{window, id, dueMicroseconds});
    SetBackingTimer(window, id, dueMicroseconds);
    state.ArmWaitable();
    return true;
}

void Window::KillTimer(unsigned id) {
    if (handle_ == 0) return;
    HWND window = ToHwnd(handle_);
    ::KillTimer(window, id);
    ThreadState& state = Current();
    if (state.Find(window, id)) {
        state.Forget(window, id, false);
        state.ArmWaitable();
    }
}

MessageParam Window::OnMessage(unsigned message, MessageParam wParam, MessageParam lParam) {
    return CallToolbar(ToHwnd(handle_), message, static_cast<WPARAM>(wParam),
                       static_cast<LPARAM>(lParam));
}

MessageParam Window::Dispatch(unsigned message, MessageParam wParam, MessageParam lParam) {
    if (handle_ == 0) return 0;
    ThreadState& state = Current();
    ++state.handlerDepth;
    MessageParam result = OnMessage(message, wParam, lParam);
    --state.handlerDepth;
    WindowBackend::RunFinalDestroys(state);
    return result;
}

MessageParam SendToWindow(WindowHandle window, unsigned message, MessageParam wParam,
                          MessageParam lParam) {
    HWND target = ToHwnd(window);
    if (!OwnedByThisProcess(target)) return 0;
    return SendMessageA(target, message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam));
}

bool PostToWindow(WindowHandle window, unsigned message, MessageParam wParam, MessageParam lParam) {
    return window != 0 && PostMessageA(ToHwnd(window), message, static_cast<WPARAM>(wParam),
                                       static_cast<LPARAM>(lParam)) != FALSE;
}

bool IsWindow(WindowHandle window) {
    return window != 0 && ::IsWindow(ToHwnd(window));
}

bool DestroyWindow(WindowHandle window) {
    HWND target = ToHwnd(window);
    if (!OwnedByThisThread(target)) return false;
    if (Window* object = ObjectOf(target)) return object->Destroy();
    return ::DestroyWindow(target) != FALSE;
}

namespace {

// Dispatches every message waiting for the calling thread and every deadline that has passed;
// -1 when it took the quit message.
int DispatchWaiting() {
    ThreadState& state = Current();
    int dispatched = 0;
    for (;;) {
        MSG message;
        Deadline due;
        // The quit message comes only after every posted message; taken first, it ends the
        // wait at once even while the engine's own posts are queued.
        if (PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) return -1;
        if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) return -1;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        } else if (state.TakeDue(due)) {
            if (Window* object = ObjectOf(due.window))
                object->Dispatch(kMessageTimer, static_cast<MessageParam>(due.id), 0);
        } else {
            return dispatched;
        }
        ++dispatched;
    }
}

// Waits for a message or the earliest deadline.
void WaitForMessage(DWORD milliseconds) {
    HANDLE waitable = Current().waitable;
    MsgWaitForMultipleObjectsEx(waitable ? 1 : 0, waitable ? &waitable : nullptr, milliseconds,
                                QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

} // namespace

bool PumpUntil(const std::function<bool()>& done) {
    ThreadState& state = Current();
    ++state.handlerDepth;
    bool quit = false;
    for (;;) {
        if (DispatchWaiting() < 0) {
            quit = true;
            break;
        }
        if (done()) break;
        WaitForMessage(INFINITE);
    }
    --state.handlerDepth;
    WindowBackend::RunFinalDestroys(state);
    return !quit;
}

int PumpMessages(int timeoutMilliseconds) {
    int dispatched = DispatchWaiting();
    if (dispatched == 0 && timeoutMilliseconds != 0) {
        WaitForMessage(timeoutMilliseconds < 0 ? INFINITE
                                               : static_cast<DWORD>(timeoutMilliseconds));
        dispatched = DispatchWaiting();
    }
    WindowBackend::RunFinalDestroys(Current());
    return dispatched;
}

void PostQuit(int exitCode) {
    PostQuitMessage(exitCode);
}

bool PostQuitToOwnerOf(WindowHandle window) {
    DWORD owner = GetWindowThreadProcessId(ToHwnd(window), nullptr);
    return owner != 0 && PostThreadMessageA(owner, WM_QUIT, 0, 0) != FALSE;
}

// Win32 threads wait on their message queue itself; there is no descriptor for it.
int MessageDescriptor() {
    return -1;
}

} // namespace qarn::platform
