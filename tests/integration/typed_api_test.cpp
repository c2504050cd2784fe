// The C++ interface (qarn.hpp) against simulated terminals: typed values against the terminals'
// state, errors with their result codes, and the lifetimes of devices, commands and windows.
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>

#include "dmsim/control.h"
#include "dmsim/simulator.h"
#include "qarn.hpp"
#include "simulated_line.h"
#include <gtest/gtest.h>

namespace {

constexpr int kTerminal = 0x0002;
constexpr int kLongTerminal = 0x0003;

// How many of this process's descriptors are open on the path.
int OpenDescriptors(const std::string& path) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error) == path) ++count;
    }
    return count;
}

class TypedApi : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(testline::StartSimulatedLine(simulator, {kTerminal, kLongTerminal}));
        port = simulator.PortName();
        simulatorHolds = OpenDescriptors(port);
        device.set_wait_time(300).value();
        // List frames of some kilobytes take seconds on the wire at 9600 baud.
        device.connect(port, {921600}).value();
    }
    void TearDown() override { simulator.Stop(); }

    dmsim::Terminal State(int address = kTerminal) {
        dmsim::Terminal copy;
        EXPECT_TRUE(simulator.GetTerminal(static_cast<uint16_t>(address), copy));
        return copy;
    }
    void Seed(int address, size_t count, bool longForm) {
        simulator.UpdateTerminal(static_cast<uint16_t>(address), [&](dmsim::Terminal& t) {
            t.longRecords = longForm;
            for (size_t i = 0; i < count; ++i)
                t.records.push_back(dmsim::GeneratedRecord(i));
        });
    }

    dmsim::Simulator simulator;
    std::string port;
    int simulatorHolds = 0; // descriptors the simulator keeps on the pty's device side
    qarn::Device device;
};

void ExpectSameRecords(const std::vector<qarn::Record>& got, const dmsim::Terminal& terminal) {
    ASSERT_EQ(got.size(), terminal.records.size());
    for (size_t i = 0; i < got.size(); ++i) {
        const qarn::Record& r = got[i];
        const dmsim::Record& s = terminal.records[i];
        EXPECT_EQ(r.number, static_cast<int32_t>(i)) << i;
        EXPECT_EQ(r.long_form, terminal.longRecords) << i;
        if (terminal.longRecords) {
            EXPECT_EQ(r.code, s.code) << i;
            EXPECT_EQ(r.value24, s.value24) << i;
            EXPECT_EQ(r.value32, s.value32) << i;
            EXPECT_EQ(r.value16, s.value16) << i;
            EXPECT_EQ(r.value8, s.value8) << i;
        } else {
            EXPECT_EQ(static_cast<uint32_t>(r.identifier), s.identifier) << i;
        }
        EXPECT_EQ(r.year, s.year) << i;
        EXPECT_EQ(r.month, s.month) << i;
        EXPECT_EQ(r.day, s.day) << i;
        EXPECT_EQ(r.hour, s.hour) << i;
        EXPECT_EQ(r.minute, s.minute) << i;
        EXPECT_EQ(r.second, s.second) << i;
        EXPECT_EQ(r.flag_a, s.flagA) << i;
        EXPECT_EQ(r.flag_b, s.flagB) << i;
        EXPECT_EQ(r.terminal, terminal.address) << i;
    }
}

} // namespace

