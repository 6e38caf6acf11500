// os:: onto the virtual world of the running test.
#include "platform/os.h"
#include "platform/virtual/world.h"

namespace os {
namespace {
thread_local uint32_t tlLastError = 0;
vw::World& world() {
  return vw::World::current();
}
}  // namespace

uint32_t tickCount() {
  return world().tickCount();
}
void sleepMs(uint32_t ms) {
  world().sleepMs(ms);
}
uint64_t bootClockMs() {
  return world().bootClockMs();
}
NoteRead readPortNote(uint32_t portNumber, char* bytes, uint32_t capacity, uint32_t& got) {
  return world().readPortNote(portNumber, bytes, capacity, got);
}
bool writePortNote(uint32_t portNumber, const char* bytes, uint32_t count) {
  return world().writePortNote(portNumber, bytes, count);
}
Handle createLookPause() {
  return world().createLookPause();
}
void pauseBetweenLooks(Handle pause) {
  world().pauseBetweenLooks(pause);
}

// Read without counting as a call: a stamp must not make a wait look like a spin.
LocalTime localTime() {
  constexpr uint64_t kMsPerDay = 86400000;
  const uint64_t ms = world().now() / 1000;
  LocalTime t;
  t.msOfDay = static_cast<uint32_t>(ms % kMsPerDay);
  // Days since 1 March 2000 to a civil date (the Gregorian rules; 2000 is a leap year).
  const uint64_t days = ms / kMsPerDay + 306;
  const uint64_t era = days / 146097, dayOfEra = days % 146097;
  const uint64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const uint64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const uint64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
  t.day = static_cast<uint8_t>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
  t.month = static_cast<uint8_t>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
  t.year = static_cast<uint16_t>(2000 + era * 400 + yearOfEra + (t.month <= 2 ? 1 : 0));
  return t;
}
uint32_t lastError() {
  return tlLastError;
}
void setLastError(uint32_t code) {
  tlLastError = code;
}

Handle createEvent() {
  return world().createEvent();
}
bool setEvent(Handle event) {
  return world().setEvent(event);
}
bool resetEvent(Handle event) {
  return world().resetEvent(event);
}
bool isEventSet(Handle event) {
  return world().isEventSet(event);
}
Handle createMutex() {
  return world().createMutex();
}
bool lockMutex(Handle mutex) {
  return world().lockMutex(mutex);
}
bool unlockMutex(Handle mutex) {
  return world().unlockMutex(mutex);
}
// The world's thread number, boxed: 0 is a thread of the world too.
Handle startThread(void (*body)(void*), void* context) {
  return new int(world().spawn([body, context] { body(context); }));
}

void joinThread(Handle thread) {
  if (!thread)
    return;
  world().join(*static_cast<int*>(thread));
  delete static_cast<int*>(thread);
}

bool closeHandle(Handle handle) {
  return world().closeHandle(handle);
}
int waitAny(const Handle* handles, uint32_t count, uint32_t timeoutMs) {
  return world().waitAny(handles, count, timeoutMs);
}

Handle openSerial(const wchar_t* deviceName) {
  return world().openSerial(deviceName);
}
bool purgeSerial(Handle device, uint32_t flags) {
  return world().purgeSerial(device, flags);
}
bool setSerialTimeouts(Handle device, const Timeouts& timeouts) {
  return world().setSerialTimeouts(device, timeouts);
}
bool setSerialQueues(Handle device, uint32_t inBytes, uint32_t outBytes) {
  return world().setSerialQueues(device, inBytes, outBytes);
}
bool getLineSettings(Handle device, LineSettings& settings) {
  return world().getLineSettings(device, settings);
}
bool setLineSettings(Handle device, const LineSettings& settings) {
  return world().setLineSettings(device, settings);
}
bool escapeSerial(Handle device, uint32_t function) {
  return world().escapeSerial(device, function);
}
bool getModemStatus(Handle device, uint32_t& status) {
  return world().getModemStatus(device, status);
}
uint32_t bytesWaiting(Handle device) {
  return world().bytesWaiting(device);
}
bool setBreak(Handle device) {
  return world().setBreak(device, true);
}
bool clearBreak(Handle device) {
  return world().setBreak(device, false);
}

bool startWrite(Handle device, const void* bytes, uint32_t count, Transfer& transfer,
                Handle event) {
  return world().startTransfer(device, true, const_cast<void*>(bytes), count, transfer, event,
                               true);
}
bool startRead(Handle device, void* bytes, uint32_t count, Transfer& transfer, Handle event) {
  return world().startTransfer(device, false, bytes, count, transfer, event, true);
}
bool startReadUnsignalled(Handle device, void* bytes, uint32_t count, Transfer& transfer) {
  return world().startTransfer(device, false, bytes, count, transfer, nullptr, false);
}
bool finishTransfer(Handle device, Transfer& transfer, uint32_t& count) {
  return world().finishTransfer(device, transfer, count);
}
bool cancelTransfers(Handle device) {
  return world().cancelTransfers(device);
}

}  // namespace os
