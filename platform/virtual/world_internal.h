// What world.cpp and seam.cpp share of the world's inner records.
#pragma once

#include <memory>

#include "platform/virtual/uart.h"
#include "platform/virtual/world.h"

namespace vw {

enum Kind { kEvent, kMutex, kSerial, kTimer };

inline constexpr uint32_t kErrorBadCommand = 22;

// Ends the test run: the world cannot go on (a deadlock, a spin, misuse).
[[noreturn]] void fatal(const char* what);

struct World::Object {
  int kind = kEvent;
  bool signalled = false;  // events
  int owner = -1;          // mutexes: owning thread id
  int depth = 0;
  int waiters = 0;
  SerialLine* line = nullptr;  // serial devices
};

// One write of the host as it goes out: byte i starts at first + i * byteUs,
// and only the bytes before cutoff reach the line.
struct TxBurst {
  std::string bytes;
  TimeUs first = 0;
  TimeUs byteUs = 0;
  size_t cutoff = 0;
};

struct World::Transfer {
  uint64_t id = 0;
  SerialLine* line = nullptr;
  bool write = false;
  char* buffer = nullptr;  // reads
  uint32_t count = 0;
  uint32_t done = 0;
  bool finished = false;
  bool ok = false;
  uint32_t error = 0;
  Object* event = nullptr;
  bool signals = true;
  std::shared_ptr<TxBurst> burst;  // writes
};

struct World::VThread {
  int id = 0;
  std::thread thread;
  bool finished = false;
  bool blocked = false;
  std::function<bool()> ready;
  std::optional<TimeUs> deadline;
};

}  // namespace vw
