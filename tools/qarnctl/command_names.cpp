#include "command_names.h"

namespace qarnctl {

namespace {

struct NameRow {
    int code;
    const char* name;
};

const NameRow kNames[] = {
    {0x01, "Adjust Time(B)"},
    {0x02, "Set DM_Address(B)"},
    {0x03, "Search DM(B)"},
    {0x04, "Search DM_Online(B)"},
    {0x05, "Search DM_Rlt(B)"},
    {0x06, "Recv Realtime(B)"},
    {0x07, "Recv RealtimeRlt(B)"},
    {0x0A, "Set Time_Hand(B)"},
    {0x10, "Recv Record"},
    {0x11, "Recv Rec_Index"},
    {0x12, "Set DM_Property"},
    {0x13, "Recv DM_Property"},
    {0x14, "Set DM_SysProp"},
    {0x15, "Recv DM_SysProp"},
    {0x16, "Recv DM_Status"},
    {0x17, "Recv WC/BC_Count"},
    {0x18, "Set Jow_Time"},
    {0x19, "Set Card_Time"},
    {0x1A, "Set Write_Ptr"},
    {0x1B, "Beep"},
    {0x1C, "RecvDel Record"},
    {0x1D, "RecvDel RecordRlt"},
    {0x1E, "Cur Rec_Index"},
    {0x36, "Recv BackupRecord"},
    {0x60, "Read Card_Info"},
    {0x61, "Write Card_Info"},
    {0x62, "Add Money"},
    {0x63, "Dec Money"},
    {0x64, "Read Card_ID"},
    {0x65, "Init Card_Key"},
    {0x66, "Upadte Card_Info"},
    {0x67, "Read Money"},
    {0x68, "Upadte Card_Key"},
    {0x80, "Test / download step"},
    {0x81, "Reset WC_Region"},
    {0x82, "Reset BC_Region"},
    {0x83, "Init DM_Property"},
    {0x84, "Init Pointer"},
    {0x85, "Init DM"},
    {0x86, "DownLoad LCD_Title"},
    {0xA0, "DownLoad Sys_Key"},
    {0xA1, "DownLoad User_Key"},
    {0xA2, "AddDel White_Card"},
    {0xA3, "AddDel Black_Card"},
    {0xA4, "Open Lock"},
    {0xA5, "Auth Grade"},
    {0xC1, "Program lead-in"},
    {0xC2, "Program lead-in"},
    {0xC3, "Program records"},
    {0xC6, "Page download"},
    {0xC7, "Set Serial_Num"},
    {0xC8, "Write System_Card"},
    {0xC9, "Load System_Key"},
    {0xCA, "Init DM_Key"},
};

} // namespace

const char* CommandName(int code) {
    for (const NameRow& row : kNames)
        if (row.code == code) return row.name;
    return nullptr;
}

} // namespace qarnctl
