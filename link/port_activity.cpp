#include "link/port_activity.h"

#include <atomic>

#include "link/port_table.h"

namespace {

// Each entry is written by the one thread that uses its port at a time.
struct Activity {
  std::atomic<bool> sent{false};
  std::atomic<uint32_t> sentAt{0};
  std::atomic<bool> due{false};
  std::atomic<uint32_t> dueUntil{0};
};

Activity activity[kPortTableSize];

Activity* entry(uint32_t portNumber) {
  return portNumber < kPortTableSize ? &activity[portNumber] : nullptr;
}

}  // namespace

void noteBytesSent(uint32_t portNumber) {
  if (Activity* a = entry(portNumber)) {
    a->sentAt.store(os::tickCount());
    a->sent.store(true);
  }
}

uint32_t guardTimeLeftMs(uint32_t portNumber, uint32_t guardMs) {
  const Activity* a = entry(portNumber);
  if (!a || !a->sent.load())
    return 0;
  const uint32_t since = os::tickCount() - a->sentAt.load();
  return since < guardMs ? guardMs - since : 0;
}

void noteArrivalsDue(uint32_t portNumber, uint32_t untilTick) {
  if (Activity* a = entry(portNumber)) {
    a->dueUntil.store(untilTick);
    a->due.store(true);
  }
}

uint32_t arrivalsDueMs(uint32_t portNumber) {
  Activity* a = entry(portNumber);
  if (!a || !a->due.load())
    return 0;
  const auto left = static_cast<int32_t>(a->dueUntil.load() - os::tickCount());
  if (left > 0)
    return static_cast<uint32_t>(left);
  a->due.store(false);
  return 0;
}

void forgetPortActivity() {
  for (Activity& a : activity) {
    a.sent.store(false);
    a.due.store(false);
  }
}
