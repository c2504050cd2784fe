/* qarn: the layouts of the data GetData copies out, the parameter blocks StartQARNCommand reads,
 * and the result codes GetCmdResult returns.
 *
 * Every integer is a 32-bit value in the host's byte order; every text is a fixed-width byte
 * array without terminator. Read a reply by copying GetSizeOfData bytes into an array of its
 * layout (memcpy, or GetData straight into the struct); a record reply holds
 * size / sizeof(QarnRecord) or size / sizeof(QarnLongRecord) entries, as GetRecordForm tells.
 * Sizes and offsets are fixed by the checks at the end of this file. */
#ifndef QARN_LAYOUTS_H
#define QARN_LAYOUTS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes. Any value not named here is the status byte the terminal answered with. */
#define QARN_RESULT_TRANSMITTED 0 /* sent; no reply decoded (commands without reply) */
#define QARN_RESULT_LINK_DOWN 1   /* port not open, closed, or a read or write failed */
#define QARN_RESULT_UNEXPECTED_REPLY                                                               \
    2                              /* a frame for another host, or a reply to a command            \
                                      that expects none */
#define QARN_RESULT_BAD_CHECK 4    /* the last frame received had a wrong check byte */
#define QARN_RESULT_TIMEOUT 5      /* no transmission or no reply within the wait time */
#define QARN_RESULT_ACKNOWLEDGED 8 /* the terminal acknowledged, or a download completed */
#define QARN_RESULT_NOT_BUILT 9    /* the frame could not be built (download file) */
#define QARN_RESULT_PENDING 10     /* the command has not completed a transmission */
#define QARN_RESULT_WRONG_REPLY 12 /* the reply had a wrong length or content */
#define QARN_RESULT_DATA_READY 13  /* the reply was decoded; its data is ready */
#define QARN_RESULT_NO_RECORDS 14  /* a record reply carried no records */

#if defined(__cplusplus) || (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 199901L)
#define QARN_LAYOUTS_INLINE static inline
#else
#define QARN_LAYOUTS_INLINE static __inline
#endif

/* A short name of a result code; "terminal status" for the status bytes without a name. */
QARN_LAYOUTS_INLINE const char* qarn_result_text(int result) {
    switch (result) {
    case QARN_RESULT_TRANSMITTED:
        return "transmitted";
    case QARN_RESULT_LINK_DOWN:
        return "line down";
    case QARN_RESULT_UNEXPECTED_REPLY:
        return "unexpected reply";
    case QARN_RESULT_BAD_CHECK:
        return "bad check byte";
    case QARN_RESULT_TIMEOUT:
        return "time-out";
    case QARN_RESULT_ACKNOWLEDGED:
        return "acknowledged";
    case QARN_RESULT_NOT_BUILT:
        return "frame not built";
    case QARN_RESULT_PENDING:
        return "pending";
    case QARN_RESULT_WRONG_REPLY:
        return "wrong reply";
    case QARN_RESULT_DATA_READY:
        return "data ready";
    case QARN_RESULT_NO_RECORDS:
        return "no records";
    default:
        return "terminal status";
    }
}

/* Record of a terminal that keeps short records: "Recv Record" (0x10), "Recv BackupRecord"
 * (0x36) and "Recv Realtime(B)" (0x06) replies. */
typedef struct QarnRecord {
    int32_t identifier;
    int32_t year; /* four digits */
    int32_t month;
    int32_t day;
    int32_t hour;
    int32_t minute;
    int32_t second;
    int32_t flag_a;   /* 1 or 0 */
    int32_t flag_b;   /* 1 or 0 */
    int32_t terminal; /* address of the terminal that replied */
} QarnRecord;

/* Record of a terminal that keeps long records; the same replies. */
typedef struct QarnLongRecord {
    char code[7]; /* right-aligned, space-filled on the left */
    char unused7;
    int32_t value24; /* the signed 24-bit value */
    int32_t value32; /* the signed 32-bit value */
    int32_t value16; /* the unsigned 16-bit value */
    int32_t value8;  /* the unsigned 8-bit value */
    int32_t year;
    int32_t month;
    int32_t day;
    int32_t hour;
    int32_t minute;
    int32_t second;
    int32_t flag_a;
    int32_t flag_b;
    int32_t terminal;
} QarnLongRecord;

