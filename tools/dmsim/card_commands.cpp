// The IC card in the reader: card data in four layouts, money and the card identifier.
#include "dmsim/checks.h"
#include "dmsim/encoding.h"

#include <algorithm>

namespace dmsim {

namespace {

constexpr int32_t kMaxBalance = 0x7FFFFFFF; // the largest magnitude a money reply can carry

void AppendPassword(Reply& out, uint16_t password, const uint8_t* mask) {
    out.push_back(static_cast<uint8_t>((password >> 8) ^ (mask != nullptr ? mask[0] : 0)));
    out.push_back(static_cast<uint8_t>(password ^ (mask != nullptr ? mask[1] : 0)));
}

uint16_t ReadPassword(const uint8_t* at, const uint8_t* mask) {
    auto high = static_cast<uint8_t>(at[0] ^ (mask != nullptr ? mask[0] : 0));
    auto low = static_cast<uint8_t>(at[1] ^ (mask != nullptr ? mask[1] : 0));
    return static_cast<uint16_t>(high << 8 | low);
}

void AppendDate(Reply& out, int year, int month, int day) {
    out.push_back(YearByte(year));
    out.push_back(static_cast<uint8_t>(month));
    out.push_back(static_cast<uint8_t>(day));
}

void ReadDate(const uint8_t* at, int& year, int& month, int& day) {
    year = 2000 + at[0];
    month = at[1];
    day = at[2];
}

// Layouts 1 and 2 share their first 24 bytes; layout 1 masks the password.
void AppendFirstLayouts(Reply& out, const Card& card, const uint8_t* mask) {
    AppendBe32(out, card.number);
    AppendRecordCode(out, card.recordCode);
    out.push_back(static_cast<uint8_t>(card.attribute1));
    out.push_back(static_cast<uint8_t>(card.attribute2));
    AppendPassword(out, card.password, mask);
    out.insert(out.end(), card.name.begin(), card.name.end());
    AppendDate(out, card.year, card.month, card.day);
}

void ReadFirstLayouts(const uint8_t* payload, Card& card, const uint8_t* mask) {
    card.number = GetBe32(payload + 1);
    card.recordCode = ReadRecordCode(payload + 5);
    card.attribute1 = payload[9];
    card.attribute2 = payload[10];
    card.password = ReadPassword(payload + 11, mask);
    std::copy(payload + 13, payload + 21, card.name.begin());
    ReadDate(payload + 21, card.year, card.month, card.day);
}

void AppendLayout1(Reply& out, const Card& card, const uint8_t* keyTable) {
    AppendFirstLayouts(out, card, keyTable);
    out.insert(out.end(), {0x01, 0x00, 0x00, 0x03, 0xAA});
}

void ReadLayout1(const uint8_t* payload, Card& card, const uint8_t* keyTable) {
    ReadFirstLayouts(payload, card, keyTable);
}

void AppendLayout2(Reply& out, const Card& card, const uint8_t*) {
    AppendFirstLayouts(out, card, nullptr);
    out.push_back(0x00);
    AppendDate(out, card.writtenYear, card.writtenMonth, card.writtenDay);
    out.insert(out.end(), 8, 0x00);
    AppendBe16(out, card.value16);
    out.insert(out.end(), 4, 0x00);
}

void ReadLayout2(const uint8_t* payload, Card& card, const uint8_t*) {
    ReadFirstLayouts(payload, card, nullptr);
    ReadDate(payload + 25, card.writtenYear, card.writtenMonth, card.writtenDay);
}

void AppendLayout3(Reply& out, const Card& card, const uint8_t*) {
    AppendBe32(out, card.number);
    AppendRecordCode(out, card.recordCode);
    AppendPassword(out, card.password, nullptr);
    out.insert(out.end(), card.name.begin(), card.name.end());
    AppendDate(out, card.year, card.month, card.day);
    out.push_back(static_cast<uint8_t>(card.attribute3));
    out.push_back(static_cast<uint8_t>(card.attribute4));
}

void ReadLayout3(const uint8_t* payload, Card& card, const uint8_t*) {
    card.number = GetBe32(payload + 1);
    card.recordCode = ReadRecordCode(payload + 5);
    card.password = ReadPassword(payload + 9, nullptr);
    std::copy(payload + 11, payload + 19, card.name.begin());
    ReadDate(payload + 19, card.year, card.month, card.day);
    card.attribute3 = payload[22];
    card.attribute4 = payload[23];
}

void AppendLayout254(Reply& out, const Card& card, const uint8_t*) {
    AppendBe32(out, card.number);
    AppendPassword(out, card.password, nullptr);
    out.insert(out.end(), 21, 0x00);
}

void ReadLayout254(const uint8_t* payload, Card& card, const uint8_t*) {
    card.number = GetBe32(payload + 1);
}

struct LayoutRow {
    uint8_t subCode;
    size_t size; // payload bytes, sub-code included
    void (*append)(Reply&, const Card&, const uint8_t* keyTable);
    void (*read)(const uint8_t* payload, Card&, const uint8_t* keyTable);
};

const LayoutRow kLayouts[] = {
    {1, 29, AppendLayout1, ReadLayout1},
    {2, 42, AppendLayout2, ReadLayout2},
    {3, 24, AppendLayout3, ReadLayout3},
    {254, 28, AppendLayout254, ReadLayout254},
};

const LayoutRow* FindLayout(uint8_t subCode) {
    for (const LayoutRow& row : kLayouts)
        if (row.subCode == subCode) return &row;
    return nullptr;
}

void Reject(const Terminal& terminal, uint8_t code, Reply& reply) {
    Acknowledge(reply, code, terminal.rejectStatus);
}

void StoreCard(const CommandContext& context, Terminal& terminal, uint8_t code,
               const LayoutRow* layout, const uint8_t* payload, size_t size, Reply& reply) {
    if (!terminal.card.present || layout == nullptr || size != layout->size) {
        Reject(terminal, code, reply);
        return;
    }
    layout->read(payload, terminal.card, context.keyTable);
    Acknowledge(reply, code, terminal.ackStatus);
}

void AppendMoney(Reply& reply, uint8_t code, const Card& card) {
    reply = {code, 0x02};
    AppendBe32(reply, SignMagnitude(card.balance, 32));
    reply.push_back(static_cast<uint8_t>(card.moneyAttribute));
    AppendDate(reply, card.moneyYear, card.moneyMonth, card.moneyDay);
    AppendBe16(reply, card.moneyCount);
}

// A negative amount, a balance that would fall below 0 or grow past what a reply can carry is
// refused and leaves the card unchanged.
void ChangeMoney(Terminal& terminal, uint8_t code, int sign, const uint8_t* payload, size_t size,
                 Reply& reply) {
    if (!terminal.card.present || size != 11 || payload[0] != 0x02) {
        Reject(terminal, code, reply);
        return;
    }
    auto amount = static_cast<int32_t>(GetBe32(payload + 1));
    int64_t balance = static_cast<int64_t>(terminal.card.balance) + sign * int64_t{amount};
    if (amount < 0 || balance < 0 || balance > kMaxBalance) {
        Reject(terminal, code, reply);
        return;
    }
    Card& card = terminal.card;
    card.balance = static_cast<int32_t>(balance);
    card.moneyAttribute = payload[5];
    ReadDate(payload + 6, card.moneyYear, card.moneyMonth, card.moneyDay);
    ++card.moneyCount;
    AppendMoney(reply, code, card);
}

} // namespace

void HandleReadCard(const CommandContext& context, Terminal& terminal, const uint8_t* payload,
                    size_t size, Reply& reply) {
    const LayoutRow* layout = size == 1 ? FindLayout(payload[0]) : nullptr;
    if (!terminal.card.present || layout == nullptr) {
        Reject(terminal, 0x60, reply);
        return;
    }
    reply = {0x60, layout->subCode};
    layout->append(reply, terminal.card, context.keyTable);
}

void HandleWriteCard(const CommandContext& context, Terminal& terminal, const uint8_t* payload,
                     size_t size, Reply& reply) {
    StoreCard(context, terminal, 0x61, size > 0 ? FindLayout(payload[0]) : nullptr, payload, size,
              reply);
}

void HandleUpdateCard(const CommandContext& context, Terminal& terminal, const uint8_t* payload,
                      size_t size, Reply& reply) {
    StoreCard(context, terminal, 0x66, size > 0 && payload[0] == 1 ? FindLayout(1) : nullptr,
              payload, size, reply);
}

void HandleAddMoney(const CommandContext&, Terminal& terminal, const uint8_t* payload, size_t size,
                    Reply& reply) {
    ChangeMoney(terminal, 0x62, 1, payload, size, reply);
}

void HandleDecMoney(const CommandContext&, Terminal& terminal, const uint8_t* payload, size_t size,
                    Reply& reply) {
    ChangeMoney(terminal, 0x63, -1, payload, size, reply);
}

void HandleReadMoney(const CommandContext&, Terminal& terminal, const uint8_t* payload, size_t size,
                     Reply& reply) {
    if (terminal.card.present && size == 1 && payload[0] == 0x02)
        AppendMoney(reply, 0x67, terminal.card);
    else
        Reject(terminal, 0x67, reply);
}

void HandleReadCardId(const CommandContext&, Terminal& terminal, const uint8_t*, size_t size,
                      Reply& reply) {
    if (!terminal.card.present || size != 0) {
        Reject(terminal, 0x64, reply);
        return;
    }
    reply = {0x64, terminal.card.idType};
    AppendBe32(reply, terminal.card.id);
}

} // namespace dmsim
