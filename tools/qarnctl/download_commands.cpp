// The multi-frame downloads: card lists, programs and pages, with a progress bar counting the
// frames sent.
#include <filesystem>
#include <memory>
#include <random>

#include "arguments.h"
#include "context.h"
#include "download_files.h"
#include "progress.h"
#include "qarn.h"
#include "qarn_layouts.h"

namespace qarnctl {

namespace {

constexpr int kListDownload = 0xA2;
constexpr int kProgramDownload = 0xC0;
constexpr int kPageDownload = 0xC5;

struct DownloadOptions {
    std::string kind; // white or black
    std::string terminal;
    std::string file;
};

// Runs one download, the bar moving with every frame the line sends.
CommandReply RunDownload(Context& context, int terminal, int code, const std::string& path,
                         long frames, const char* label) {
    long sent = 0;
    CommandReply reply;
    {
        Progress progress(context.err, context.ShowProgress() && frames > 0, label, frames);
        context.Line().onNotification = [&](int message) {
            if (message == WM_HDLC_SENT) progress.Update(std::min(++sent, frames));
        };
        std::vector<char> block(path.begin(), path.end());
        block.push_back('\0');
        reply = context.Line().Run(terminal, code, block.data());
        context.Line().onNotification = nullptr;
    }
    return reply;
}

void Begin(Report& report, Context& context, int terminal, const std::string& file) {
    report.json["command"] = context.commandName;
    report.json["terminal"] = terminal;
    report.json["file"] = file;
    report.Field("terminal", Address(terminal));
    report.Field("file", file);
}

std::string TemporaryListPath() {
    std::random_device random;
    auto name = "qarnctl-list-" + std::to_string(random()) + ".lst";
    return (std::filesystem::temp_directory_path() / name).string();
}

int ListDownload(Context& context, const DownloadOptions& options) {
    CardList list;
    std::string problem = ReadCardList(options.file, list);
    bool white = options.kind == "white";
    if (problem.empty() && list.fromListFile && list.white != white)
        problem = options.file + " is a " + (list.white ? "white" : "black") +
                  " list file, not a " + options.kind + " one";
    if (problem.empty() && list.numbers.size() > ListCapacity(white))
        problem = options.file + " holds " + std::to_string(list.numbers.size()) + " numbers; a " +
                  options.kind + " list holds at most " + std::to_string(ListCapacity(white));
    if (!problem.empty()) {
        context.err << "qarnctl: FILE: " << problem << "\n";
        return kExitUsage;
    }
    std::string path = options.file;
    if (!list.fromListFile) {
        path = TemporaryListPath();
        if (!WriteListFile(path, white, list.numbers))
            return context.Fail("cannot write the list file " + path);
    }
    int status = kExitFailure;
    if (context.OpenLine()) {
        int terminal = TerminalOf(options.terminal);
        long frames = ListFrames(list.numbers.size());
        CommandReply reply =
            RunDownload(context, terminal, kListDownload, path, frames, "list frames");
        Report report;
        Begin(report, context, terminal, options.file);
        report.json["list"] = options.kind;
        report.json["numbers"] = list.numbers.size();
        report.json["frames"] = frames;
        report.Field("list", options.kind + ", " + std::to_string(list.numbers.size()) +
                                 " number(s) in " + std::to_string(frames) + " frame(s)");
        report.SetResult(reply.result);
        status = context.Conclude(report, reply, {QARN_RESULT_ACKNOWLEDGED});
    }
    if (!list.fromListFile) std::filesystem::remove(path);
    return status;
}

int BlockDownload(Context& context, const DownloadOptions& options, bool program) {
    long frames = 0;
    std::string problem =
        program ? CheckProgramFile(options.file, frames) : CheckPageFile(options.file, frames);
    if (!problem.empty()) {
        context.err << "qarnctl: FILE: " << problem << "\n";
        return kExitUsage;
    }
    if (program) context.line.internalCommands = true;
    if (!context.OpenLine()) return kExitFailure;
    int terminal = TerminalOf(options.terminal);
    CommandReply reply =
        RunDownload(context, terminal, program ? kProgramDownload : kPageDownload, options.file,
                    frames, program ? "program frames" : "page frames");
    Report report;
    Begin(report, context, terminal, options.file);
    report.json["frames"] = frames;
    report.Field("frames", std::to_string(frames));
    report.SetResult(reply.result);
    return context.Conclude(report, reply, {QARN_RESULT_ACKNOWLEDGED});
}

void AddTarget(CLI::App* command, DownloadOptions& options, const char* what) {
    command->add_option("TERMINAL", options.terminal, "terminal address, 0 to 65535")
        ->required()
        ->check(AddressValidator());
    command->add_option("FILE", options.file, what)->required()->check(ReadableValidator());
}

CLI::App* AddDownload(CLI::App& app, const char* name, const char* description) {
    CLI::App* group = app.add_subcommand(name, description);
    group->require_subcommand(1);
    return group;
}

} // namespace

void AddDownloadCommands(CLI::App& app, Action& chosen) {
    auto options = std::make_shared<DownloadOptions>();
    CLI::App* list =
        AddDownload(app, "list", "card lists")
            ->add_subcommand("download", "load a white or black card list into a terminal");
    list->add_option("KIND", options->kind,
                     "white (at most 12544 numbers) or black (at most 4181760)")
        ->required()
        ->check(CLI::IsMember({"white", "black"}));
    AddTarget(list, *options,
              "card numbers as text (one or more a line, '#' comments) or a list file");
    list->callback([&chosen, options] {
        chosen = [options](Context& c) { return ListDownload(c, *options); };
    });

    CLI::App* program =
        AddDownload(app, "program", "terminal programs")
            ->add_subcommand("download", "load a program file of :LLAAAATT..CC text records");
    AddTarget(program, *options, "the program file; its last record is the end record");
    program->callback([&chosen, options] {
        chosen = [options](Context& c) { return BlockDownload(c, *options, true); };
    });

    CLI::App* pages = AddDownload(app, "pages", "terminal memory pages")
                          ->add_subcommand("download", "load a file in pages of 256 bytes");
    AddTarget(pages, *options, "the file");
    pages->callback([&chosen, options] {
        chosen = [options](Context& c) { return BlockDownload(c, *options, false); };
    });
}

} // namespace qarnctl