/* "Recv Rec_Index" (0x11): where the records of the asked date range begin, and how many. */
typedef struct QarnRecordRange {
    int32_t first; /* record number, counting from 0 */
    int32_t count;
} QarnRecordRange;

/* "Cur Rec_Index" (0x1E): the terminal's record index. */
typedef struct QarnRecordIndex {
    int32_t index;
} QarnRecordIndex;

/* "Recv WC/BC_Count" (0x17): numbers held in the two card lists. */
typedef struct QarnListCounts {
    int32_t white;
    int32_t black;
} QarnListCounts;

/* "Search DM(B)" (0x03): the address of the terminal that answered. */
typedef struct QarnSearchReply {
    int32_t address;
} QarnSearchReply;

/* "Search DM_Online(B)" (0x04): the addresses of every terminal that answered, in order. */
#define QARN_SEARCH_CAPACITY 256
typedef struct QarnSearchList {
    int32_t count;
    int32_t address[QARN_SEARCH_CAPACITY];
} QarnSearchList;

/* "Recv DM_Property" (0x13). The fields follow the payload in order, named by the payload bytes
 * they hold; field k is item k of "Set DM_Property" (0x12). */
typedef struct QarnProperty {
    int32_t bytes0_1; /* unsigned 16-bit */
    int32_t bytes2_3;
    int32_t bytes4_5;
    int32_t byte6;
    int32_t byte7;
    int32_t byte8;
    int32_t byte9;
    int32_t byte10;
    int32_t byte11;
    int32_t byte12;
    int32_t byte13;
    int32_t byte14;
    int32_t switch15; /* 1 when the byte is not zero */
    int32_t switch16;
    int32_t switch17;
    int32_t byte18;
    int32_t byte19;
} QarnProperty;

/* "Recv DM_SysProp" (0x15). Older terminals send 32 bytes instead of 37; their entry is the same,
 * with the last five bytes of text2 zero. Items 0 to 5 of "Set DM_SysProp" (0x14) set payload
 * bytes 0-3, 4-7, 8, 9, 10 and 11. */
#define QARN_SYSTEM_PROPERTY_PAYLOAD 37
#define QARN_SYSTEM_PROPERTY_SHORT_PAYLOAD 32
typedef struct QarnSystemProperty {
    char version[10]; /* payload bytes 0-3 as the digits "dd.dd.dddd" */
    char unused10[2];
    int32_t value;      /* payload bytes 4-7 */
    int32_t line_speed; /* baud, from the speed code in payload byte 8 */
    int32_t switch9;    /* 1 when payload byte 9 is zero: the terminal reports it inverted */
    int32_t switch10;   /* 1 when payload byte 10 is zero */
    char text1[10];     /* payload bytes 12-21 */
    char text2[15];     /* payload bytes 22-36 */
    char unused53[3];
} QarnSystemProperty;

/* "Recv DM_Status" (0x16): the terminal's clock and its status value. */
typedef struct QarnStatus {
    int32_t year;
    int32_t month;
    int32_t day;
    int32_t weekday; /* 1 Sunday to 7 Saturday */
    int32_t hour;
    int32_t minute;
    int32_t second;
    int32_t value;
} QarnStatus;

/* Card layouts: "Read Card_Info" (0x60) replies by the sub-code asked for, and the parameter
 * blocks of "Write Card_Info" (0x61; 0x66 takes layout 1). Passwords are four digit characters.
 * Names are 8 bytes of GB2312 (Big5 with SetInnerCode on), space-filled: 4 Chinese characters;
 * every space of a name travels as 0x00 and comes back as 0x00. Spaces inside a record code are
 * dropped and the rest closed up to the left: "A 12 34" is written as "A1234" and two spaces. */
#define QARN_CARD_LAYOUT_1 1
#define QARN_CARD_LAYOUT_2 2
#define QARN_CARD_LAYOUT_3 3
#define QARN_CARD_LAYOUT_254 254

typedef struct QarnCardLayout1 {
    int32_t sub_code; /* 1 */
    int32_t number;
    char record_code[7]; /* all seven characters in place */
    char unused15;
    int32_t attribute1;
    int32_t attribute2;
    char password[4];
    char name[8];
    int32_t year;
    int32_t month;
    int32_t day;
} QarnCardLayout1;

