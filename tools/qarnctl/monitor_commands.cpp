// The line monitor's live view, and any admitted command sent raw.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

#include "arguments.h"
#include "command_names.h"
#include "context.h"
#include "frame_reader.h"
#include "notify_window.h"
#include "qarn.h"
#include "qarn_layouts.h"
#include "terminal_io.h"

namespace qarnctl {

namespace {

// The library reads a fixed-size parameter block for most codes; a raw block shorter than that
// is padded with zeros so that it never reads past the bytes given.
constexpr size_t kLargestParameterBlock = 4096;
// RecvStream writes three characters a byte; the store is emptied after every read, so it
// holds only what arrived since the last notification.
constexpr size_t kStreamTextSize = 3 * 65536 + 1;

struct RawOptions {
    std::string terminal;
    std::string code;
    std::string hex;
};

int Raw(Context& context, const RawOptions& options) {
    long long code = 0;
    ParseNumber(options.code, 0, 255, code);
    std::vector<uint8_t> given;
    ParseHex(options.hex, given);
    context.line.internalCommands = true;
    if (!context.OpenLine()) return kExitFailure;
    int terminal = TerminalOf(options.terminal);
    std::vector<uint8_t> block(std::max(kLargestParameterBlock, given.size() + 1), 0);
    std::copy(given.begin(), given.end(), block.begin());
    CommandReply reply = context.Line().Run(terminal, static_cast<int>(code), block.data());
    if (!reply.started) {
        context.err << "qarnctl: CODE: the library does not admit code " << options.code
                    << " or cannot build its frame; nothing was sent\n";
        return kExitUsage;
    }
    Report report;
    report.json["command"] = context.commandName;
    report.json["terminal"] = terminal;
    report.json["code"] = code;
    report.json["params"] = Hex(given.data(), given.size(), "");
    report.Field("terminal", Address(terminal));
    const char* name = CommandName(static_cast<int>(code));
    char codeText[16];
    std::snprintf(codeText, sizeof codeText, "0x%02X", static_cast<unsigned>(code));
    report.Field("code", std::string(codeText) + (name ? std::string(" ") + name : ""));
    report.SetResult(reply.result);
    report.json["size"] = reply.data.size();
    report.json["data"] = Hex(reply.data.data(), reply.data.size(), "");
    report.Field("data", std::to_string(reply.data.size()) + " byte(s)");
    for (size_t at = 0; at < reply.data.size(); at += 16) {
        char offset[24];
        std::snprintf(offset, sizeof offset, "%04zx", at);
        report.rows.push_back(
            {offset, Hex(reply.data.data() + at, std::min<size_t>(16, reply.data.size() - at))});
    }
    if (!report.rows.empty()) report.columns = {"offset", "bytes"};
    return context.Conclude(report, reply,
                            {QARN_RESULT_TRANSMITTED, QARN_RESULT_ACKNOWLEDGED,
                             QARN_RESULT_DATA_READY, QARN_RESULT_NO_RECORDS});
}

struct MonitorOptions {
    double seconds = 0; // 0: until interrupted
    long frames = 0;    // 0: no limit
    std::vector<std::string> send;
    std::vector<std::string> sendCommand; // CODE [HEX]
    std::string terminal;
    int interval = 300;
};

using Clock = std::chrono::system_clock;

// HH:MM:SS.mmm for the table; ISO 8601 with the local offset for JSON.
std::string ClockText(Clock::time_point at, bool iso) {
    std::time_t seconds = Clock::to_time_t(at);
    std::tm local = *std::localtime(&seconds);
    int milliseconds = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count() %
        1000);
    char text[48];
    if (!iso) {
        std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                      local.tm_sec, milliseconds);
        return text;
    }
    // The offset from UTC: the same moment's UTC fields read back as local time fall short of
    // it by the offset.
    std::tm utc = *std::gmtime(&seconds);
    utc.tm_isdst = local.tm_isdst;
    int offset = static_cast<int>(std::difftime(seconds, std::mktime(&utc))) / 60;
    int absolute = (offset < 0 ? -offset : offset) % (24 * 60);
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec, milliseconds, offset < 0 ? '-' : '+', absolute / 60,
                  absolute % 60);
    return text;
}

