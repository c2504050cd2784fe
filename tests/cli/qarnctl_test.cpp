// qarnctl against a simulated line: each command's JSON compared with the terminals' state,
// and the usage errors that must send nothing. On Windows the same commands drive the
// simulator that runs beside Wine, through its control line.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/stat.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "context.h"
#include "simulated_line.h"
#if defined(_WIN32)
#include "remote_simulator.h"
#else
#include "dmsim/simulator.h"
#endif

namespace {

namespace fs = std::filesystem;

#if defined(_WIN32)
using Simulator = wintest::RemoteSimulator;
// The simulated line is a pty, which refuses parity under Wine.
constexpr char kParity[] = "N";
#else
using Simulator = dmsim::Simulator;
constexpr char kParity[] = "E";
#endif

struct Outcome {
    int status = -1;
    std::string out, err;
    nlohmann::json json;
};

class Qarnctl : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(testline::StartSimulatedLine(simulator, {0x0002, 0x0003}));
        directory =
            fs::temp_directory_path() /
            ("qarnctl_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(directory);
    }
    void TearDown() override {
        simulator.Stop();
        fs::remove_all(directory);
    }

    // Runs qarnctl on the simulated line with --json; the JSON document is parsed when it is one.
    // Quiet, it tells nothing of the port on stderr.
    Outcome Run(std::initializer_list<std::string> arguments, bool onLine = true,
                bool quiet = true) {
        std::vector<std::string> words = {"qarnctl", "--wait", "300", "--json"};
        if (quiet) words.push_back("--quiet");
        // Fast enough for list frames of some kilobytes within the wait time.
        if (onLine) words.insert(words.end(), {"--port", LineSettings(921600)});
        words.insert(words.end(), arguments);
        std::vector<const char*> argv;
        for (const std::string& word : words)
            argv.push_back(word.c_str());
        std::ostringstream out, err;
        Outcome outcome;
        outcome.status = qarnctl::RunQarnctl(static_cast<int>(argv.size()), argv.data(), out, err);
        outcome.out = out.str();
        outcome.err = err.str();
        outcome.json = nlohmann::json::parse(outcome.out, nullptr, false);
        return outcome;
    }

    std::string LineSettings(int baud) const {
        return simulator.PortName() + ":baud=" + std::to_string(baud) + ",parity=" + kParity +
               ",data=8,stop=1";
    }

    dmsim::Terminal State(uint16_t address) {
        dmsim::Terminal terminal;
        simulator.GetTerminal(address, terminal);
        return terminal;
    }