typedef struct QarnCardLayout2 {
    int32_t sub_code; /* 2 */
    int32_t number;
    char record_code[7];
    char unused15;
    int32_t attribute1;
    int32_t attribute2;
    char password[4];
    char name[8];
    int32_t year;
    int32_t month;
    int32_t day;
    int32_t value16; /* read only: the 16-bit value of payload bytes 36-37 */
} QarnCardLayout2;

typedef struct QarnCardLayout3 {
    int32_t sub_code; /* 3 */
    int32_t number;
    char record_code[7];
    char password[4];
    char name[8];
    char unused27;
    int32_t year;
    int32_t month;
    int32_t day;
    int32_t attribute3;
    int32_t attribute4;
} QarnCardLayout3;

typedef struct QarnCardLayout254 {
    int32_t sub_code; /* 254 */
    int32_t number;
    char password[4]; /* read only */
} QarnCardLayout254;

/* "Add Money" (0x62), "Dec Money" (0x63), "Read Money" (0x67): reply, and parameter block of
 * which the writes read sub_code, amount and attribute. */
#define QARN_MONEY_SUB_CODE 2
typedef struct QarnMoney {
    int32_t sub_code; /* 2 */
    int32_t amount;   /* in hundredths */
    int32_t attribute;
    int32_t year; /* date of the card's last money transaction */
    int32_t month;
    int32_t day;
    int32_t value16; /* the 16-bit value of payload bytes 9-10 */
} QarnMoney;

/* "Read Card_ID" (0x64). */
typedef struct QarnCardId {
    int32_t kind; /* payload byte 0 */
    int32_t id;
} QarnCardId;

/* Line speeds a terminal reports by code in its system property (and takes as item 2 of
 * "Set DM_SysProp"); any other code means 38400. */
typedef struct QarnLineSpeed {
    int32_t code;
    int32_t baud;
} QarnLineSpeed;
#define QARN_LINE_SPEED_COUNT 5
#define QARN_DEFAULT_LINE_SPEED 38400

QARN_LAYOUTS_INLINE const QarnLineSpeed* qarn_line_speeds(void) {
    static const QarnLineSpeed speeds[QARN_LINE_SPEED_COUNT] = {
        {0xF4, 9600}, {0xF8, 14400}, {0xFA, 19200}, {0xFC, 28800}, {0xFE, 57600}};
    return speeds;
}

/* The speed code for a baud rate; -1 for a rate without a code. */
QARN_LAYOUTS_INLINE int qarn_line_speed_code(int baud) {
    int i;
    for (i = 0; i < QARN_LINE_SPEED_COUNT; ++i)
        if (qarn_line_speeds()[i].baud == baud) return qarn_line_speeds()[i].code;
    return -1;
}

/* Text replies. RecvEdition writes 7 characters without NUL; RecvStream and RecvHDLC write
 * "%02x " per byte and a NUL. */
#define QARN_EDITION_LENGTH 7
#define QARN_DUMP_LENGTH(bytes) (3 * (bytes) + 1)

/* Parameter blocks. */

/* "Set Time_Hand(B)" (0x0A). */
typedef struct QarnClock {
    int32_t year; /* four digits */
    int32_t month;
    int32_t day;
    int32_t hour;
    int32_t minute;
    int32_t second;
    int32_t weekday; /* 1 Sunday to 7 Saturday */
} QarnClock;

/* "Set DM_Address(B)" (0x02): the terminal whose identity matches takes the new address. */
typedef struct QarnAddressChange {
    uint32_t identity;
    int32_t address;
} QarnAddressChange;

/* "Recv Record" (0x10), "Recv BackupRecord" (0x36). */
typedef struct QarnRecordRequest {
    int32_t first; /* record number */
    int32_t count; /* 1 to 255 */
} QarnRecordRequest;

/* "Recv Rec_Index" (0x11): all records when use_dates is 0. */
typedef struct QarnRecordRangeRequest {
    int32_t use_dates;
    int32_t from_year;
    int32_t from_month;
    int32_t from_day;
    int32_t to_year;
    int32_t to_month;
    int32_t to_day;
} QarnRecordRangeRequest;

