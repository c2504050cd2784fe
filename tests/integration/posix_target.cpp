#include <sys/resource.h>

#include "target.h"

namespace scenario {

QarnWindow CreateAppWindow(NotifyProc proc, void* user) {
    return CreateNotifyWindow(proc, user);
}

bool DestroyAppWindow(QarnWindow window) {
    return DestroyNotifyWindow(window) == 1;
}

QarnWindow AsWindow(int value) {
    return value;
}

void Pump(int milliseconds) {
    PumpMessages(milliseconds);
}

void PostQuit() {
    PostQuitMessage(0);
}

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::string LineSettings(const std::string& port, int baud) {
    return port + ":baud=" + std::to_string(baud) + ",parity=E,data=8,stop=1";
}

} // namespace scenario