    std::string File(const std::string& name, const std::string& content) {
        std::string path = (directory / name).string();
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    Simulator simulator;
    fs::path directory;
};

TEST_F(Qarnctl, ClockStatusPropertiesAndCountersMatchTheTerminals) {
    Outcome set = Run({"clock", "set", "--time", "2024-02-29T23:58:07", "--all"});
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(set.json["result"], 0);
    ASSERT_EQ(set.json["terminals"].size(), 2u);
    for (uint16_t address : {0x0002, 0x0003}) {
        dmsim::Clock clock = State(address).clock;
        EXPECT_EQ(clock.year, 2024);
        EXPECT_EQ(clock.day, 29);
        EXPECT_EQ(clock.second, 7);
        EXPECT_EQ(clock.weekday, 5); // a Thursday
    }
    simulator.UpdateTerminal(2, [](dmsim::Terminal& t) {
        t.statusValue = 77;
        t.whiteBlocks[0] = {5, 6};
        t.recordIndex = 9;
        t.records.resize(4);
    });

    Outcome status = Run({"status", "2"});
    ASSERT_EQ(status.status, 0) << status.err;
    EXPECT_EQ(status.json["result"], 13);
    EXPECT_EQ(status.json["result_name"], "data ready");
    EXPECT_EQ(status.json["status"]["clock"], "2024-02-29T23:58:07");
    EXPECT_EQ(status.json["status"]["weekday_name"], "Thursday");
    EXPECT_EQ(status.json["status"]["value"], 77);
    EXPECT_EQ(Run({"clock", "show", "3"}).json["status"]["hour"], 23);

    Outcome property = Run({"property", "2"});
    dmsim::Terminal two = State(2);
    EXPECT_EQ(property.json["property"]["bytes2_3"], two.property[2] << 8 | two.property[3]);
    EXPECT_EQ(property.json["property"]["byte19"], two.property[19]);
    EXPECT_EQ(Run({"property", "2", "--set", "4=200"}).json["result"], 8);
    EXPECT_EQ(State(2).property[7], 200);
    Outcome system = Run({"system-property", "2"});
    EXPECT_EQ(system.json["system_property"]["version"], "01.02.0304");
    EXPECT_EQ(system.json["system_property"]["line_speed"], 9600);
    EXPECT_EQ(system.json["system_property"]["text2"], "SIMULATED LINE ");

    Outcome counters = Run({"counters", "2"});
    ASSERT_EQ(counters.status, 0) << counters.err;
    EXPECT_EQ(counters.json["records"]["count"], 4);
    EXPECT_EQ(counters.json["record_index"]["index"], 9);
    EXPECT_EQ(counters.json["lists"]["white"], 2);

    Outcome search = Run({"search"});
    EXPECT_EQ(search.status, 0);
    EXPECT_EQ(search.json["terminals"], nlohmann::json({2, 3}));
    EXPECT_EQ(search.json["found"], 2);
    EXPECT_EQ(search.json["ok"], true);
    EXPECT_EQ(search.json["result"], 5); // a search listens out its wait
    EXPECT_EQ(Run({"beep", "3", "--times", "2"}).status, 0);
    EXPECT_EQ(State(3).lastBeep, 2);
    EXPECT_EQ(Run({"title", "3", "HELLO|WORLD"}).status, 0);
    dmsim::Bytes lcd = State(3).lcdTitle;
    std::string title(lcd.begin(), lcd.end());
    EXPECT_EQ(title, "HELLO           WORLD                           ");
    Outcome raw = Run({"raw", "2", "0x1E"});
    EXPECT_EQ(raw.json["data"], "09000000");

    // A terminal that does not answer: its time-out is the command's failure, by name.
    simulator.SetFaults({0, 0, 0, 1, 0, false, false, {}, true});
    Outcome silent = Run({"status", "2"});
    EXPECT_EQ(silent.status, 1);
    EXPECT_NE(silent.err.find("time-out"), std::string::npos) << silent.err;
}

TEST_F(Qarnctl, RecordsAreCollectedInOrderIntoJson) {
    simulator.UpdateTerminal(2, [](dmsim::Terminal& t) {
        for (int i = 0; i < 40; ++i) {
            dmsim::Record record;
            record.identifier = 5000u + static_cast<uint32_t>(i);
            record.year = 2024;
            record.month = 1 + i / 10;
            record.day = 1 + i % 10;
            record.hour = i % 24;
            record.flagA = i % 2 == 1;
            t.records.push_back(record);
        }
    });
    Outcome all = Run({"records", "2", "--batch", "7"});
    ASSERT_EQ(all.status, 0) << all.err;
    ASSERT_EQ(all.json["records"].size(), 40u);
    for (int i = 0; i < 40; ++i) {
        const nlohmann::json& record = all.json["records"][i];
        EXPECT_EQ(record["number"], i);
        EXPECT_EQ(record["identifier"], 5000 + i);
        EXPECT_EQ(record["month"], 1 + i / 10);
        EXPECT_EQ(record["flag_a"], i % 2);
        EXPECT_EQ(record["terminal"], 2);
    }

    Outcome range = Run({"records", "2", "--from", "2024-02-01", "--to", "2024-02-05"});
    ASSERT_EQ(range.status, 0) << range.err;
    ASSERT_EQ(range.json["records"].size(), 5u);
    EXPECT_EQ(range.json["records"][0]["identifier"], 5010);
    EXPECT_EQ(range.json["records"][4]["identifier"], 5014);

    simulator.UpdateTerminal(3, [](dmsim::Terminal& t) {
        t.longRecords = true;
        dmsim::Record record;
        record.code = "AB12345";
        record.value24 = -42;
        t.records.assign(9, record); // 171 payload bytes, as 19 short records make
    });
    Outcome longForm = Run({"records", "3"});
    EXPECT_EQ(longForm.json["form"], "long");
    ASSERT_EQ(longForm.json["records"].size(), 9u);
    EXPECT_EQ(longForm.json["records"][8]["time"], "2005-01-01T00:00:00");
    EXPECT_EQ(longForm.json["records"][1]["code"], "AB12345");
    EXPECT_EQ(longForm.json["records"][1]["value24"], -42);
}

TEST_F(Qarnctl, WholeLineReadsGiveAPartPerTerminalAndOneCsv) {
    auto seed = [](size_t count) {
        return [count](dmsim::Terminal& t) {
            t.longRecords = count == 3;
            for (size_t i = 0; i < count; ++i) {
                dmsim::Record r;
                r.identifier = 4000000000u + static_cast<uint32_t>(i);
                r.code = "X" + std::to_string(100000 + i);
                r.value24 = -static_cast<int32_t>(i);
                r.value32 = 70000 + static_cast<int32_t>(i);
                r.value16 = 300 + static_cast<int>(i);
                r.value8 = static_cast<int>(i);
                r.year = 2024;
                r.day = 2 + static_cast<int>(i);
                r.minute = 10 * static_cast<int>(i);
                r.flagA = i % 2 == 1;
                r.flagB = i == 2;
                t.records.push_back(r);
            }
        };
    };
    simulator.UpdateTerminal(2, seed(5));
    simulator.UpdateTerminal(3, seed(3));
    std::string csv = (directory / "line.csv").string();
    simulator.ClearReceived();
    Outcome records = Run({"records", "--all", "--csv", csv, "--batch", "2"});
    ASSERT_EQ(records.status, 0) << records.err;
    // The search, then per terminal its range and the records two at a time.
    EXPECT_EQ(simulator.ReceivedFrames().size(), 1u + (1 + 3) + (1 + 2));
    ASSERT_TRUE(records.json.is_array()) << records.out;
    ASSERT_EQ(records.json.size(), 2u);
    std::ifstream lines(csv);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "terminal,number,form,identifier,code,time,value24,value32,value16,value8,"
                    "flag_a,flag_b");
    for (size_t part = 0; part < 2; ++part) {
        const nlohmann::json& read = records.json[part];
        dmsim::Terminal state = State(static_cast<uint16_t>(2 + part));
        EXPECT_EQ(read["terminal"], 2 + part);
        EXPECT_EQ(read["result"], 13);
        EXPECT_EQ(read["result_name"], "data ready");
        EXPECT_EQ(read["form"], part == 0 ? "short" : "long");
        ASSERT_EQ(read["records"].size(), state.records.size());
        for (size_t i = 0; i < state.records.size(); ++i) {
            const dmsim::Record& r = state.records[i];
            EXPECT_EQ(read["records"][i]["number"], i);
            std::string time =
                qarnctl::IsoDateTime(r.year, r.month, r.day, r.hour, r.minute, r.second);
            std::string row =
                part == 0 ? "2," + std::to_string(i) + ",short," + std::to_string(r.identifier) +
                                ",," + time + ",,,,"
                          : "3," + std::to_string(i) + ",long,," + r.code + "," + time + "," +
                                std::to_string(r.value24) + "," + std::to_string(r.value32) + "," +
                                std::to_string(r.value16) + "," + std::to_string(r.value8);
            row += "," + std::to_string(r.flagA) + "," + std::to_string(r.flagB);
            ASSERT_TRUE(std::getline(lines, line));
            EXPECT_EQ(line, row);
        }
    }
    EXPECT_FALSE(std::getline(lines, line)) << line;

