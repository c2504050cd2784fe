// qarn::Device: one device object on one serial line, with a typed method per command.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "qarn.h"
#include "qarn/card_text.hpp"
#include "qarn/command.hpp"
#include "qarn/download_files.hpp"
#include "qarn/line_settings.hpp"
#include "qarn/monitor.hpp"
#include "qarn/notify_window.hpp"
#include "qarn/result.hpp"
#include "qarn/types.hpp"
#include "qarn_layouts.h"

namespace qarn {

// Called during a download with the frames sent so far and the frames it takes in all.
using Progress = std::function<void(int done, int total)>;

class Device {
  public:
    static constexpr int kDefaultHost = 0x0001;
    static constexpr int kDefaultWaitTime = 500;       // milliseconds
    static constexpr int kRecordsPerRequest = 32;      // the records() batch by default
    static constexpr int kMostRecordsPerRequest = 255; // a request counts its records in a byte

    // Opens a device object on a notification window of its own, or on the given window, which
    // must outlive it. Throws qarn::Error (Failure::open); open() returns it instead.
    explicit Device(int hostAddress = kDefaultHost) : Device(open(hostAddress).value()) {}
    explicit Device(NotifyWindow& window, int hostAddress = kDefaultHost)
        : Device(open(window, hostAddress).value()) {}

    static Result<Device> open(int hostAddress = kDefaultHost) {
        auto window = NotifyWindow::create();
        if (!window) return window.error();
        auto own = std::make_unique<NotifyWindow>(std::move(*window));
        auto device = open(*own, hostAddress);
        if (device) device->state_->ownWindow = std::move(own);
        return device;
    }
    static Result<Device> open(NotifyWindow& window, int hostAddress = kDefaultHost) {
        if (hostAddress < 0 || hostAddress > 0xFFFF) return Bad("the host address", hostAddress);
        auto state = std::make_unique<State>();
        state->handle = OpenDevice(hostAddress, window.handle());
        if (state->handle == 0)
            return Error(Failure::open, -1, "qarn: the device object was not made");
        state->window = window.state_;
        State* raw = state.get();
        state->window->listeners[state->handle] = [raw](int message) { raw->Notified(message); };
        SetWaitTime(state->handle, kDefaultWaitTime);
        return Device(std::move(state));
    }

    // Closes the port and the device object. On a thread other than the owner's nothing can be
    // closed (the library refuses it), so close a device where it was opened.
    ~Device() { close(); }
    Device(Device&&) noexcept = default;
    Device& operator=(Device&& other) noexcept {
        if (this != &other) {
            close();
            state_ = std::move(other.state_);
        }
        return *this;
    }

    int handle() const { return state_ ? state_->handle : 0; }
    void close() {
        if (!state_ || std::this_thread::get_id() != state_->owner) return;
        CloseDevice(state_->handle);
        state_->window->listeners.erase(state_->handle);
        state_.reset();
    }

    // The port. A port that is open is closed first.
    Result<void> connect(const std::string& path, const LineSettings& settings = {}) {
        if (auto misuse = Misuse()) return *misuse;
        auto text = settings.text(path);
        if (!text) return text.error();
        errno = 0;
        if (ConnectPort(state_->handle, text->c_str()) != 1) {
            int reason = errno;
            std::string why = reason == EBUSY ? "the port is in use by another program"
                              : reason != 0   ? std::strerror(reason)
                                              : "not a usable serial port";
            return Error(Failure::port, -1, "qarn: cannot open the port " + path + ": " + why);
        }
        return {};
    }
    bool disconnect() { return !Misuse() && DisConnectPort(state_->handle) == 1; }
    bool connected() const { return !Misuse() && IsConnect(state_->handle) == 1; }
    // Who switches RTS around the frames: QARN_RTS_BY_LIBRARY, QARN_RTS_BY_DRIVER or, on a
    // tcp:// or rfc2217:// line, QARN_RTS_BY_SERVER; 0 without an open port.
    int rts_control() const { return Misuse() ? 0 : GetRtsControl(state_->handle); }

