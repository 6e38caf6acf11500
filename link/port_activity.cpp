#include "link/port_activity.h"

#include <atomic>

#include "link/port_note.h"
#include "platform/os.h"

namespace {

// Each entry is written by the one thread that uses its port at a time
// (a stop at once may note its last bytes beside it).
struct Activity {
  std::atomic<bool> sent{false};
  std::atomic<uint64_t> sentAt{0};
  std::atomic<bool> due{false};
  std::atomic<uint64_t> dueUntil{0};
  std::atomic<uint32_t> guardTime{0};
  std::atomic<uint64_t> lineCode{0};  // 0: none known
  std::atomic<bool> keepFailureTold{false};
  std::atomic<bool> noteDoubted{false};  // as last read
};

constexpr uint32_t kPorts = 256;  // COM0 to COM255, as the port table
Activity activity[kPorts];

Activity* entry(uint32_t portNumber) {
  return portNumber < kPorts ? &activity[portNumber] : nullptr;
}

// False only the first time that it fails on the port.
bool keep(uint32_t portNumber, Activity& a) {
  PortNote note;
  note.sent = a.sent.load();
  note.sentAtMs = a.sentAt.load();
  note.due = a.due.load();
  note.dueUntilMs = a.dueUntil.load();
  note.guardTimeMs = a.guardTime.load();
  note.guard = note.guardTimeMs != 0;
  note.lineCode = a.lineCode.load();
  note.line = note.lineCode != 0;
  char text[kPortNoteCapacity];
  const size_t length = formatPortNote(note, text, sizeof text);
  return os::writePortNote(portNumber, text, static_cast<uint32_t>(length)) ||
         a.keepFailureTold.exchange(true);
}

void later(std::atomic<bool>& known, std::atomic<uint64_t>& at, bool noted, uint64_t notedAt) {
  if (noted && (!known.load() || notedAt > at.load())) {
    at.store(notedAt);
    known.store(true);
  }
}

// Read as each wait is decided, with the port open: no other process can
// have used it since.
void takeInNote(uint32_t portNumber, Activity& a) {
  char text[kPortNoteCapacity];
  uint32_t got = 0;
  const os::NoteRead read = os::readPortNote(portNumber, text, sizeof text, got);
  const PortNote note = trustedPortNote(read != os::NoteRead::Missing, read == os::NoteRead::Found,
                                        text, got, os::bootClockMs());
  a.noteDoubted.store(note.doubted);
  later(a.sent, a.sentAt, note.sent, note.sentAtMs);
  later(a.due, a.dueUntil, note.due, note.dueUntilMs);
  // The note is the newest word on the module: nobody else had the port since.
  if (note.guard && note.guardTimeMs != 0)
    a.guardTime.store(static_cast<uint32_t>(note.guardTimeMs));
  if (note.line)
    a.lineCode.store(note.lineCode);
}

}  // namespace

bool noteBytesSent(uint32_t portNumber) {
  Activity* a = entry(portNumber);
  if (!a)
    return true;
  a->sentAt.store(os::bootClockMs());
  a->sent.store(true);
  return keep(portNumber, *a);
}

uint32_t guardTimeLeftMs(uint32_t portNumber, uint32_t guardMs) {
  Activity* a = entry(portNumber);
  if (!a)
    return 0;
  takeInNote(portNumber, *a);
  if (!a->sent.load())
    return 0;
  const uint64_t now = os::bootClockMs();
  const uint64_t at = a->sentAt.load();
  // Both stamps are whole milliseconds: up to one more may have passed than
  // the two tell, and the pause errs long, never short of the guard.
  const uint64_t since = now > at + 1 ? now - at - 1 : 0;
  return since < guardMs ? guardMs - static_cast<uint32_t>(since) : 0;
}

void noteArrivalsDue(uint32_t portNumber, uint32_t forMs) {
  if (Activity* a = entry(portNumber)) {
    a->dueUntil.store(os::bootClockMs() + forMs);
    a->due.store(true);
    keep(portNumber, *a);
  }
}

uint32_t arrivalsDueMs(uint32_t portNumber) {
  Activity* a = entry(portNumber);
  if (!a)
    return 0;
  takeInNote(portNumber, *a);
  if (!a->due.load())
    return 0;
  const uint64_t now = os::bootClockMs();
  const uint64_t until = a->dueUntil.load();
  if (until > now)
    return static_cast<uint32_t>(until - now < kLongestArrivalsDueMs ? until - now
                                                                     : kLongestArrivalsDueMs);
  a->due.store(false);
  return 0;
}

void noteGuardTime(uint32_t portNumber, uint32_t guardTime) {
  Activity* a = entry(portNumber);
  if (!a || guardTime == 0 || a->guardTime.exchange(guardTime) == guardTime)
    return;
  keep(portNumber, *a);
}

uint32_t knownGuardTime(uint32_t portNumber) {
  Activity* a = entry(portNumber);
  if (!a)
    return 0;
  takeInNote(portNumber, *a);
  return a->guardTime.load();
}

void forgetPortActivity() {
  for (Activity& a : activity) {
    a.sent.store(false);
    a.due.store(false);
    a.guardTime.store(0);
    a.lineCode.store(0);
    a.keepFailureTold.store(false);
    a.noteDoubted.store(false);
  }
}

bool portNoteDoubted(uint32_t portNumber) {
  const Activity* a = entry(portNumber);
  return a && a->noteDoubted.load();
}

void noteModuleLine(uint32_t portNumber, uint32_t baudRate, uint8_t parity, uint8_t stopBits) {
  Activity* a = entry(portNumber);
  uint32_t rate = 0;
  uint8_t p = 0, b = 0;
  const uint64_t code = lineCodeOf(baudRate, parity, stopBits);
  if (!a || !lineOfCode(code, &rate, &p, &b) || a->lineCode.exchange(code) == code)
    return;
  keep(portNumber, *a);
}

bool knownModuleLine(uint32_t portNumber, uint32_t* baudRate, uint8_t* parity, uint8_t* stopBits) {
  Activity* a = entry(portNumber);
  if (!a)
    return false;
  takeInNote(portNumber, *a);
  return lineOfCode(a->lineCode.load(), baudRate, parity, stopBits);
}