    // A terminal that does not answer is reported in its place; the others are read.
    Outcome status = Run({"status", "--terminals", "3,9,2"});
    EXPECT_EQ(status.status, 1);
    ASSERT_EQ(status.json.size(), 3u) << status.out;
    EXPECT_EQ(status.json[1]["terminal"], 9);
    EXPECT_EQ(status.json[1]["result"], 5);
    EXPECT_FALSE(status.json[1].contains("status"));
    EXPECT_NE(status.err.find("terminal 0x0009: result 5 (time-out)"), std::string::npos)
        << status.err;
    for (size_t part : {0, 2}) {
        dmsim::Clock clock = State(part == 0 ? 3 : 2).clock;
        EXPECT_EQ(status.json[part]["result"], 13);
        EXPECT_EQ(status.json[part]["status"]["year"], clock.year);
        EXPECT_EQ(status.json[part]["status"]["weekday"], clock.weekday);
    }
    Outcome property = Run({"property", "--all"});
    ASSERT_EQ(property.status, 0) << property.err;
    ASSERT_EQ(property.json.size(), 2u);
    EXPECT_EQ(property.json[1]["property"]["byte19"], State(3).property[19]);
    Outcome clocks = Run({"clock", "show", "--terminals", "2"});
    ASSERT_EQ(clocks.json.size(), 1u);
    EXPECT_EQ(clocks.json[0]["status"]["year"], State(2).clock.year);
}

