#include "remote_simulator.h"

#include <sstream>

#include <windows.h>

#include "dmsim/hex_text.h"
#include "dmsim/state_codec.h"

namespace wintest {

namespace {

// The control line, opened once for the whole program.
class ControlLine {
  public:
    static ControlLine& Instance() {
        static ControlLine line;
        return line;
    }

    bool Exchange(const std::string& request, std::string& answer) {
        if (port_ == INVALID_HANDLE_VALUE) return false;
        std::string line = request + "\n";
        DWORD written = 0;
        if (!WriteFile(port_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
            written != line.size())
            return false;
        DWORD start = GetTickCount();
        for (size_t end; (end = pending_.find('\n')) == std::string::npos;) {
            if (GetTickCount() - start > kAnswerMilliseconds) return false;
            char buffer[4096];
            DWORD got = 0;
            if (!ReadFile(port_, buffer, sizeof buffer, &got, nullptr)) return false;
            pending_.append(buffer, got);
            if (got == 0) Sleep(1);
        }
        size_t end = pending_.find('\n');
        answer = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        return true;
    }

  private:
    // A wait for frames may take as long as the scenario allows it, and more.
    static constexpr DWORD kAnswerMilliseconds = 30000;

    ControlLine() {
        port_ = CreateFileA("\\\\.\\COM6", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
        if (port_ == INVALID_HANDLE_VALUE) return;
        // A read returns at once with what has arrived: Wine waits out the whole time-out of a
        // read that should end at its first byte, so the answer is polled for instead.
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = MAXDWORD;
        SetCommTimeouts(port_, &timeouts);
    }
    ~ControlLine() {
        if (port_ != INVALID_HANDLE_VALUE) CloseHandle(port_);
    }

    HANDLE port_ = INVALID_HANDLE_VALUE;
    std::string pending_;
};

std::string Hex(const std::vector<uint8_t>& bytes) {
    return dmsim::ToHex(bytes);
}

std::vector<uint8_t> Bytes(const std::string& hex) {
    std::vector<uint8_t> bytes;
    dmsim::FromHex(hex, bytes);
    return bytes;
}

} // namespace

RemoteSimulator::~RemoteSimulator() {
    if (opened_) Stop();
}

bool RemoteSimulator::Call(const std::string& request, std::vector<std::string>* results) {
    std::string answer;
    if (!ControlLine::Instance().Exchange(request, answer)) return false;
    std::istringstream words(answer);
    std::string word;
    if (!(words >> word) || word != "ok") return false;
    if (results) {
        results->clear();
        while (words >> word)
            results->push_back(word);
    }
    return true;
}

bool RemoteSimulator::OpenPty() {
    opened_ = Call("reset");
    return opened_;
}

bool RemoteSimulator::AddTerminal(uint16_t address) {
    return Call("add-terminal " + std::to_string(address));
}

bool RemoteSimulator::Start() {
    return Call("start");
}

void RemoteSimulator::Stop() {
    Call("stop");
}

void RemoteSimulator::Close() {
    Call("close");
}

bool RemoteSimulator::GetTerminal(uint16_t address, dmsim::Terminal& copy) {
    std::vector<std::string> results;
    return Call("terminal " + std::to_string(address), &results) && results.size() == 1 &&
           dmsim::DecodeTerminal(Bytes(results[0]), copy);
}

bool RemoteSimulator::UpdateTerminal(uint16_t address,
                                     const std::function<void(dmsim::Terminal&)>& change) {
    dmsim::Terminal terminal;
    if (!GetTerminal(address, terminal)) return false;
    change(terminal);
    return Call("replace-terminal " + std::to_string(address) + " " +
                Hex(dmsim::EncodeTerminal(terminal)));
}

void RemoteSimulator::SetFaults(const dmsim::Faults& faults) {
    Call("set-faults " + Hex(dmsim::EncodeFaults(faults)));
}

dmsim::Faults RemoteSimulator::GetFaults() {
    dmsim::Faults faults;
    std::vector<std::string> results;
    if (Call("faults", &results) && results.size() == 1)
        dmsim::DecodeFaults(Bytes(results[0]), faults);
    return faults;
}

void RemoteSimulator::SetKeyTable(const std::array<uint8_t, 24>& table) {
    Call("key-table " + Hex(std::vector<uint8_t>(table.begin(), table.end())));
}

bool RemoteSimulator::SetCommKey(uint16_t address, const std::string& keyText) {
    return Call("key " + std::to_string(address) + " " +
                Hex(std::vector<uint8_t>(keyText.begin(), keyText.end())));
}

std::vector<std::vector<uint8_t>> RemoteSimulator::ReceivedFrames() {
    std::vector<std::vector<uint8_t>> frames;
    std::vector<std::string> results;
    if (Call("frames", &results))
        for (const std::string& frame : results)
            frames.push_back(Bytes(frame));
    return frames;
}

std::vector<uint8_t> RemoteSimulator::ReceivedBytes() {
    std::vector<std::string> results;
    if (!Call("bytes", &results) || results.size() != 1) return {};
    return Bytes(results[0]);
}

void RemoteSimulator::ClearReceived() {
    Call("clear");
}

bool RemoteSimulator::WaitForFrames(size_t count, int timeoutMilliseconds) {
    return Call("wait-frames " + std::to_string(count) + " " + std::to_string(timeoutMilliseconds));
}

void RemoteSimulator::SendRaw(const std::vector<uint8_t>& bytes) {
    Call("send-raw " + Hex(bytes));
}

void RemoteSimulator::SendUplink(uint16_t from, uint16_t to, const std::vector<uint8_t>& data,
                                 bool preamble) {
    Call("send-uplink " + std::to_string(from) + " " + std::to_string(to) + " " +
         (preamble ? "1 " : "0 ") + Hex(data));
}

} // namespace wintest
