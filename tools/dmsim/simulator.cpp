#include "dmsim/simulator.h"

#include "dmsim/commands.h"
#include "dmsim/frame.h"
#include "dmsim/line.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>

namespace dmsim {

const char kDefaultKeyText[] = "58213094";

const std::array<uint8_t, 24> kDefaultKeyTable = {
    0x5A, 0x3C, 0x96, 0xE1, 0xB7, 0x24, 0x0F, 0x8D, 0x13, 0x57, 0x9B, 0xDF,
    0x24, 0x68, 0xAC, 0xE0, 0xC3, 0xA5, 0xF0, 0xE1, 0xD2, 0xB4, 0x96, 0x87,
};

namespace {

// A frame that stops half-way for this long is given up, as a terminal's receiver would.
constexpr int kQuietMilliseconds = 100;

Clock HostClock() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    // The reentrant forms: the simulator runs beside the host's threads.
#if defined(_WIN32)
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    Clock clock;
    clock.year = local.tm_year + 1900;
    clock.month = local.tm_mon + 1;
    clock.day = local.tm_mday;
    clock.hour = local.tm_hour;
    clock.minute = local.tm_min;
    clock.second = local.tm_sec;
    clock.weekday = local.tm_wday + 1;
    return clock;
}

bool SameClock(const Clock& a, const Clock& b) {
    return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
           a.minute == b.minute && a.second == b.second && a.weekday == b.weekday;
}

struct Outgoing {
    uint16_t from;
    Reply data;
};

} // namespace

struct Simulator::State {
    Line line;
    std::mutex mutex; // guards everything below but the line and the thread
    std::condition_variable changed;
    std::vector<Terminal> terminals; // in address order
    Faults faults;
    std::minstd_rand dropChance;
    std::array<uint8_t, 24> keyTable = kDefaultKeyTable;
    std::map<uint16_t, std::string> keyTexts; // terminals without an entry: kDefaultKeyText
    bool clockFollowsHost = false;
    std::set<uint16_t> clockSet; // terminals whose clock a command set while it followed the host
    std::vector<Bytes> frames;
    Bytes bytes;
    bool running = false;
    bool stopping = false;

    std::mutex writeMutex; // one writer on the line at a time
    std::thread thread;

    Terminal* Find(uint16_t address) {
        for (Terminal& terminal : terminals)
            if (terminal.address == address) return &terminal;
        return nullptr;
    }

    // Whether the frame data begins with the terminal's key bytes.
    bool KeyMatches(const Terminal& terminal, const Bytes& data) const {
        auto found = keyTexts.find(terminal.address);
        std::string text = found != keyTexts.end() ? found->second : kDefaultKeyText;
        if (data.size() < 8) return false;
        for (size_t i = 0; i < 8; ++i) {
            uint8_t character = i < text.size() ? static_cast<uint8_t>(text[i]) : 0;
            if (data[i] != (keyTable[i] ^ character)) return false;
        }
        return true;
    }

    void SortTerminals() {
        std::sort(terminals.begin(), terminals.end(),
                  [](const Terminal& a, const Terminal& b) { return a.address < b.address; });
    }