TEST_F(Qarnctl, DownloadsAndCardsChangeTheTerminal) {
    std::string numbers;
    for (int i = 1000; i > 0; --i)
        numbers += std::to_string(7000000 + i) + (i % 10 ? " " : "\n");
    Outcome white = Run({"list", "download", "white", "2", File("white.txt", numbers)});
    ASSERT_EQ(white.status, 0) << white.err;
    EXPECT_EQ(white.json["frames"], 3);
    // Numbers given in falling order reach the list memory sorted across both frames.
    std::vector<uint32_t> list = State(2).WhiteList();
    ASSERT_EQ(list.size(), 1000u);
    EXPECT_TRUE(std::is_sorted(list.begin(), list.end()));
    EXPECT_EQ(list.front(), 7000001u);
    EXPECT_EQ(list.back(), 7001000u);
    Outcome black = Run({"list", "download", "black", "2", File("black.txt", "123 # one\n")});
    EXPECT_EQ(black.status, 0) << black.err;
    EXPECT_EQ(State(2).BlackList(), std::vector<uint32_t>{123});

    std::string program = ":020100000102FA\n:020102000304F4\n:00000001FF\n";
    Outcome loaded = Run({"program", "download", "2", File("program.hex", program)});
    EXPECT_EQ(loaded.status, 0) << loaded.err;
    EXPECT_EQ(State(2).programLoads, 1);
    EXPECT_EQ(State(2).programMemory.size(), 2u);
    Outcome pages = Run({"pages", "download", "2", File("pages.bin", std::string(600, 'x'))});
    EXPECT_EQ(pages.status, 0) << pages.err;
    EXPECT_EQ(State(2).pages.size(), 3u);

    Outcome written = Run({"card", "write", "3", "--layout", "1", "--number", "424242",
                           "--password", "0815", "--name", "王小明", "--date", "2030-06-15"});
    ASSERT_EQ(written.status, 0) << written.err;
    dmsim::Card card = State(3).card;
    // The name travels in GB2312, its two trailing spaces as 0x00.
    EXPECT_EQ(card.name, (std::array<uint8_t, 8>{0xCD, 0xF5, 0xD0, 0xA1, 0xC3, 0xF7, 0x00, 0x00}));
    EXPECT_EQ(card.number, 424242u);
    EXPECT_EQ(card.password, 815);
    EXPECT_EQ(card.year, 2030);
    Outcome read = Run({"card", "read", "3", "--layout", "3"});
    EXPECT_EQ(read.json["card"]["password"], "0815");
    EXPECT_EQ(read.json["card"]["name"], "王小明");
    EXPECT_EQ(read.json["card"]["date"], "2030-06-15");
    Outcome money = Run({"card", "money", "3", "--add", "12.34"});
    EXPECT_EQ(money.json["money"]["balance"], "12.34");
    EXPECT_EQ(State(3).card.balance, 1234);
    EXPECT_EQ(money.json["added"], "12.34");
    Outcome refused = Run({"card", "money", "3", "--subtract", "99"}); // the card refuses
    EXPECT_EQ(refused.status, 1);
    EXPECT_FALSE(refused.json.contains("subtracted"));
    EXPECT_EQ(State(3).card.balance, 1234);
}

