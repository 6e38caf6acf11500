// The note of a port's last activity that this program leaves for its later
// processes on the machine. Anything may stand in its place (another
// version's note, a half-written disk, a file someone put there), so it is
// read strictly, and whatever cannot be trusted makes the port wait as if
// it had just been used.
#pragma once

#include <cstddef>
#include <cstdint>

// Times on the machine's boot clock (os::bootClockMs).
struct PortNote {
  bool sent = false;
  uint64_t sentAtMs = 0;  // the last byte sent
  bool due = false;
  uint64_t dueUntilMs = 0;  // bytes this program caused may arrive until then
  bool guard = false;
  uint64_t guardTimeMs = 0;  // the module's GT, as it last answered or was set
  // The serial settings the module was last found at or given: baud rate
  // << 8 | parity << 4 | stop bits; only ever tried first, never trusted.
  bool line = false;
  uint64_t lineCode = 0;
  // Not part of the text: there was a note but it could not be read or
  // trusted, so it stands for "sent just now".
  bool doubted = false;
};

// Hayes-style guard times are a few seconds at most (S12 goes to 5.1 s, 255
// fiftieths); a longer GT is a garbled reply, and the next "+++" would
// otherwise sleep for days without a way out.
constexpr uint32_t kLongestGuardTimeMs = 5100;

// Room for the longest note and one byte more, which tells a longer file.
constexpr size_t kPortNoteCapacity = 128;

uint64_t lineCodeOf(uint32_t baudRate, uint8_t parity, uint8_t stopBits);
// False for a code no module's line can have (a rate outside 128..4000000,
// a parity or stop bits no port takes).
bool lineOfCode(uint64_t code, uint32_t* baudRate, uint8_t* parity, uint8_t* stopBits);
// Arrivals due further ahead than any run leaves them are a note gone wrong.
constexpr uint64_t kLongestArrivalsDueMs = 60000;

// The note's text, without terminator; its length (0 when out is too short).
size_t formatPortNote(const PortNote& note, char* out, size_t capacity);
// False for anything but a whole note in this program's form.
bool parsePortNote(const char* bytes, size_t count, PortNote& note);
// What a note read at nowMs tells: nothing when there was none; "sent just
// now" when it could not be read (readable false), is not a note, is dated
// ahead of the clock (a note from before the machine restarted) or says
// what no module does. Another user's note is read as ours: within bounds.
PortNote trustedPortNote(bool found, bool readable, const char* bytes, size_t count,
                         uint64_t nowMs);