TEST_F(TypedApi, TypedValuesMatchTheTerminals) {
    EXPECT_EQ(device.search_online().value(), (std::vector<int>{kTerminal, kLongTerminal}));

    device.set_time(qarn::Clock{2024, 2, 29, 23, 58, 7, 5}).value();
    qarn::Status status = device.status(kLongTerminal).value();
    dmsim::Clock clock = State(kLongTerminal).clock;
    EXPECT_EQ(status.year, clock.year);
    EXPECT_EQ(status.month, 2);
    EXPECT_EQ(status.day, 29);
    EXPECT_EQ(status.weekday, clock.weekday);
    EXPECT_EQ(status.second, 7);

    device.set_property(kTerminal, 3, 0x5A).value(); // item 3 is the fourth field
    qarn::Property property = device.property(kTerminal).value();
    EXPECT_EQ(property.byte6, 0x5A);
    EXPECT_EQ(property.bytes2_3, State().property[2] << 8 | State().property[3]);
    EXPECT_EQ(property.switch16, State().property[16] != 0);
    qarn::SystemProperty system = device.system_property(kTerminal).value();
    EXPECT_EQ(qarn::text(system.version), "01.02.0304");
    EXPECT_EQ(system.line_speed, 9600);
    EXPECT_EQ(qarn::text(system.text1), "DM-SIM    ");

    // 70 records take three requests, 41 long ones two: 32 (1,920 bytes of data, 48 short
    // entries' worth), then 9 whose 171 payload bytes 19 short records would make as well.
    Seed(kTerminal, 70, false);
    Seed(kLongTerminal, 41, true);
    qarn::RecordRange range = device.record_range(kTerminal).value();
    EXPECT_EQ(range.first, 0);
    EXPECT_EQ(range.count, 70);
    ExpectSameRecords(device.records(kTerminal).value(), State());
    ExpectSameRecords(device.records(kLongTerminal).value(), State(kLongTerminal));
    simulator.ClearReceived();
    ExpectSameRecords(device.records(kTerminal, 25).value(), State()); // 25, 25 and 20
    EXPECT_EQ(simulator.ReceivedFrames().size(), 4u);                  // after the range
    std::vector<qarn::Record> three = device.records(kTerminal, {67, 10}, 2).value();
    ASSERT_EQ(three.size(), 3u);
    EXPECT_EQ(static_cast<uint32_t>(three[0].identifier), State().records[67].identifier);
    EXPECT_EQ(three[2].number, 69);
    simulator.UpdateTerminal(
        kTerminal, [](dmsim::Terminal& t) { t.realtimeRecords = {dmsim::GeneratedRecord(0)}; });
    EXPECT_EQ(device.realtime(kTerminal).value().at(0).number, std::nullopt); // none it carries
    EXPECT_EQ(device.records(kLongTerminal, {39, 10}).value().size(), 2u);
    EXPECT_TRUE(device.records(kTerminal, {500, 5}).value().empty());

    // A white list with its progress, then the counters.
    std::string path = std::string(::testing::TempDir()) + "typed_white.lst";
    std::vector<uint32_t> numbers;
    for (uint32_t i = 0; i < 1500; ++i)
        numbers.push_back(4000000000u - 7 * i);
    qarn::write_list_file(path, qarn::ListKind::white, {numbers.begin(), numbers.end()}).value();
    std::vector<std::pair<int, int>> steps;
    device
        .download_list(kTerminal, qarn::ListKind::white, path,
                       [&](int done, int total) { steps.emplace_back(done, total); })
        .value();
    std::vector<uint32_t> stored = State().WhiteList(); // sorted as a whole, not frame by frame
    std::sort(numbers.begin(), numbers.end());
    EXPECT_EQ(stored, numbers);
    ASSERT_FALSE(steps.empty());
    EXPECT_EQ(steps.back(), std::make_pair(4, 4)); // 640 + 704 + 156 numbers, closing frame
    qarn::ListCounts counts = device.list_counts(kTerminal).value();
    EXPECT_EQ(counts.white, 1500);
    EXPECT_EQ(counts.black, 0);
    std::remove(path.c_str());

    // The card: written in layout 1, read back, money on it.
    qarn::Card1 card{};
    card.number = 0x01020304;
    qarn::set_text(card.record_code, "AB12345").value();
    card.attribute1 = 7;
    qarn::set_text(card.password, "4321").value();
    EXPECT_FALSE(qarn::set_field_text(card.name, "王小明王小", device.text_code())); // 10 bytes
    EXPECT_FALSE(qarn::set_field_text(card.name, "Zoë", device.text_code()));
    qarn::set_field_text(card.name, "王小明", device.text_code()).value();
    card.year = 2026;
    card.month = 12;
    card.day = 9;
    device.write_card(kTerminal, card).value();
    EXPECT_EQ(State().card.number, 0x01020304u);
    EXPECT_EQ(State().card.password, 4321);
    qarn::Card1 read = device.read_card1(kTerminal).value();
    EXPECT_EQ(read.sub_code, 1);
    EXPECT_EQ(qarn::text(read.record_code), "AB12345");
    EXPECT_EQ(qarn::text(read.password), "4321");
    EXPECT_EQ(qarn::field_text(read.name, device.text_code()), "王小明");
    EXPECT_EQ(read.attribute1, 7);
    EXPECT_EQ(read.year, 2026);
    qarn::Money money = device.add_money(kTerminal, 1250).value();
    EXPECT_EQ(money.amount, 1250);
    EXPECT_EQ(device.dec_money(kTerminal, 250).value().amount, 1000);
    EXPECT_EQ(State().card.balance, 1000);
    EXPECT_EQ(device.read_money(kTerminal).value().amount, 1000);

    const qarn::Key first{1, 2, 3, 4, 5, 6, 7, 8}, second{0xF0, 0xE1, 0xD2, 0xC3, 0, 0, 0, 9};
    device.download_user_key(kTerminal, 1, first, second).value();
    device.init_card_key(kTerminal, 2, second, first).value();
    dmsim::Terminal keyed = State();
    EXPECT_EQ(keyed.keys.at(0xA1).keys.at(0), first);
    EXPECT_EQ(keyed.keys.at(0xA1).keys.at(1), second);
    EXPECT_EQ(keyed.keys.at(0x65).keys.at(0), second);
    EXPECT_EQ(keyed.keys.at(0x65).lead, 2);

    qarn::Title title{};
    for (int i = 0; i < QARN_TITLE_LINES; ++i)
        qarn::set_text(title.line[i], "line " + std::to_string(i)).value();
    device.set_title(kTerminal, title).value();
    dmsim::Bytes shown = State().lcdTitle;
    EXPECT_EQ(std::string(shown.begin(), shown.end()),
              std::string(&title.line[0][0], sizeof title));
    device.beep(kTerminal, 3).value();
    device.open_lock(kTerminal, 2).value();
    EXPECT_EQ(State().lastBeep, 3);
    EXPECT_EQ(State().lockOpenings, 1);
}