    // Settings; each takes effect from the next frame on.
    Result<void> set_wait_time(int milliseconds) {
        if (milliseconds <= 0) return Bad("the wait time", milliseconds);
        return Apply([&] { SetWaitTime(state_->handle, milliseconds); });
    }
    // The communication key text: exactly 8 characters.
    Result<void> set_comm_key(const std::string& keyText) {
        if (keyText.size() != 8 || keyText.find('\0') != std::string::npos)
            return Error(Failure::argument, -1, "qarn: the key text must be 8 characters");
        return Apply([&] { SetCommKey(state_->handle, keyText.c_str()); });
    }
    Result<void> set_host_address(int address) {
        if (address < 0 || address > 0xFFFF) return Bad("the host address", address);
        return Apply([&] { SetMyAddress(state_->handle, address); });
    }
    // Card names and titles: the application's fields hold Big5, which the library converts to
    // and from the terminals' GB2312. text_code() tells which code the fields hold, for
    // field_text and set_field_text (qarn/card_text.hpp).
    Result<void> set_big5_terminals(bool on) {
        auto applied = Apply([&] { SetInnerCode(state_->handle, on); });
        if (applied) state_->big5 = on;
        return applied;
    }
    TextCode text_code() const { return state_->big5 ? TextCode::big5 : TextCode::gb2312; }
    // Admits the internal commands: program download, serial number, inner setting.
    Result<void> set_internal_commands(bool on) {
        return Apply([&] { SetInnerCmd(state_->handle, on); });
    }
    Result<void> set_logging(bool on) {
        return Apply([&] { SetAddLog(state_->handle, on); });
    }

    static std::string edition() {
        char text[QARN_EDITION_LENGTH];
        RecvEdition(text);
        return std::string(text, sizeof text);
    }

    // The line monitor. A frame body is the destination and source address (2 bytes each), the
    // key (8 bytes), the command code and the payload; the link layer adds the length, the
    // check byte and the lead-in. It goes out as it is, outside any command: no time-out, no
    // retransmission, so send none while a command runs. The NotifyWindow's handlers tell when
    // it left and what came back.
    Result<void> send_frame(const Bytes& body) {
        if (auto misuse = Misuse()) return *misuse;
        if (body.size() < 4 || body.size() > 4 + 0xFFFF)
            return Bad("the frame body size", static_cast<long>(body.size()));
        SendFrame(state_->handle, detail::HexText(body).c_str());
        return {};
    }
    // A command frame of one's own, built as a command builds it: the terminal's address, the
    // device's host address and key bytes (set_host_address, set_comm_key), the code and the
    // payload; sent as send_frame() sends. A code the device would not admit as a command (an
    // internal one without set_internal_commands) sends nothing, and no frame_sent follows.
    Result<void> send_command_frame(int terminal, int code, const Bytes& payload = {}) {
        if (auto misuse = Misuse()) return *misuse;
        if (terminal < 0 || terminal > 0xFFFF) return Bad("the terminal address", terminal);
        if (code < 0 || code > 0xFF) return Bad("the command code", code);
        if (payload.size() > 0xFFFF - 9) // the key and the code come first
            return Bad("the payload size", static_cast<long>(payload.size()));
        SendCommandFrame(state_->handle, terminal, code, detail::HexText(payload).c_str());
        return {};
    }
    // Every byte received on the line since clear_stream(), frames and noise alike (the last
    // 65536 at most), when any arrived since the last call; empty otherwise.
    Result<Bytes> stream() { return Dump(RecvStream, QARN_DUMP_LENGTH(65536)); }
    // The data (reply code and payload) of the frame for this host that arrived since the last
    // call; empty when none did. A frame overtaken by a newer one before the call is lost.
    Result<Bytes> last_frame() { return Dump(RecvHDLC, QARN_DUMP_LENGTH(0xFFFF)); }
    Result<void> clear_stream() {
        return Apply([&] { ClearRecvStr(state_->handle); });
    }