// The key bytes the library sends for a key text: the text masked with the first 8 bytes of
// the build's key table, a text shorter than 8 characters read as ending in zeros.
std::vector<uint8_t> KeyBytes(const std::string& keyText) {
    std::vector<uint8_t> table;
    ParseHex(QARN_KEY_TABLE_TEXT, table);
    std::vector<uint8_t> key;
    for (size_t i = 0; i < 8 && i < table.size(); ++i)
        key.push_back(static_cast<uint8_t>(table[i] ^ (i < keyText.size() ? keyText[i] : 0)));
    return key;
}

// The key text behind key bytes, read back through the same mask; empty when the bytes come
// from no printable text.
std::string KeyText(const std::vector<uint8_t>& keyBytes) {
    std::vector<uint8_t> mask = KeyBytes("");
    std::string text;
    bool ended = false;
    for (size_t i = 0; i < keyBytes.size() && i < mask.size(); ++i) {
        uint8_t c = keyBytes[i] ^ mask[i];
        if (c == 0) {
            ended = true;
        } else if (ended || c < 0x20 || c > 0x7E) {
            return "";
        } else {
            text += static_cast<char>(c);
        }
    }
    return text;
}

// The monitor's lines: time, direction, addresses, key, code and its name, payload, meaning.
// A frame sent to terminals waits to be shown until its reply is heard or the wait is over, so
// that its line can tell whether a reply came.
class MonitorView {
  public:
    MonitorView(Context& context, int waitMilliseconds)
        : context_(context), wait_(std::chrono::milliseconds(waitMilliseconds)) {}

    void Show(const char* direction, const HeardFrame& frame) {
        Clock::time_point now = Clock::now();
        if (awaiting_ && Answers(frame)) Release(Reply::Came);
        Flush(now);
        Entry entry{now, direction, frame};
        if (frame.toHost) {
            Print(entry, Reply::NotAsked);
            return;
        }
        if (awaiting_) Release(Reply::None); // the next frame went out first
        awaiting_.reset(new Entry(entry));
    }

    // Shows the frame waiting for its reply once the wait is over, or at once when `ending`.
    void Flush(Clock::time_point now, bool ending = false) {
        if (!awaiting_) return;
        bool over = now - awaiting_->time >= wait_;
        if (over || ending) Release(over ? Reply::None : Reply::Unknown);
    }

    size_t Count() const { return count_; }
    void Counted() { ++count_; }

    void Finish() {
        Flush(Clock::now(), true);
        if (!context_.json) return;
        nlohmann::json document = {{"command", context_.commandName}, {"frames", frames_}};
        context_.out << document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
                     << "\n";
    }

  private:
    struct Entry {
        Clock::time_point time;
        std::string direction;
        HeardFrame frame;
    };
    // Unknown: the monitor ended before the wait did.
    enum class Reply { NotAsked, Came, None, Unknown };

    // The reply to the waiting frame: from its terminal (any terminal for a broadcast) to the
    // host that sent it.
    bool Answers(const HeardFrame& reply) const {
        const HeardFrame& sent = awaiting_->frame;
        return reply.toHost && reply.destination == sent.source &&
               (sent.destination == 0xAAAA || reply.source == sent.destination);
    }

    void Release(Reply reply) {
        std::unique_ptr<Entry> entry = std::move(awaiting_);
        Print(*entry, reply);
    }