TEST_F(TypedApi, ErrorsCarryTheirResultCodes) {
    // No terminal 9 on the line: a time-out, as a value and as an exception.
    qarn::Result<qarn::Status> missing = device.status(9);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().failure(), qarn::Failure::result);
    EXPECT_EQ(missing.error().result(), QARN_RESULT_TIMEOUT);
    EXPECT_STREQ(missing.error().name(), "time-out");
    try {
        (void)device.status(9)->year;
        ADD_FAILURE() << "no exception";
    } catch (const qarn::Error& error) {
        EXPECT_EQ(error.result(), QARN_RESULT_TIMEOUT);
        EXPECT_NE(std::string(error.what()).find("0x0009"), std::string::npos) << error.what();
    }

    // A terminal's own status byte, and a reply meant for another host.
    simulator.UpdateTerminal(kTerminal, [](dmsim::Terminal& t) { t.ackStatus = 0x21; });
    qarn::Result<void> rejected = device.beep(kTerminal);
    EXPECT_EQ(rejected.error().result(), 0x21);
    EXPECT_STREQ(rejected.error().name(), "terminal status");
    dmsim::Faults faults;
    faults.wrongDestination = true;
    simulator.SetFaults(faults);
    EXPECT_EQ(device.property(kTerminal).error().result(), QARN_RESULT_UNEXPECTED_REPLY);
    simulator.SetFaults(dmsim::Faults());
    simulator.UpdateTerminal(kTerminal, [](dmsim::Terminal& t) { t.ackStatus = 8; });

    // An open command holds the device; its data only in its own layout's size.
    {
        qarn::Command open = device.run(kTerminal, 0x16).value();
        EXPECT_EQ(open.result(), QARN_RESULT_DATA_READY);
        EXPECT_EQ(open.data<qarn::Property>().error().failure(), qarn::Failure::data);
        EXPECT_EQ(open.data<qarn::Status>().value().year, State().clock.year);
        EXPECT_EQ(open.bytes().size(), sizeof(qarn::Status));
        EXPECT_EQ(device.status(kTerminal).error().failure(), qarn::Failure::refused);
    }
    EXPECT_TRUE(device.status(kTerminal));
    // Internal commands only when admitted.
    EXPECT_EQ(device.set_serial_number(kTerminal, 5).error().failure(), qarn::Failure::refused);
    device.set_internal_commands(true).value();
    device.set_serial_number(kTerminal, 77).value();
    EXPECT_EQ(State().serialNumber, 77u);

    // Bad input sends nothing.
    simulator.ClearReceived();
    std::string path = std::string(::testing::TempDir()) + "typed_black.lst";
    qarn::write_list_file(path, qarn::ListKind::black, {1, 2, 3}).value();
    EXPECT_EQ(device.download_list(kTerminal, qarn::ListKind::white, path).error().failure(),
              qarn::Failure::argument);
    EXPECT_FALSE(qarn::write_list_file(path, qarn::ListKind::black, {6200000001}));
    EXPECT_FALSE(qarn::write_list_file(path, qarn::ListKind::white,
                                       std::vector<uint64_t>(QARN_LIST_WHITE_CAPACITY + 1, 1)));
    EXPECT_EQ(device.download_pages(kTerminal, path + ".none").error().failure(),
              qarn::Failure::argument);
    EXPECT_EQ(device.set_comm_key("short").error().failure(), qarn::Failure::argument);
    EXPECT_EQ(device.realtime(kTerminal, 256).error().failure(), qarn::Failure::argument);
    for (int batch : {0, 256})
        EXPECT_EQ(device.records(kTerminal, {0, 5}, batch).error().failure(),
                  qarn::Failure::argument);
    EXPECT_EQ(device.connect(port, {9600, 'X'}).error().failure(), qarn::Failure::argument);
    EXPECT_EQ(device.connect("/dev/null/none").error().failure(), qarn::Failure::port);
    EXPECT_EQ(qarn::LineSettings().text("COM256").value(),
              "COM256:baud=9600,parity=E,data=8,stop=1");
    EXPECT_EQ(qarn::LineSettings().text("COM257").error().failure(), qarn::Failure::argument);
    EXPECT_TRUE(simulator.ReceivedFrames().empty());
    std::remove(path.c_str());

    // Another thread gets the thread error, not a command.
    qarn::Failure elsewhere = qarn::Failure::none;
    std::thread([&] { elsewhere = device.status(kTerminal).error().failure(); }).join();
    EXPECT_EQ(elsewhere, qarn::Failure::thread);
}