/* "Set DM_Property" (0x12), "Set DM_SysProp" (0x14). */
typedef struct QarnSetting {
    int32_t item;
    uint32_t value;
} QarnSetting;

/* The commands of one small number: "Recv Realtime(B)" (0x06), "Set Write_Ptr" (0x1A), "Beep"
 * (0x1B), "RecvDel Record" (0x1C), "Open Lock" (0xA4), "Test" (0x80), and the sub-code of
 * "Read Card_Info" (0x60) and "Read Money" (0x67). */
typedef struct QarnValue {
    int32_t value;
} QarnValue;

/* "DownLoad LCD_Title" (0x86): three lines of 16 bytes of GB2312 (Big5 with SetInnerCode on),
 * 8 Chinese characters a line. */
#define QARN_TITLE_LINES 3
#define QARN_TITLE_WIDTH 16
typedef struct QarnTitle {
    char line[QARN_TITLE_LINES][QARN_TITLE_WIDTH];
} QarnTitle;

/* "Set Jow_Time" (0x18): 20 time slots. */
#define QARN_TIME_SLOTS 20
typedef struct QarnTimeSlots {
    struct {
        int32_t hour;
        int32_t minute;
        int32_t value;
    } slot[QARN_TIME_SLOTS];
} QarnTimeSlots;

/* "Set Card_Time" (0x19): a lead value and 8 time windows. */
#define QARN_CARD_TIME_WINDOWS 8
typedef struct QarnCardTimes {
    int32_t lead;
    struct {
        int32_t start_hour;
        int32_t start_minute;
        int32_t end_hour;
        int32_t end_minute;
    } window[QARN_CARD_TIME_WINDOWS];
} QarnCardTimes;

/* "AddDel White_Card" (0xA2), program (0xC0) and page (0xC5) downloads take the file's path as
 * a NUL-terminated string; the file must be a regular file. A list file is a marker byte,
 * QARN_LIST_WHITE or QARN_LIST_BLACK, then 5 bytes of 10 BCD digits per card number, each at
 * most 4294967295. A white list holds at most QARN_LIST_WHITE_CAPACITY numbers (blocks 0 to
 * 195), a black list at most QARN_LIST_BLACK_CAPACITY (blocks 196 to 65535); a longer list file
 * is refused with nothing sent. */
#define QARN_LIST_WHITE 0xBB
#define QARN_LIST_BLACK 0xAA
#define QARN_LIST_RECORD_SIZE 5
#define QARN_LIST_WHITE_CAPACITY 12544
#define QARN_LIST_BLACK_CAPACITY 4181760