    // Any command by its code, with a parameter block: the Command, or Failure::refused.
    Result<Command> run(int terminal, int code, ParamBlock params = ParamBlock()) {
        if (auto misuse = Misuse()) return *misuse;
        if (terminal < 0 || terminal > 0xFFFF) return Bad("the terminal address", terminal);
        int handle = StartQARNCommand(state_->handle, terminal, code, params.data(), 0);
        if (handle == 0)
            return Error(Failure::refused, -1,
                         "qarn: " + Describe(terminal, code) +
                             " was refused: not admitted, another command is open, or its "
                             "frame cannot be built");
        return Command(handle, std::move(params));
    }

    // Clocks and addresses. Broadcasts: every terminal on the line takes them, none replies.
    Result<void> adjust_time() { return Transmitted(0, 0x01, {}); }
    Result<void> set_time(const Clock& clock) { return Transmitted(0, 0x0A, Block(clock)); }
    // The terminal whose identity this is takes the new address.
    Result<void> set_address(uint32_t identity, int address) {
        if (address < 0 || address > 0xFFFF) return Bad("the new address", address);
        return Acknowledged(0, 0x02, Block(QarnAddressChange{identity, address}));
    }

    // The address of the one terminal that answers.
    Result<int> search() {
        auto reply = Data<QarnSearchReply>(0, 0x03, {});
        if (!reply) return reply.error();
        return reply->address;
    }
    // The address of every terminal that answers within the wait time, in order of answer.
    Result<std::vector<int>> search_online() {
        auto command = Expect(0, 0x04, {}, {QARN_RESULT_DATA_READY, QARN_RESULT_TIMEOUT});
        if (!command) return command.error();
        auto list = command->data<QarnSearchList>();
        if (!list) return list.error();
        int count = list->count < 0 ? 0 : std::min(list->count, QARN_SEARCH_CAPACITY);
        return std::vector<int>(list->address, list->address + count);
    }

    // Records.
    Result<std::vector<Record>> realtime(int terminal, int count = 0) {
        if (count < 0 || count > 255) return Bad("the record count", count);
        return Records(terminal, 0x06, Block(QarnValue{count}));
    }
    // Every record of the range, each with its number, asked for batch (1 to 255) at a time,
    // until the range ends or the terminal has no more. With no range: all records
    // (record_range()).
    Result<std::vector<Record>> records(int terminal, const RecordRange& range,
                                        int batch = kRecordsPerRequest) {
        return Collect(terminal, 0x10, range, batch);
    }
    Result<std::vector<Record>> records(int terminal, int batch = kRecordsPerRequest) {
        auto range = record_range(terminal);
        if (!range) return range.error();
        return records(terminal, *range, batch);
    }
    Result<std::vector<Record>> backup_records(int terminal, const RecordRange& range,
                                               int batch = kRecordsPerRequest) {
        return Collect(terminal, 0x36, range, batch);
    }
    // Where the records begin and how many there are: all, or those of a date range.
    Result<RecordRange> record_range(int terminal) {
        return Data<RecordRange>(terminal, 0x11, Block(QarnRecordRangeRequest{}));
    }
    Result<RecordRange> record_range(int terminal, const Date& from, const Date& to) {
        return Data<RecordRange>(terminal, 0x11,
                                 Block(QarnRecordRangeRequest{1, from.year, from.month, from.day,
                                                              to.year, to.month, to.day}));
    }
    Result<int> current_index(int terminal) {
        auto index = Data<QarnRecordIndex>(terminal, 0x1E, {});
        if (!index) return index.error();
        return index->index;
    }
    Result<void> set_write_pointer(int terminal, int value) {
        return Acknowledged(terminal, 0x1A, Byte(value));
    }
    // Marks the oldest records as taken; confirm_taken() erases them.
    Result<void> take_records(int terminal, int count) {
        return Acknowledged(terminal, 0x1C, Byte(count));
    }
    Result<void> confirm_taken(int terminal) { return Transmitted(terminal, 0x1D, {}); }
    Result<void> init_pointer(int terminal) { return Acknowledged(terminal, 0x84, {}); }

