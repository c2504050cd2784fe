#include "dmsim/terminal.h"

namespace dmsim {

namespace {

void Flatten(const std::map<int, std::vector<uint32_t>>& blocks, std::vector<uint32_t>& out) {
    for (const auto& block : blocks)
        out.insert(out.end(), block.second.begin(), block.second.end());
}

} // namespace

Terminal::Terminal(uint16_t terminalAddress)
    : address(terminalAddress), serialNumber(terminalAddress), property(DefaultProperty()),
      systemProperty(DefaultSystemProperty()), lcdTitle(48, ' ') {}

std::vector<uint32_t> Terminal::WhiteList() const {
    std::vector<uint32_t> list;
    Flatten(whiteBlocks, list);
    return list;
}

std::vector<uint32_t> Terminal::BlackList() const {
    std::vector<uint32_t> list;
    Flatten(blackBlocks, list);
    list.insert(list.end(), blackCards.begin(), blackCards.end());
    return list;
}

std::array<uint8_t, 20> DefaultProperty() {
    return {0x00, 0x01, 0x00, 0x02, 0x00, 0x03, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0, 1, 0, 18, 19};
}

Bytes DefaultSystemProperty() {
    // Version 01.02.0304, value 0, 9600 baud, both switches on, then the two texts.
    Bytes block = {0x01, 0x02, 0x03, 0x04, 0, 0, 0, 0, 0xF4, 0, 0, 0};
    const char model[] = "DM-SIM    ";
    const char maker[] = "SIMULATED LINE ";
    block.insert(block.end(), model, model + 10);
    block.insert(block.end(), maker, maker + 15);
    return block;
}

} // namespace dmsim