TEST_F(TypedApi, DevicesCloseTheirPortAndMove) {
    device.connect(port).value(); // reconnecting closes the port first
    EXPECT_EQ(OpenDescriptors(port), simulatorHolds + 1);
    qarn::Device moved(std::move(device));
    EXPECT_EQ(device.handle(), 0);
    EXPECT_EQ(device.status(kTerminal).error().failure(), qarn::Failure::open);
    EXPECT_TRUE(moved.status(kTerminal));
    EXPECT_TRUE(moved.connected());
    EXPECT_EQ(moved.rts_control(), QARN_RTS_BY_LIBRARY);
    EXPECT_EQ(device.rts_control(), 0);

    moved = qarn::Device(); // the old device object goes, and its port with it
    EXPECT_EQ(OpenDescriptors(port), simulatorHolds);
    {
        // Two devices on one window; the line reopens at once.
        qarn::NotifyWindow window;
        int frames = 0;
        window.set_handler([&](int message, int) { frames += message == WM_HDLC_FRAME; });
        qarn::Device first(window), second(window, 0x0005);
        first.connect(port).value();
        EXPECT_TRUE(first.status(kTerminal));
        EXPECT_EQ(frames, 1);
        auto taken = second.connect(port);
        ASSERT_FALSE(taken);
        EXPECT_EQ(taken.error().failure(), qarn::Failure::port);
        EXPECT_EQ(std::string(taken.error().what()),
                  "qarn: cannot open the port " + port + ": the port is in use by another program");
        first.close();
        EXPECT_EQ(first.status(kTerminal).error().failure(), qarn::Failure::open);
        second.connect(port).value();
        simulator.UpdateTerminal(kLongTerminal, [](dmsim::Terminal& t) { t.online = false; });
        EXPECT_EQ(second.search().value(), kTerminal);
        EXPECT_EQ(OpenDescriptors(port), simulatorHolds + 1);
    }
    EXPECT_EQ(OpenDescriptors(port), simulatorHolds);
}

