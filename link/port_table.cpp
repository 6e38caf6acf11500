#include "link/port_table.h"

#include "link/port_activity.h"

namespace {

SerialPort portTable[kPortTableSize];

void closeAndClear(os::Handle& handle) {
  if (handle) {
    os::closeHandle(handle);
    handle = nullptr;
  }
}

void applyGuardTime(SerialPort* port, uint32_t gt) {
  port->guardTime = gt;
  const uint32_t delay = (gt < kLongestGuardTimeMs ? gt : kLongestGuardTimeMs) + 30;
  port->guardDelayMs = delay >= kMinimumGuardDelayMs ? delay : kMinimumGuardDelayMs;
}

void openDevice(SerialPort& port) {
  wchar_t name[16];
  formatDeviceName(port.portNumber, name, 16);
  port.handle = os::openSerial(name);
}

}  // namespace

SerialPort* portRecord(uint32_t portNumber) {
  return portNumber < kPortTableSize ? &portTable[portNumber] : nullptr;
}

void formatDeviceName(uint32_t portNumber, wchar_t* name, uint32_t size) {
  const wchar_t prefix[] = L"\\\\.\\COM";
  uint32_t i = 0;
  for (; prefix[i] && i + 1 < size; ++i)
    name[i] = prefix[i];
  // The number goes out as an 8-bit value, which 1..255 always fits.
  const uint32_t n = portNumber & 0xFF;
  wchar_t digits[3];
  uint32_t count = 0;
  uint32_t rest = n;
  do {
    digits[count++] = static_cast<wchar_t>(L'0' + rest % 10);
    rest /= 10;
  } while (rest && count < 3);
  while (count && i + 1 < size)
    name[i++] = digits[--count];
  name[i] = 0;
}

SerialPort* openPort(uint32_t portNumber, os::Handle cancelEvent) {
  if (portNumber < 1 || portNumber > 255) {
    os::setLastError(os::kErrorInvalidParameter);
    return nullptr;
  }
  SerialPort& port = portTable[portNumber];
  port.portNumber = portNumber;
  // A close still under way would take the new lock for the old one's.
  if (port.handle || port.closing.load()) {
    os::setLastError(os::kErrorAccessDenied);
    return nullptr;
  }
  port.lock = os::createMutex();
  if (!port.lock)
    return nullptr;
  port.cancelEvent = cancelEvent;
  port.writeWait[0] = os::createEvent();
  if (!port.writeWait[0]) {
    closePort(&port);
    return nullptr;
  }
  port.readWait[0] = os::createEvent();
  if (!port.readWait[0]) {
    closePort(&port);
    return nullptr;
  }
  port.writeWait[1] = cancelEvent;
  port.readWait[1] = cancelEvent;
  port.ioTimeoutMs = kDefaultIoTimeoutMs;
  port.ctsWaitMs = kDefaultCtsWaitMs;
  port.waitCount = cancelEvent ? 2 : 1;
  applyGuardTime(&port, port.guardTime);
  port.inCommandMode = 0;

  if (!os::lockMutex(port.lock)) {
    const uint32_t error = os::lastError();
    closePort(&port);
    os::setLastError(error);
    return nullptr;
  }
  openDevice(port);
  os::unlockMutex(port.lock);
  if (!port.handle) {
    // Keep the device's error for the caller across the clean-up.
    const uint32_t error = os::lastError();
    closePort(&port);
    os::setLastError(error);
    return nullptr;
  }
  // What a later process knows of the module: nobody else had the port since.
  if (const uint32_t known = knownGuardTime(portNumber))
    applyGuardTime(&port, known);
  return &port;
}

void closePort(SerialPort* port) {
  if (!port || port->closing.exchange(true))
    return;  // another thread is closing it already
  const bool locked = port->lock && os::lockMutex(port->lock);
  if (port->handle) {
    os::purgeSerial(port->handle, os::kPurgeAll);
    closeAndClear(port->handle);
  }
  closeAndClear(port->writeWait[0]);
  closeAndClear(port->readWait[0]);
  port->cancelEvent = nullptr;
  port->writeWait[1] = nullptr;
  port->readWait[1] = nullptr;
  port->inCommandMode = 0;
  port->modemLinesMissingLogged = false;
  port->quietEndsRead = false;
  if (locked)
    os::unlockMutex(port->lock);
  // A transaction that was already waiting takes the lock, finds the port
  // closed and lets go; closing the lock under it would leave it waiting on
  // nothing.
  while (port->lockUsers.load() != 0)
    os::sleepMs(1);
  closeAndClear(port->lock);
  port->closing.store(false);
}

bool isValidPort(const SerialPort* port) {
  if (!port)
    return false;
  const SerialPort* first = &portTable[1];
  const SerialPort* end = &portTable[kPortTableSize];
  // Compare as addresses: a pointer from elsewhere must not be dereferenced.
  const auto p = reinterpret_cast<uintptr_t>(port);
  if (p < reinterpret_cast<uintptr_t>(first) || p >= reinterpret_cast<uintptr_t>(end)) {
    return false;
  }
  if ((p - reinterpret_cast<uintptr_t>(first)) % sizeof(SerialPort) != 0)
    return false;
  return port->handle != nullptr;
}

void setPortCancelEvent(SerialPort* port, os::Handle cancelEvent) {
  if (!port)
    return;
  port->cancelEvent = cancelEvent;
  port->writeWait[1] = cancelEvent;
  port->readWait[1] = cancelEvent;
  port->waitCount = cancelEvent ? 2 : 1;
}

void takeGuardTime(SerialPort* port, uint32_t gt) {
  applyGuardTime(port, gt);
  noteGuardTime(port->portNumber, gt);
}

uint32_t escapeReplyWindowMs(const SerialPort* port) {
  const uint32_t gt = port->guardTime < kLongestGuardTimeMs ? port->guardTime : kLongestGuardTimeMs;
  // The "OK" of a module at the usual GT of 1 s comes 200 ms before the window ends.
  return gt + 200 > port->ioTimeoutMs ? gt + 200 : port->ioTimeoutMs;
}

void forgetPortModules() {
  for (uint32_t n = 1; n < kPortTableSize; ++n)
    portRecord(n)->guardTime = 0;
}
