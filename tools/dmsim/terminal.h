// The state of one simulated terminal: what the commands set and what the replies report.
#pragma once

#include "dmsim/bytes.h"

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace dmsim {

using Key = std::array<uint8_t, 8>;

// The terminal's clock as the host last set it; it does not run, so replies are predictable.
struct Clock {
    int year = 2005;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int weekday = 7; // 1 = Sunday to 7 = Saturday; 2005-01-01 was a Saturday
};

// A transaction record. Terminals with short records send the identifier; those with long
// records send the code and the four values instead.
struct Record {
    uint32_t identifier = 0;
    std::string code = "       "; // 7 characters of the code character table
    int year = 2005;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    bool flagA = false;
    bool flagB = false;
    int32_t value24 = 0; // sent as 24-bit sign-magnitude
    int32_t value32 = 0; // sent as 32-bit sign-magnitude
    uint16_t value16 = 0;
    uint8_t value8 = 0;
};

struct TimeSlot {
    int minuteOfDay = 0;
    int value = 0;
};

struct TimeWindow {
    int start = 0; // minutes of the day
    int end = 0;
};

// The IC card in the terminal's reader.
struct Card {
    bool present = true;
    uint32_t number = 0;
    std::string recordCode = "       ";
    int attribute1 = 0;
    int attribute2 = 0;
    int attribute3 = 0;
    int attribute4 = 0;
    uint16_t password = 0;
    std::array<uint8_t, 8> name{}; // as stored on the card (GB2312, spaces as 0x00)
    int year = 2005;
    int month = 1;
    int day = 1;
    int writtenYear = 2005; // the host's date of the last layout-2 write
    int writtenMonth = 1;
    int writtenDay = 1;
    uint16_t value16 = 0; // layout 2 only
    int32_t balance = 0;
    int moneyAttribute = 0;
    int moneyYear = 2005; // date of the last money transaction
    int moneyMonth = 1;
    int moneyDay = 1;
    uint16_t moneyCount = 0; // money transactions so far
    uint8_t idType = 1;
    uint32_t id = 0;
};

// Keys loaded by one key command, deciphered or unmasked to their plain bytes.
struct KeySet {
    int lead = 0;     // the command's leading value (0xC8: its middle value)
    int trailing = 0; // 0xA0 and 0x68 only
    std::vector<Key> keys;
};

struct Terminal {
    explicit Terminal(uint16_t terminalAddress = 0);

    uint16_t address = 0;
    uint32_t serialNumber = 0; // the identity that "Set DM_Address(B)" addresses
    bool online = true;        // an offline terminal answers nothing
    int ackStatus = 8;         // status byte of acknowledgements
    int rejectStatus = 6;      // status byte for a payload the terminal cannot take

    Clock clock;
    std::array<uint8_t, 20> property{}; // as the property reply carries it
    Bytes systemProperty;               // 37 bytes, or 32 for a terminal of the older kind
    uint32_t statusValue = 0;

    bool longRecords = false;
    std::vector<Record> records;
    std::vector<Record> backupRecords;
    std::vector<Record> realtimeRecords;
    uint32_t recordIndex = 0; // "Cur Rec_Index"; "Set Write_Ptr" sets it
    size_t pendingDelete = 0; // records handed out by "RecvDel Record", erased on confirmation

    // List memory by block number: blocks 0 to 195 hold the white list, 196 on the black list.
    std::map<int, std::vector<uint32_t>> whiteBlocks;
    std::map<int, std::vector<uint32_t>> blackBlocks;
    std::vector<uint32_t> blackCards; // added one by one with "AddDel Black_Card"

    Card card;
    std::map<int, KeySet> keys; // by the command code that loaded them

    Bytes lcdTitle; // three lines of 16 bytes
    std::array<TimeSlot, 20> timeSlots{};
    int cardTimeLead = 0;
    std::array<TimeWindow, 8> cardTimes{};
    int beeps = 0;
    int lastBeep = 0;
    int lockOpenings = 0;
    int lastLock = 0;
    bool gradeFlag = false;
    Bytes grades;
    Bytes innerSetting; // the 11 payload bytes of command 0xCD

    // The host expects no reply to the program download's first two steps; a terminal that
    // answers them anyway is available for trying the host's handling of such replies.
    bool acknowledgeLeadIn = false;
    bool programMode = false;           // between the first and the closing program step
    std::map<int, Bytes> programMemory; // program records by address
    int programLoads = 0;               // completed program downloads
    std::map<int, Bytes> pages;         // 256-byte pages by page number
    int pageLoads = 0;                  // completed page downloads

    std::vector<uint32_t> WhiteList() const;
    std::vector<uint32_t> BlackList() const;
};

std::array<uint8_t, 20> DefaultProperty();
Bytes DefaultSystemProperty();

} // namespace dmsim
