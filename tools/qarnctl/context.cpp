#include "context.h"

#include "arguments.h"
#include "qarn_layouts.h"
#include "terminal_io.h"

namespace qarnctl {

bool Context::OpenLine() {
    if (session_) return true;
    session_ = std::make_unique<Session>();
    line.announce = !quiet;
    if (session_->Open(line, err)) return true;
    session_.reset();
    return false;
}

bool Context::Succeeded(const CommandReply& reply, std::initializer_list<int> success) const {
    if (!reply.started) return false;
    for (int result : success)
        if (reply.result == result) return true;
    return false;
}

int Context::Conclude(Report& report, const CommandReply& reply,
                      std::initializer_list<int> success) {
    return Finish(report, reply, Succeeded(reply, success));
}

int Context::Finish(Report& report, const CommandReply& reply, bool succeeded) {
    if (!reply.started) return Fail("the library refused the command; nothing was sent");
    report.Print(out, json);
    if (succeeded) return kExitSuccess;
    err << "qarnctl: " << commandName << ": result " << reply.result << " ("
        << qarn_result_text(reply.result) << ")\n";
    return kExitFailure;
}

int Context::Fail(const std::string& message) {
    err << "qarnctl: " << commandName << ": " << message << "\n";
    return kExitFailure;
}

bool Context::ShowProgress() const {
    return !quiet && StandardErrorIsTerminal();
}

int TerminalOf(const std::string& text) {
    int address = 0;
    ParseAddress(text, address);
    return address;
}

} // namespace qarnctl