    // Properties and status.
    Result<Property> property(int terminal) { return Data<Property>(terminal, 0x13, {}); }
    Result<void> set_property(int terminal, int item, uint32_t value) {
        return Acknowledged(terminal, 0x12, Block(QarnSetting{item, value}));
    }
    Result<SystemProperty> system_property(int terminal) {
        return Data<SystemProperty>(terminal, 0x15, {});
    }
    Result<void> set_system_property(int terminal, int item, uint32_t value) {
        return Acknowledged(terminal, 0x14, Block(QarnSetting{item, value}));
    }
    Result<Status> status(int terminal) { return Data<Status>(terminal, 0x16, {}); }
    Result<ListCounts> list_counts(int terminal) { return Data<ListCounts>(terminal, 0x17, {}); }
    Result<void> set_time_slots(int terminal, const TimeSlots& slots) {
        return Acknowledged(terminal, 0x18, Block(slots));
    }
    Result<void> set_card_times(int terminal, const CardTimes& times) {
        return Acknowledged(terminal, 0x19, Block(times));
    }
    Result<void> set_title(int terminal, const Title& title) {
        return Acknowledged(terminal, 0x86, Block(title));
    }
    Result<void> init_property(int terminal) { return Acknowledged(terminal, 0x83, {}); }
    Result<void> init_terminal(int terminal) { return Acknowledged(terminal, 0x85, {}); }

    // Signals and the lock.
    Result<void> beep(int terminal, int value = 1) {
        return Acknowledged(terminal, 0x1B, Byte(value));
    }
    Result<void> open_lock(int terminal, int value = 1) {
        return Acknowledged(terminal, 0xA4, Byte(value));
    }
    // The test frame: count bytes 0, 1, 2, ...
    Result<void> test(int terminal, int count) {
        if (count < 0 || count > 4000) return Bad("the test byte count", count);
        return Acknowledged(terminal, 0x80, Block(QarnValue{count}));
    }

    // The card in the terminal's reader, in the layout asked for.
    Result<Card1> read_card1(int terminal) { return ReadCard<Card1>(terminal, 1); }
    Result<Card2> read_card2(int terminal) { return ReadCard<Card2>(terminal, 2); }
    Result<Card3> read_card3(int terminal) { return ReadCard<Card3>(terminal, 3); }
    Result<Card254> read_card254(int terminal) { return ReadCard<Card254>(terminal, 254); }
    // The sub-code field is set from the layout.
    Result<void> write_card(int terminal, Card1 card) { return WriteCard(terminal, 0x61, card, 1); }
    Result<void> write_card(int terminal, Card2 card) { return WriteCard(terminal, 0x61, card, 2); }
    Result<void> write_card(int terminal, Card3 card) { return WriteCard(terminal, 0x61, card, 3); }
    Result<void> write_card(int terminal, Card254 card) {
        return WriteCard(terminal, 0x61, card, 254);
    }
    Result<void> update_card(int terminal, Card1 card) {
        return WriteCard(terminal, 0x66, card, 1);
    }
    Result<CardId> read_card_id(int terminal) { return Data<CardId>(terminal, 0x64, {}); }

    // Money on the card, in hundredths; each returns the card's money afterwards.
    Result<Money> add_money(int terminal, int32_t amount, int attribute = 0) {
        return MoneyCommand(terminal, 0x62, amount, attribute);
    }
    Result<Money> dec_money(int terminal, int32_t amount, int attribute = 0) {
        return MoneyCommand(terminal, 0x63, amount, attribute);
    }
    Result<Money> read_money(int terminal) {
        return Data<Money>(terminal, 0x67, Block(QarnValue{QARN_MONEY_SUB_CODE}));
    }