/* The layouts above are the library's interface: these checks keep them to the byte. */
#ifdef __cplusplus
#define QARN_LAYOUT_CHECK(condition, what) static_assert(condition, what)
#else
#define QARN_LAYOUT_CHECK(condition, what) _Static_assert(condition, what)
#endif
#define QARN_FIELD_AT(type, field, at)                                                             \
    QARN_LAYOUT_CHECK(offsetof(type, field) == (at), #type "." #field " at byte " #at)
#define QARN_SIZE_IS(type, size) QARN_LAYOUT_CHECK(sizeof(type) == (size), #type " size " #size)

QARN_SIZE_IS(QarnRecord, 40);
QARN_FIELD_AT(QarnRecord, year, 4);
QARN_FIELD_AT(QarnRecord, second, 24);
QARN_FIELD_AT(QarnRecord, flag_a, 28);
QARN_FIELD_AT(QarnRecord, terminal, 36);

QARN_SIZE_IS(QarnLongRecord, 60);
QARN_FIELD_AT(QarnLongRecord, value24, 8);
QARN_FIELD_AT(QarnLongRecord, value32, 12);
QARN_FIELD_AT(QarnLongRecord, value16, 16);
QARN_FIELD_AT(QarnLongRecord, value8, 20);
QARN_FIELD_AT(QarnLongRecord, year, 24);
QARN_FIELD_AT(QarnLongRecord, flag_a, 48);
QARN_FIELD_AT(QarnLongRecord, terminal, 56);

QARN_SIZE_IS(QarnRecordRange, 8);
QARN_SIZE_IS(QarnRecordIndex, 4);
QARN_SIZE_IS(QarnListCounts, 8);
QARN_SIZE_IS(QarnSearchReply, 4);
QARN_SIZE_IS(QarnSearchList, 1028);
QARN_FIELD_AT(QarnSearchList, address, 4);

QARN_SIZE_IS(QarnProperty, 68);
QARN_FIELD_AT(QarnProperty, byte6, 12);
QARN_FIELD_AT(QarnProperty, switch15, 48);
QARN_FIELD_AT(QarnProperty, byte19, 64);

QARN_SIZE_IS(QarnSystemProperty, 56);
QARN_FIELD_AT(QarnSystemProperty, value, 12);
QARN_FIELD_AT(QarnSystemProperty, line_speed, 16);
QARN_FIELD_AT(QarnSystemProperty, switch9, 20);
QARN_FIELD_AT(QarnSystemProperty, switch10, 24);
QARN_FIELD_AT(QarnSystemProperty, text1, 28);
QARN_FIELD_AT(QarnSystemProperty, text2, 38);

QARN_SIZE_IS(QarnStatus, 32);
QARN_FIELD_AT(QarnStatus, weekday, 12);
QARN_FIELD_AT(QarnStatus, hour, 16);
QARN_FIELD_AT(QarnStatus, value, 28);

QARN_SIZE_IS(QarnCardLayout1, 48);
QARN_FIELD_AT(QarnCardLayout1, number, 4);
QARN_FIELD_AT(QarnCardLayout1, record_code, 8);
QARN_FIELD_AT(QarnCardLayout1, attribute1, 16);
QARN_FIELD_AT(QarnCardLayout1, attribute2, 20);
QARN_FIELD_AT(QarnCardLayout1, password, 24);
QARN_FIELD_AT(QarnCardLayout1, name, 28);
QARN_FIELD_AT(QarnCardLayout1, year, 36);
QARN_FIELD_AT(QarnCardLayout1, day, 44);

QARN_SIZE_IS(QarnCardLayout2, 52);
QARN_FIELD_AT(QarnCardLayout2, password, 24);
QARN_FIELD_AT(QarnCardLayout2, name, 28);
QARN_FIELD_AT(QarnCardLayout2, year, 36);
QARN_FIELD_AT(QarnCardLayout2, value16, 48);

QARN_SIZE_IS(QarnCardLayout3, 48);
QARN_FIELD_AT(QarnCardLayout3, record_code, 8);
QARN_FIELD_AT(QarnCardLayout3, password, 15);
QARN_FIELD_AT(QarnCardLayout3, name, 19);
QARN_FIELD_AT(QarnCardLayout3, year, 28);
QARN_FIELD_AT(QarnCardLayout3, attribute3, 40);
QARN_FIELD_AT(QarnCardLayout3, attribute4, 44);

QARN_SIZE_IS(QarnCardLayout254, 12);
QARN_FIELD_AT(QarnCardLayout254, password, 8);

QARN_SIZE_IS(QarnMoney, 28);
QARN_FIELD_AT(QarnMoney, amount, 4);
QARN_FIELD_AT(QarnMoney, attribute, 8);
QARN_FIELD_AT(QarnMoney, year, 12);
QARN_FIELD_AT(QarnMoney, value16, 24);

QARN_SIZE_IS(QarnCardId, 8);
QARN_FIELD_AT(QarnCardId, id, 4);

QARN_SIZE_IS(QarnClock, 28);
QARN_SIZE_IS(QarnAddressChange, 8);
QARN_SIZE_IS(QarnRecordRequest, 8);
QARN_SIZE_IS(QarnRecordRangeRequest, 28);
QARN_SIZE_IS(QarnSetting, 8);
QARN_SIZE_IS(QarnValue, 4);
QARN_SIZE_IS(QarnTitle, 48);
QARN_SIZE_IS(QarnTimeSlots, 240);
QARN_SIZE_IS(QarnCardTimes, 132);

#undef QARN_SIZE_IS
#undef QARN_FIELD_AT
#undef QARN_LAYOUT_CHECK

#ifdef __cplusplus
}
#endif

#endif
