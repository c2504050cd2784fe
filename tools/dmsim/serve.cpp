#include "dmsim/serve.h"

#include "dmsim/control.h"
#include "dmsim/line.h"
#include "dmsim/remote_control.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace dmsim {

const char kLineUsage[] = "usage: dmsim --terminals A,B,... [--device PATH --baud N] [options]\n"
                          "  --device PATH       a serial device instead of a new pty\n"
                          "  --port PATH         the same\n"
                          "  --baud N            its speed (9600); 8 data bits, even parity\n"
                          "  --control-pty       also take requests on a second pty\n";
const bool kHavePty = true;

namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    ssize_t ignored = write(signalPipe[1], &byte, 1);
    (void)ignored;
}

// Answers each complete request that has arrived on the control pty.
void ServeRequests(Line& control, RemoteControl& remote, LineSplitter& requests) {
    char buffer[4096];
    ssize_t got;
    while ((got = read(control.Fd(), buffer, sizeof buffer)) > 0) {
        for (const LineSplitter::Line& line : requests.Add(buffer, static_cast<size_t>(got))) {
            std::string answer = (line.tooLong ? "no" : remote.Handle(line.text)) + "\n";
            control.Write(reinterpret_cast<const uint8_t*>(answer.data()), answer.size());
        }
    }
}

// Blocks until a signal arrives or, unless ignored, stdin ends; answers the control lines that
// arrive on stdin, and the requests on the control pty if there is one, meanwhile.
void WaitForEnd(Simulator& simulator, bool watchStdin, Line* control) {
    LineSplitter lines, requests(kMaxControlRequest);
    RemoteControl remote(simulator);
    for (;;) {
        pollfd ready[3] = {{signalPipe[0], POLLIN, 0},
                           {watchStdin ? STDIN_FILENO : -1, POLLIN, 0},
                           {control ? control->Fd() : -1, POLLIN, 0}};
        if (poll(ready, 3, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (ready[0].revents != 0) return;
        if (ready[2].revents & POLLIN) ServeRequests(*control, remote, requests);
        if (watchStdin && ready[1].revents != 0) {
            char buffer[4096];
            ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
            if (got <= 0 && !(got < 0 && errno == EINTR)) return;
            if (got <= 0) continue;
            for (const LineSplitter::Line& line : lines.Add(buffer, static_cast<size_t>(got))) {
                std::string answer =
                    line.tooLong ? kTooLongAnswer : RunControlLine(simulator, line.text);
                std::printf("%s\n", answer.c_str());
                std::fflush(stdout);
            }
            if (lines.Skipping()) poll(ready, 1, kSkippingPauseMilliseconds); // a signal ends it
        }
    }
}

} // namespace

int Serve(Simulator& simulator, bool watchStdin, bool controlPty) {
    if (pipe(signalPipe) != 0 || !simulator.Start()) {
        std::fprintf(stderr, "dmsim: cannot start\n");
        return 1;
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::printf("port %s\n", simulator.PortName().c_str());
    Line control;
    if (controlPty) {
        if (!control.OpenPty()) {
            std::fprintf(stderr, "dmsim: cannot open the control pty\n");
            return 1;
        }
        std::printf("control %s\n", control.Name().c_str());
    }
    std::fflush(stdout);

    WaitForEnd(simulator, watchStdin, controlPty ? &control : nullptr);
    simulator.Stop();
    return 0;
}

} // namespace dmsim