    // Keys.
    Result<void> init_card_key(int terminal, int lead, const Key& first, const Key& second) {
        ParamBlock block(36);
        block.put_int(0, lead);
        HexKeys(block, 4, {first, second});
        return Acknowledged(terminal, 0x65, std::move(block));
    }
    Result<void> download_system_key(int terminal, int lead, const std::array<Key, 4>& keys,
                                     int trailing) {
        return Acknowledged(terminal, 0xA0, FourKeys(lead, keys, trailing));
    }
    Result<void> update_card_key(int terminal, int lead, const std::array<Key, 4>& keys,
                                 int trailing) {
        return Acknowledged(terminal, 0x68, FourKeys(lead, keys, trailing));
    }
    Result<void> download_user_key(int terminal, int lead, const Key& first, const Key& second) {
        ParamBlock block(20);
        block.put_int(0, lead).put_bytes(4, first.data(), 8).put_bytes(12, second.data(), 8);
        return Acknowledged(terminal, 0xA1, std::move(block));
    }
    Result<void> write_system_card(int terminal, const std::array<Key, 4>& keys, int middle,
                                   const std::array<Key, 2>& more) {
        ParamBlock block(100);
        HexKeys(block, 0, {keys[0], keys[1], keys[2], keys[3]});
        block.put_int(64, middle);
        HexKeys(block, 68, {more[0], more[1]});
        return Acknowledged(terminal, 0xC8, std::move(block));
    }
    Result<void> load_system_key(int terminal, int lead, const Key& key) {
        ParamBlock block(20);
        block.put_int(0, lead);
        HexKeys(block, 4, {key});
        return Acknowledged(terminal, 0xC9, std::move(block));
    }
    Result<void> init_keys(int terminal) { return Acknowledged(terminal, 0xCA, {}); }

    // Card lists.
    Result<void> reset_white_list(int terminal) { return Acknowledged(terminal, 0x81, Byte(0)); }
    Result<void> reset_black_list(int terminal) { return Acknowledged(terminal, 0x82, Byte(0)); }
    Result<void> add_black_card(int terminal, uint32_t number) {
        // The terminal takes the block's first four bytes as they are stored.
        return Acknowledged(terminal, 0xA3, ParamBlock(4).put_int(0, number));
    }
    // A list file (write_list_file) of the kind given; the file's kind is checked first.
    Result<void> download_list(int terminal, ListKind kind, const std::string& path,
                               Progress progress = {}) {
        return Download(terminal, 0xA2, path, detail::ListFrames(path, kind), progress);
    }
    // Grades: the flag, then one byte per item.
    Result<void> set_grades(int terminal, bool flag, const std::vector<uint8_t>& items) {
        if (items.size() > 4000) return Bad("the grade count", static_cast<long>(items.size()));
        ParamBlock block(8 + 4 * items.size());
        block.put_int(0, flag).put_int(4, static_cast<int64_t>(items.size()));
        for (size_t i = 0; i < items.size(); ++i)
            block.put_int(8 + 4 * i, items[i]);
        return Acknowledged(terminal, 0xA5, std::move(block));
    }

    // File downloads. The program download is an internal command (set_internal_commands).
    Result<void> download_program(int terminal, const std::string& path, Progress progress = {}) {
        return Download(terminal, 0xC0, path, detail::ProgramFrames(path), progress);
    }
    Result<void> download_pages(int terminal, const std::string& path, Progress progress = {}) {
        return Download(terminal, 0xC5, path, detail::PageFrames(path), progress);
    }

    // Internal commands (set_internal_commands).
    Result<void> set_serial_number(int terminal, uint32_t serial) {
        return Acknowledged(terminal, 0xC7, ParamBlock(4).put_int(0, serial));
    }
    Result<void> set_inner_setting(int terminal, int value, const std::string& text) {
        if (text.size() > 10) return Error(Failure::argument, -1, "qarn: at most 10 characters");
        ParamBlock block(14);
        block.put_int(0, value).put_text(4, text, 10, '\0');
        return Acknowledged(terminal, 0xCD, std::move(block));
    }

