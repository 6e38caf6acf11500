// What the POSIX seam's parts share: the objects behind its handles, the
// thread's last error, and the device table. Inside platform/posix only.
#pragma once

#include <poll.h>
#include <pthread.h>
#include <termios.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "platform/os.h"

namespace os::seam {

constexpr uint32_t kErrorNotReady = 21;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorGenFailure = 31;
constexpr uint32_t kErrorBrokenPipe = 109;
constexpr uint32_t kInfinite = 0xFFFFFFFF;
constexpr uint32_t kPathChars = 256;

extern thread_local uint32_t threadError;

enum class Kind : uint32_t { Event = 0x45564E54, Mutex = 0x4D555458, Device = 0x44455643 };

struct Object {
  Kind kind;
};

// Every event shares one lock and one condition: waits are on one or two
// events, and a set wakes every waiter to look again.
extern std::mutex signalLock;
extern std::condition_variable signalled;

struct Event : Object {
  bool set = false;
};

struct Mutex : Object {
  std::recursive_mutex mutex;  // a Windows mutex may be taken again by its owner
};

// How long a read may take in all and between two bytes, as Windows reads
// the timeouts; kInfinite where there is no limit.
struct ReadLimits {
  bool returnAtOnce = false;  // take what is there, even nothing
  bool firstByteEnds = false;
  uint32_t totalMs = kInfinite;
  uint32_t intervalMs = kInfinite;
};

// The kernel's own record of a line's settings, which also holds a rate
// that has no B constant.
struct KernelTermios2 {
  uint32_t iflag, oflag, cflag, lflag;
  uint8_t line;
  uint8_t cc[19];
  uint32_t ispeed, ospeed;
};

struct Operation {
  bool reading = false;
  char* in = nullptr;
  const char* out = nullptr;
  uint32_t count = 0;
  Timeouts timeouts{};
  bool dsrSensitive = false;
  Event* event = nullptr;
  // The device's lock guards these two; the I/O thread alone the limits.
  bool aborted = false;
  bool begun = false;
  ReadLimits limits{};
  uint64_t totalEnd = UINT64_MAX;
  uint64_t gapEnd = UINT64_MAX;
  // Written by the I/O thread, read by the caller once `finished` (under
  // signalLock) says the thread is done with the transfer.
  bool finished = false;
  uint32_t moved = 0;
  uint32_t error = 0;
};

struct Device : Object {
  uint32_t number = 0;  // in the device path table
  int fd = -1;
  int wake = -1;  // eventfd: a new transfer, a cancel, a purge or the close
  pthread_t thread{};
  // A pseudo-terminal or a network bridge has neither; its break ioctls
  // succeed and send nothing.
  bool modemLines = true;
  bool restore = false;
  KernelTermios2 saved{};
  uint64_t lastWriteMs = 0;
  uint64_t lastReadMs = 0;
  // Held around each write to the line, so that a program's last bytes
  // never land inside another write; guards partialWrite.
  std::mutex writing;
  bool partialWrite = false;  // a transfer has put only part of its bytes on the line
  std::mutex lock;            // guards the queues, stopping, settings and timeouts
  std::deque<Operation*> reads, writes;
  bool stopping = false;
  LineSettings settings{};
  Timeouts timeouts{};
};

// A Windows port keeps its settings from one open to the next, and the link
// layer counts on it (a Write opens the port that a Read left at the
// module's rate); the device itself gets its own termios back at each close.
struct DevicePathTable {
  std::mutex lock;
  char paths[256][kPathChars] = {};
  LineSettings kept[256] = {};
  bool keepsSettings[256] = {};
};

// The devices open now, for a write from outside their transfers; a close
// takes its device out before the descriptor goes.
struct OpenDevices {
  std::mutex lock;
  std::vector<Device*> devices;
};

// Set once a program's last bytes are to go out: no write begins after it.
extern std::atomic<bool> writesRefused;

DevicePathTable& devicePaths();
OpenDevices& openDevices();
bool keptSettings(uint32_t number, LineSettings& settings);

template <typename T>
T* as(Handle handle, Kind kind) {
  auto* object = static_cast<Object*>(handle);
  if (object == nullptr || object->kind != kind) {
    threadError = kErrorInvalidHandle;
    return nullptr;
  }
  return static_cast<T*>(object);
}

uint32_t errorOf(int error);
bool failWith(int error);
uint64_t nowMs();
void signalEvent(Event* event);

// The program's signals stay with the thread that waits for them.
int startQuietThread(pthread_t* thread, void* (*body)(void*), void* argument);

// The serial line (serial_line_posix.cpp).
bool settingsFit(const LineSettings& s);
bool applyLine(const Device* device, const LineSettings& s);
bool setModemBit(int fd, int bit, bool on);
void closeDevice(Device* device);

// Its I/O thread (serial_io_posix.cpp).
int startIoThread(Device* device);
void abortTransfers(Device* device, bool reads, bool writes);

}  // namespace os::seam
