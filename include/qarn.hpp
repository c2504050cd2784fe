// qarn for C++17: the library's device objects, commands and replies as types.
//
//   qarn::Device device;                               // a device object, host address 1
//   device.connect("/dev/ttyUSB0", {9600, 'E'}).value();
//   qarn::Status status = device.status(2).value();    // clock and status value of terminal 2
//   for (const qarn::Record& r : device.records(2).value()) ...
//
// Errors. Every method returns a qarn::Result<T>: the value, or the qarn::Error that prevented
// it. value(), * and -> throw the Error; callers that do not use exceptions test the Result
// first (`if (!r) r.error()...`). An Error says what failed (failure()), and for a command that
// ended badly its result code (result(), the QARN_RESULT_ codes of qarn_layouts.h, any other
// value being the terminal's status byte) and that code's name (name()).
//
// Success. A command that the terminal acknowledges succeeds with result 8, one that returns
// data with 13 (14, no records, gives an empty list), a broadcast without reply with 0.
//
// Lifetimes. Device, Command and NotifyWindow are move-only and release what they hold when
// they go: a Device closes its port and its device object, a Command ends the command (only
// then can the next one start), a NotifyWindow destroys its window and with it every device
// opened on it, so it must outlive them.
//
// Threads. A Device belongs to the thread that opened it: its notifications, timer and waits
// run there. From any other thread every method fails with Failure::thread, and the destructor
// cannot close it. Commands run one at a time and pump the thread's messages while they wait.
//
// Lower levels. Device::run() starts any command code with a qarn::ParamBlock and returns the
// Command, whose result(), bytes() and data<Layout>() (checking the size against the
// qarn_layouts.h struct) read it; handle() gives the C handles for include/qarn.h.
//
// The line monitor. Device::send_frame() sends a raw frame body, send_command_frame() one built
// with the device's host address and key, stream() and last_frame() return
// the bytes received and the last frame's data, clear_stream() empties the store; a
// NotifyWindow made with an EventHandler receives the notifications as LineEvents (frame_sent,
// bytes_arrived, frame_received), with the device's handle, on the owner thread.
//
// Linux only: the window the notifications reach is the library's notification window.
#ifndef QARN_HPP
#define QARN_HPP

#if defined(_WIN32)
#error "qarn.hpp needs the Linux library's notification window; on Windows use qarn.h"
#endif

#include "qarn/command.hpp"
#include "qarn/device.hpp"
#include "qarn/download_files.hpp"
#include "qarn/line_settings.hpp"
#include "qarn/monitor.hpp"
#include "qarn/notify_window.hpp"
#include "qarn/result.hpp"
#include "qarn/types.hpp"

#endif