  private:
    struct State {
        int handle = 0;
        std::thread::id owner = std::this_thread::get_id();
        std::shared_ptr<NotifyWindow::State> window;
        std::unique_ptr<NotifyWindow> ownWindow; // when the device made its own
        Progress progress;
        int sent = 0;
        int total = 0;
        bool big5 = false;

        void Notified(int message) {
            if (message != WM_HDLC_SENT || !progress || total <= 0) return;
            // A retransmission counts too; the last step waits for the command's end.
            sent = std::min(sent + 1, total - 1);
            Progress call = progress;
            call(sent, total);
        }
    };

    explicit Device(std::unique_ptr<State> state) : state_(std::move(state)) {}

    static Error Bad(const char* what, long value) {
        return Error(Failure::argument, -1,
                     std::string("qarn: ") + what + " " + std::to_string(value) +
                         " is out of range");
    }

    static std::string Describe(int terminal, int code) {
        char text[64];
        std::snprintf(text, sizeof text, "command 0x%02X to terminal 0x%04X", code, terminal);
        return text;
    }

    std::optional<Error> Misuse() const {
        if (!state_) return Error(Failure::open, -1, "qarn: the device is closed or moved from");
        if (std::this_thread::get_id() != state_->owner)
            return Error(Failure::thread, -1,
                         "qarn: a qarn::Device belongs to the thread that opened it");
        return std::nullopt;
    }

    template <class Call> Result<void> Apply(Call call) {
        if (auto misuse = Misuse()) return *misuse;
        call();
        return {};
    }

    Result<Bytes> Dump(int (*call)(int, char*), size_t length) {
        if (auto misuse = Misuse()) return *misuse;
        std::string text(length, '\0');
        if (call(state_->handle, &text[0]) != 1) return Bytes();
        return detail::FromDump(text);
    }

    template <class Layout> static ParamBlock Block(const Layout& layout) {
        return ParamBlock(sizeof layout).put_bytes(0, &layout, sizeof layout);
    }
    static ParamBlock Byte(int value) { return Block(QarnValue{value}); }

    // Runs the command and checks that its result is one of the successes.
    Result<Command> Expect(int terminal, int code, ParamBlock params,
                           std::initializer_list<int> successes) {
        auto command = run(terminal, code, std::move(params));
        if (!command) return command;
        int result = command->result();
        for (int success : successes)
            if (result == success) return command;
        return Error(Failure::result, result,
                     "qarn: " + Describe(terminal, code) + ": " + qarn_result_text(result) +
                         " (result " + std::to_string(result) + ")");
    }
    Result<void> Acknowledged(int terminal, int code, ParamBlock params) {
        auto command = Expect(terminal, code, std::move(params), {QARN_RESULT_ACKNOWLEDGED});
        if (!command) return command.error();
        return {};
    }
    Result<void> Transmitted(int terminal, int code, ParamBlock params) {
        auto command = Expect(terminal, code, std::move(params), {QARN_RESULT_TRANSMITTED});
        if (!command) return command.error();
        return {};
    }
    template <class Layout> Result<Layout> Data(int terminal, int code, ParamBlock params) {
        auto command = Expect(terminal, code, std::move(params), {QARN_RESULT_DATA_READY});
        if (!command) return command.error();
        return command->data<Layout>();
    }

