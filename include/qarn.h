/* qarn: host-side driver for IC-card terminals on an RS-485 line.
 *
 * One device object per serial line: OpenDevice, ConnectPort, then StartQARNCommand /
 * GetCmdResult / GetSizeOfData / GetData / EndQARNCommand for each command, DisConnectPort and
 * CloseDevice. Every function but PostQuitToOwner runs on the thread that opened the device.
 * Handles are 32-bit values; a zero, unknown or stale handle, or a call from a thread other than
 * the device's, gives the function's failure value. */
#ifndef QARN_H
#define QARN_H

#include "qarn_commands.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define QARN_CALL __stdcall
#define QARN_API
typedef void* QarnWindow; /* the application's HWND */
#else
#define QARN_CALL
#define QARN_API __attribute__((visibility("default")))
typedef int QarnWindow; /* a window made by CreateNotifyWindow */
#endif

/* Notifications sent to the application's window: wParam 0, lParam the device handle. */
#define WM_HDLC_STREAM 0x0D63 /* bytes arrived on the line; RecvStream will return 1 */
#define WM_HDLC_FRAME 0x0D64  /* a frame for this host arrived and was decoded */
#define WM_HDLC_SENT 0x0D65   /* a frame has left the port */

/* Device object. */
QARN_API int QARN_CALL OpenDevice(int hostAddress, QarnWindow parent);
QARN_API int QARN_CALL CloseDevice(int device);

/* Serial port: "COM1:baud=9600,parity=E,data=8,stop=1"; on Linux also "/dev/ttyUSB0:...".
 * ",rs485=kernel" after the four values hands RTS to the driver's RS-485 mode where the driver
 * has one; ",rs485=off" leaves it to the library. A serial device server's port:
 * "tcp://HOST:PORT:..." (a raw byte stream) or "rfc2217://HOST:PORT:..." (Telnet, setting the
 * server's line), HOST a name, an IPv4 address or a bracketed IPv6 address. */
QARN_API int QARN_CALL ConnectPort(int device, const char* settings);
QARN_API int QARN_CALL DisConnectPort(int device);
QARN_API int QARN_CALL IsConnect(int device);
/* Who switches RTS around each frame on the open port: QARN_RTS_BY_LIBRARY, or
 * QARN_RTS_BY_DRIVER when ",rs485=kernel" was given and the driver took its RS-485 mode (never
 * on Windows), or QARN_RTS_BY_SERVER on a line reached through a serial device server
 * (tcp:// or rfc2217://); 0 when no port is open. */
#define QARN_RTS_BY_LIBRARY 1
#define QARN_RTS_BY_DRIVER 2
#define QARN_RTS_BY_SERVER 3
QARN_API int QARN_CALL GetRtsControl(int device);

/* Settings. */
QARN_API int QARN_CALL SetMyAddress(int device, int hostAddress);
QARN_API void QARN_CALL SetCommKey(int device, const char* keyText);
QARN_API int QARN_CALL SetWaitTime(int device, int milliseconds); /* below 0 counts as 0 */
QARN_API int QARN_CALL SetInnerCode(int device, int selector);
QARN_API int QARN_CALL SetInnerCmd(int device, int on);
QARN_API int QARN_CALL SetAddLog(int device, int on);

/* Commands. */
QARN_API int QARN_CALL StartQARNCommand(int device, int terminalAddress, int code, void* params,
                                        int reserved);
QARN_API int QARN_CALL GetCmdResult(int command);
QARN_API int QARN_CALL GetSizeOfData(int command);
QARN_API int QARN_CALL GetData(int command, void* buffer, int size);
QARN_API int QARN_CALL EndQARNCommand(int command);
/* Queues the quit message for the thread that opened the device, from any thread: a wait of
 * StartQARNCommand or EndQARNCommand on that thread ends as a quit message ends it. 1 when
 * posted, 0 for a zero, unknown or stale handle. */