    // False when the simulator is stopping.
    bool Sleep(int milliseconds) {
        std::unique_lock<std::mutex> lock(mutex);
        return !changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                 [this] { return stopping; });
    }

    void Write(const Bytes& wire) {
        if (wire.empty()) return;
        std::lock_guard<std::mutex> lock(writeMutex);
        line.Write(wire.data(), wire.size());
    }

    void Run() {
        FrameReader reader;
        for (;;) {
            uint8_t buffer[4096];
            size_t got = 0;
            int wait = reader.Waiting() ? kQuietMilliseconds : -1;
            switch (line.Read(buffer, sizeof buffer, wait, got)) {
            case Line::Wait::kWoken:
                return;
            case Line::Wait::kQuiet:
                Handle(reader.Expire());
                break;
            case Line::Wait::kBytes: {
                std::lock_guard<std::mutex> lock(mutex);
                bytes.insert(bytes.end(), buffer, buffer + got);
            }
                Handle(reader.Feed(buffer, got));
                break;
            case Line::Wait::kBroken:
                // A line that reports only errors is polled slowly, not spun on.
                if (!Sleep(kQuietMilliseconds)) return;
                break;
            case Line::Wait::kAgain:
                break;
            }
        }
    }

    void Handle(const std::vector<Frame>& received) {
        for (const Frame& frame : received) {
            bool echo;
            std::vector<Outgoing> replies;
            {
                std::lock_guard<std::mutex> lock(mutex);
                frames.push_back(frame.wire);
                changed.notify_all();
                echo = faults.echoDownlink;
                replies = Answer(frame);
            }
            if (echo) Write(frame.wire);
            for (size_t i = 0; i < replies.size(); ++i) {
                if (i > 0 && !Sleep(kBroadcastGapMilliseconds)) return;
                Deliver(frame.source, replies[i]);
            }
        }
    }

    // Runs under the lock: the addressed terminals act on the frame, in address order.
    std::vector<Outgoing> Answer(const Frame& frame) {
        std::vector<Outgoing> replies;
        bool broadcast = frame.destination == kBroadcastAddress;
        for (size_t index = 0; index < terminals.size(); ++index) {
            Terminal& terminal = terminals[index];
            if (!terminal.online || (!broadcast && terminal.address != frame.destination)) continue;
            CommandContext context;
            size_t payloadAt = 0;
            if (!SplitCommand(terminal, frame.data, context.code, payloadAt)) continue;
            // The key-less steps of a program download carry no key to check.
            if (payloadAt > 1 && !KeyMatches(terminal, frame.data)) continue;
            const CommandRow* row = FindCommand(context.code);
            if (row == nullptr) continue;
            context.keyTable = keyTable.data();
            context.addressInUse = [this, index](uint16_t address) {
                for (size_t other = 0; other < terminals.size(); ++other)
                    if (other != index && terminals[other].address == address) return true;
                return false;
            };
            bool following = clockFollowsHost && clockSet.count(terminal.address) == 0;
            if (following) terminal.clock = HostClock();
            Clock shown = terminal.clock;
            Reply reply;
            row->handle(context, terminal, frame.data.data() + payloadAt,
                        frame.data.size() - payloadAt, reply);
            if (following && !SameClock(shown, terminal.clock)) clockSet.insert(terminal.address);
            if (!reply.empty()) replies.push_back({terminal.address, std::move(reply)});
        }
        SortTerminals();
        return replies;
    }

    void Deliver(uint16_t host, const Outgoing& reply) {
        Faults now;
        bool corrupt = false;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (faults.silent) return;
            if (faults.dropReplies > 0) {
                --faults.dropReplies;
                return;
            }
            if (faults.dropPercent > 0 && static_cast<int>(dropChance() % 100) < faults.dropPercent)
                return;
            if (faults.corruptReplies > 0) {
                --faults.corruptReplies;
                corrupt = true;
            }
            now = faults;
        }
        if (now.delayMilliseconds > 0 && !Sleep(now.delayMilliseconds)) return;
        auto destination = static_cast<uint16_t>(now.wrongDestination ? host + 1 : host);
        auto source = static_cast<uint16_t>(now.wrongSource ? reply.from + 1 : reply.from);
        Bytes wire = WriteFrame(destination, source, reply.data, true);
        if (corrupt) wire.back() ^= 0x01;
        Write(now.noise);
        size_t pieces = static_cast<size_t>(std::max(now.splitPieces, 1));
        pieces = std::min(pieces, wire.size());
        size_t pieceSize = (wire.size() + pieces - 1) / pieces;
        for (size_t at = 0; at < wire.size(); at += pieceSize) {
            if (at > 0 && now.splitGapMilliseconds > 0 && !Sleep(now.splitGapMilliseconds)) return;
            Write(Bytes(wire.begin() + at, wire.begin() + std::min(wire.size(), at + pieceSize)));
        }
    }
};

