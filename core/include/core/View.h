// What the worker thread and the update may do to the main window.
//
// Every call completes before the caller goes on: a window toolkit that only
// allows its own thread to touch controls carries the call out there, in
// order, while the caller waits. PostWindowMessage does not wait.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The captions of the Open/Close button (control 1012). The window keeps its
// port state in that caption: "Open" means no port is open, any other
// caption that one is.
inline constexpr const char* kCaptionOpen = "Open";
inline constexpr const char* kCaptionClose = "Close";
inline bool CaptionMeansPortClosed(std::string_view caption) { return caption == kCaptionOpen; }

class IDlgView {
public:
  virtual ~IDlgView() = default;

  // Adds one line at the end of the log list (control 1000), text unchanged.
  virtual void AppendLogLine(const std::string& text) = 0;
  // Appends one character at the end of the console box (control 1037).
  virtual void AppendConsoleChar(char ch) = 0;
  // Sets the caption of a button ("Open"/"Close" on 1012).
  virtual void SetControlText(int id, const std::string& text) = 0;
  virtual void EnableControl(int id, bool enable) = 0;
  // The caption a button shows now; "Link" and the Open/Close command decide
  // on the caption of 1012 alone.
  virtual std::string GetControlText(int id) { (void)id; return {}; }
  // A warning box owned by the main window; returns when it is closed.
  virtual void ShowMessageBox(const std::string& text, const std::string& caption) = 0;
  // Posts WM_UPDATE_END, WM_UPDATE_TIMER or WM_UPDATE_PROGRESS to the window.
  virtual void PostWindowMessage(uint32_t msg, uint32_t wParam, int32_t lParam) = 0;
};

// How an update ended, told to the observer just before WM_UPDATE_END is
// posted, so that a front end can report it (the command line maps it to its
// exit status). The window itself needs none of it: the log says it all.
enum class UpdateOutcome {
  Completed,     // "\ncompelete."
  RetryFailed,   // ten negative acknowledges in a row
  AckTimeout,    // ten acknowledge time-outs in a row
  FileError,     // an image, boot.bin, flash.bin or the dump file failed
  PortLost,      // the device went away during the update
  ActCutShort,   // an erase or program ended before all its ticks, or dump data
                 // stopped: the chip was reset or lost part of what it sent
  Stopped,       // a stop was asked for: the block in flight ended and
                 // nothing new (erase, program, next block) was begun
};

// What came of an attempt to open the port: the answer to WM_PORT_OPEN, or
// the reopen at 115200 baud during an update. The operator sees every failure
// as the same "Can't open port!" box; a front end may tell them apart.
enum class PortOpenResult {
  Opened,
  BadPortNumber,     // outside 1..1024, or no device named
  NoDevice,          // no such device
  Busy,              // another program holds it
  PermissionDenied,
  NotSerial,         // the device is no serial line
  SetupFailed,       // opened, but the queues or the line settings were refused
  OtherError,        // any other reason the system gave
};

class IUpdateObserver {
public:
  virtual ~IUpdateObserver() = default;
  virtual void OnUpdateOutcome(UpdateOutcome outcome) = 0;
  // The worker tried to open the port (every attempt, success included).
  virtual void OnPortOpenResult(PortOpenResult result) { (void)result; }
  // The device went away while no update ran; the worker has closed the port.
  virtual void OnPortLost() {}
  // The worker read bytes from the chip (any bytes, dump data included).
  virtual void OnBytesReceived(size_t count) { (void)count; }
  // The update moved on: a new stage, an acknowledged chunk, an erase or
  // program tick, or dump data inside the block being read. Console text,
  // stray bytes and resends are no progress.
  virtual void OnProgressMade() {}
};
