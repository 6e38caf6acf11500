// The table of serial ports: one record per COM number, so that the number
// alone designates the record and a second open of it is refused.
#pragma once

#include <atomic>
#include <cstdint>

#include "link/port_note.h"
#include "platform/os.h"

struct LineLog;

struct SerialPort {
  os::Handle lock = nullptr;         // held for one command transaction
  os::Handle handle = nullptr;       // the device; null means closed
  os::Handle cancelEvent = nullptr;  // the pane's, borrowed
  os::Handle writeWait[2] = {};      // {writeEvent, cancelEvent}
  os::Handle readWait[2] = {};       // {readEvent, cancelEvent}
  uint32_t waitCount = 0;            // 2 with a cancelEvent, else 1
  uint32_t ioTimeoutMs = 0;
  uint32_t ctsWaitMs = 0;
  uint32_t guardDelayMs = 0;
  // The module's GT as last learnt on this port (a Read's ATGT, a user's
  // own): kept across closes, so that the next open waits it out and awaits
  // the "OK" that comes that long after the next "+++".
  uint32_t guardTime = 0;
  os::LineSettings serialSettings{};
  uint32_t portNumber = 0;
  uint32_t inCommandMode = 0;
  bool modemLinesMissingLogged = false;  // a line without them says so once
  // Reads that look for more of a reply: their time-out is its end, not a
  // reply missing, and the log does not call it one.
  bool quietEndsRead = false;
  // Threads that may touch `lock`, and a close in progress: the close lets
  // the lock go only when nobody can still be waiting for it.
  std::atomic<uint32_t> lockUsers{0};
  std::atomic<bool> closing{false};
  LineLog* lineLog = nullptr;  // its session's, from the open on
};

constexpr uint32_t kPortTableSize = 256;
constexpr uint32_t kDefaultIoTimeoutMs = 1200;
constexpr uint32_t kDefaultCtsWaitMs = 2560;
constexpr uint32_t kDefaultGuardDelayMs = 1120;
constexpr uint32_t kMinimumGuardDelayMs = 1120;

// The port's guardTime and guardDelayMs for a module's GT: the delay is
// GT + 30, at least 1120 and at most kLongestGuardTimeMs + 30. Kept in the
// port's note, so that a later open, in this process or another, has it.
void takeGuardTime(SerialPort* port, uint32_t guardTime);
// What the records keep of their modules (the guard times), forgotten: a
// test's world starts as a new process.
void forgetPortModules();
// How long the "OK" to a "+++" may take: the read window, or the module's
// learnt guard time and a margin where that is longer.
uint32_t escapeReplyWindowMs(const SerialPort* port);

// Record n is COM n; record 0 is never used.
SerialPort* portRecord(uint32_t portNumber);

// Null on failure, with the last error set: ERROR_INVALID_PARAMETER for a
// number outside 1..255, ERROR_ACCESS_DENIED when the record is open or
// another thread is still closing it.
SerialPort* openPort(uint32_t portNumber, os::Handle cancelEvent);
// Only command transactions take the port's lock: one in progress ends
// first, and one that waits for it is let through to find the port closed.
// Nothing else is guarded (discovery's raw transfers, the link test's
// transfers, a Write's line settings): the caller makes sure that none of
// those runs on another thread. A second, concurrent close returns at once,
// before the first has finished.
void closePort(SerialPort* port);
bool isValidPort(const SerialPort* port);
// The cancel event that ends the port's waits from now on; null: none does.
// Only between transfers, on the thread that uses the port.
void setPortCancelEvent(SerialPort* port, os::Handle cancelEvent);

// "\\.\COM<n>" for the device open; the buffer holds at least 12 characters.
void formatDeviceName(uint32_t portNumber, wchar_t* name, uint32_t size);
