#include "device/device.h"

#include <cstdlib>

#include "device/engine.h"
#include "device/handles.h"
#include "device/key_table.h"
#include "files/down_file.h"
#include "files/log_file.h"
#include "transport/hdlc.h"

namespace qarn {

namespace {

constexpr unsigned kEngineTimer = 10;
// Posted to the device's own window for a pass at once; one at a time.
constexpr unsigned kMessageEngineStep = 0x0D70;
const char kDefaultKeyText[] = "58213094";

} // namespace

CQARNCommand::CQARNCommand() : DownFile(new CDownFile) {
    SetCommKey(kDefaultKeyText);
}

CQARNCommand::~CQARNCommand() {
    for (CQARNAction* action : Commands)
        ReleaseAction(action);
    Commands.clear();
}

bool CQARNCommand::CreateDeviceEx(int hostAddress, platform::WindowHandle parent) {
    MyAddress = hostAddress;
    // On POSIX a parent of 0 would make a top-level window; a device always needs a parent.
    // An application that commands from a worker thread gives its main window: the device's
    // windows belong to the worker all the same, and the notifications reach that window.
    if (parent == 0 || !platform::IsWindow(parent)) return false;
    return CreateChild(parent, platform::ParentThread::Any);
}

bool CQARNCommand::OnCreate() {
    auto* link = new CHDLC;
    if (!link->CreateChild(Handle())) {
        delete link;
        return false;
    }
    Link = link;
    Link->SetMyAddress(MyAddress);
    InTimer = 0;
    return true;
}

void CQARNCommand::OnDestroy() {
    UnregisterDevice(DeviceHandle);
    if (Link) Link->ClosePort();
    KillTimer(kEngineTimer);
    for (CQARNAction* action : Commands)
        ReleaseAction(action);
    Commands.clear();
    // The link's window is destroyed with this one, as its child, and deletes itself.
    Link = nullptr;
}

void CQARNCommand::OnFinalDestroy() {
    delete this;
}

platform::MessageParam CQARNCommand::OnMessage(unsigned message, platform::MessageParam wParam,
                                               platform::MessageParam lParam) {
    switch (message) {
    case kMessageEngineStep:
        stepPosted_ = false;
        if (!InTimer) TimerPass(*this);
        return 0;
    case platform::kMessageTimer:
        if (static_cast<unsigned>(wParam) == kEngineTimer && !InTimer) TimerPass(*this);
        return 0;
    case WM_LINK_STREAM:
        OnCommRecv();
        return 0;
    case WM_LINK_FRAME:
        OnFrameRecv(static_cast<int>(wParam));
        return 0;
    case WM_LINK_SENT:
        OnFrameSent();
        return 0;
    default:
        return Window::OnMessage(message, wParam, lParam);
    }
}

void CQARNCommand::OnCommRecv() {
    StreamReady = 1;
    NotifyParent(WM_HDLC_STREAM);
}

void CQARNCommand::OnFrameRecv(int terminal) {
    ByteArray frame;
    Link->CopyFrame(frame);
    DispatchReply(*this, frame, terminal);
    FrameReady = 1;
    LastFrame = frame;
    NotifyParent(WM_HDLC_FRAME);
}

void CQARNCommand::OnFrameSent() {
    Log(kLogNoCode, CmdStarted ? kLogSendDownFrame : kLogSendUpFrame, kLogNoAddress);
    uint32_t handle = DeviceHandle;
    NotifyParent(WM_HDLC_SENT);
    // The port marks itself idle only once this notification has returned, so the pass that
    // sees it is posted: it runs after that, and before any input the port reports next.
    if (FindDevice(handle)) StepSoon();
}

void CQARNCommand::NotifyParent(unsigned message) {
    platform::SendToWindow(Parent(), message, 0, static_cast<platform::MessageParam>(DeviceHandle));
}

void CQARNCommand::SetMyAddress(int address) {
    MyAddress = address;
    if (Link) Link->SetMyAddress(address);
}

void CQARNCommand::SetCommKey(const char* keyText) {
    CommKey.clear();
    // A text shorter than 8 characters is read only up to its end; the missing characters
    // count as zero, leaving the table byte unmasked.
    bool ended = keyText == nullptr;
    for (int i = 0; i < 8; ++i) {
        uint8_t character = 0;
        if (!ended) {
            character = static_cast<uint8_t>(keyText[i]);
            ended = character == 0;
        }
        CommKey.push_back(kBuiltInKeyTable[i] ^ character);
    }
}

int CQARNCommand::SetAddLog(int on) {
    LogFile.reset();
    AddLog = 0;
    if (on) {
        // The one setting the library takes from the environment: where the log goes.
        const char* directory = std::getenv("QARN_LOG_DIR");
        LogFile.reset(new CLogFile(directory ? directory : ""));
        AddLog = 1;
        LogFile->Rotate();
    }
    return 1;
}

void CQARNCommand::Log(int code, int kind, int address) {
    if (AddLog && LogFile) LogFile->AddRecord(code, kind, address);
}

void CQARNCommand::LogResult(int code, int address, int result) {
    if (AddLog && LogFile) LogFile->AddResult(code, address, result);
}

void CQARNCommand::StepSoon() {
    KillTimer(kEngineTimer);
    if (!stepPosted_) stepPosted_ = platform::PostToWindow(Handle(), kMessageEngineStep, 0, 0);
}

void CQARNCommand::StepAt(uint64_t dueMicroseconds) {
    SetDeadlineTimer(kEngineTimer, dueMicroseconds);
}

void CQARNCommand::StopEngineTimer() {
    KillTimer(kEngineTimer);
}

void CQARNCommand::ReleaseAction(CQARNAction* action) {
    UnregisterCommand(action->CommandHandle);
    if (SearchList == action) SearchList = nullptr;
    delete action;
}

} // namespace qarn
