#include "terminal_io.h"

#include <csignal>
#include <cstdio>
#include <io.h>

namespace qarnctl {

namespace {

volatile std::sig_atomic_t interrupted = 0;

void OnInterrupt(int) {
    interrupted = 1;
}

} // namespace

bool StandardErrorIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

void CatchInterrupts() {
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
}

bool InterruptRequested() {
    return interrupted != 0;
}

} // namespace qarnctl
