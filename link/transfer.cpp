#include "link/transfer.h"

#include <cstdio>

#include "link/errors.h"
#include "link/line_log.h"
#include "link/port_activity.h"

namespace {

constexpr uint32_t kSecondCtsWaitMs = 20000;
constexpr char kCr = '\r';

// True when the seam said the line has none, after logging it once.
bool modemLinesMissing(SerialPort* port) {
  if (os::lastError() != os::kErrorNotSupported)
    return false;
  if (!port->modemLinesMissingLogged)
    logEvent(port, "no modem lines: DTR, RTS and CTS left out");
  port->modemLinesMissingLogged = true;
  return true;
}

bool ctsIsUp(SerialPort* port, bool& up) {
  uint32_t status = 0;
  if (!os::getModemStatus(port->handle, status)) {
    // Nothing can hold such a line back.
    up = modemLinesMissing(port);
    return up;
  }
  up = (status & os::kModemCtsOn) != 0;
  return true;
}

// A cancelled or abandoned transfer still owns its record until the driver
// lets go of it; wait for that, so the record never outlives its stack frame.
// What the transfer moved before the cancel took it (a byte that came as
// the wait ran out, on a machine too busy to look in time).
uint32_t cancelAndSettle(SerialPort* port, os::Transfer& transfer) {
  os::cancelTransfers(port->handle);
  uint32_t moved = 0;
  return os::finishTransfer(port->handle, transfer, moved) ? moved : 0;
}

// How a wait for a transfer ended, for the line log.
void logWaitEnd(SerialPort* port, int index, bool reading) {
  if (index == 1)
    logEvent(port, "cancelled");
  else if (index == os::kWaitTimeout && reading && !port->quietEndsRead)
    logNoReply(port);
  else if (index == os::kWaitTimeout && !reading)
    logEvent(port, "write not done in time");
  else if (index == os::kWaitTimeout)
    return;
  else if (index != 0)
    logEvent(port, "wait failed");
}

// A starved machine may serve a read long after its bytes came: bytes that
// wait in the device when the wait runs out came in time, and get their read.
constexpr uint32_t kLateServeMs = 2000;

int awaitServed(SerialPort* port, os::Handle* waitPair, bool reading) {
  const int index = os::waitAny(waitPair, port->waitCount, port->ioTimeoutMs);
  if (index != os::kWaitTimeout || !reading || os::bytesWaiting(port->handle) == 0)
    return index;
  logEvent(port, "read served late");
  return os::waitAny(waitPair, port->waitCount, kLateServeMs);
}

// The wait shared by writeBytes and readLine; waitIndex tells the log how
// it ended.
int32_t awaitTransfer(SerialPort* port, os::Handle* waitPair, os::Transfer& transfer,
                      int32_t nothingMoved, int& waitIndex) {
  const int index = awaitServed(port, waitPair, nothingMoved == ErrRead);
  waitIndex = index;
  if (index == 0) {
    uint32_t count = 0;
    if (!os::finishTransfer(port->handle, transfer, count))
      return ErrTimeout;
    return count == 0 ? nothingMoved : 0;
  }
  const uint32_t moved = cancelAndSettle(port, transfer);
  // A byte read is a byte received, however late the thread looked: dropped,
  // it would be missing from the next line.
  if (index == os::kWaitTimeout && moved > 0 && nothingMoved == ErrRead) {
    waitIndex = 0;
    return 0;
  }
  return index == 1 ? ErrCancelled : ErrTimeout;
}

bool pollCtsWithoutBreak(SerialPort* port) {
  // Made at the first look that finds CTS down: most polls find it up.
  os::Handle pause = nullptr;
  bool pauseMade = false;
  bool up = false;
  const uint32_t t0 = os::tickCount();
  while (os::tickCount() - t0 <= port->ctsWaitMs) {
    if (!ctsIsUp(port, up) || up)
      break;
    if (!pauseMade) {
      pause = os::createLookPause();
      pauseMade = true;
    }
    os::pauseBetweenLooks(pause);
  }
  if (pause)
    os::closeHandle(pause);
  return up;
}

}  // namespace

bool purgePort(SerialPort* port) {
  return os::purgeSerial(port->handle, os::kPurgeAll);
}

