#include <sstream>

#include "arguments.h"
#include "context.h"
#include "embedded_line.h"

namespace qarnctl {

namespace {

const char kSummary[] =
    "qarnctl: the everyday jobs on a line of IC-card terminals, decoded into words.";
const char kWholeLine[] =
    "status, clock show, property and records read one TERMINAL, every terminal a search finds\n"
    "(--all) or a list (--terminals 2,5,9); read commands repeat with --interval SECONDS until\n"
    "Ctrl-C.";
const char kExitStatuses[] =
    "Exit status: 0 when the command's result is its success, 1 for a terminal's error or\n"
    "time-out (the result's name on stderr; read from several terminals, any of them) or a\n"
    "port that cannot be opened, 2 for a usage error (nothing is sent then).";

// The command path of the chosen subcommand: "card read", "records".
std::string CommandName(const CLI::App& app) {
    std::string name;
    for (const CLI::App* at = &app; !at->get_subcommands().empty();) {
        at = at->get_subcommands().front();
        name += (name.empty() ? "" : " ") + at->get_name();
    }
    return name;
}

// CLI11 messages, on one line and prefixed.
int UsageError(std::ostream& err, const std::string& message) {
    std::string line = message;
    for (char& c : line)
        if (c == '\n') c = ' ';
    err << "qarnctl: " << line << " (see qarnctl --help)\n";
    return kExitUsage;
}

// The first word that is neither a global option nor its value, when it names no command.
std::string UnknownCommand(const CLI::App& app, int argc, const char* const* argv) {
    static const char* const kWithValue[] = {"--port", "--host", "--wait", "--key"};
    for (int i = 1; i < argc; ++i) {
        std::string word = argv[i];
        if (word.empty() || word[0] == '-') {
            for (const char* option : kWithValue)
                if (word == option) ++i;
            continue;
        }
        for (const CLI::App* command : app.get_subcommands({}))
            if (command->get_name() == word) return "";
        return word;
    }
    return "";
}

} // namespace

int RunQarnctl(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    Context context(out, err);
    CLI::App app(std::string(kSummary) + "\n" + kWithoutPortHelp + "\n" + kWholeLine + "\n" +
                     kExitStatuses,
                 "qarnctl");
    app.require_subcommand(1);
    app.fallthrough();
    std::string host = "1";
    app.add_option("--port", context.line.port,
                   "the line: PATH[:baud=9600,parity=E,data=8,stop=1], COMn[:...], "
                   "tcp://HOST:PORT[:...] or rfc2217://HOST:PORT[:...]; "
                   "without it, the embedded simulated line (Linux only)");
    app.add_option("--host", host, "the host's address on the line (default 1)")
        ->check(AddressValidator());
    app.add_option("--wait", context.line.waitMilliseconds,
                   "milliseconds to wait for a reply (default 500)")
        ->check(CLI::Range(1, 60000));
    app.add_option("--key", context.line.key, "communication key text, 8 characters")
        ->check([](const std::string& text) {
            return text.size() == 8 ? std::string() : "the key text must have 8 characters";
        });
    app.add_flag("--json", context.json, "print one JSON document instead of a table");
    app.add_flag("--quiet,-q", context.quiet, "no progress bars");
    app.add_flag("--log", context.line.log,
                 "keep the communication log (CommLog*.log) in the current directory");

    Action chosen;
    AddLineCommands(app, chosen);
    AddRecordCommands(app, chosen);
    AddCardCommands(app, chosen);
    AddDownloadCommands(app, chosen);
    AddMonitorCommands(app, chosen);
    AddLogCommands(app, chosen);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help, out, err);
    } catch (const CLI::CallForAllHelp& help) {
        return app.exit(help, out, err);
    } catch (const CLI::ParseError& error) {
        std::string unknown = UnknownCommand(app, argc, argv);
        if (!unknown.empty()) return UsageError(err, "COMMAND: unknown command '" + unknown + "'");
        return UsageError(err, error.what());
    }
    context.line.host = TerminalOf(host);
    context.commandName = CommandName(app);
    if (!chosen) return UsageError(err, "no command given");
    return chosen(context);
}

} // namespace qarnctl