    void Print(const Entry& entry, Reply reply) {
        const HeardFrame& frame = entry.frame;
        int code = frame.code;
        const char* name = code >= 0 ? CommandName(code) : nullptr;
        if (context_.json) {
            nlohmann::json line = {{"time", ClockText(entry.time, true)},
                                   {"direction", entry.direction},
                                   {"destination", frame.destination},
                                   {"source", frame.source},
                                   {"code", code},
                                   {"name", name ? name : ""},
                                   {"payload", Hex(frame.payload.data(), frame.payload.size(), "")},
                                   {"meaning", frame.meaning}};
            if (reply != Reply::NotAsked) {
                line["key"] = Hex(frame.key.data(), frame.key.size(), "");
                line["key_text"] = KeyText(frame.key);
                line["replied"] = reply == Reply::Unknown ? nlohmann::json()
                                                          : nlohmann::json(reply == Reply::Came);
            }
            frames_.push_back(line);
            return;
        }
        char codeText[16] = "-";
        if (code >= 0) std::snprintf(codeText, sizeof codeText, "0x%02X", code);
        std::string direction = entry.direction;
        direction.resize(4, ' ');
        context_.out << ClockText(entry.time, false) << "  " << direction << "  "
                     << Address(frame.source) << " -> " << Address(frame.destination) << "  ";
        if (reply != Reply::NotAsked) {
            std::string keyText = KeyText(frame.key);
            context_.out << "key " << Hex(frame.key.data(), frame.key.size(), "")
                         << (keyText.empty() ? "" : " (\"" + keyText + "\")") << "  ";
        }
        context_.out << codeText << " " << (name ? name : "?") << "  ["
                     << Hex(frame.payload.data(), frame.payload.size()) << "]"
                     << (frame.meaning.empty() ? "" : "  " + frame.meaning);
        if (reply == Reply::None) context_.out << "  -- no reply within " << wait_.count() << " ms";
        context_.out << "\n" << std::flush;
    }

    Context& context_;
    std::chrono::milliseconds wait_;
    std::unique_ptr<Entry> awaiting_;
    nlohmann::json frames_ = nlohmann::json::array();
    size_t count_ = 0;
};

// The body of the frame SendCommandFrame builds, for the monitor's own line.
std::vector<uint8_t> CommandFrameBody(const LineOptions& line, int terminal, int code,
                                      const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> body = {
        static_cast<uint8_t>(terminal >> 8), static_cast<uint8_t>(terminal),
        static_cast<uint8_t>(line.host >> 8), static_cast<uint8_t>(line.host)};
    std::vector<uint8_t> key = KeyBytes(line.key);
    body.insert(body.end(), key.begin(), key.end());
    body.push_back(static_cast<uint8_t>(code));
    body.insert(body.end(), payload.begin(), payload.end());
    return body;
}

int Monitor(Context& context, const MonitorOptions& options) {
    long long code = -1;
    std::vector<uint8_t> payload;
    if (!options.sendCommand.empty()) {
        if (options.terminal.empty()) {
            context.err << "qarnctl: --send-command needs --terminal\n";
            return kExitUsage;
        }
        std::string error = ParseNumber(options.sendCommand[0], 0, 255, code);
        if (error.empty() && options.sendCommand.size() > 1)
            error = ParseHex(options.sendCommand[1], payload);
        if (!error.empty()) {
            context.err << "qarnctl: --send-command: " << error << "\n";
            return kExitUsage;
        }
        // The internal codes are admitted only while the internal commands are on.
        context.line.internalCommands = true;
    }
    if (!context.OpenLine()) return kExitFailure;
    Session& line = context.Line();
    int device = line.Device();
    MonitorView view(context, context.line.waitMilliseconds);
    FrameReader reader(line.Host());
    std::vector<char> text(kStreamTextSize);
    bool sent = false;
    line.onNotification = [&](int message) {
        if (message == WM_HDLC_SENT) sent = true;
        text[0] = '\0';
        if (message != WM_HDLC_STREAM || !RecvStream(device, text.data())) return;
        ClearRecvStr(device);
        std::vector<uint8_t> bytes;
        ParseHex(text.data(), bytes);
        for (const HeardFrame& frame : reader.Add(bytes)) {
            view.Show(frame.toHost ? "up" : "down", frame);
            view.Counted();
        }
    };
    CatchInterrupts();
    ClearRecvStr(device);
    if (!context.json)
        context.err << "qarnctl: monitoring " << line.Settings()
                    << (options.seconds > 0 ? "" : "; Ctrl-C ends") << "\n";
    auto start = std::chrono::steady_clock::now();
    auto elapsed = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    auto pumpFor = [&](double seconds) {
        double until = elapsed() + seconds;
        while (!InterruptRequested() && elapsed() < until &&
               (options.frames == 0 || view.Count() < static_cast<size_t>(options.frames)) &&
               (options.seconds == 0 || elapsed() < options.seconds)) {
            PumpFor(20);
            view.Flush(Clock::now());
        }
    };
    auto showSent = [&](const std::vector<uint8_t>& body) {
        std::vector<uint8_t> data(body.size() > 4 ? body.begin() + 4 : body.end(), body.end());
        view.Show("out", ReadFrameData(body.size() >= 2 ? body[0] << 8 | body[1] : 0,
                                       body.size() >= 4 ? body[2] << 8 | body[3] : 0, false, data));
    };
    for (const std::string& hex : options.send) {
        std::vector<uint8_t> body;
        ParseHex(hex, body);
        SendFrame(device, hex.c_str());
        showSent(body);
        pumpFor(options.interval / 1000.0);
    }
    if (code >= 0) {
        int terminal = TerminalOf(options.terminal);
        // Shown first: the reply may arrive while this waits for the frame to leave.
        showSent(CommandFrameBody(context.line, terminal, static_cast<int>(code), payload));
        sent = false;
        SendCommandFrame(device, terminal, static_cast<int>(code),
                         Hex(payload.data(), payload.size(), "").c_str());
        // The library sends nothing for a code it does not admit.
        for (int i = 0; i < 50 && !sent; ++i)
            PumpFor(20);
        if (!sent) {
            line.onNotification = nullptr;
            context.err << "qarnctl: CODE: the library does not admit code "
                        << options.sendCommand[0] << "; nothing was sent\n";
            return kExitUsage;
        }
    }
    pumpFor(options.seconds > 0 ? options.seconds : 1e12);
    line.onNotification = nullptr;
    view.Finish();
    return kExitSuccess;
}

} // namespace

