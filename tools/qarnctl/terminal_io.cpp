#include "terminal_io.h"

#include <unistd.h>

namespace qarnctl {

bool StandardErrorIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

} // namespace qarnctl
