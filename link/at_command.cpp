#include "link/at_command.h"

#include <cstring>

#include "link/hex.h"
#include "link/transfer.h"

namespace {

constexpr uint32_t kQueryLength = 5;  // "AT", two letters, CR

int32_t checkPort(const SerialPort* port) {
  return isValidPort(port) ? 0 : ErrBadHandle;
}

int32_t queryHex(SerialPort* port, const char* command, uint32_t size, uint32_t* value) {
  char reply[kHex32ReplySize] = {};
  const int32_t result = transact(port, command, kQueryLength, reply, size, nullptr);
  if (result == 0)
    *value = parseHex32(reply, nullptr);
  return result;
}

// "AT", two letters (the first four characters of name), the value in
// upper-case hexadecimal without leading zeros, and CR; it must be "OK"ed.
// One transaction whose transfers end on completion or time-out only.
int32_t transactWithoutCancel(SerialPort* port, const char* command, uint32_t commandLength,
                              char* reply, uint32_t size, uint32_t* length) {
  const uint32_t waitCount = port->waitCount;
  port->waitCount = 1;
  const int32_t result = transact(port, command, commandLength, reply, size, length);
  port->waitCount = waitCount;
  return result;
}

// Over the length received: a NUL inside the reply must not end the test early.
int32_t okReply(const char* reply, uint32_t length) {
  return length == 2 && std::memcmp(reply, "OK", 2) == 0 ? 0 : ErrNotOk;
}

// One "OK" command the same way.
int32_t sendWithoutCancel(SerialPort* port, const char* command, uint32_t commandLength) {
  char reply[kOkReplySize] = {};
  uint32_t length = 0;
  const int32_t result =
      transactWithoutCancel(port, command, commandLength, reply, kOkReplySize, &length);
  return result != 0 ? result : okReply(reply, length);
}

// The port is counted as a user of its lock before it looks whether a close
// has begun, so a close never lets the lock go under this thread.
bool takeExchangeLock(SerialPort* port) {
  port->lockUsers.fetch_add(1);
  if (!port->closing.load() && os::lockMutex(port->lock)) {
    if (port->handle)  // it may have closed while this waited
      return true;
    os::unlockMutex(port->lock);
  }
  port->lockUsers.fetch_sub(1);
  return false;
}

void releaseExchangeLock(SerialPort* port) {
  os::unlockMutex(port->lock);
  port->lockUsers.fetch_sub(1);
}

}  // namespace

int32_t transact(SerialPort* port, const char* command, uint32_t commandLength, char* buffer,
                 uint32_t size, uint32_t* outLength, bool* crEnded) {
  if (!isValidPort(port))
    return ErrBadHandle;
  if (!command || !buffer || size == 0)
    return ErrArgument;
  if (!takeExchangeLock(port))
    return ErrBadHandle;
  int32_t result = writeBytes(port, command, commandLength);
  if (result == 0)
    result = readLine(port, buffer, size, outLength, crEnded);
  releaseExchangeLock(port);
  return result;
}

int32_t sendCommandExpectOk(SerialPort* port, const char* command, uint32_t commandLength) {
  char reply[kOkReplySize] = {};
  uint32_t length = 0;
  const int32_t result = transact(port, command, commandLength, reply, kOkReplySize, &length);
  return result != 0 ? result : okReply(reply, length);
}

int32_t sendCommand5ExpectOk(SerialPort* port, const char* command) {
  if (int32_t r = checkPort(port))
    return r;
  if (!command)
    return ErrArgument;
  return sendCommandExpectOk(port, command, kQueryLength);
}

int32_t queryHex32(SerialPort* port, const char* command, uint32_t* out) {
  if (int32_t r = checkPort(port))
    return r;
  if (!command || !out)
    return ErrArgument;
  return queryHex(port, command, kHex32ReplySize, out);
}

int32_t queryHex16(SerialPort* port, const char* command, uint16_t* out) {
  if (int32_t r = checkPort(port))
    return r;
  if (!command || !out)
    return ErrArgument;
  uint32_t value = 0;
  const int32_t result = queryHex(port, command, kHex16ReplySize, &value);
  if (result == 0)
    *out = static_cast<uint16_t>(value);
  return result;
}

int32_t queryHex8(SerialPort* port, const char* command, uint8_t* out) {
  if (int32_t r = checkPort(port))
    return r;
  if (!command || !out)
    return ErrArgument;
  uint32_t value = 0;
  const int32_t result = queryHex(port, command, kHex8ReplySize, &value);
  if (result == 0)
    *out = static_cast<uint8_t>(value);
  return result;
}

int32_t queryExtendedPanId(SerialPort* port, uint64_t* out) {
  if (int32_t r = checkPort(port))
    return r;
  if (!out)
    return ErrArgument;
  char reply[kPanIdReplySize] = {};
  const int32_t result = transact(port, "ATID\r", kQueryLength, reply, kPanIdReplySize, nullptr);
  if (result != 0)
    return result;
  uint64_t value = 0;
  if (!scanHex64(reply, &value))
    return ErrRead;
  *out = value;
  return 0;
}

