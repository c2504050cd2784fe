// Window objects on Win32: hidden child windows of the common-controls toolbar class, subclassed
// so that their messages reach the object. The object is found through a window property.
#include "platform/window.h"

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

struct ThreadState {
    int handlerDepth = 0; // handlers of this thread now running
    std::vector<Window*> finalPending;
};

ThreadState& Current() {
    thread_local ThreadState state;
    return state;
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
            state.finalPending.push_back(&object);
            break;
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

} // namespace

Window::Window() = default;

Window::~Window() {
    if (handle_ != 0) {
        HWND window = ToHwnd(handle_);
        Detach(window);
        handle_ = 0;
        ::DestroyWindow(window);
    }
    auto& pending = Current().finalPending;
    pending.erase(std::remove(pending.begin(), pending.end(), this), pending.end());
}

bool Window::CreateChild(WindowHandle parent) {
    HWND parentWindow = ToHwnd(parent);
    if (handle_ != 0 || !OwnedByThisThread(parentWindow)) return false;
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

void Window::KillTimer(unsigned id) {
    if (handle_ != 0) ::KillTimer(ToHwnd(handle_), id);
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
    if (!OwnedByThisThread(target)) return 0;
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

// Dispatches every message waiting for the calling thread; -1 when it took the quit message.
int DispatchWaiting() {
    int dispatched = 0;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) return -1;
        TranslateMessage(&message);
        DispatchMessageA(&message);
        ++dispatched;
    }
    return dispatched;
}

void WaitForMessage(DWORD milliseconds) {
    MsgWaitForMultipleObjectsEx(0, nullptr, milliseconds, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
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

// Win32 threads wait on their message queue itself; there is no descriptor for it.
int MessageDescriptor() {
    return -1;
}

} // namespace qarn::platform
