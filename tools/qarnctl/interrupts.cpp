// SIGINT and SIGTERM as a flag: standard C++ on every platform.
#include <csignal>

#include "terminal_io.h"

namespace qarnctl {

namespace {

volatile std::sig_atomic_t interrupted = 0;

void OnInterrupt(int) {
    interrupted = 1;
}

} // namespace

void CatchInterrupts() {
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
}

bool InterruptRequested() {
    return interrupted != 0;
}

} // namespace qarnctl
