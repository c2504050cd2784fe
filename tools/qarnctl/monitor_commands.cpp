// The line monitor's live view, and any admitted command sent raw.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>

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
    int interval = 300;
};

std::string Now() {
    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local = *std::localtime(&seconds);
    auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(milliseconds));
    return text;
}

// One monitor line: time, direction, addresses, code and its name, payload, meaning.
class MonitorView {
  public:
    explicit MonitorView(Context& context) : context_(context) {}

    void Show(const char* direction, int destination, int source, int code,
              const std::vector<uint8_t>& payload, const std::string& meaning) {
        std::string time = Now();
        const char* name = code >= 0 ? CommandName(code) : nullptr;
        std::string hex = Hex(payload.data(), payload.size());
        char codeText[16] = "-";
        if (code >= 0) std::snprintf(codeText, sizeof codeText, "0x%02X", code);
        if (context_.json) {
            frames_.push_back({{"time", time},
                               {"direction", direction},
                               {"destination", destination},
                               {"source", source},
                               {"code", code},
                               {"name", name ? name : ""},
                               {"payload", Hex(payload.data(), payload.size(), "")},
                               {"meaning", meaning}});
            return;
        }
        context_.out << time << "  " << direction << "  " << Address(source) << " -> "
                     << Address(destination) << "  " << codeText << " " << (name ? name : "?")
                     << "  [" << hex << "]" << (meaning.empty() ? "" : "  " + meaning) << "\n"
                     << std::flush;
    }

    size_t Count() const { return count_; }
    void Counted() { ++count_; }

    void Finish() {
        if (!context_.json) return;
        nlohmann::json document = {{"command", context_.commandName}, {"frames", frames_}};
        context_.out << document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
                     << "\n";
    }

  private:
    Context& context_;
    nlohmann::json frames_ = nlohmann::json::array();
    size_t count_ = 0;
};

int Monitor(Context& context, const MonitorOptions& options) {
    if (!context.OpenLine()) return kExitFailure;
    Session& line = context.Line();
    int device = line.Device();
    MonitorView view(context);
    FrameReader reader(line.Host());
    std::vector<char> text(kStreamTextSize);
    line.onNotification = [&](int message) {
        text[0] = '\0';
        if (message != WM_HDLC_STREAM || !RecvStream(device, text.data())) return;
        ClearRecvStr(device);
        std::vector<uint8_t> bytes;
        ParseHex(text.data(), bytes);
        for (const HeardFrame& frame : reader.Add(bytes)) {
            view.Show(frame.toHost ? "up  " : "down", frame.destination, frame.source, frame.code,
                      frame.payload, frame.meaning);
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
               (options.seconds == 0 || elapsed() < options.seconds))
            PumpFor(20);
    };
    for (const std::string& hex : options.send) {
        std::vector<uint8_t> body;
        ParseHex(hex, body);
        SendFrame(device, hex.c_str());
        int code = body.size() > 12 ? body[12] : -1;
        std::vector<uint8_t> payload(body.size() > 13 ? body.begin() + 13 : body.end(), body.end());
        view.Show("out ", body.size() >= 2 ? body[0] << 8 | body[1] : 0,
                  body.size() >= 4 ? body[2] << 8 | body[3] : 0, code, payload, "");
        pumpFor(options.interval / 1000.0);
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
        ->add_option("--interval", monitor->interval,
                     "milliseconds between the frames sent (default 300)")
        ->check(CLI::Range(0, 60000));
    monitorCommand->callback(
        [&chosen, monitor] { chosen = [monitor](Context& c) { return Monitor(c, *monitor); }; });
}

} // namespace qarnctl
