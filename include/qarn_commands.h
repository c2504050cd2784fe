/* qarn: the command codes of StartQARNCommand by name.
 *
 * Each name is the library's own text for the command (the one its communication log shows),
 * upper-cased, every character but a letter or digit written as '_', a trailing '_' dropped:
 * 0x16 "Recv DM_Status" is QARN_CMD_RECV_DM_STATUS. "(B)" marks the commands sent to every
 * terminal of the line (the broadcast address). The two file downloads and 0xCD have no such
 * text and are named for what they do. The internal codes (0xC0, 0xC7, 0xCD) are admitted only
 * after SetInnerCmd. */
#ifndef QARN_COMMANDS_H
#define QARN_COMMANDS_H

#define QARN_CMD_ADJUST_TIME_B 0x01      /* "Adjust Time(B)" */
#define QARN_CMD_SET_DM_ADDRESS_B 0x02   /* "Set DM_Address(B)" */
#define QARN_CMD_SEARCH_DM_B 0x03        /* "Search DM(B)" */
#define QARN_CMD_SEARCH_DM_ONLINE_B 0x04 /* "Search DM_Online(B)" */
#define QARN_CMD_RECV_REALTIME_B 0x06    /* "Recv Realtime(B)" */
#define QARN_CMD_SET_TIME_HAND_B 0x0A    /* "Set Time_Hand(B)" */
#define QARN_CMD_RECV_RECORD 0x10        /* "Recv Record" */
#define QARN_CMD_RECV_BACKUPRECORD 0x36  /* "Recv BackupRecord" */
#define QARN_CMD_RECV_REC_INDEX 0x11     /* "Recv Rec_Index" */
#define QARN_CMD_SET_DM_PROPERTY 0x12    /* "Set DM_Property" */
#define QARN_CMD_RECV_DM_PROPERTY 0x13   /* "Recv DM_Property" */
#define QARN_CMD_SET_DM_SYSPROP 0x14     /* "Set DM_SysProp" */
#define QARN_CMD_RECV_DM_SYSPROP 0x15    /* "Recv DM_SysProp" */
#define QARN_CMD_RECV_DM_STATUS 0x16     /* "Recv DM_Status" */
#define QARN_CMD_RECV_WC_BC_COUNT 0x17   /* "Recv WC/BC_Count" */
#define QARN_CMD_SET_JOW_TIME 0x18       /* "Set Jow_Time" */
#define QARN_CMD_SET_CARD_TIME 0x19      /* "Set Card_Time" */
#define QARN_CMD_SET_WRITE_PTR 0x1A      /* "Set Write_Ptr" */
#define QARN_CMD_BEEP 0x1B               /* "Beep" */
#define QARN_CMD_RECVDEL_RECORD 0x1C     /* "RecvDel Record" */
#define QARN_CMD_RECVDEL_RECORDRLT 0x1D  /* "RecvDel RecordRlt" */
#define QARN_CMD_CUR_REC_INDEX 0x1E      /* "Cur Rec_Index" */
#define QARN_CMD_READ_CARD_INFO 0x60     /* "Read Card_Info" */
#define QARN_CMD_WRITE_CARD_INFO 0x61    /* "Write Card_Info" */
#define QARN_CMD_ADD_MONEY 0x62          /* "Add Money" */
#define QARN_CMD_DEC_MONEY 0x63          /* "Dec Money" */
#define QARN_CMD_READ_CARD_ID 0x64       /* "Read Card_ID" */
#define QARN_CMD_INIT_CARD_KEY 0x65      /* "Init Card_Key" */
#define QARN_CMD_UPADTE_CARD_INFO 0x66   /* "Upadte Card_Info" */
#define QARN_CMD_READ_MONEY 0x67         /* "Read Money" */
#define QARN_CMD_UPADTE_CARD_KEY 0x68    /* "Upadte Card_Key" */
#define QARN_CMD_TEST 0x80               /* "Test" */
#define QARN_CMD_RESET_WC_REGION 0x81    /* "Reset WC_Region" */
#define QARN_CMD_RESET_BC_REGION 0x82    /* "Reset BC_Region" */
#define QARN_CMD_INIT_DM_PROPERTY 0x83   /* "Init DM_Property" */
#define QARN_CMD_INIT_POINTER 0x84       /* "Init Pointer" */
#define QARN_CMD_INIT_DM 0x85            /* "Init DM" */
#define QARN_CMD_DOWNLOAD_LCD_TITLE 0x86 /* "DownLoad LCD_Title" */
#define QARN_CMD_DOWNLOAD_SYS_KEY 0xA0   /* "DownLoad Sys_Key" */
#define QARN_CMD_DOWNLOAD_USER_KEY 0xA1  /* "DownLoad User_Key" */
#define QARN_CMD_ADDDEL_WHITE_CARD 0xA2  /* "AddDel White_Card" */
#define QARN_CMD_ADDDEL_BLACK_CARD 0xA3  /* "AddDel Black_Card" */
#define QARN_CMD_OPEN_LOCK 0xA4          /* "Open Lock" */
#define QARN_CMD_AUTH_GRADE 0xA5         /* "Auth Grade" */
#define QARN_CMD_SET_SERIAL_NUM 0xC7     /* "Set Serial_Num" */
#define QARN_CMD_WRITE_SYSTEM_CARD 0xC8  /* "Write System_Card" */
#define QARN_CMD_LOAD_SYSTEM_KEY 0xC9    /* "Load System_Key" */
#define QARN_CMD_INIT_DM_KEY 0xCA        /* "Init DM_Key" */
#define QARN_CMD_DOWNLOAD_PROGRAM 0xC0   /* a program file, internal */
#define QARN_CMD_INTERNAL_SETTING 0xCD   /* an internal 11-byte setting */
#define QARN_CMD_DOWNLOAD_PAGES 0xC5     /* a page file */

#endif
