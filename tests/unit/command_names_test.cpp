#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <string>

#include "protocol/downlink/command_table.h"
#include "qarn_commands.h"

namespace {

#define NAMED(constant)                                                                            \
    { #constant, constant }

const std::map<std::string, int> kNamedCodes = {
    NAMED(QARN_CMD_ADJUST_TIME_B),
    NAMED(QARN_CMD_SET_DM_ADDRESS_B),
    NAMED(QARN_CMD_SEARCH_DM_B),
    NAMED(QARN_CMD_SEARCH_DM_ONLINE_B),
    NAMED(QARN_CMD_RECV_REALTIME_B),
    NAMED(QARN_CMD_SET_TIME_HAND_B),
    NAMED(QARN_CMD_RECV_RECORD),
    NAMED(QARN_CMD_RECV_BACKUPRECORD),
    NAMED(QARN_CMD_RECV_REC_INDEX),
    NAMED(QARN_CMD_SET_DM_PROPERTY),
    NAMED(QARN_CMD_RECV_DM_PROPERTY),
    NAMED(QARN_CMD_SET_DM_SYSPROP),
    NAMED(QARN_CMD_RECV_DM_SYSPROP),
    NAMED(QARN_CMD_RECV_DM_STATUS),
    NAMED(QARN_CMD_RECV_WC_BC_COUNT),
    NAMED(QARN_CMD_SET_JOW_TIME),
    NAMED(QARN_CMD_SET_CARD_TIME),
    NAMED(QARN_CMD_SET_WRITE_PTR),
    NAMED(QARN_CMD_BEEP),
    NAMED(QARN_CMD_RECVDEL_RECORD),
    NAMED(QARN_CMD_RECVDEL_RECORDRLT),
    NAMED(QARN_CMD_CUR_REC_INDEX),
    NAMED(QARN_CMD_READ_CARD_INFO),
    NAMED(QARN_CMD_WRITE_CARD_INFO),
    NAMED(QARN_CMD_ADD_MONEY),
    NAMED(QARN_CMD_DEC_MONEY),
    NAMED(QARN_CMD_READ_CARD_ID),
    NAMED(QARN_CMD_INIT_CARD_KEY),
    NAMED(QARN_CMD_UPADTE_CARD_INFO),
    NAMED(QARN_CMD_READ_MONEY),
    NAMED(QARN_CMD_UPADTE_CARD_KEY),
    NAMED(QARN_CMD_TEST),
    NAMED(QARN_CMD_RESET_WC_REGION),
    NAMED(QARN_CMD_RESET_BC_REGION),
    NAMED(QARN_CMD_INIT_DM_PROPERTY),
    NAMED(QARN_CMD_INIT_POINTER),
    NAMED(QARN_CMD_INIT_DM),
    NAMED(QARN_CMD_DOWNLOAD_LCD_TITLE),
    NAMED(QARN_CMD_DOWNLOAD_SYS_KEY),
    NAMED(QARN_CMD_DOWNLOAD_USER_KEY),
    NAMED(QARN_CMD_ADDDEL_WHITE_CARD),
    NAMED(QARN_CMD_ADDDEL_BLACK_CARD),
    NAMED(QARN_CMD_OPEN_LOCK),
    NAMED(QARN_CMD_AUTH_GRADE),
    NAMED(QARN_CMD_SET_SERIAL_NUM),
    NAMED(QARN_CMD_WRITE_SYSTEM_CARD),
    NAMED(QARN_CMD_LOAD_SYSTEM_KEY),
    NAMED(QARN_CMD_INIT_DM_KEY),
    NAMED(QARN_CMD_DOWNLOAD_PROGRAM),
    NAMED(QARN_CMD_DOWNLOAD_PAGES),
    NAMED(QARN_CMD_INTERNAL_SETTING),
};

// "\r\nRecv WC/BC_Count" -> QARN_CMD_RECV_WC_BC_COUNT
std::string ConstantFor(const char* text) {
    std::string name = "QARN_CMD_";
    for (const char* at = text; *at; ++at) {
        if (*at == '\r' || *at == '\n') continue;
        name += std::isalnum(static_cast<unsigned char>(*at))
                    ? static_cast<char>(std::toupper(static_cast<unsigned char>(*at)))
                    : '_';
    }
    while (name.back() == '_')
        name.pop_back();
    return name;
}

TEST(CommandNames, EveryAdmittedCodeHasTheConstantItsTableTextGives) {
    std::map<int, std::string> byCode;
    for (const auto& [name, code] : kNamedCodes) {
        EXPECT_TRUE(qarn::IsAdmittedCommand(code, true)) << name;
        EXPECT_TRUE(byCode.emplace(code, name).second) << name << " repeats a code";
    }
    for (int code = 0; code <= 0xFF; ++code) {
        if (!qarn::IsAdmittedCommand(code, true)) continue;
        ASSERT_EQ(byCode.count(code), 1u) << "no constant for 0x" << std::hex << code;
        if (const char* text = qarn::CommandName(code)) {
            EXPECT_EQ(byCode[code], ConstantFor(text));
        }
    }
}

} // namespace
