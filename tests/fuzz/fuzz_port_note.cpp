// Whatever stands in a port's note: trusted, it never lets a port skip more
// of its guard time than the note's writer could have waited, nor hold a
// port for arrivals longer than a run leaves them; a note that passes has
// one spelling, the one this program writes.
#include <cstring>

#include "link/port_note.h"
#include "tests/fuzz/check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 9)
    return 0;
  uint64_t now = 0;
  std::memcpy(&now, data, 8);
  const bool readable = data[8] & 1;
  const char* bytes = reinterpret_cast<const char*>(data + 9);
  const size_t count = size - 9;
  const PortNote trusted = trustedPortNote(true, readable, bytes, count, now);
  require(!trusted.sent || trusted.sentAtMs <= now, "a note dated ahead of the clock was trusted");
  require(!trusted.due || trusted.dueUntilMs <= now + kLongestArrivalsDueMs,
          "arrivals due beyond any run were trusted");
  uint32_t rate = 0;
  uint8_t parity = 0, stopBits = 0;
  require(!trusted.line || lineOfCode(trusted.lineCode, &rate, &parity, &stopBits),
          "serial settings no port takes were kept to try");
  PortNote parsed;
  if (parsePortNote(bytes, count, parsed)) {
    char again[kPortNoteCapacity];
    const size_t length = formatPortNote(parsed, again, sizeof again);
    require(length == count && std::memcmp(again, bytes, count) == 0,
            "a note was taken in a spelling this program never writes");
  } else {
    require(trusted.sent && trusted.sentAtMs == now, "a note that is none spared the guard time");
  }
  return 0;
}
