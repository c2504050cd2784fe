// The IC card in a terminal's reader: its data in the four layouts, its money and its id.
#include <algorithm>
#include <cstring>
#include <memory>

#include "arguments.h"
#include "context.h"
#include "qarn/card_text.hpp"
#include "qarn_layouts.h"

namespace qarnctl {

namespace {

constexpr int kReadCard = 0x60;
constexpr int kWriteCard = 0x61;
constexpr int kAddMoney = 0x62;
constexpr int kSubtractMoney = 0x63;
constexpr int kReadCardId = 0x64;
constexpr int kReadMoney = 0x67;
constexpr char kCodeCharacters[] =
    " 0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz";
constexpr char kNarrowCodeCharacters[] = " 0123456789ABCDE";

struct CardOptions {
    std::string terminal;
    int layout = QARN_CARD_LAYOUT_1;
    // Fields to write; the others keep what the card holds.
    std::string number, code, password, name, date;
    std::string attribute[4];
    std::string add, subtract, moneyAttribute;
};

// Cards keep seven code characters; closed up to the left, the first two may be any of the 64
// code characters and the other five only space, 0-9 and A-E.
std::string CheckRecordCode(const std::string& text) {
    if (text.size() > 7) return "record code '" + text + "' is longer than 7 characters";
    std::string closed;
    for (char c : text) {
        if (std::strchr(kCodeCharacters, c) == nullptr || c == '\0')
            return "record code '" + text + "' has a character outside 0-9, A-Z, a-z and _";
        if (c != ' ') closed += c;
    }
    for (size_t i = 2; i < closed.size(); ++i)
        if (std::strchr(kNarrowCodeCharacters, closed[i]) == nullptr)
            return "record code '" + text + "': from the third character on only 0-9 and A-E";
    return "";
}

std::string CheckPassword(const std::string& text) {
    if (text.size() != 4 || text.find_first_not_of("0123456789") != std::string::npos)
        return "password '" + text + "' is not four digits";
    return "";
}

// Names are UTF-8 here and GB2312 on the card, where they take up to 8 bytes.
std::string CheckName(const std::string& text) {
    auto bytes = qarn::encode_text(text, qarn::TextCode::gb2312);
    if (!bytes) return "card name '" + text + "' has a character with no form in GB2312";
    if (bytes->size() > sizeof(QarnCardLayout1::name))
        return "card name '" + text + "' takes " + std::to_string(bytes->size()) +
               " bytes in GB2312; a card holds 8";
    return "";
}

void PutText(char* field, size_t size, const std::string& text) {
    std::memset(field, ' ', size);
    std::memcpy(field, text.data(), std::min(size, text.size()));
}

void Begin(Report& report, Context& context, int terminal) {
    report.json["command"] = context.commandName;
    report.json["terminal"] = terminal;
    report.Field("terminal", Address(terminal));
}

template <typename T> T EntryOf(const CommandReply& reply) {
    T entry{};
    if (!reply.data.empty())
        std::memcpy(&entry, reply.data.data(), std::min(sizeof entry, reply.data.size()));
    return entry;
}

// The fields layouts 1, 2 and 3 share, in both views.
template <typename Card> void ShowCommon(Report& report, const Card& card) {
    std::string code = FieldText(card.record_code, sizeof card.record_code);
    std::string password = FieldText(card.password, sizeof card.password);
    std::string name = qarn::field_text(card.name, qarn::TextCode::gb2312);
    std::string date = IsoDate(card.year, card.month, card.day);
    nlohmann::json& json = report.json["card"];
    json["sub_code"] = card.sub_code;
    json["number"] = static_cast<uint32_t>(card.number);
    json["record_code"] = code;
    json["password"] = password;
    json["name"] = name;
    json["year"] = card.year;
    json["month"] = card.month;
    json["day"] = card.day;
    json["date"] = date;
    report.Field("layout", std::to_string(card.sub_code));
    report.Field("number", std::to_string(static_cast<uint32_t>(card.number)));
    report.Field("record code", "\"" + code + "\"");
    report.Field("password", password);
    report.Field("name", "\"" + name + "\"");
    report.Field("date", date);
}

void ShowCard(Report& report, int layout, const std::vector<uint8_t>& data) {
    CommandReply reply;
    reply.data = data;
    if (layout == QARN_CARD_LAYOUT_1 || layout == QARN_CARD_LAYOUT_2) {
        QarnCardLayout2 card = EntryOf<QarnCardLayout2>(reply); // layout 1 is its first 48 bytes
        ShowCommon(report, card);
        report.json["card"]["attribute1"] = card.attribute1;
        report.json["card"]["attribute2"] = card.attribute2;
        report.Field("attributes",
                     std::to_string(card.attribute1) + ", " + std::to_string(card.attribute2));
        if (layout == QARN_CARD_LAYOUT_2) {
            report.json["card"]["value16"] = card.value16;
            report.Field("value16", std::to_string(card.value16));
        }
    } else if (layout == QARN_CARD_LAYOUT_3) {
        QarnCardLayout3 card = EntryOf<QarnCardLayout3>(reply);
        ShowCommon(report, card);
        report.json["card"]["attribute3"] = card.attribute3;
        report.json["card"]["attribute4"] = card.attribute4;
        report.Field("attributes",
                     std::to_string(card.attribute3) + ", " + std::to_string(card.attribute4));
    } else {
        QarnCardLayout254 card = EntryOf<QarnCardLayout254>(reply);
        std::string password = FieldText(card.password, sizeof card.password);
        report.json["card"] = {{"sub_code", card.sub_code},
                               {"number", static_cast<uint32_t>(card.number)},
                               {"password", password}};
        report.Field("layout", "254");
        report.Field("number", std::to_string(static_cast<uint32_t>(card.number)));
        report.Field("password", password);
    }
}

int ReadCard(Context& context, const CardOptions& options) {
    if (!context.OpenLine()) return kExitFailure;
    int terminal = TerminalOf(options.terminal);
    QarnValue layout = {options.layout};
    CommandReply reply = context.Line().Run(terminal, kReadCard, &layout);
    Report report;
    Begin(report, context, terminal);
    report.SetResult(reply.result);
    if (reply.result == QARN_RESULT_DATA_READY) ShowCard(report, options.layout, reply.data);
    return context.Conclude(report, reply, {QARN_RESULT_DATA_READY});
}

template <typename Card> void ChangeCommon(Card& card, const CardOptions& options) {
    if (!options.code.empty()) PutText(card.record_code, sizeof card.record_code, options.code);
    if (!options.password.empty())
        std::memcpy(card.password, options.password.data(), sizeof card.password);
    if (!options.name.empty())
        PutText(card.name, sizeof card.name,
                qarn::encode_text(options.name, qarn::TextCode::gb2312).value());
    if (!options.date.empty()) {
        Date date;
        ParseDate(options.date, date);
        card.year = date.year;
        card.month = date.month;
        card.day = date.day;
    }
}

int32_t NumberOf(const std::string& text) {
    long long value = 0;
    ParseNumber(text, 0, 0xFFFFFFFFLL, value);
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

// Reads the card in the layout, changes the fields given and writes it back.
int WriteCard(Context& context, const CardOptions& options) {
    if (!context.OpenLine()) return kExitFailure;
    int terminal = TerminalOf(options.terminal);
    QarnValue layout = {options.layout};
    CommandReply read = context.Line().Run(terminal, kReadCard, &layout);
    Report report;
    Begin(report, context, terminal);
    if (read.result != QARN_RESULT_DATA_READY) {
        report.SetResult(read.result);
        context.err << "qarnctl: " << context.commandName << ": the card could not be read first\n";
        return context.Conclude(report, read, {QARN_RESULT_DATA_READY});
    }
    QarnCardLayout2 first = EntryOf<QarnCardLayout2>(read);
    QarnCardLayout3 third = EntryOf<QarnCardLayout3>(read);
    QarnCardLayout254 last = EntryOf<QarnCardLayout254>(read);
    auto attribute = [&](int i, int32_t& field) {
        if (!options.attribute[i].empty()) field = NumberOf(options.attribute[i]);
    };
    void* params = &first;
    std::vector<uint8_t> written;
    if (options.layout == QARN_CARD_LAYOUT_3) {
        ChangeCommon(third, options);
        if (!options.number.empty()) third.number = NumberOf(options.number);
        attribute(2, third.attribute3);
        attribute(3, third.attribute4);
        params = &third;
        written.assign(reinterpret_cast<uint8_t*>(&third),
                       reinterpret_cast<uint8_t*>(&third) + sizeof third);
    } else if (options.layout == QARN_CARD_LAYOUT_254) {
        if (!options.number.empty()) last.number = NumberOf(options.number);
        params = &last;
        written.assign(reinterpret_cast<uint8_t*>(&last),
                       reinterpret_cast<uint8_t*>(&last) + sizeof last);
    } else {
        ChangeCommon(first, options);
        if (!options.number.empty()) first.number = NumberOf(options.number);
        attribute(0, first.attribute1);
        attribute(1, first.attribute2);
        written.assign(reinterpret_cast<uint8_t*>(&first),
                       reinterpret_cast<uint8_t*>(&first) + sizeof first);
    }
    CommandReply reply = context.Line().Run(terminal, kWriteCard, params);
    ShowCard(report, options.layout, written);
    report.SetResult(reply.result);
    return context.Conclude(report, reply, {QARN_RESULT_ACKNOWLEDGED});
}

int MoneyCommand(Context& context, const CardOptions& options) {
    if (!context.OpenLine()) return kExitFailure;
    int terminal = TerminalOf(options.terminal);
    QarnMoney money{};
    money.sub_code = QARN_MONEY_SUB_CODE;
    int code = kReadMoney;
    if (!options.add.empty() || !options.subtract.empty()) {
        code = options.add.empty() ? kSubtractMoney : kAddMoney;
        ParseMoney(options.add.empty() ? options.subtract : options.add, money.amount);
        money.attribute = options.moneyAttribute.empty() ? 0 : NumberOf(options.moneyAttribute);
    }
    CommandReply reply = context.Line().Run(terminal, code, &money);
    Report report;
    Begin(report, context, terminal);
    // The change is claimed only when the terminal confirmed it.
    if (code != kReadMoney && reply.result == QARN_RESULT_DATA_READY) {
        report.json[code == kAddMoney ? "added" : "subtracted"] = Money(money.amount);
        report.Field(code == kAddMoney ? "added" : "subtracted", Money(money.amount));
    }
    report.SetResult(reply.result);
    if (reply.result == QARN_RESULT_DATA_READY) {
        QarnMoney m = EntryOf<QarnMoney>(reply);
        std::string date = IsoDate(m.year, m.month, m.day);
        report.json["money"] = {{"sub_code", m.sub_code},
                                {"amount", m.amount},
                                {"balance", Money(m.amount)},
                                {"attribute", m.attribute},
                                {"year", m.year},
                                {"month", m.month},
                                {"day", m.day},
                                {"value16", m.value16},
                                {"date", date}};
        report.Field("balance", Money(m.amount));
        report.Field("attribute", std::to_string(m.attribute));
        report.Field("last change", date);
        report.Field("value16", std::to_string(m.value16));
    }
    return context.Conclude(report, reply, {QARN_RESULT_DATA_READY});
}

int CardId(Context& context, const CardOptions& options) {
    if (!context.OpenLine()) return kExitFailure;
    int terminal = TerminalOf(options.terminal);
    CommandReply reply = context.Line().Run(terminal, kReadCardId);
    Report report;
    Begin(report, context, terminal);
    report.SetResult(reply.result);
    if (reply.result == QARN_RESULT_DATA_READY) {
        QarnCardId id = EntryOf<QarnCardId>(reply);
        report.json["card_id"] = {{"kind", id.kind}, {"id", static_cast<uint32_t>(id.id)}};
        report.Field("kind", std::to_string(id.kind));
        report.Field("id", std::to_string(static_cast<uint32_t>(id.id)));
    }
    return context.Conclude(report, reply, {QARN_RESULT_DATA_READY});
}

CLI::Validator Check(std::string (*check)(const std::string&), const char* name) {
    return CLI::Validator([check](std::string& text) { return check(text); }, name);
}

CLI::Validator NumberCheck(long long high) {
    return CLI::Validator(
        [high](std::string& text) {
            long long value;
            return ParseNumber(text, 0, high, value);
        },
        "NUMBER");
}

void AddTerminal(CLI::App* command, CardOptions& options) {
    command->add_option("TERMINAL", options.terminal, "terminal address, 0 to 65535")
        ->required()
        ->check(AddressValidator());
}

void AddLayout(CLI::App* command, CardOptions& options) {
    command->add_option("--layout", options.layout, "card layout: 1, 2, 3 or 254 (default 1)")
        ->check(CLI::IsMember({1, 2, 3, 254}));
}

} // namespace

void AddCardCommands(CLI::App& app, Action& chosen) {
    CLI::App* card = app.add_subcommand("card", "the IC card in a terminal's reader");
    card->require_subcommand(1);
    auto options = std::make_shared<CardOptions>();

    CLI::App* read = card->add_subcommand("read", "read the card's data in one layout");
    AddTerminal(read, *options);
    AddLayout(read, *options);
    read->callback(
        [&chosen, options] { chosen = [options](Context& c) { return ReadCard(c, *options); }; });

    CLI::App* write = card->add_subcommand(
        "write", "change fields of the card's data; the fields not given keep their values");
    AddTerminal(write, *options);
    AddLayout(write, *options);
    write->add_option("--number", options->number, "number field")
        ->check(NumberCheck(0xFFFFFFFFLL));
    write->add_option("--code", options->code, "record code, up to 7 characters")
        ->check(Check(CheckRecordCode, "CODE"));
    write->add_option("--password", options->password, "four digits")
        ->check(Check(CheckPassword, "DIGITS"));
    write
        ->add_option("--name", options->name,
                     "card holder's name, up to 8 bytes in GB2312 (4 Chinese characters)")
        ->check(Check(CheckName, "NAME"));
    write->add_option("--date", options->date, "the card's date, YYYY-MM-DD")
        ->check(DateValidator());
    for (int i = 0; i < 4; ++i)
        write
            ->add_option("--attribute" + std::to_string(i + 1), options->attribute[i],
                         i < 2 ? "attribute of layouts 1 and 2, 0 to 255"
                               : "attribute of layout 3, 0 to 255")
            ->check(NumberCheck(255));
    write->callback(
        [&chosen, options] { chosen = [options](Context& c) { return WriteCard(c, *options); }; });

    CLI::App* money = card->add_subcommand("money", "read the card's balance, or add or subtract");
    AddTerminal(money, *options);
    CLI::Option* add = money->add_option("--add", options->add, "amount to add, e.g. 12.50")
                           ->check(MoneyValidator());
    money->add_option("--subtract", options->subtract, "amount to subtract")
        ->check(MoneyValidator())
        ->excludes(add);
    money->add_option("--attribute", options->moneyAttribute, "money attribute, 0 to 255")
        ->check(NumberCheck(255));
    money->callback([&chosen, options] {
        chosen = [options](Context& c) { return MoneyCommand(c, *options); };
    });

    CLI::App* id = card->add_subcommand("id", "read the card's identifier");
    AddTerminal(id, *options);
    id->callback(
        [&chosen, options] { chosen = [options](Context& c) { return CardId(c, *options); }; });
}

} // namespace qarnctl
