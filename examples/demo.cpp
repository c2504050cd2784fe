// A short tour of a line: search it, then ask each terminal found for its property and status
// and set the clocks. Usage: demo PORT (a device path such as /dev/pts/3, or COMn).
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "qarn.h"
#include "qarn_layouts.h"

namespace {

void PrintData(const std::vector<unsigned char>& data) {
    for (size_t i = 0; i < data.size(); ++i)
        std::printf("%s%02x", i % 16 == 0 ? "\n      " : " ", data[i]);
    std::printf("\n");
}

std::vector<unsigned char> Run(int device, int terminal, int code, const char* what,
                               void* params = nullptr) {
    std::vector<unsigned char> data;
    int command = StartQARNCommand(device, terminal, code, params, 0);
    if (!command) {
        std::printf("  %-28s refused\n", what);
        return data;
    }
    int result = GetCmdResult(command);
    data.resize(static_cast<size_t>(GetSizeOfData(command)));
    GetData(command, data.data(), static_cast<int>(data.size()));
    EndQARNCommand(command);
    std::printf("  %-28s terminal 0x%04X  result %2d (%s), %zu bytes of data", what, terminal,
                result, qarn_result_text(result), data.size());
    if (code != QARN_CMD_SEARCH_DM_ONLINE_B)
        PrintData(data);
    else
        std::printf("\n");
    return data;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PORT\n", argv[0]);
        return 2;
    }
    std::string port = argv[1];
    std::string settings = port + ":baud=9600,parity=E,data=8,stop=1";

    int window = CreateNotifyWindow([](int, int, int, void*) {}, nullptr);
    int device = OpenDevice(0x0001, window);
    SetWaitTime(device, 300);
    SetCommKey(device, "58213094");
    if (!ConnectPort(device, settings.c_str())) {
        std::fprintf(stderr, "cannot open %s\n", port.c_str());
        return 1;
    }
    char edition[8] = {};
    RecvEdition(edition);
    std::printf("qarn %s, host 0x0001 on %s\n", edition, port.c_str());

    std::vector<unsigned char> list =
        Run(device, 0, QARN_CMD_SEARCH_DM_ONLINE_B, "search the line");
    std::vector<int> terminals;
    if (list.size() >= 4) {
        int count = 0;
        std::memcpy(&count, list.data(), 4);
        for (int i = 0; i < count && i < 256; ++i) {
            int address = 0;
            std::memcpy(&address, list.data() + 4 + 4 * i, 4);
            terminals.push_back(address);
        }
    }
    std::printf("  found %zu terminal(s):", terminals.size());
    for (int address : terminals)
        std::printf(" 0x%04X", address);
    std::printf("\n");

    Run(device, 0, QARN_CMD_ADJUST_TIME_B, "set every clock to the host's");
    for (int terminal : terminals) {
        Run(device, terminal, QARN_CMD_RECV_DM_PROPERTY, "read the property");
        Run(device, terminal, QARN_CMD_RECV_DM_STATUS, "read the status");
        int beep = 1;
        Run(device, terminal, QARN_CMD_BEEP, "beep", &beep);
    }

    DisConnectPort(device);
    CloseDevice(device);
    DestroyNotifyWindow(window);
    return 0;
}