    // The library tells the form: the size alone cannot (3 short records or 2 long are 120 bytes).
    static std::vector<Record> Decode(const Command& command) {
        std::vector<uint8_t> bytes = command.bytes();
        std::vector<Record> records;
        bool longForm = command.record_form() == QARN_RECORDS_LONG;
        size_t size = longForm ? sizeof(QarnLongRecord) : sizeof(QarnRecord);
        for (size_t at = 0; at + size <= bytes.size(); at += size) {
            if (longForm) {
                QarnLongRecord entry;
                std::memcpy(&entry, &bytes[at], sizeof entry);
                records.push_back(Record::from(entry));
            } else {
                QarnRecord entry;
                std::memcpy(&entry, &bytes[at], sizeof entry);
                records.push_back(Record::from(entry));
            }
        }
        return records;
    }

    Result<std::vector<Record>> Records(int terminal, int code, ParamBlock params) {
        auto command = Expect(terminal, code, std::move(params),
                              {QARN_RESULT_DATA_READY, QARN_RESULT_NO_RECORDS});
        if (!command) return command.error();
        return Decode(*command);
    }

    // A reply holds the records asked for from its first number on, in order.
    Result<std::vector<Record>> Collect(int terminal, int code, const RecordRange& range,
                                        int batch) {
        if (range.first < 0 || range.count < 0 || range.first > 0xFFFF)
            return Bad("the record range start", range.first);
        if (batch < 1 || batch > kMostRecordsPerRequest) return Bad("the record batch", batch);
        std::vector<Record> all;
        int next = range.first, left = range.count;
        while (left > 0 && next <= 0xFFFF) {
            int count = std::min(left, batch);
            auto chunk = Records(terminal, code, Block(QarnRecordRequest{next, count}));
            if (!chunk) return chunk.error();
            if (chunk->empty()) break;
            for (Record& record : *chunk)
                record.number = next++;
            all.insert(all.end(), chunk->begin(), chunk->end());
            left -= static_cast<int>(chunk->size());
        }
        return all;
    }

    template <class Layout> Result<Layout> ReadCard(int terminal, int subCode) {
        return Data<Layout>(terminal, 0x60, Block(QarnValue{subCode}));
    }
    template <class Layout>
    Result<void> WriteCard(int terminal, int code, Layout card, int subCode) {
        card.sub_code = subCode;
        return Acknowledged(terminal, code, Block(card));
    }
    Result<Money> MoneyCommand(int terminal, int code, int32_t amount, int attribute) {
        QarnMoney money{};
        money.sub_code = QARN_MONEY_SUB_CODE;
        money.amount = amount;
        money.attribute = attribute;
        return Data<Money>(terminal, code, Block(money));
    }

    // Keys as the 16-digit hexadecimal texts the key commands read, from offset at on.
    static void HexKeys(ParamBlock& block, size_t at, std::initializer_list<Key> keys) {
        for (const Key& key : keys) {
            char digits[17];
            for (size_t i = 0; i < key.size(); ++i)
                std::snprintf(digits + 2 * i, 3, "%02X", key[i]);
            block.put_text(at, std::string(digits, 16), 16);
            at += 16;
        }
    }
    static ParamBlock FourKeys(int lead, const std::array<Key, 4>& keys, int trailing) {
        ParamBlock block(72);
        block.put_int(0, lead).put_int(68, trailing);
        HexKeys(block, 4, {keys[0], keys[1], keys[2], keys[3]});
        return block;
    }

    Result<void> Download(int terminal, int code, const std::string& path, Result<int> frames,
                          const Progress& progress) {
        if (!frames) return frames.error();
        if (path.find('\0') != std::string::npos)
            return Error(Failure::argument, -1, "qarn: a path cannot hold a NUL character");
        if (auto misuse = Misuse()) return *misuse;
        ParamBlock block(path.size() + 1);
        block.put_text(0, path, path.size(), '\0');
        state_->progress = progress;
        state_->sent = 0;
        state_->total = *frames;
        auto done = Acknowledged(terminal, code, std::move(block));
        if (state_ && state_->progress) {
            if (done) state_->progress(*frames, *frames);
            state_->progress = nullptr;
        }
        return done;
    }

    std::unique_ptr<State> state_;
};

} // namespace qarn
