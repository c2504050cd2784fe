// The Windows test program: loads qarn.dll as an application does and drives it under a real
// top-level window. With a port name (and a terminal address) it also talks to a simulated
// terminal line behind that port.
//   qarn_windows_test [COMn [terminal]]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>

#include "app_window.h"
#include "checks.h"
#include "library.h"

using namespace wintest;

namespace {

constexpr int kHostAddress = 0x0001;
constexpr int kStatusCode = 0x16; // "Recv DM_Status": no parameters, 32 bytes of data
constexpr int kStatusDataSize = 32;
constexpr int kResultDataReady = 13;
constexpr int kResultLinkClosed = 1;
constexpr int kResultPending = 10;
constexpr DWORD kNotificationWait = 3000;

QarnWindow AsQarnWindow(HWND window) {
    return reinterpret_cast<QarnWindow>(window);
}

bool OnlyTo(const AppWindow& app, int device) {
    for (const Notification& n : app.Notifications())
        if (n.wParam != 0 || n.lParam != device) return false;
    return true;
}

void CheckExportsAndEdition(const Qarn& qarn, Checks& checks) {
    char edition[8];
    std::memset(edition, 'x', sizeof edition);
    qarn.RecvEdition(edition);
    checks.Expect(std::memcmp(edition, "<04.10>", 7) == 0 && edition[7] == 'x',
                  "RecvEdition writes the 7 characters <04.10> and no terminator");
}

// A device object under the application's window: its three hidden windows, the refusals
// that need no port, a command on a closed port, a quit message during a wait, and the end.
void CheckDeviceWithoutPort(const Qarn& qarn, Checks& checks) {
    AppWindow gone;
    gone.Create();
    HWND stale = gone.Handle();
    gone.Destroy();
    checks.ExpectEqual(qarn.OpenDevice(kHostAddress, AsQarnWindow(stale)), 0,
                       "OpenDevice under a destroyed window fails");
    checks.ExpectEqual(qarn.OpenDevice(kHostAddress, nullptr), 0,
                       "OpenDevice without a window fails");

    AppWindow app;
    if (!checks.Expect(app.Create(), "the application's top-level window is created")) return;
    int device = qarn.OpenDevice(kHostAddress, AsQarnWindow(app.Handle()));
    if (!checks.Expect(device != 0, "OpenDevice under the application's window")) return;

    auto children = DescendantsOf(app.Handle());
    bool chain = children.size() == 3;
    for (size_t i = 0; chain && i < children.size(); ++i)
        chain = std::strcmp(children[i].className, "ToolbarWindow32") == 0 && !children[i].visible;
    checks.Expect(chain, "three hidden ToolbarWindow32 windows under the application's window");
    bool nested = chain && children[0].parent == app.Handle();
    for (size_t i = 1; nested && i < children.size(); ++i) {
        nested = false;
        for (const ChildWindow& other : children)
            nested |= children[i].parent == other.window;
    }
    checks.Expect(nested, "the hidden windows are nested: device, link, port");

    checks.ExpectEqual(qarn.IsConnect(device), 0, "no port is open after OpenDevice");
    checks.ExpectEqual(qarn.GetRtsControl(device), 0, "GetRtsControl without an open port");
    checks.ExpectEqual(qarn.ConnectPort(device, "COM9:baud=9600,parity=E,data=8,stop=1"), 0,
                       "ConnectPort to a port that does not exist fails");
    checks.ExpectEqual(qarn.DisConnectPort(device), 0, "DisConnectPort without an open port");
    checks.ExpectEqual(qarn.StartQARNCommand(device, 2, 0x05, nullptr, 0), 0,
                       "StartQARNCommand refuses the reply-only code 0x05");
    checks.ExpectEqual(qarn.SetWaitTime(device, 60), 60, "SetWaitTime returns its value");

    DWORD start = GetTickCount();
    int command = qarn.StartQARNCommand(device, 2, kStatusCode, nullptr, 0);
    DWORD took = GetTickCount() - start;
    if (checks.Expect(command != 0, "StartQARNCommand on a closed port returns a handle")) {
        checks.Expect(took >= 60 && took < 2000,
                      "the command waits out its time-out under the timer");
        checks.ExpectEqual(qarn.GetCmdResult(command), kResultLinkClosed,
                           "the result is the link status 1: the port is not open");
        checks.ExpectEqual(qarn.StartQARNCommand(device, 2, kStatusCode, nullptr, 0), 0,
                           "a second command before EndQARNCommand is refused");
        checks.ExpectEqual(qarn.EndQARNCommand(command), 0, "EndQARNCommand releases it");
    }

    PostQuitMessage(0);
    command = qarn.StartQARNCommand(device, 2, kStatusCode, nullptr, 0);
    checks.Expect(command != 0 && qarn.GetCmdResult(command) == kResultPending,
                  "a quit message ends the start wait before the command has ended");
    MSG left;
    checks.Expect(!PeekMessageA(&left, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE),
                  "the wait consumed the quit message");
    checks.ExpectEqual(qarn.EndQARNCommand(command), 0,
                       "EndQARNCommand waits until the cut-short command has ended");
    checks.ExpectEqual(qarn.EndQARNCommand(0), 0, "EndQARNCommand with a null handle");

    checks.Expect(qarn.CloseDevice(device) != 0, "CloseDevice destroys the device object");
    checks.Expect(DescendantsOf(app.Handle()).empty(), "its hidden windows are gone");
    checks.ExpectEqual(qarn.CloseDevice(device), 0, "the device handle is stale afterwards");
    checks.ExpectEqual(qarn.GetCmdResult(command), 0, "and so is the command handle");
}

int OpenConnected(const Qarn& qarn, AppWindow& app, const std::string& settings) {
    int device = qarn.OpenDevice(kHostAddress, AsQarnWindow(app.Handle()));
    if (device == 0) return 0;
    qarn.SetWaitTime(device, 1000);
    if (qarn.ConnectPort(device, settings.c_str()) != 1) {
        qarn.CloseDevice(device);
        return 0;
    }
    return device;
}

// A command and a raw frame through the port, answered by the terminal behind it.
void CheckLine(const Qarn& qarn, const std::string& port, int terminal, Checks& checks) {
    // The simulated line is a pty, and a pty here refuses parity: the line runs without.
    std::string settings = port + ":baud=9600,parity=N,data=8,stop=1";
    AppWindow app;
    if (!checks.Expect(app.Create(), "a second application window")) return;
    int device = OpenConnected(qarn, app, settings);
    if (!checks.Expect(device != 0, ("ConnectPort opens " + port).c_str())) return;
    checks.ExpectEqual(qarn.IsConnect(device), 1, "IsConnect reports the open port");
    checks.ExpectEqual(qarn.GetRtsControl(device), QARN_RTS_BY_LIBRARY,
                       "GetRtsControl: the library switches RTS on the open port");

    int command = qarn.StartQARNCommand(device, terminal, kStatusCode, nullptr, 0);
    if (checks.Expect(command != 0, "the status command runs through the port")) {
        checks.ExpectEqual(qarn.GetCmdResult(command), kResultDataReady,
                           "the terminal's reply is decoded: result 13");
        int size = qarn.GetSizeOfData(command);
        checks.ExpectEqual(size, kStatusDataSize, "the status data has its 32 bytes");
        char data[kStatusDataSize + 1];
        checks.ExpectEqual(qarn.GetData(command, data, size), 1, "GetData with the exact size");
        checks.ExpectEqual(qarn.GetData(command, data, size + 1), 0,
                           "GetData with another size copies nothing");
        checks.ExpectEqual(qarn.EndQARNCommand(command), 0, "EndQARNCommand after the reply");
    }
    checks.Expect(app.Count(WM_HDLC_SENT) == 1 && app.Count(WM_HDLC_FRAME) == 1 &&
                      app.Count(WM_HDLC_STREAM) >= 1,
                  "the application's window was told: sent, bytes, frame");
    checks.Expect(OnlyTo(app, device), "every notification carries the device handle");

    char text[1024];
    qarn.RecvHDLC(device, text);
    qarn.ClearRecvStr(device);
    app.Clear();
    // The key bytes of the default key text "58213094" under the build's default key table: the
    // terminal ignores a frame with any other.
    char body[64];
    std::snprintf(body, sizeof body, "%02x %02x %02x %02x 6F04A4D0841436B9 %02x", terminal >> 8,
                  terminal & 0xFF, kHostAddress >> 8, kHostAddress & 0xFF, kStatusCode);
    qarn.SendFrame(device, body);
    bool answered = PumpUntil([&app] { return app.Count(WM_HDLC_FRAME) > 0; }, kNotificationWait);
    checks.Expect(answered, "a frame given to SendFrame is answered by the terminal");
    checks.Expect(qarn.RecvHDLC(device, text) == 1 && std::strncmp(text, "16 ", 3) == 0,
                  "RecvHDLC shows the reply, reply code first");
    checks.ExpectEqual(qarn.RecvHDLC(device, text), 0, "and shows it only once");
    checks.Expect(qarn.RecvStream(device, text) == 1 && std::strncmp(text, "0f 0f ab ab ", 12) == 0,
                  "RecvStream shows the raw bytes from the preamble on");

    // Destroying the application's window takes the device object and its port with it.
    app.Destroy();
    checks.ExpectEqual(qarn.IsConnect(device), 0, "the device dies with the application's window");
    AppWindow again;
    again.Create();
    int reopened = OpenConnected(qarn, again, settings);
    checks.Expect(reopened != 0, "the port was closed with it and opens again");
    checks.ExpectEqual(qarn.DisConnectPort(reopened), 1, "DisConnectPort closes it");
    checks.ExpectEqual(qarn.DisConnectPort(reopened), 0, "and a second time finds none open");
    qarn.CloseDevice(reopened);
}

// A port from COM10 on is named in full, not by its first four characters: here COM12 is the
// same line as COM5, and COM1 none.
void CheckWideName(const Qarn& qarn, const std::string& port, int terminal, Checks& checks) {
    AppWindow app;
    if (!checks.Expect(app.Create(), "an application window")) return;
    int device = OpenConnected(qarn, app, port + ":baud=9600,parity=N,data=8,stop=1");
    if (!checks.Expect(device != 0, ("ConnectPort opens " + port).c_str())) return;
    int command = qarn.StartQARNCommand(device, terminal, kStatusCode, nullptr, 0);
    checks.Expect(command != 0 && qarn.GetCmdResult(command) == kResultDataReady,
                  ("the status command is answered through " + port).c_str());
    qarn.EndQARNCommand(command);
    qarn.CloseDevice(device);
}

// What a worker thread does with the main window as the device's parent.
struct WorkerRun {
    const Qarn* qarn;
    HWND parent;
    std::string settings;
    int terminal;
    int device = 0;
    int connected = 0;
    int commands = 0;
    int decoded = 0;
    int closed = 0;
};

DWORD WINAPI CommandFromWorker(void* argument) {
    WorkerRun& run = *static_cast<WorkerRun*>(argument);
    const Qarn& qarn = *run.qarn;
    run.device = qarn.OpenDevice(kHostAddress, AsQarnWindow(run.parent));
    if (!run.device) return 0;
    qarn.SetWaitTime(run.device, 1000);
    run.connected = qarn.ConnectPort(run.device, run.settings.c_str());
    for (int i = 0; run.connected == 1 && i < 3; ++i) {
        int command = qarn.StartQARNCommand(run.device, run.terminal, kStatusCode, nullptr, 0);
        if (!command) continue;
        ++run.commands;
        if (qarn.GetCmdResult(command) == kResultDataReady) ++run.decoded;
        qarn.EndQARNCommand(command);
    }
    run.closed = qarn.CloseDevice(run.device);
    return 0;
}

// A GUI application commands from a worker thread, as StartQARNCommand blocks: the worker opens
// the device under the main window, whose thread keeps its message loop and gets the
// notifications of every command in order: sent, bytes, frame.
void CheckWorkerThread(const Qarn& qarn, const std::string& port, int terminal, Checks& checks) {
    AppWindow app;
    if (!checks.Expect(app.Create(), "the main thread's window")) return;
    WorkerRun run{&qarn, app.Handle(), port + ":baud=9600,parity=N,data=8,stop=1", terminal};
    HANDLE worker = CreateThread(nullptr, 0, CommandFromWorker, &run, 0, nullptr);
    if (!checks.Expect(worker != nullptr, "the worker thread starts")) return;
    bool ended =
        PumpUntil([worker] { return WaitForSingleObject(worker, 0) == WAIT_OBJECT_0; }, 30000);
    CloseHandle(worker);
    if (!checks.Expect(ended, "the worker's commands end while the main thread pumps")) return;

    checks.Expect(run.device != 0, "OpenDevice on the worker under the main thread's window");
    checks.ExpectEqual(run.connected, 1, "the worker connects the port");
    checks.Expect(run.commands == 3 && run.decoded == 3, "three commands decoded on the worker");
    checks.Expect(run.closed != 0, "the worker closes its device");
    checks.Expect(DescendantsOf(app.Handle()).empty(), "the device's windows went with it");
    checks.Expect(OnlyTo(app, run.device), "every notification carries the device handle");
    // Per command: sent, then bytes, then the frame; bytes that trail a frame may come apart.
    std::string order;
    for (const Notification& n : app.Notifications())
        order += static_cast<char>('0' + n.message - WM_HDLC_STREAM);
    checks.Expect(std::regex_match(order, std::regex("(20+10*){3}")),
                  ("the main window got sent, bytes, frame for each command: " + order).c_str());
}

} // namespace

int main(int argc, char** argv) {
    Checks checks;
    Qarn qarn;
    if (LoadQarn("qarn.dll", qarn, checks)) {
        CheckExportsAndEdition(qarn, checks);
        CheckDeviceWithoutPort(qarn, checks);
        int terminal = argc > 2 ? std::atoi(argv[2]) : 2;
        if (argc > 1) {
            CheckLine(qarn, argv[1], terminal, checks);
            CheckWorkerThread(qarn, argv[1], terminal, checks);
        }
        if (argc > 3) CheckWideName(qarn, argv[3], terminal, checks);
    }
    return checks.Finish();
}
