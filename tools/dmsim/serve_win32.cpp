#include "dmsim/serve.h"

#include "dmsim/control.h"

#include <windows.h>

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace dmsim {

const char kLineUsage[] =
    "usage: dmsim --port COM7 --terminals A,B,... [--baud N] [options]\n"
    "  --port NAME         the serial port to serve, COM7 or \\\\.\\COM12; required, as\n"
    "                      Windows has no ptys\n"
    "  --device NAME       the same\n"
    "  --baud N            its speed (9600); 8 data bits, even parity\n";
const bool kHavePty = false;

namespace {

HANDLE endEvent = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD) {
    SetEvent(endEvent);
    return TRUE;
}

// What the stdin thread shares with the main thread: once `ended`, the simulator is gone.
struct StdinState {
    std::mutex mutex;
    bool ended = false;
};

// Answers the control lines on stdin until it ends, then signals the end. A console read cannot
// be interrupted: the thread is left to the process's exit.
void ReadStdin(Simulator& simulator, std::shared_ptr<StdinState> state) {
    LineSplitter lines;
    char buffer[4096];
    DWORD got = 0;
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    // What is there, a console line or a pipe's bytes, up to the buffer's size.
    while (ReadFile(input, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            if (state->ended) return;
            for (const LineSplitter::Line& line : lines.Add(buffer, got)) {
                std::string answer =
                    line.tooLong ? kTooLongAnswer : RunControlLine(simulator, line.text);
                std::printf("%s\n", answer.c_str());
            }
            std::fflush(stdout);
        }
        if (lines.Skipping()) Sleep(kSkippingPauseMilliseconds);
    }
    SetEvent(endEvent);
}

} // namespace

int Serve(Simulator& simulator, bool watchStdin, bool controlPty) {
    if (controlPty) {
        std::fprintf(stderr, "dmsim: --control-pty needs a pty, and Windows has none\n");
        return 2;
    }
    endEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (endEvent == nullptr || !simulator.Start()) {
        std::fprintf(stderr, "dmsim: cannot start\n");
        return 1;
    }
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    std::printf("port %s\n", simulator.PortName().c_str());
    std::fflush(stdout);

    auto state = std::make_shared<StdinState>();
    if (watchStdin) std::thread(ReadStdin, std::ref(simulator), state).detach();
    WaitForSingleObject(endEvent, INFINITE);
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        state->ended = true;
    }
    simulator.Stop();
    return 0;
}

} // namespace dmsim
