// Key downloads. Card and system keys arrive DES-enciphered under key table bytes 8 to 15,
// user and system card keys masked with key table bytes 0 to 7; the terminal keeps them plain.
#include "dmsim/checks.h"
#include "dmsim/des.h"

#include <algorithm>

namespace dmsim {

namespace {

constexpr size_t kDesKeyOffset = 8;

Key Decipher(const CommandContext& context, const uint8_t* block) {
    Key key;
    DesDecipher(context.keyTable + kDesKeyOffset).Decipher(block, key.data());
    return key;
}

Key Unmask(const CommandContext& context, const uint8_t* block) {
    Key key;
    for (size_t i = 0; i < key.size(); ++i)
        key[i] = block[i] ^ context.keyTable[i];
    return key;
}

// Lead byte, then `count` enciphered keys.
KeySet ReadEnciphered(const CommandContext& context, const uint8_t* payload, size_t count) {
    KeySet set;
    set.lead = payload[0];
    for (size_t i = 0; i < count; ++i)
        set.keys.push_back(Decipher(context, payload + 1 + 8 * i));
    return set;
}

void Store(Terminal& terminal, uint8_t code, KeySet set, Reply& reply) {
    terminal.keys[code] = std::move(set);
    Acknowledge(reply, code, terminal.ackStatus);
}

} // namespace

void HandleCardKeys(const CommandContext& context, Terminal& terminal, const uint8_t* payload,
                    size_t size, Reply& reply) {
    if (HasLength(terminal, 0x65, size, 17, reply))
        Store(terminal, 0x65, ReadEnciphered(context, payload, 2), reply);
}

// "DownLoad Sys_Key" and "Upadte Card_Key" share their layout; each keeps its own keys.
void HandleFourKeys(const CommandContext& context, Terminal& terminal, const uint8_t* payload,
                    size_t size, Reply& reply) {
    uint8_t code = context.code;
    if (!HasLength(terminal, code, size, 34, reply)) return;
    KeySet set = ReadEnciphered(context, payload, 4);
    set.trailing = payload[33];
    Store(terminal, code, std::move(set), reply);
}

void HandleUserKeys(const CommandContext& context, Terminal& terminal, const uint8_t* payload,
                    size_t size, Reply& reply) {
    if (!HasLength(terminal, 0xA1, size, 18, reply)) return;
    KeySet set;
    set.lead = payload[0];
    set.keys = {Unmask(context, payload + 1), Unmask(context, payload + 9)};
    Store(terminal, 0xA1, std::move(set), reply);
}

// Six masked keys around a middle value; the six bytes after them interleave the masked fifth
// and sixth keys, and a mismatch there means a damaged payload.
void HandleSystemCard(const CommandContext& context, Terminal& terminal, const uint8_t* payload,
                      size_t size, Reply& reply) {
    if (!HasLength(terminal, 0xC8, size, 65, reply)) return;
    const uint8_t* fifth = payload + 37;
    const uint8_t* sixth = payload + 45;
    for (size_t i = 0; i < 6; ++i) {
        if (payload[53 + i] != (i % 2 == 0 ? fifth[i] : sixth[i])) {
            Acknowledge(reply, 0xC8, terminal.rejectStatus);
            return;
        }
    }
    KeySet set;
    set.lead = payload[32];
    for (size_t i = 0; i < 4; ++i)
        set.keys.push_back(Unmask(context, payload + 8 * i));
    set.keys.push_back(Unmask(context, fifth));
    set.keys.push_back(Unmask(context, sixth));
    Store(terminal, 0xC8, std::move(set), reply);
}

// The key comes twice; two different copies mean a damaged payload.
void HandleLoadSystemKey(const CommandContext& context, Terminal& terminal, const uint8_t* payload,
                         size_t size, Reply& reply) {
    if (!HasLength(terminal, 0xC9, size, 17, reply)) return;
    if (!std::equal(payload + 1, payload + 9, payload + 9)) {
        Acknowledge(reply, 0xC9, terminal.rejectStatus);
        return;
    }
    KeySet set;
    set.lead = payload[0];
    set.keys = {Unmask(context, payload + 1)};
    Store(terminal, 0xC9, std::move(set), reply);
}

void HandleInitKeys(const CommandContext&, Terminal& terminal, const uint8_t*, size_t size,
                    Reply& reply) {
    if (!HasLength(terminal, 0xCA, size, 0, reply)) return;
    terminal.keys.clear();
    Acknowledge(reply, 0xCA, terminal.ackStatus);
}

} // namespace dmsim