void AddMonitorCommands(CLI::App& app, Action& chosen) {
    auto raw = std::make_shared<RawOptions>();
    CLI::App* rawCommand = app.add_subcommand(
        "raw", "run any admitted command code with a hex parameter block; data shown in hex");
    rawCommand->add_option("TERMINAL", raw->terminal, "terminal address, 0 to 65535")
        ->required()
        ->check(AddressValidator());
    rawCommand->add_option("CODE", raw->code, "command code, 0 to 255 (0x.. hex)")
        ->required()
        ->check(CLI::Validator(
            [](std::string& text) {
                long long value;
                std::string error = ParseNumber(text, 0, 255, value);
                return error.empty() ? error : "command code " + error;
            },
            "CODE"));
    rawCommand
        ->add_option("HEX", raw->hex, "parameter block bytes in hex, in the host's byte order")
        ->check(HexValidator());
    rawCommand->callback([&chosen, raw] { chosen = [raw](Context& c) { return Raw(c, *raw); }; });

    auto monitor = std::make_shared<MonitorOptions>();
    CLI::App* monitorCommand = app.add_subcommand(
        "monitor", "show every frame heard on the line, one line each, decoded where known");
    monitorCommand->add_option("--seconds", monitor->seconds, "stop after this many seconds")
        ->check(CLI::Range(0.0, 1e9));
    monitorCommand->add_option("--frames", monitor->frames, "stop after this many frames heard")
        ->check(CLI::Range(0L, 1000000000L));
    monitorCommand
        ->add_option("--send", monitor->send,
                     "send this frame body first (hex: destination, source, key, code, payload); "
                     "may be repeated")
        ->check(HexValidator());
    monitorCommand
        ->add_option("--send-command", monitor->sendCommand,
                     "then send command CODE (0 to 255, 0x.. hex) with the payload HEX to "
                     "--terminal, built with the host address and key (--host, --key)")
        ->expected(1, 2);
    monitorCommand
        ->add_option("--terminal", monitor->terminal, "the terminal --send-command sends to")
        ->check(AddressValidator());
    monitorCommand
        ->add_option("--interval", monitor->interval,
                     "milliseconds between the frames sent (default 300)")
        ->check(CLI::Range(0, 60000));
    monitorCommand->callback(
        [&chosen, monitor] { chosen = [monitor](Context& c) { return Monitor(c, *monitor); }; });
}

} // namespace qarnctl
