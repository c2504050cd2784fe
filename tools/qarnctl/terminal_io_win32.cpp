#include "terminal_io.h"

#include <cstdio>
#include <io.h>

namespace qarnctl {

bool StandardErrorIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

} // namespace qarnctl
