// What simports and the modem shim share about each simulated port: a table
// in one mmap'ed file (the modem lines, break and line settings as the two
// sides see them right now) and the datagrams the shim sends on every change,
// so that simports wakes at once and learns when each change happened.
//
// Both sides are built by the same compiler from this header; the table holds
// only lock-free atomics, which work across processes in shared memory.
#pragma once

#include <atomic>
#include <cstdint>

namespace simports {

// In the run directory that simports is given and the shim finds through
// kRunDirEnv.
constexpr const char kRunDirEnv[] = "NLCONF_SIMPORTS_DIR";
constexpr const char kTableFile[] = "lines";
constexpr const char kEventSocket[] = "events.sock";

constexpr uint32_t kTableMagic = 0x4E4C5350;  // "NLSP"
constexpr uint32_t kTableVersion = 2;
constexpr uint32_t kSlotCount = 16;

enum SlotState : uint32_t {
  kSlotFree = 0,
  kSlotPlugged = 1,
  kSlotUnplugged = 2,  // the device is gone: modem calls fail as on a removed adapter
};

// The ioctl requests and libc calls the shim has seen for a slot, so a run
// can tell which ones Wine really makes.
enum CallCounter : uint32_t {
  kCountTiocmget,
  kCountTiocmbis,
  kCountTiocmbic,
  kCountTiocmset,
  kCountTiocsbrk,
  kCountTioccbrk,
  kCountTcsbrk,  // TCSBRK/TCSBRKP: a timed break
  kCountTcgetattr,
  kCountTcsetattr,
  kCountTcgetsIoctl,  // TCGETS/TCGETS2
  kCountTcsetsIoctl,  // TCSETS*/TCSETS2*
  kCountTcsendbreak,
  kCountRefused,       // modem calls refused because the port is unplugged
  kCountTcoflushKept,  // output flushes left out
  kCounterCount,
};

constexpr const char* kCounterNames[kCounterCount] = {
    "TIOCMGET",     "TIOCMBIS",    "TIOCMBIC",          "TIOCMSET",      "TIOCSBRK",
    "TIOCCBRK",     "TCSBRK",      "tcgetattr",         "tcsetattr",     "ioctl-TCGETS",
    "ioctl-TCSETS", "tcsendbreak", "refused-unplugged", "tcoflush-kept",
};

struct Slot {
  std::atomic<uint32_t> state;
  std::atomic<uint32_t> port;  // COM number
  std::atomic<uint64_t> rdev;  // st_rdev of the pseudo-terminal slave
  // Written by simports: TIOCM_CTS, TIOCM_DSR, TIOCM_CAR, TIOCM_RNG.
  std::atomic<uint32_t> modemIn;
  // Written by the shim: what the host asked for.
  std::atomic<uint32_t> modemOut;  // TIOCM_DTR, TIOCM_RTS
  std::atomic<uint32_t> breakOn;
  // The size, parity and stop bits of c_cflag as the host last set them; a
  // pseudo-terminal forgets parity and data bits, so these are the truth.
  std::atomic<uint32_t> cflag;
  std::atomic<uint32_t> baud;     // bits per second
  std::atomic<uint32_t> hostSeq;  // bumped after every host-side change
  std::atomic<uint32_t> counters[kCounterCount];
  // A pause a test sets to stop the host at a known point: the host's read
  // that takes the holdAfterCr-th carriage return from now does not return
  // until holdRelease is set (or kHoldLimitMs has passed). 0: nothing armed.
  std::atomic<uint32_t> holdAfterCr;
  std::atomic<uint32_t> holdRelease;
};

struct Table {
  std::atomic<uint32_t> magic;
  std::atomic<uint32_t> version;
  std::atomic<uint32_t> holdsArmed;  // set by simports while any pause is armed or held
  Slot slots[kSlotCount];
};

// A forgotten release must not leave the program stuck for ever.
constexpr uint32_t kHoldLimitMs = 30000;

static_assert(std::atomic<uint32_t>::is_always_lock_free);
static_assert(std::atomic<uint64_t>::is_always_lock_free);

enum EventKind : uint32_t {
  kEventBreak = 1,     // a: 1 on, 0 off
  kEventModem = 2,     // a: the TIOCM_DTR/TIOCM_RTS bits now
  kEventSettings = 3,  // a: baud, b: cflag bits
  kEventHold = 4,      // a: 1 a read is held (b: its process), 0 it went on (b: ms held)
  kEventWrote = 5,     // a: bytes the host wrote to the line
};

// One datagram per host-side change.
struct Event {
  uint32_t magic;
  uint32_t slot;
  uint64_t rdev;
  uint32_t kind;
  uint32_t a;
  uint32_t b;
  uint32_t reserved;
  uint64_t monotonicNs;  // CLOCK_MONOTONIC when the host made the change
};

}  // namespace simports
