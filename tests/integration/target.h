// What the scenarios need from their target beyond the library: the simulated line, the
// application's window, a message loop and the process's processor time. The Linux build has
// the simulator in this process and the library's notification windows; the Windows build
// drives the simulator in another process and uses real windows.
#pragma once

#include <string>

#include "qarn.h"

#if defined(_WIN32)
#include "remote_simulator.h"
#else
#include "dmsim/simulator.h"
#endif

namespace scenario {

#if defined(_WIN32)
using Simulator = wintest::RemoteSimulator;
#else
using Simulator = dmsim::Simulator;
#endif

using NotifyProc = void (*)(int message, int wParam, int lParam, void* user);

// The application's window, which receives the notifications; null or 0 on failure.
QarnWindow CreateAppWindow(NotifyProc proc, void* user);
// True when it was a window and is gone, with every device object under it.
bool DestroyAppWindow(QarnWindow window);
// A handle value taken as a window, for the refusals of handles that are none.
QarnWindow AsWindow(int value);

// Dispatches the thread's messages for up to this long (Linux: until the first have come).
void Pump(int milliseconds);
void PostQuit();

double ProcessCpuSeconds();

// The settings text for the simulated line at this baud rate.
std::string LineSettings(const std::string& port, int baud);

} // namespace scenario
