// Arbitrary replies to the AT layer's queries and setters, and arbitrary text
// to its number parsing.
#include <cstring>
#include <string>

#include "link/at_command.h"
#include "link/hex.h"
#include "tests/campaign/invariants.h"
#include "tests/fuzz/check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const char* end = nullptr;
  parseHex32(text.c_str(), &end);
  require(end >= text.c_str() && end <= text.c_str() + std::strlen(text.c_str()),
          "the parse ended outside its text");
  uint64_t wide = 0;
  scanHex64(text.c_str(), &wide);

  stand::Stand s(sim::ModuleConfig{}, sim::ModuleConfig{});
  stand::Stand::scriptReplies(*s.master, data, size);
  os::Handle cancel = os::createEvent();
  SerialPort* port = openPort(3, cancel);
  require(port != nullptr, "the port did not open");
  os::LineSettings line{};
  line.baudRate = 9600;
  line.byteSize = 8;
  os::setLineSettings(port->handle, line);
  uint32_t v32 = 0;
  uint16_t v16 = 0;
  uint8_t v8 = 0;
  uint64_t v64 = 0;
  char ni[kNodeIdReplySize];
  uint32_t length = 0;
  const int32_t results[] = {
      enterCommandMode(port),
      readGuardTime(port),
      queryHex32(port, "ATSL\r", &v32),
      queryHex16(port, "ATVR\r", &v16),
      queryHex8(port, "ATPL\r", &v8),
      queryExtendedPanId(port, &v64),
      queryNodeIdentifier(port, ni, &length),
      setHexRegister(port, "ATPL", 3, 1),
      setHexRegister(port, "ATSC", 0x10, 1),
      setHexRegister(port, "ATID", 0x4E4C303032, 1),
      setHexRegister(port, "ATDH", 0x02004E4C, 8),
      setHexRegister(port, "ATDL", 0x1, 8),
      exitCommandMode(port),
  };
  for (int32_t r : results) {
    require(r == 0 || r == ErrRead || r == ErrTimeout || r == ErrNotOk || r == ErrWrite,
            "a result that no reply can give");
  }
  require(length < kNodeIdReplySize, "a node identifier longer than its buffer");
  require(port->guardDelayMs <= kLongestGuardTimeMs + 30, "an unbounded guard delay");
  closePort(port);
  os::closeHandle(cancel);
  requireNone(s.world.leftovers());
  requireNone(s.world.violations());
  return 0;
}
