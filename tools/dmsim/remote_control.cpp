#include "dmsim/remote_control.h"

#include "dmsim/hex_text.h"
#include "dmsim/state_codec.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace dmsim {

namespace {

bool Number(const std::string& text, long low, long high, long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, 0);
    return errno == 0 && !text.empty() && *end == '\0' && value >= low && value <= high;
}

std::string Answer(bool ok, const std::string& results = "") {
    if (!ok) return "no";
    return results.empty() ? "ok" : "ok " + results;
}

} // namespace

std::string RemoteControl::Handle(const std::string& request) {
    std::istringstream in(request);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    if (words.empty()) return Answer(false);
    const std::string& verb = words[0];
    size_t arguments = words.size() - 1;
    long first = 0, second = 0, third = 0;
    Bytes bytes;

    if (verb == "reset" && arguments == 0) {
        simulator_.Reset();
        return Answer(true);
    }
    if (verb == "key-table" && arguments == 1 && FromHex(words[1], bytes) && bytes.size() == 24) {
        std::array<uint8_t, 24> table;
        std::copy(bytes.begin(), bytes.end(), table.begin());
        simulator_.SetKeyTable(table);
        return Answer(true);
    }
    if (verb == "key" && arguments == 2 && Number(words[1], 0, 0xFFFF, first) &&
        FromHex(words[2], bytes))
        return Answer(simulator_.SetCommKey(static_cast<uint16_t>(first),
                                            std::string(bytes.begin(), bytes.end())));
    if (verb == "add-terminal" && arguments == 1 && Number(words[1], 0, 0xFFFF, first))
        return Answer(simulator_.AddTerminal(static_cast<uint16_t>(first)));
    if (verb == "start" && arguments == 0) return Answer(simulator_.Start());
    if (verb == "close" && arguments == 0) {
        simulator_.Close();
        return Answer(true);
    }
    if (verb == "stop" && arguments == 0) {
        simulator_.Stop();
        return Answer(true);
    }
    if (verb == "set-faults" && arguments == 1 && FromHex(words[1], bytes)) {
        Faults faults;
        if (!DecodeFaults(bytes, faults)) return Answer(false);
        simulator_.SetFaults(faults);
        return Answer(true);
    }
    if (verb == "faults" && arguments == 0)
        return Answer(true, ToHex(EncodeFaults(simulator_.GetFaults())));
    if (verb == "terminal" && arguments == 1 && Number(words[1], 0, 0xFFFF, first)) {
        Terminal terminal;
        if (!simulator_.GetTerminal(static_cast<uint16_t>(first), terminal)) return Answer(false);
        return Answer(true, ToHex(EncodeTerminal(terminal)));
    }
    if (verb == "replace-terminal" && arguments == 2 && Number(words[1], 0, 0xFFFF, first) &&
        FromHex(words[2], bytes)) {
        Terminal replacement;
        if (!DecodeTerminal(bytes, replacement)) return Answer(false);
        return Answer(simulator_.UpdateTerminal(
            static_cast<uint16_t>(first), [&](Terminal& terminal) { terminal = replacement; }));
    }
    if (verb == "frames" && arguments == 0) {
        std::string results;
        for (const Bytes& frame : simulator_.ReceivedFrames())
            results += (results.empty() ? "" : " ") + ToHex(frame);
        return Answer(true, results);
    }
    if (verb == "bytes" && arguments == 0) return Answer(true, ToHex(simulator_.ReceivedBytes()));
    if (verb == "clear" && arguments == 0) {
        simulator_.ClearReceived();
        return Answer(true);
    }
    if (verb == "wait-frames" && arguments == 2 && Number(words[1], 0, 1000000, first) &&
        Number(words[2], 0, 600000, second))
        return Answer(
            simulator_.WaitForFrames(static_cast<size_t>(first), static_cast<int>(second)));
    if (verb == "send-raw" && arguments == 1 && FromHex(words[1], bytes)) {
        simulator_.SendRaw(bytes);
        return Answer(true);
    }
    if (verb == "send-uplink" && arguments == 4 && Number(words[1], 0, 0xFFFF, first) &&
        Number(words[2], 0, 0xFFFF, second) && Number(words[3], 0, 1, third) &&
        FromHex(words[4], bytes)) {
        simulator_.SendUplink(static_cast<uint16_t>(first), static_cast<uint16_t>(second), bytes,
                              third != 0);
        return Answer(true);
    }
    return Answer(false);
}

} // namespace dmsim