TEST_F(Qarnctl, MonitorAndLogShowTheFrames) {
    fs::path previous = fs::current_path();
    fs::current_path(directory);
    // A pty refuses the driver's RS-485 mode: the library switches RTS, and says so.
    std::string settings = LineSettings(9600) + ",rs485=kernel";
    Outcome logged = Run({"--log", "--port", settings, "status", "2"}, false, false);
    EXPECT_EQ(logged.status, 0) << logged.err;
    EXPECT_NE(logged.err.find("qarnctl: port " + settings + " (RTS switched by the library)\n"),
              std::string::npos)
        << logged.err;
    Outcome log = Run({"log", "show", "CommLog.log"}, false);
    fs::current_path(previous);
    ASSERT_EQ(log.status, 0) << log.err;
    ASSERT_GE(log.json["records"].size(), 4u);
    EXPECT_EQ(log.json["records"][0]["kind_name"], "port opened");
    EXPECT_EQ(log.json["records"][0]["command"], "Software RTS");
    EXPECT_EQ(log.json["records"][1]["kind_name"], "frame coded");
    EXPECT_EQ(log.json["records"][1]["command"], "Recv DM_Status");
    EXPECT_EQ(log.json["records"][1]["terminal"], "0x0002");

    // The log's times in ISO 8601, its fields without padding, each command's end by name.
    const nlohmann::json& ended = log.json["records"].back();
    EXPECT_EQ(ended["kind_name"], "command ended");
    EXPECT_EQ(ended["result"], "Result 13");
    EXPECT_EQ(ended["result_code"], 13);
    EXPECT_EQ(ended["result_name"], "data ready");
    EXPECT_EQ(ended["time"].get<std::string>().size(), 23u);
    EXPECT_EQ(ended["time"].get<std::string>()[10], 'T');

    // A frame to an absent terminal, unanswered; then a status request built with the key.
    Outcome monitor =
        Run({"monitor", "--frames", "1", "--seconds", "5", "--send",
             "0009 0001 0000000000000000 16", "--terminal", "2", "--send-command", "0x16"});
    ASSERT_EQ(monitor.status, 0) << monitor.err;
    ASSERT_EQ(monitor.json["frames"].size(), 3u) << monitor.out;
    const nlohmann::json& unanswered = monitor.json["frames"][0];
    EXPECT_EQ(unanswered["direction"], "out");
    EXPECT_EQ(unanswered["key"], "0000000000000000");
    EXPECT_EQ(unanswered["replied"], false);
    const nlohmann::json& sent = monitor.json["frames"][1];
    std::string key;
    for (int i = 0; i < 8; ++i) {
        unsigned mask = 0;
        std::sscanf(QARN_KEY_TABLE_TEXT + 2 * i, "%2x", &mask);
        char byte[3];
        std::snprintf(byte, sizeof byte, "%02x", mask ^ static_cast<unsigned>("58213094"[i]));
        key += byte;
    }
    EXPECT_EQ(sent["key"], key);
    EXPECT_EQ(sent["key_text"], "58213094");
    EXPECT_EQ(sent["replied"], true);
    std::string time = sent["time"];
    EXPECT_TRUE(time.size() == 29 && time[10] == 'T' && (time[23] == '+' || time[23] == '-'))
        << time;
    const nlohmann::json& reply = monitor.json["frames"][2];
    EXPECT_EQ(reply["direction"], "up");
    EXPECT_FALSE(reply.contains("key"));
    EXPECT_EQ(reply["source"], 2);
    EXPECT_EQ(reply["code"], 0x16);
    EXPECT_EQ(reply["meaning"].get<std::string>().rfind("clock 2005-01-01T00:00:00", 0), 0u)
        << reply.dump();
    Outcome refused =
        Run({"monitor", "--seconds", "1", "--terminal", "2", "--send-command", "0x77"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("does not admit code 0x77"), std::string::npos) << refused.err;
}

TEST_F(Qarnctl, BadInputIsAUsageErrorAndSendsNothing) {
    std::string unreadable = (directory / "missing.txt").string();
    std::string notAList = File("bad.txt", "12 x3\n");
    std::string tooMany;
    for (int i = 0; i <= 12544; ++i)
        tooMany += std::to_string(i) + "\n";
    tooMany = File("12545.txt", tooMany);
    std::string wide = File("wide.lst", std::string("\xAA\x62\x00\x00\x00\x01", 6));
    std::vector<std::vector<std::string>> cases = {
        {"frobnicate"},
        {"status", "65536"},
        {"status", "-1"},
        {"records", "2", "--from", "2023-02-29"},
        {"clock", "set", "--time", "2024-13-01T00:00"},
        {"raw", "2", "0x16", "abc"},
        {"raw", "2", "0x05"},
        {"list", "download", "white", "2", unreadable},
        {"list", "download", "white", "2", notAList},
        {"list", "download", "white", "2", tooMany},
        {"list", "download", "black", "2", wide},
        {"card", "write", "2", "--password", "12a4"},
        {"card", "money", "2", "--add", "1.234"},
        {"title", "2", "this title is far too long for three lines of sixteen chars"},
        {"title", "2", "八个汉字八个汉字|八个汉字八个汉字|八个汉字八个汉字|八"},
        {"card", "write", "2", "--name", "王小明王小"}, // 10 bytes in GB2312
        {"card", "write", "2", "--name", "Zoë"},        // no form in GB2312
        {"status"},
        {"status", "2", "--all"},
        {"records", "--terminals", "2,x"},
        {"property", "--all", "--set", "4=1"},
        {"clock", "show", "2", "--interval", "0"},
    };
#if !defined(_WIN32)
    // Windows has no named pipe in the file system to stand for a list file that never ends.
    std::string fifo = (directory / "fifo.lst").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    cases.push_back({"list", "download", "white", "2", fifo});
#endif
    for (const auto& words : cases) {
        std::vector<std::string> argv = {"qarnctl", "--quiet", "--port", simulator.PortName()};
        argv.insert(argv.end(), words.begin(), words.end());
        std::vector<const char*> pointers;
        for (const std::string& word : argv)
            pointers.push_back(word.c_str());
        std::ostringstream out, err;
        int status =
            qarnctl::RunQarnctl(static_cast<int>(pointers.size()), pointers.data(), out, err);
        std::string message = err.str();
        EXPECT_EQ(status, 2) << words[0] << " " << message;
        EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
    }
    EXPECT_TRUE(simulator.ReceivedFrames().empty());
    EXPECT_EQ(Run({"--help"}).status, 0);

#if defined(_WIN32)
    // A port's name holds no colon, which would begin the settings: a missing port is a COM
    // port. The library leaves its reason in the system's last error, which qarnctl says.
    Outcome closed = Run({"--port", "COM99", "status", "2"}, false);
    EXPECT_EQ(closed.status, 1);
    EXPECT_NE(closed.err.find("qarnctl: cannot open COM99: no such port"), std::string::npos)
        << closed.err;
#else
    Outcome closed = Run({"--port", (directory / "no-such-port").string(), "status", "2"}, false);
    EXPECT_EQ(closed.status, 1);
    EXPECT_NE(closed.err.find("no-such-port: No such file or directory"), std::string::npos)
        << closed.err;
#endif
}

#if !defined(_WIN32)

// A poller: each round printed as it ends, one JSON line, until Ctrl-C ends it after its round.
TEST_F(Qarnctl, IntervalRepeatsAReadUntilInterrupted) {
    std::vector<std::string> words = {QARNCTL_PROGRAM,      "--quiet", "--json",      "--port",
                                      LineSettings(921600), "status",  "--terminals", "2,3",
                                      "--interval",         "0.2"};
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    pid_t poller = 0;
    ASSERT_EQ(posix_spawn(&poller, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string text;
    char buffer[4096];
    ssize_t got = 0;
    while (std::count(text.begin(), text.end(), '\n') < 2 &&
           (got = read(out[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(got));
    kill(poller, SIGINT);
    while ((got = read(out[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(got));
    close(out[0]);
    int status = 0;
    waitpid(poller, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::istringstream lines(text);
    int rounds = 0;
    for (std::string line; std::getline(lines, line); ++rounds) {
        nlohmann::json round = nlohmann::json::parse(line, nullptr, false);
        ASSERT_EQ(round.size(), 2u) << line;
        EXPECT_EQ(round[0]["terminal"], 2);
        EXPECT_EQ(round[1]["result"], 13);
    }
    EXPECT_GE(rounds, 2);
    EXPECT_LE(rounds, 3) << text; // the round under way when interrupted ends
}

// One program per port: a second qarnctl is told so, and a holder that is killed frees the port.
// Linux only: the holder is a second process found in the kernel's lock table.
TEST_F(Qarnctl, PortInUseByAnotherProgramIsSaidAndFreedWhenItsHolderDies) {
    std::vector<std::string> words = {QARNCTL_PROGRAM, "--quiet",   "--port", simulator.PortName(),
                                      "monitor",       "--seconds", "30"};
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t holder = 0;
    ASSERT_EQ(posix_spawn(&holder, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    // Waits for the holder's lock without taking the port, which would keep the holder out.
    bool held = false;
    for (int i = 0; i < 200 && !held; ++i) {
        std::ifstream locks("/proc/locks");
        for (std::string line; !held && std::getline(locks, line);)
            held = line.find("FLOCK") != std::string::npos &&
                   line.find(" " + std::to_string(holder) + " ") != std::string::npos;
        if (!held) usleep(50000);
    }
    EXPECT_TRUE(held);
    Outcome refused = Run({"status", "2"});
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("qarnctl: cannot open " + simulator.PortName() +
                               ": the port is in use by another program"),
              std::string::npos)
        << refused.err;
    Outcome after = Run({"status", "2"});
    EXPECT_EQ(after.status, 0) << after.err;
    EXPECT_EQ(after.json["result"], 13);
}
#endif

} // namespace