bool setModemLine(SerialPort* port, uint32_t function) {
  return os::escapeSerial(port->handle, function) || modemLinesMissing(port);
}

bool cancelRequested(const SerialPort* port) {
  return port->waitCount == 2 && port->writeWait[1] && os::isEventSet(port->writeWait[1]);
}

bool waitForCts(SerialPort* port, uint32_t limitMs) {
  bool up = false;
  if (!ctsIsUp(port, up))
    return false;
  if (up)
    return true;
  os::setBreak(port->handle);
  logEvent(port, "break on (waiting for CTS)");
  os::sleepMs(1);
  const uint32_t t0 = os::tickCount();
  for (;;) {
    if (os::tickCount() - t0 > limitMs)
      break;
    if (!ctsIsUp(port, up))
      break;
    if (up) {
      os::clearBreak(port->handle);
      logEvent(port, "break off");
      return true;
    }
    os::sleepMs(1);
  }
  os::clearBreak(port->handle);
  logEvent(port, "break off, CTS stayed down");
  return false;
}

bool waitWriteReady(SerialPort* port) {
  return waitForCts(port, port->ctsWaitMs) || waitForCts(port, kSecondCtsWaitMs);
}

bool pauseUnlessCancelled(SerialPort* port, uint32_t ms) {
  if (ms == 0)
    return !cancelRequested(port);
  if (port->waitCount == 2 && port->writeWait[1]) {
    const int index = os::waitAny(&port->writeWait[1], 1, ms);
    if (index == 0)
      return false;
    if (index == os::kWaitTimeout)
      return true;
  }
  os::sleepMs(ms);  // no cancel to watch, or a wait that failed: the pause is owed all the same
  return true;
}

namespace {

void noteSent(const SerialPort* port) {
  if (!noteBytesSent(port->portNumber))
    logEvent(port, "the note of this port for later commands could not be kept");
}

}  // namespace

bool waitOutGuardTime(SerialPort* port) {
  const uint32_t guard =
      port->guardDelayMs > kDefaultGuardDelayMs ? port->guardDelayMs : kDefaultGuardDelayMs;
  const uint32_t left = guardTimeLeftMs(port->portNumber, guard);
  if (left > 0 && lineLogActive(port)) {
    char text[96];
    std::snprintf(text, sizeof text, "quiet for the guard time: %u ms more%s", left,
                  portNoteDoubted(port->portNumber) ? " (the port's note could not be read)" : "");
    logEvent(port, text);
  }
  return pauseUnlessCancelled(port, left);
}

int32_t writeBytes(SerialPort* port, const char* bytes, uint32_t count) {
  os::resetEvent(port->writeWait[0]);
  if (cancelRequested(port)) {
    logEvent(port, "cancelled");
    return ErrCancelled;
  }
  if (!waitWriteReady(port))
    return ErrWrite;
  if (cancelRequested(port)) {
    logEvent(port, "cancelled");
    return ErrCancelled;
  }
  os::Transfer transfer{};
  if (!os::startWrite(port->handle, bytes, count, transfer, port->writeWait[0])) {
    logEvent(port, "write failed");
    return ErrWrite;
  }
  logSent(port, bytes, count);
  int waitIndex = 0;
  const int32_t result = awaitTransfer(port, port->writeWait, transfer, ErrWrite, waitIndex);
  noteSent(port);
  logWaitEnd(port, waitIndex, false);
  return result;
}

int32_t readLine(SerialPort* port, char* buffer, uint32_t size, uint32_t* outLength,
                 bool* crEnded) {
  uint32_t i = 0;
  int32_t result = 0;
  int waitIndex = 0;
  bool endedByCr = false;
  while (i < size) {
    char byte = 0;
    os::resetEvent(port->readWait[0]);
    os::Transfer transfer{};
    if (!os::startRead(port->handle, &byte, 1, transfer, port->readWait[0])) {
      result = ErrRead;
      waitIndex = os::kWaitFailed;
      break;
    }
    result = awaitTransfer(port, port->readWait, transfer, ErrRead, waitIndex);
    endedByCr = result == 0 && byte == kCr;
    if (result != 0 || endedByCr)
      break;
    buffer[i++] = byte;
  }
  if (i > 0)
    logReceived(port, buffer, i);
  else if (endedByCr)
    logReceived(port, "\r", 1);  // an empty reply is a reply too
  logWaitEnd(port, waitIndex, true);
  if (i == size)
    i = size - 1;  // the terminator takes the last place
  // Terminated on every way out: a line cut short must never read on into
  // what an earlier line left in the buffer.
  buffer[i] = 0;
  if (outLength)
    *outLength = i;
  if (crEnded)
    *crEnded = endedByCr;
  if (result != 0)
    return result;
  return i == 0 ? ErrRead : 0;
}

