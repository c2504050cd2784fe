#include "whole_line.h"

#include <chrono>
#include <cstring>
#include <ctime>
#include <sstream>

#include "arguments.h"
#include "notify_window.h"
#include "qarn_layouts.h"
#include "terminal_io.h"

namespace qarnctl {

namespace {

constexpr int kSearchOnline = 0x04;
constexpr double kLongestInterval = 86400;

// The terminals asked for, in the order given; empty when a search found none.
std::vector<int> Chosen(Context& context, const Targets& targets) {
    if (!targets.all) {
        std::vector<int> list;
        for (const std::string& text : targets.list)
            list.push_back(TerminalOf(text));
        return list;
    }
    CommandReply search;
    return SearchLine(context, search);
}

// One terminal's part of a reading of several: its JSON object, and its failure on err.
nlohmann::json Part(Context& context, int terminal, Reading& reading) {
    if (!reading.reply.started) {
        reading.report.json["terminal"] = terminal;
        reading.report.json["error"] = "the library refused the command; nothing was sent";
        context.err << "qarnctl: " << context.commandName << ": terminal " << Address(terminal)
                    << ": the library refused the command; nothing was sent\n";
    } else if (!reading.ok) {
        context.err << "qarnctl: " << context.commandName << ": terminal " << Address(terminal)
                    << ": result " << reading.reply.result << " ("
                    << qarn_result_text(reading.reply.result) << ")\n";
    }
    return reading.report.json;
}

// Restores the stream's own buffer however the round ends.
class Captured {
  public:
    Captured(std::ostream& stream, std::streambuf* buffer)
        : stream_(stream), own_(stream.rdbuf(buffer)) {}
    ~Captured() { stream_.rdbuf(own_); }
    Captured(const Captured&) = delete;
    Captured& operator=(const Captured&) = delete;

  private:
    std::ostream& stream_;
    std::streambuf* own_;
};

std::string LocalTime() {
    std::time_t now = std::time(nullptr);
    std::tm local = *std::localtime(&now);
    return IsoDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                       local.tm_min, local.tm_sec);
}

void PrintRound(Context& context, int round, const std::string& text) {
    if (context.json) {
        nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
        if (!document.is_discarded())
            context.out << document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
                        << "\n";
    } else {
        context.out << (round > 1 ? "\n" : "") << "round " << round << " at " << LocalTime() << "\n"
                    << text;
    }
    context.out.flush();
}

} // namespace

void AddTargets(CLI::App* command, Targets& targets) {
    CLI::Option_group* group = command->add_option_group(
        "terminals", "the terminal(s) to read: exactly one of TERMINAL, --all, --terminals");
    group->add_option("TERMINAL", targets.terminal, "terminal address, 0 to 65535 (0x.. hex)")
        ->check(AddressValidator());
    group->add_flag("--all", targets.all, "every terminal that answers a search of the line");
    group->add_option("--terminals", targets.list, "these terminals, as 2,5,9")
        ->type_name("LIST")
        ->delimiter(',')
        ->check(AddressValidator());
    group->require_option(1);
}

std::vector<int> SearchLine(Context& context, CommandReply& reply) {
    reply = context.Line().Run(0, kSearchOnline);
    std::vector<int> found;
    if (reply.data.size() != sizeof(QarnSearchList)) return found;
    QarnSearchList list;
    std::memcpy(&list, reply.data.data(), sizeof list);
    for (int i = 0; i < list.count && i < QARN_SEARCH_CAPACITY; ++i)
        found.push_back(list.address[i]);
    return found;
}

int ReadTerminals(Context& context, const Targets& targets, const ReadTerminal& read) {
    if (!context.OpenLine()) return kExitFailure;
    if (!targets.all && targets.list.empty()) {
        Reading reading = read(context, TerminalOf(targets.terminal));
        return context.Finish(reading.report, reading.reply, reading.ok);
    }
    std::vector<int> terminals = Chosen(context, targets);
    nlohmann::json parts = nlohmann::json::array();
    bool allRead = true;
    for (int terminal : terminals) {
        Reading reading = read(context, terminal);
        parts.push_back(Part(context, terminal, reading));
        allRead = allRead && reading.reply.started && reading.ok;
        if (!context.json) {
            if (parts.size() > 1) context.out << "\n";
            reading.report.Print(context.out, false);
        }
    }
    if (context.json)
        context.out << parts.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    if (terminals.empty()) return context.Fail("no terminal answered the search");
    return allRead ? kExitSuccess : kExitFailure;
}

void AddInterval(CLI::App* command, double& seconds) {
    command
        ->add_option("--interval", seconds,
                     "read again every SECONDS (0.1 or more) until Ctrl-C, like a site poller")
        ->type_name("SECONDS")
        ->check(CLI::Range(0.1, kLongestInterval));
}

Action Repeated(double seconds, Action action) {
    if (seconds <= 0) return action;
    return [seconds, action](Context& context) {
        CatchInterrupts();
        auto interval = std::chrono::duration<double>(seconds);
        for (int round = 1;; ++round) {
            auto start = std::chrono::steady_clock::now();
            std::ostringstream text;
            int status;
            {
                Captured captured(context.out, text.rdbuf());
                status = action(context);
            }
            PrintRound(context, round, text.str());
            if (!context.LineOpen() || status == kExitUsage) return status;
            while (!InterruptRequested() && std::chrono::steady_clock::now() - start < interval)
                PumpFor(50);
            if (InterruptRequested()) return kExitSuccess;
        }
    };
}

} // namespace qarnctl
