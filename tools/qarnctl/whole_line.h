// Read commands over a whole line: the terminals a command reads (one TERMINAL, every terminal a
// search finds, or a list), and --interval, which repeats a read command like a site poller.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "context.h"

namespace qarnctl {

// TERMINAL, --all or --terminals 2,5,9: exactly one is given.
struct Targets {
    std::string terminal;
    bool all = false;
    std::vector<std::string> list;
};

void AddTargets(CLI::App* command, Targets& targets);

// What a command read from one terminal: its report, the reply that decides it, and whether
// that reply is the command's success.
struct Reading {
    Report report;
    CommandReply reply;
    bool ok = false;
};

using ReadTerminal = std::function<Reading(Context&, int terminal)>;

// One TERMINAL: its report and exit status, as a command of its own. --all and --terminals: a
// report per terminal (in the table one after the other, in JSON an array), a terminal that
// fails not stopping the others; status 1 when any failed or a search found none.
int ReadTerminals(Context& context, const Targets& targets, const ReadTerminal& read);

// The terminals that answer a search, in order of answer; reply is the search's.
std::vector<int> SearchLine(Context& context, CommandReply& reply);

// --interval SECONDS on a read command; 0 when not given.
void AddInterval(CLI::App* command, double& seconds);

// The action run every `seconds` (from start to start) until SIGINT or SIGTERM, each round
// printed when it ends, under a heading in the table and as one JSON line; status 0 once
// interrupted, or the first round's when the line cannot be opened or its input is refused.
// The action itself when seconds is 0.
Action Repeated(double seconds, Action action);

} // namespace qarnctl
