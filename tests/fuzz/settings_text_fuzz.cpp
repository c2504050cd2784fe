// The texts the application hands in: ConnectPort's settings, SendFrame's hex text and the
// key text of SetCommKey. The first byte picks which.
#include <cstddef>
#include <cstdint>
#include <string>

#include "api/hex_text.h"
#include "device/device.h"
#include "device/handles.h"
#include "qarn.h"
#include "transport/comm.h"

using namespace qarn;

namespace {

int device = 0;

} // namespace

// A device without a port, made before the inputs and kept to the end: frames are built,
// then dropped by the closed port.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    int window = CreateNotifyWindow([](int, int, int, void*) {}, nullptr);
    device = OpenDevice(1, window);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (data[0] % 3) {
    case 0: {
        PortSettings settings;
        if (ParseSettings(text.c_str(), settings)) {
            volatile uint32_t multiplier = WriteMultiplier(settings.baud);
            (void)multiplier;
        }
        break;
    }
    case 1:
        HexTextToBytes(text.c_str());
        SendFrame(device, text.c_str());
        break;
    case 2:
        SetCommKey(device, text.c_str());
        break;
    }
    return 0;
}