bool writeRaw(SerialPort* port, const char* bytes, uint32_t count) {
  os::resetEvent(port->writeWait[0]);
  os::Transfer transfer{};
  if (!os::startWrite(port->handle, bytes, count, transfer, port->writeWait[0])) {
    logEvent(port, "write failed");
    return false;
  }
  logSent(port, bytes, count);
  const int index = os::waitAny(port->writeWait, port->waitCount, port->ioTimeoutMs);
  if (index != 0) {
    cancelAndSettle(port, transfer);
    noteSent(port);
    logWaitEnd(port, index, false);
    return false;
  }
  uint32_t moved = 0;
  const bool finished = os::finishTransfer(port->handle, transfer, moved);
  noteSent(port);
  return finished;
}

bool readLineRaw(SerialPort* port, char* buffer, uint32_t size, uint32_t* outCount) {
  os::resetEvent(port->readWait[0]);
  uint32_t stored = 0;
  int waitIndex = 0;
  bool ok = true;
  while (ok && stored + 1 < size) {
    if (!pollCtsWithoutBreak(port)) {
      logEvent(port, "CTS stayed down");
      ok = false;
      break;
    }
    os::Transfer transfer{};
    if (!os::startRead(port->handle, buffer + stored, 1, transfer, port->readWait[0])) {
      ok = false;
      break;
    }
    waitIndex = awaitServed(port, port->readWait, true);
    if (waitIndex != 0) {
      os::cancelTransfers(port->handle);
    }
    uint32_t moved = 0;
    ok = os::finishTransfer(port->handle, transfer, moved);
    if (ok && buffer[stored++] == kCr)
      break;
  }
  logReceived(port, buffer, stored);
  logWaitEnd(port, waitIndex, true);
  if (!ok)
    return false;
  buffer[stored] = 0;
  if (outCount)
    *outCount = stored;
  return true;
}

int32_t readEscapeAnswer(SerialPort* port, uint32_t windowMs) {
  const uint32_t ioTimeout = port->ioTimeoutMs, t0 = os::tickCount();
  char chunk[18] = {};  // two carried over: an "OK" cut by a full read
  bool ok = false, heard = false;
  for (uint32_t elapsed = 0; !ok && elapsed < windowMs; elapsed = os::tickCount() - t0) {
    port->ioTimeoutMs = windowMs - elapsed;
    uint32_t count = 0;
    if (!readLineRaw(port, chunk + 2, sizeof chunk - 2, &count) || count == 0)
      break;
    const char* end = chunk + 2 + count;
    ok = end[-1] == kCr && end[-2] == 'K' && end[-3] == 'O';
    heard = true;
    chunk[0] = end[-2];
    chunk[1] = end[-1];
  }
  port->ioTimeoutMs = ioTimeout;
  return ok ? 0 : heard ? ErrNotOk : ErrTimeout;
}

bool readBlockTimed(SerialPort* port, char* buffer, uint32_t count, uint32_t* outCount,
                    bool* issued) {
  *outCount = 0;
  if (issued)
    *issued = false;
  os::resetEvent(port->readWait[0]);
  os::Transfer transfer{};
  if (!os::startReadUnsignalled(port->handle, buffer, count, transfer))
    return false;
  if (issued)
    *issued = true;
  const int index = os::waitAny(port->readWait, port->waitCount, port->ioTimeoutMs);
  if (index != 0) {
    os::cancelTransfers(port->handle);
  }
  uint32_t moved = 0;
  const bool ok = os::finishTransfer(port->handle, transfer, moved);
  *outCount = moved;
  logReceived(port, buffer, moved);
  // The window always runs out; it says something only when it brought nothing.
  if (moved == 0 || index != os::kWaitTimeout)
    logWaitEnd(port, index, true);
  return ok;
}
