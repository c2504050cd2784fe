#include "transport/line_device.h"

#include "transport/network_line.h"
#include "transport/serial_line.h"

namespace qarn {

std::unique_ptr<LineDevice> MakeLineDevice(const PortSettings& settings) {
    if (settings.kind == LineKind::Serial) return std::make_unique<SerialLine>();
    return std::make_unique<NetworkLine>();
}

} // namespace qarn
