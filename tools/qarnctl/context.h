// What every command of a run shares: the global options, the output streams and the line.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <string>

#include "report.h"
#include "session.h"

namespace qarnctl {

// Exit statuses.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1; // a terminal's error or time-out, a port that cannot be opened
constexpr int kExitUsage = 2;

struct Context {
    Context(std::ostream& output, std::ostream& errors) : out(output), err(errors) {}

    LineOptions line;
    bool json = false;
    bool quiet = false;
    std::ostream& out;
    std::ostream& err;
    std::string commandName; // "records", "card read", ...

    // Opens the line on first use; false (the reason told on err) when it cannot be opened.
    bool OpenLine();
    bool LineOpen() const { return session_ != nullptr; }
    Session& Line() { return *session_; }

    // Prints the report; the exit status is 0 when result is one of the command's successes,
    // else 1 with the result's name on err.
    int Conclude(Report& report, const CommandReply& reply, std::initializer_list<int> success);
    // The same, where the command has judged its success itself.
    int Finish(Report& report, const CommandReply& reply, bool succeeded);
    // For commands made of several exchanges: the first failing exchange decides.
    bool Succeeded(const CommandReply& reply, std::initializer_list<int> success) const;
    int Fail(const std::string& message); // message on err, status 1

    // Whether progress bars are drawn: stderr is a terminal and --quiet is off.
    bool ShowProgress() const;

  private:
    std::unique_ptr<Session> session_;
};

using Action = std::function<int(Context&)>;

// Each adds its commands to the application; the command chosen on the command line stores
// its action in `chosen`.
void AddLineCommands(CLI::App& app, Action& chosen);
void AddRecordCommands(CLI::App& app, Action& chosen);
void AddCardCommands(CLI::App& app, Action& chosen);
void AddDownloadCommands(CLI::App& app, Action& chosen);
void AddMonitorCommands(CLI::App& app, Action& chosen);
void AddLogCommands(CLI::App& app, Action& chosen);

// The terminal address of a validated TERMINAL argument.
int TerminalOf(const std::string& text);

// Runs qarnctl with these arguments; returns the exit status.
int RunQarnctl(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

} // namespace qarnctl
