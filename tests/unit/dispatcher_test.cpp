#include "protocol/uplink/dispatcher.h"

#include <gtest/gtest.h>

#include "codec/bytes.h"
#include "device/action.h"
#include "device/device.h"
#include "test_files.h"

namespace qarn {
namespace {

class Dispatcher : public ::testing::Test {
  protected:
    CQARNCommand device;
    CQARNAction action;
    ByteArray params;
    int terminal = 0;

    void Decode(int code, const ByteArray& payload) {
        ByteArray reply{uint8_t(code)};
        reply.insert(reply.end(), payload.begin(), payload.end());
        action.SetReply(reply);
        DecodeReply(device, action, terminal);
    }
    void SetSubCode(int subCode) {
        params.clear();
        AppendHostInt32(params, subCode);
        action.Params = params.data();
    }
    int Entry(size_t offset) const { return GetHostInt32(action.Data.data(), offset); }
    void Expect(int result, int outcome, int dataSize) {
        EXPECT_EQ(action.Result, result);
        EXPECT_EQ(action.Outcome, outcome);
        EXPECT_EQ(action.DataSize(), dataSize);
    }
};

TEST_F(Dispatcher, RecordRuleOnPayloadLength) {
    const struct {
        int code, length, result, outcome, dataSize, form;
    } cases[] = {{0x10, 171, 13, 8, 19 * 40, 1}, {0x10, 38, 13, 8, 2 * 60, 2},
                 {0x10, 40, 12, 9, 0, 0},        {0x10, 0, 14, 9, 0, 0},
                 {0x07, 9, 13, 8, 40, 1},        {0x36, 19, 13, 8, 60, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        action = CQARNAction();
        ByteArray payload(c.length);
        for (int i = 0; i + 9 <= c.length; i += 9)
            PutBigEndian32(&payload[i], 100 + i / 9);
        Decode(c.code, payload);
        Expect(c.result, c.outcome, c.dataSize);
        EXPECT_EQ(action.DataForm, c.form);
        EXPECT_EQ(action.State, PAUSE);
        EXPECT_EQ(action.Code, c.code);
    }
    action = CQARNAction();
    ByteArray payload(171);
    for (uint32_t i = 0; i < 19; ++i)
        PutBigEndian32(&payload[9 * i], 100 + i);
    Decode(0x10, payload);
    for (size_t i = 0; i < 19; ++i)
        EXPECT_EQ(Entry(40 * i), int(100 + i));
}

TEST_F(Dispatcher, FixedLengthRowsTakeExactlyTheirLength) {
    const struct {
        int code, length, dataSize;
    } cases[] = {{0x03, 2, 4},   {0x11, 8, 8},   {0x17, 8, 8},   {0x1E, 4, 4}, {0x13, 20, 68},
                 {0x15, 37, 56}, {0x15, 32, 56}, {0x16, 12, 32}, {0x64, 5, 8}};
    for (const auto& c : cases) {
        for (int length : {c.length, c.length + 1, c.length - 1}) {
            SCOPED_TRACE(c.code * 1000 + length);
            action = CQARNAction();
            Decode(c.code, ByteArray(length, 1));
            Expect(length == c.length ? 13 : 12, 9, length == c.length ? c.dataSize : 0);
        }
    }
}

TEST_F(Dispatcher, EachReplyGetsItsOwnBufferAndAWrongOneKeepsTheLast) {
    Decode(0x03, {0x12, 0x34});
    Decode(0x03, {0x00, 0x07});
    EXPECT_EQ(Entry(0), 7);
    action.Outcome = 8;
    Decode(0x03, {0x01});
    Expect(12, 8, 4);
    EXPECT_EQ(Entry(0), 7);
}

TEST_F(Dispatcher, CardAndMoneySubCodes) {
    ByteArray card(24);
    card[0] = 1;
    Decode(0x60, card); // no parameter block: no layout, the record stays as it is
    Expect(10, 9, 0);
    SetSubCode(3);
    Decode(0x60, card);
    Expect(12, 9, 48);
    EXPECT_EQ(action.Data, ByteArray(48, 0));
    card[0] = 3;
    Decode(0x60, card);
    EXPECT_EQ(action.Result, 13);

    const ByteArray money = {2, 0x80, 0x00, 0x03, 0xE8, 0, 5, 1, 1, 0, 0};
    for (int code : {0x62, 0x63, 0x67}) {
        action = CQARNAction();
        Decode(code, money);
        SetSubCode(1);
        Decode(code, money);
        Expect(12, 9, 0);
        SetSubCode(2);
        Decode(code, money);
        Expect(13, 9, 28);
        EXPECT_EQ(Entry(4), -1000);
    }
}

TEST_F(Dispatcher, SearchListInArrivalOrderUpToItsCapacity) {
    action.Data.assign(1028, 0);
    device.SearchList = &action;
    for (int address : {0x0102, 0xAA55, 0x0001})
        Decode(0x05, {uint8_t(address >> 8), uint8_t(address)});
    EXPECT_EQ(action.State, WAIT_REPLY);
    Expect(13, 8, 1028);
    EXPECT_EQ(ByteArray(action.Data.begin(), action.Data.begin() + 16),
              ByteArray({3, 0, 0, 0, 0x02, 0x01, 0, 0, 0x55, 0xAA, 0, 0, 0x01, 0, 0, 0}));

    Decode(0x03, {0x00, 0x01}); // must not replace the list while its search runs
    EXPECT_EQ(action.Result, 12);
    PutHostInt32(action.Data.data(), 0, 256);
    ByteArray full = action.Data;
    Decode(0x05, {0x12, 0x34});
    EXPECT_EQ(action.Data, full);
    EXPECT_EQ(action.State, WAIT_REPLY);

    action = CQARNAction(); // no longer the search record: ignored
    Decode(0x05, {0x12, 0x34});
    Expect(10, 9, 0);
}

TEST_F(Dispatcher, StatusByteAndRepliesWithoutOne) {
    Decode(0x12, {8});
    EXPECT_EQ(action.Result, 8);
    Decode(0x12, {0x21});
    EXPECT_EQ(action.Result, 0x21);
    action.Outcome = 8;
    Decode(0x12, {});
    Expect(12, 9, 0);
    action = CQARNAction();
    action.Code = 0x12;
    action.SetReply({});
    DecodeReply(device, action, terminal);
    Expect(12, 9, 0);
    EXPECT_EQ(action.Code, 0x12);
}

TEST_F(Dispatcher, DownloadAcknowledgements) {
    const struct {
        int code;
        ByteArray payload;
        int listFlag, code2, result, outcome, state, pending;
    } cases[] = {
        {0xA2, {8}, 0, 0xA2, 8, 8, PAUSE, 1},       {0xA2, {8}, 1, 0xA2, 8, 8, DONE, 0},
        {0xA2, {3}, 1, 0xA2, 3, 9, PAUSE, 1},       {0xC1, {}, 1, 0xC0, 8, 8, PAUSE, 1},
        {0xC3, {4}, 1, 0xC0, 4, 9, PAUSE, 1},       {0xC2, {}, 1, 0xC0, 12, 9, PAUSE, 1},
        {0xC6, {8}, 1, 0xC5, 8, 8, PAUSE, 1},       {0xC6, {0x80}, 1, 0xC5, 8, 8, DONE, 0},
        {0xC6, {0x81}, 1, 0xC5, 0x81, 9, PAUSE, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        action = CQARNAction();
        action.ListPending = action.BlockPending = 1;
        device.ListFlag = c.listFlag;
        Decode(c.code, c.payload);
        EXPECT_EQ(action.Code, c.code2);
        Expect(c.result, c.outcome, 0);
        EXPECT_EQ(action.State, c.state);
        EXPECT_EQ(c.code == 0xA2 ? action.ListPending : action.BlockPending, c.pending);
    }
}

TEST_F(Dispatcher, RecordsAndLogCarryTheReplyingTerminal) {
    test::ScratchDir directory;
    terminal = 0x0042;
    device.SetAddLog(1);
    action.Address = 0x0007;
    Decode(0x10, ByteArray(18));
    action.SetReply({});
    DecodeReply(device, action, terminal); // nothing to log without a reply code
    device.SetAddLog(0);

    EXPECT_EQ(Entry(36), 0x0042);
    EXPECT_EQ(Entry(40 + 36), 0x0042);
    const std::string log = test::ReadFile("CommLog.log");
    ASSERT_EQ(log.size(), 254u + 89u); // header and one record
    EXPECT_EQ(log.substr(254 + 25, 7), std::string("0x0042", 7));
    EXPECT_EQ(log.substr(254 + 35, 14), std::string("Decode Up_Frm", 14));
}

} // namespace
} // namespace qarn
