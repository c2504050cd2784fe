// The device object: everything the library knows about one serial line and its terminals.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "codec/bytes.h"
#include "device/action.h"
#include "platform/window.h"
#include "qarn.h" // the notification numbers WM_HDLC_STREAM, WM_HDLC_FRAME, WM_HDLC_SENT

namespace qarn {

class CHDLC;
class CLogFile;
class CDownFile;

// Event kinds of the communication log.
enum LogEvent : int {
    kLogCodeDownFrame = 0,
    kLogSendDownFrame = 1,
    kLogRecvUpFrame = 2,
    kLogDecodeUpFrame = 3,
    kLogSendUpFrame = 6,
    kLogPortOpened = 8, // the code tells who switches RTS: 1 the driver, 0 the library
};

// The code and address that the log kinds without them are given.
enum : int { kLogNoCode = 255, kLogNoAddress = 0xFFFF };

class CQARNCommand : public platform::Window {
  public:
    CQARNCommand();
    ~CQARNCommand() override;

    // Creates the hidden window under the application's window; false if it cannot.
    bool CreateDeviceEx(int hostAddress, platform::WindowHandle parent);

    int StreamReady = 0;
    int FrameReady = 0;
    int ListFlag = 1;
    CHDLC* Link = nullptr;
    std::unique_ptr<CLogFile> LogFile;
    std::unique_ptr<CDownFile> DownFile;
    int AddLog = 0;
    int InnerCode = 0;
    int InnerCmd = 0;
    int WaitTime = 500; // defined before SetWaitTime: the command record's own default
    int InTimer = 0;
    int CmdStarted = 0;
    ByteArray LastFrame;
    ByteArray CommKey;
    std::vector<CQARNAction*> Commands;
    int MyAddress = 0;
    CQARNAction* SearchList = nullptr; // the record whose data is the search list
    uint32_t DeviceHandle = 0;         // the handle the application holds

    // Settings.
    void SetMyAddress(int address);
    void SetCommKey(const char* keyText);
    int SetAddLog(int on);

    // Writes a log record while logging is on.
    void Log(int code, int kind, int address);
    // Writes the record that ends a command with its result, while logging is on.
    void LogResult(int code, int address, int result);

    // Releases one command record (the timer pass and the destruction use it).
    void ReleaseAction(CQARNAction* action);

    // The engine's pass runs as soon as the thread dispatches its messages, at a deadline on
    // the MonotonicMicroseconds clock, or not until asked again.
    void StepSoon();
    void StepAt(uint64_t dueMicroseconds);
    void StopEngineTimer();

  protected:
    bool OnCreate() override;
    void OnDestroy() override;
    platform::MessageParam OnMessage(unsigned message, platform::MessageParam wParam,
                                     platform::MessageParam lParam) override;
    void OnFinalDestroy() override;

  private:
    void OnCommRecv();
    void OnFrameRecv(int terminal);
    void OnFrameSent();
    void NotifyParent(unsigned message);

    bool stepPosted_ = false;
};

} // namespace qarn