Simulator::Simulator() : state_(new State) {}

Simulator::~Simulator() {
    Stop();
}

bool Simulator::OpenPty() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return !state_->running && state_->line.OpenPty();
}

bool Simulator::OpenDevice(const std::string& path, int baud) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return !state_->running && state_->line.OpenDevice(path, baud);
}

std::string Simulator::PortName() const {
    return state_->line.Name();
}

bool Simulator::AddTerminal(uint16_t address) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (address == kBroadcastAddress || state_->Find(address) != nullptr) return false;
    state_->terminals.emplace_back(address);
    state_->SortTerminals();
    return true;
}

bool Simulator::Start() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->running) return true;
    if (!state_->line.IsOpen()) return false;
    state_->stopping = false;
    state_->running = true;
    state_->thread = std::thread([this] { state_->Run(); });
    return true;
}

void Simulator::Stop() {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (!state_->running) return;
        state_->stopping = true;
    }
    state_->changed.notify_all();
    state_->line.Wake();
    state_->thread.join();
    state_->line.ClearWake();
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->running = false;
    state_->stopping = false;
}

void Simulator::Close() {
    Stop();
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->line.Close();
}

void Simulator::Reset() {
    Stop();
    state_->line.Discard();
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->terminals.clear();
    state_->faults = Faults();
    state_->keyTable = kDefaultKeyTable;
    state_->keyTexts.clear();
    state_->clockFollowsHost = false;
    state_->clockSet.clear();
    state_->frames.clear();
    state_->bytes.clear();
}

bool Simulator::GetTerminal(uint16_t address, Terminal& copy) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    const Terminal* terminal = state_->Find(address);
    if (terminal == nullptr) return false;
    copy = *terminal;
    if (state_->clockFollowsHost && state_->clockSet.count(address) == 0) copy.clock = HostClock();
    return true;
}

bool Simulator::UpdateTerminal(uint16_t address, const std::function<void(Terminal&)>& change) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    Terminal* terminal = state_->Find(address);
    if (terminal == nullptr) return false;
    Terminal changed = *terminal;
    bool following = state_->clockFollowsHost && state_->clockSet.count(address) == 0;
    if (following) changed.clock = HostClock();
    Clock shown = changed.clock;
    change(changed);
    if (following && !SameClock(shown, changed.clock)) state_->clockSet.insert(changed.address);
    if (changed.address != address &&
        (changed.address == kBroadcastAddress || state_->Find(changed.address) != nullptr))
        return false;
    *terminal = std::move(changed);
    state_->SortTerminals();
    return true;
}

void Simulator::SetFaults(const Faults& faults) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->faults = faults;
    state_->dropChance.seed(faults.dropSeed);
}

Faults Simulator::GetFaults() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->faults;
}

void Simulator::SetKeyTable(const std::array<uint8_t, 24>& table) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->keyTable = table;
}

bool Simulator::SetCommKey(uint16_t address, const std::string& keyText) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->Find(address) == nullptr) return false;
    state_->keyTexts[address] = keyText.substr(0, 8);
    return true;
}

void Simulator::SetClockFollowsHost(bool on) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->clockFollowsHost = on;
    state_->clockSet.clear();
}

std::vector<std::vector<uint8_t>> Simulator::ReceivedFrames() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->frames;
}

std::vector<uint8_t> Simulator::ReceivedBytes() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->bytes;
}

void Simulator::ClearReceived() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->frames.clear();
    state_->bytes.clear();
}

bool Simulator::WaitForFrames(size_t count, int timeoutMilliseconds) {
    std::unique_lock<std::mutex> lock(state_->mutex);
    return state_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMilliseconds),
                                    [this, count] { return state_->frames.size() >= count; });
}

void Simulator::SendRaw(const std::vector<uint8_t>& bytes) {
    state_->Write(bytes);
}

void Simulator::SendUplink(uint16_t from, uint16_t to, const std::vector<uint8_t>& data,
                           bool preamble) {
    state_->Write(WriteFrame(to, from, data, preamble));
}

} // namespace dmsim