TEST_F(TypedApi, TheMonitorAndItsEventsFollowACommand) {
    device.close();
    std::vector<qarn::LineEvent> events;
    qarn::NotifyWindow window([&](qarn::LineEvent event, int) { events.push_back(event); });
    qarn::Device monitored(window);
    monitored.set_wait_time(300).value();
    monitored.connect(port, {921600}).value();
    EXPECT_TRUE(monitored.stream().value().empty());
    EXPECT_TRUE(monitored.last_frame().value().empty());

    ASSERT_TRUE(monitored.status(kTerminal));
    // The frame leaves, its answer arrives in one or more pieces and is decoded last.
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events.front(), qarn::LineEvent::frame_sent);
    EXPECT_EQ(events.back(), qarn::LineEvent::frame_received);
    EXPECT_TRUE(std::all_of(events.begin() + 1, events.end() - 1,
                            [](auto e) { return e == qarn::LineEvent::bytes_arrived; }));
    qarn::Bytes frame = monitored.last_frame().value();
    qarn::Bytes stream = monitored.stream().value();
    ASSERT_GE(frame.size(), 2u);
    EXPECT_EQ(frame[0], 0x16);
    EXPECT_NE(std::search(stream.begin(), stream.end(), frame.begin(), frame.end()), stream.end());
    EXPECT_TRUE(monitored.last_frame().value().empty()); // each frame once
    EXPECT_TRUE(monitored.stream().value().empty());     // nothing new
    monitored.clear_stream().value();

    // A raw frame with the key of the default key text, answered outside any command.
    events.clear();
    qarn::Bytes beep = {0x00, 0x02, 0x00, 0x01, 0x6F, 0x04, 0xA4,
                        0xD0, 0x84, 0x14, 0x36, 0xB9, 0x1B, 0x03};
    monitored.send_frame(beep).value();
    for (int i = 0; i < 100 && (events.empty() || events.back() != qarn::LineEvent::frame_received);
         ++i)
        qarn::NotifyWindow::pump(20);
    EXPECT_EQ(events.front(), qarn::LineEvent::frame_sent);
    ASSERT_EQ(events.back(), qarn::LineEvent::frame_received);
    EXPECT_EQ(monitored.last_frame().value().at(0), 0x1B);
    EXPECT_EQ(State().lastBeep, 3);

    // Built with the device's key and host address: the very frame its beep command sends, and
    // answered the same.
    monitored.set_comm_key("11223344").value();
    monitored.set_host_address(0x0007).value();
    ASSERT_TRUE(simulator.SetCommKey(kTerminal, "11223344"));
    simulator.ClearReceived();
    monitored.beep(kTerminal, 6).value();
    events.clear();
    monitored.send_command_frame(kTerminal, 0x1B, {0x06}).value();
    for (int i = 0; i < 100 && (events.empty() || events.back() != qarn::LineEvent::frame_received);
         ++i)
        qarn::NotifyWindow::pump(20);
    ASSERT_EQ(events.back(), qarn::LineEvent::frame_received);
    EXPECT_EQ(monitored.last_frame().value().at(0), 0x1B);
    auto frames = simulator.ReceivedFrames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], frames[1]);
    EXPECT_EQ(monitored.send_command_frame(kTerminal, 0x100).error().failure(),
              qarn::Failure::argument);

    EXPECT_EQ(monitored.send_frame({0, 2, 0}).error().failure(), qarn::Failure::argument);
    qarn::Failure elsewhere = qarn::Failure::none;
    std::thread([&] { elsewhere = monitored.stream().error().failure(); }).join();
    EXPECT_EQ(elsewhere, qarn::Failure::thread);
}