QARN_API int QARN_CALL PostQuitToOwner(int device);
/* Ends a command that is still running (after a quit message ended the wait of
 * StartQARNCommand) where it stands, and releases it: nothing more is sent for it. 1 when it is
 * released (at the next pass if a quit message ends this call's wait too), 0 for a zero,
 * unknown or stale handle. */
QARN_API int QARN_CALL CancelQARNCommand(int command);
/* The record form of a command's data, decided by the library when the record reply came:
 * QARN_RECORDS_SHORT, entries of QARN_SHORT_RECORD_ENTRY_SIZE bytes (QarnRecord), or
 * QARN_RECORDS_LONG, entries of QARN_LONG_RECORD_ENTRY_SIZE bytes (QarnLongRecord); 0 when the
 * data holds no records. The size alone cannot tell: 120 bytes are 3 short or 2 long records. */
#define QARN_RECORDS_SHORT 1
#define QARN_RECORDS_LONG 2
#define QARN_SHORT_RECORD_ENTRY_SIZE 40
#define QARN_LONG_RECORD_ENTRY_SIZE 60
QARN_API int QARN_CALL GetRecordForm(int command);

/* Line monitor. Dumps are "%02x " per byte and a NUL: 3n+1 characters for n bytes.
 * SendFrame sends nothing for a body of fewer than 4 or more than 4 + 65535 bytes.
 * SendCommandFrame sends terminal, the device's host address and key bytes, code and the payload
 * ("%02x" pairs, spaces anywhere, NULL for none); nothing for a terminal outside 0-65535, a code
 * StartQARNCommand would not admit, a payload that is not whole hex pairs, or more than 65535 bytes
 * after the two addresses.
 * RecvStream dumps the last 65536 bytes received at most: its text needs up to
 * 3 * 65536 + 1 = 196609 characters; it returns 0 and writes nothing when no byte is held.
 * RecvHDLC dumps one frame's data, at most 65535 bytes: up to 3 * 65535 + 1 = 196606 characters. */
QARN_API void QARN_CALL SendFrame(int device, const char* hexText);
QARN_API void QARN_CALL SendCommandFrame(int device, int terminal, int code,
                                         const char* payloadHex);
QARN_API int QARN_CALL RecvStream(int device, char* text);
QARN_API int QARN_CALL RecvHDLC(int device, char* text);

/* Card names and LCD titles: converts inputSize bytes between UTF-8 and the terminals' code,
 * GB2312 or (big5 nonzero) Big5. toCard nonzero: UTF-8 in, the code out; -1 when the text is not
 * UTF-8 or holds a character the code has no form for. toCard 0: the code in, UTF-8 out, with
 * U+FFFD for what does not convert. Returns the result's size in bytes and writes it to output
 * when outputSize holds it (output may be NULL with outputSize 0 to ask the size); -1 for a
 * NULL input with a size or a negative size. */
QARN_API int QARN_CALL ConvertCardText(int toCard, int big5, const char* input, int inputSize,
                                       char* output, int outputSize);
QARN_API void QARN_CALL ClearRecvStr(int device);
QARN_API void QARN_CALL RecvEdition(char* buffer); /* 7 characters, no NUL */

#if !defined(_WIN32)
/* The application's window on Linux: messages 3427 to 3429 reach proc synchronously on the
 * owner thread while it pumps (inside StartQARNCommand/EndQARNCommand or PumpMessages). */
typedef void (*QarnNotifyProc)(int message, int wParam, int lParam, void* user);
QARN_API int CreateNotifyWindow(QarnNotifyProc proc, void* user);
QARN_API int DestroyNotifyWindow(int window);
QARN_API int PumpMessages(int timeoutMs);
QARN_API void PostQuitMessage(int exitCode);
QARN_API int GetMessageFd(void);
#endif

#ifdef __cplusplus
}
#endif

#endif
