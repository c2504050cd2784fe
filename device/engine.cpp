#include "device/engine.h"

#include <algorithm>

#include "device/action.h"
#include "device/device.h"
#include "device/handles.h"
#include "platform/clock.h"
#include "protocol/downlink/builder.h"
#include "protocol/downlink/command_table.h"
#include "protocol/uplink/dispatcher.h"
#include "transport/hdlc.h"

namespace qarn {

namespace {

void TakeTimeOutPath(CQARNAction& action) {
    action.Result = kResultTimeOut;
    action.ResultFromReply = 0;
    action.Outcome = kOutcomeFailure;
    action.State = RECOVER;
}

// The end of a wait of this many milliseconds that began at StartTick.
uint64_t WaitEnd(const CQARNAction& action, int milliseconds) {
    return action.StartTick + uint64_t{static_cast<uint32_t>(milliseconds)} * 1000;
}

// The end of the wait for a transmission: the wait time counts from the moment the frame can
// have left the wire, so a long frame on a slow line is not timed out while it is still sent.
uint64_t SentWaitEnd(const CQARNCommand& device, const CQARNAction& action) {
    return WaitEnd(action, action.TimeOut) + device.Link->TxWireMicroseconds();
}

// When the record can take its next step; false when only an event can move it on.
bool NextStepDue(const CQARNCommand& device, const CQARNAction& action, uint64_t& due) {
    switch (action.State) {
    case DONE:
        due = 0;
        return !action.Done || action.EndRequested;
    case WAIT_SENT:
        due = device.Link->IsTxIdle() ? 0 : SentWaitEnd(device, action);
        return true;
    case WAIT_REPLY:
        due = WaitEnd(action, action.TimeOut);
        return true;
    case PAUSE:
        due = WaitEnd(action, action.Pause);
        return true;
    default: // SEND, RECOVER, RELEASE and unknown states move on at once
        due = 0;
        return true;
    }
}

} // namespace

CQARNAction* StartCommand(CQARNCommand& device, int address, int code, const void* params,
                          int userValue) {
    if (!IsAdmittedCommand(code, device.InnerCmd)) return nullptr;
    if (!device.Commands.empty() || !device.Link) return nullptr;
    auto* action = new CQARNAction;
    action->Link = device.Link;
    action->Address = address;
    action->Device = &device;
    action->Code = code;
    action->CommandCode = code;
    action->Params = static_cast<const uint8_t*>(params);
    action->UserValue = userValue;
    device.CmdStarted = 1;
    action->Result = kResultPending;
    if (!BuildFrame(device, *action)) {
        if (device.SearchList == action) device.SearchList = nullptr;
        delete action;
        return nullptr;
    }
    action->CommandHandle = RegisterCommand(action);
    device.Commands.push_back(action);
    ScheduleNextPass(device);
    return action;
}

bool WaitForCommandDone(uint32_t commandHandle) {
    return platform::PumpUntil([commandHandle] {
        CQARNAction* action = FindCommand(commandHandle);
        return !action || action->Done;
    });
}

int EndCommand(uint32_t commandHandle) {
    CQARNAction* action = FindCommand(commandHandle);
    if (!action) return 0;
    action->EndRequested = 1;
    CQARNCommand* device = action->Device;
    ScheduleNextPass(*device);
    uint32_t deviceHandle = device->DeviceHandle;
    bool finished = platform::PumpUntil([deviceHandle] {
        CQARNCommand* owner = FindDevice(deviceHandle);
        return !owner || owner->Commands.empty();
    });
    return finished ? 0 : 1;
}

int CancelCommand(uint32_t commandHandle) {
    CQARNAction* action = FindCommand(commandHandle);
    if (!action) return 0;
    if (action->State != DONE && action->State != RELEASE) {
        action->Link->Reset();
        action->SendsLeft = 0;
        action->ListPending = 0;
        action->BlockPending = 0;
        action->State = DONE;
    }
    EndCommand(commandHandle);
    return 1;
}

void TimerPass(CQARNCommand& device) {
    device.InTimer = 1;
    for (size_t i = 0; i < device.Commands.size(); ++i) {
        CQARNAction* action = device.Commands[i];
        if (action->State == RELEASE) {
            device.Commands.erase(device.Commands.begin() + static_cast<long>(i));
            device.ReleaseAction(action);
        } else {
            Step(device, *action);
        }
        if (!device.Alive()) return;
    }
    device.InTimer = 0;
    ScheduleNextPass(device);
}

void ScheduleNextPass(CQARNCommand& device) {
    bool waiting = false;
    uint64_t earliest = 0;
    for (const CQARNAction* action : device.Commands) {
        uint64_t due;
        if (!NextStepDue(device, *action, due)) continue;
        earliest = waiting ? std::min(earliest, due) : due;
        waiting = true;
    }
    if (!waiting)
        device.StopEngineTimer();
    else if (earliest <= platform::MonotonicMicroseconds())
        device.StepSoon();
    else
        device.StepAt(earliest);
}

void Step(CQARNCommand& device, CQARNAction& action) {
    uint64_t now = platform::MonotonicMicroseconds();
    CHDLC* link = device.Link;
    switch (action.State) {
    case DONE:
        // The command has ended: StartQARNCommand returns and its result is final.
        if (!action.Done) device.LogResult(action.Code, action.Address, action.GetResult());
        action.Done = 1;
        if (action.EndRequested) action.State = RELEASE;
        break;
    case RELEASE:
        break;
    case SEND:
        link->Reset();
        link->Send(action.Frame);
        action.StartTick = now;
        --action.SendsLeft;
        action.State = WAIT_SENT;
        break;
    case WAIT_SENT:
        if (now >= SentWaitEnd(device, action)) {
            link->Reset();
            TakeTimeOutPath(action);
        } else if (link->IsTxIdle()) {
            if (action.Result == kResultPending) action.Result = kResultSent;
            action.StartTick = now;
            action.State = action.ExpectReply ? WAIT_REPLY : PAUSE;
        }
        break;
    case WAIT_REPLY:
        if (now >= WaitEnd(action, action.TimeOut)) TakeTimeOutPath(action);
        break;
    case PAUSE:
        if (now < WaitEnd(action, action.Pause)) break;
        if (action.Outcome == kOutcomeSuccess && (action.BlockPending || action.ListPending))
            BuildFrame(device, action);
        action.State = action.SendsLeft > 0 ? SEND : DONE;
        break;
    case RECOVER:
        action.StartTick = now;
        action.State = PAUSE;
        break;
    default:
        action.State = RELEASE;
        break;
    }
}

void DispatchReply(CQARNCommand& device, const ByteArray& frame, int terminal) {
    for (CQARNAction* action : device.Commands) {
        device.Log(kLogNoCode, kLogRecvUpFrame, kLogNoAddress);
        if (action->ExpectReply) {
            OfferReply(device, *action, frame, terminal);
            ScheduleNextPass(device);
            return;
        }
        action->Result = kResultUnexpectedReply;
        action->ResultFromReply = 1;
    }
}

} // namespace qarn
