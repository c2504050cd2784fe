#include "protocol/downlink/command_table.h"

#include <algorithm>
#include <iterator>

namespace qarn {

const CommandRow kCommandTable[50] = {
    {0x01, "\r\nAdjust Time(B)"},      {0x02, "\r\nSet DM_Address(B)"},
    {0x03, "\r\nSearch DM(B)"},        {0x04, "\r\nSearch DM_Online(B)"},
    {0x05, "\r\nSearch DM_Rlt(B)"},    {0x06, "\r\nRecv Realtime(B)"},
    {0x07, "\r\nRecv RealtimeRlt(B)"}, {0x0A, "\r\nSet Time_Hand(B)"},
    {0x10, "\r\nRecv Record"},         {0x36, "\r\nRecv BackupRecord"},
    {0x11, "\r\nRecv Rec_Index"},      {0x12, "\r\nSet DM_Property"},
    {0x13, "\r\nRecv DM_Property"},    {0x14, "\r\nSet DM_SysProp"},
    {0x15, "\r\nRecv DM_SysProp"},     {0x16, "\r\nRecv DM_Status"},
    {0x17, "\r\nRecv WC/BC_Count"},    {0x18, "\r\nSet Jow_Time"},
    {0x19, "\r\nSet Card_Time"},       {0x1A, "\r\nSet Write_Ptr"},
    {0x1B, "\r\nBeep"},                {0x1C, "\r\nRecvDel Record"},
    {0x1D, "\r\nRecvDel RecordRlt"},   {0x1E, "\r\nCur Rec_Index"},
    {0x60, "\r\nRead Card_Info"},      {0x61, "\r\nWrite Card_Info"},
    {0x62, "\r\nAdd Money"},           {0x63, "\r\nDec Money"},
    {0x64, "\r\nRead Card_ID"},        {0x65, "\r\nInit Card_Key"},
    {0x66, "\r\nUpadte Card_Info"},    {0x67, "\r\nRead Money"},
    {0x68, "\r\nUpadte Card_Key"},     {0x80, "\r\nTest"},
    {0x81, "\r\nReset WC_Region"},     {0x82, "\r\nReset BC_Region"},
    {0x83, "\r\nInit DM_Property"},    {0x84, "\r\nInit Pointer"},
    {0x85, "\r\nInit DM"},             {0x86, "\r\nDownLoad LCD_Title"},
    {0xA0, "\r\nDownLoad Sys_Key"},    {0xA1, "\r\nDownLoad User_Key"},
    {0xA2, "\r\nAddDel White_Card"},   {0xA3, "\r\nAddDel Black_Card"},
    {0xA4, "\r\nOpen Lock"},           {0xA5, "\r\nAuth Grade"},
    {0xC7, "\r\nSet Serial_Num"},      {0xC8, "\r\nWrite System_Card"},
    {0xC9, "\r\nLoad System_Key"},     {0xCA, "\r\nInit DM_Key"},
};

namespace {

const uint8_t kAdmittedCodes[] = {
    0x01, 0x02, 0x03, 0x04, 0x06, 0x0A, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19,
    0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x36, 0x60, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x80,
    0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xC5, 0xC8, 0xC9, 0xCA,
};

const uint8_t kInternalCodes[] = {0xC0, 0xC7, 0xCD};

bool Contains(const uint8_t* first, const uint8_t* last, int code) {
    return std::find(first, last, code) != last;
}

} // namespace

const char* CommandName(int code) {
    for (const CommandRow& row : kCommandTable)
        if (row.code == code) return row.name;
    return nullptr;
}

bool IsAdmittedCommand(int code, bool innerCommands) {
    if (code < 0 || code > 0xFF) return false;
    if (Contains(std::begin(kAdmittedCodes), std::end(kAdmittedCodes), code)) return true;
    return innerCommands && Contains(std::begin(kInternalCodes), std::end(kInternalCodes), code);
}

} // namespace qarn