int32_t queryText(SerialPort* port, const char* command, char* buffer, uint32_t size,
                  uint32_t* outLength) {
  if (int32_t r = checkPort(port))
    return r;
  if (!command || !buffer || size == 0)
    return ErrArgument;
  return transact(port, command, kQueryLength, buffer, size, outLength);
}

int32_t queryNodeIdentifier(SerialPort* port, char* buffer, uint32_t* outLength) {
  return queryText(port, "ATNI\r", buffer, kNodeIdReplySize, outLength);
}

int32_t queryTpText(SerialPort* port, char* buffer) {
  return queryText(port, "ATTP\r", buffer, kTpReplySize, nullptr);
}

int32_t readGuardTime(SerialPort* port) {
  if (int32_t r = checkPort(port))
    return r;
  uint32_t gt = 0;
  const int32_t result = queryHex(port, "ATGT\r", kHex32ReplySize, &gt);
  if (result != 0)
    return result;
  takeGuardTime(port, gt);
  return 0;
}

// By hand, so that no C library's idea of a 64-bit format comes into it.
int32_t setHexRegister(SerialPort* port, const char* name, uint64_t value, int minDigits) {
  if (int32_t r = checkPort(port))
    return r;
  if (!name || strnlen(name, 4) < 4)
    return ErrArgument;
  char text[4 + 16 + 1];
  std::memcpy(text, name, 4);
  const int digits = formatHex(value, minDigits, text + 4);
  text[4 + digits] = '\r';
  return sendCommandExpectOk(port, text, static_cast<uint32_t>(4 + digits + 1));
}

int32_t setRegister8(SerialPort* port, const char* name, uint8_t value) {
  return setHexRegister(port, name, value, 1);
}

int32_t setBaudCode(SerialPort* port, uint32_t code) {
  return setHexRegister(port, "ATBD", code, 1);
}

int32_t setChannelMask(SerialPort* port, uint16_t mask) {
  return setHexRegister(port, "ATSC", mask, 1);
}

int32_t setNetworkReset(SerialPort* port, uint8_t value) {
  return setRegister8(port, "ATNR", value);
}

int32_t setSleepMode(SerialPort* port, uint8_t value) {
  return setRegister8(port, "ATSM", value);
}

int32_t setD6Config(SerialPort* port, uint8_t value) {
  return setRegister8(port, "ATD6", value);
}

int32_t setD7Config(SerialPort* port, uint8_t value) {
  return setRegister8(port, "ATD7", value);
}

int32_t setStopBitsCode(SerialPort* port, uint8_t value) {
  return setRegister8(port, "ATSB", value);
}

int32_t setParityCode(SerialPort* port, uint8_t value) {
  return setRegister8(port, "ATNB", value);
}

int32_t setBoostMode(SerialPort* port, uint8_t value) {
  return setRegister8(port, "ATPM", value);
}

int32_t setPowerLevel(SerialPort* port, uint8_t value) {
  return setRegister8(port, "ATPL", value);
}

int32_t enterCommandMode(SerialPort* port) {
  if (int32_t r = checkPort(port))
    return r;
  if (port->inCommandMode == 1)
    return 0;
  // Outside the lock: nothing else writes meanwhile. A Cancel ends it at once.
  if (!pauseUnlessCancelled(port, port->guardDelayMs) || cancelRequested(port))
    return ErrCancelled;
  // Once "+++" is out the module answers it: the answer is awaited whatever
  // a cancel says, so that the sequence knows to leave command mode again.
  // Whatever came in meanwhile (radio data a module let out as it left
  // command mode) is no answer to it.
  purgePort(port);
  if (!takeExchangeLock(port))
    return ErrBadHandle;
  const uint32_t waitCount = port->waitCount;
  port->waitCount = 1;
  int32_t result = writeBytes(port, "+++", 3);
  if (result == 0)
    result = readEscapeAnswer(port, escapeReplyWindowMs(port));
  port->waitCount = waitCount;
  releaseExchangeLock(port);
  if (result != 0)
    return result;
  port->inCommandMode = 1;
  return 0;
}

int32_t storeSettings(SerialPort* port) {
  if (int32_t r = checkPort(port))
    return r;
  return sendWithoutCancel(port, "ATWR\r", kQueryLength);
}

int32_t exitCommandMode(SerialPort* port) {
  if (int32_t r = checkPort(port))
    return r;
  if (port->inCommandMode == 0)
    return 0;
  // The cancel that ended a sequence stays set, but the way out must still
  // go out whole: a module left in command mode applies a cancelled write's
  // setters on its own and passes no data. The port's I/O time-out bounds it.
  const int32_t result = sendWithoutCancel(port, "ATCN\r", kQueryLength);
  if (result != 0)
    return result;
  port->inCommandMode = 0;
  return 0;
}
