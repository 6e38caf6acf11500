// The OS seam over termios, ioctl, poll and threads, with the meanings that
// the link layer relies on from the Win32 binding: an overlapped transfer
// runs on a thread of its own and signals its event when it ends; a cancel
// or a purge ends it at once through its wake-up descriptor.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <vector>

#include "platform/os.h"
#include "platform/posix/device_paths.h"

namespace os {

namespace {

constexpr uint32_t kErrorNotReady = 21;
constexpr uint32_t kErrorGenFailure = 31;
constexpr uint32_t kErrorBrokenPipe = 109;
constexpr uint32_t kInfinite = 0xFFFFFFFF;
constexpr uint32_t kPathChars = 256;

thread_local uint32_t threadError = 0;

enum class Kind : uint32_t { Event = 0x45564E54, Mutex = 0x4D555458, Device = 0x44455643 };

struct Object {
  Kind kind;
};

// Every event shares one lock and one condition: waits are on one or two
// events, and a set wakes every waiter to look again.
std::mutex signalLock;
std::condition_variable signalled;

struct Event : Object {
  bool set = false;
};

struct Mutex : Object {
  std::recursive_mutex mutex;  // a Windows mutex may be taken again by its owner
};

struct Device;

struct Operation {
  Device* device = nullptr;
  bool reading = false;
  char* in = nullptr;
  const char* out = nullptr;
  uint32_t count = 0;
  Timeouts timeouts{};
  bool dsrSensitive = false;
  Event* event = nullptr;
  int wake = -1;  // eventfd: written by a cancel or a purge
  std::atomic<bool> aborted{false};
  std::atomic<bool> finished{false};
  uint32_t moved = 0;
  uint32_t error = 0;
  pthread_t thread{};
};

struct Device : Object {
  int fd = -1;
  std::mutex lock;  // guards operations, settings and timeouts
  std::vector<Operation*> operations;
  LineSettings settings{};
  Timeouts timeouts{};
};

struct DevicePathTable {
  std::mutex lock;
  char paths[256][kPathChars] = {};
};

DevicePathTable& devicePaths() {
  static DevicePathTable table;
  return table;
}

template <typename T>
T* as(Handle handle, Kind kind) {
  auto* object = static_cast<Object*>(handle);
  if (object == nullptr || object->kind != kind) {
    threadError = kErrorInvalidHandle;
    return nullptr;
  }
  return static_cast<T*>(object);
}

uint32_t errorOf(int error) {
  switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
      return kErrorFileNotFound;
    case EACCES:
    case EPERM:
    case EBUSY:
    case EWOULDBLOCK:
      return kErrorAccessDenied;
    case EBADF:
      return kErrorInvalidHandle;
    case EINVAL:
      return kErrorInvalidParameter;
    case EIO:
      return kErrorNotReady;
    default:
      return kErrorGenFailure;
  }
}

bool failWith(int error) {
  threadError = errorOf(error);
  return false;
}

uint64_t nowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

void signalEvent(Event* event) {
  std::lock_guard<std::mutex> hold(signalLock);
  event->set = true;
  signalled.notify_all();
}

// ---- line settings ------------------------------------------------------------

speed_t speedOf(uint32_t rate) {
  switch (rate) {
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
    case 460800:
      return B460800;
    case 921600:
      return B921600;
    default:
      return 0;
  }
}

// The kernel's own record for a rate that has no B constant.
struct KernelTermios2 {
  uint32_t iflag, oflag, cflag, lflag;
  uint8_t line;
  uint8_t cc[19];
  uint32_t ispeed, ospeed;
};
constexpr unsigned long kTcgets2 = _IOR('T', 0x2A, KernelTermios2);
constexpr unsigned long kTcsets2 = _IOW('T', 0x2B, KernelTermios2);
constexpr uint32_t kBother = 0010000;
constexpr uint32_t kInputSpeedShift = 16;  // IBSHIFT

bool setOddRate(int fd, uint32_t rate) {
  KernelTermios2 k{};
  if (ioctl(fd, kTcgets2, &k) != 0)
    return failWith(errno);
  k.cflag = (k.cflag & ~static_cast<uint32_t>(CBAUD)) | kBother;
  k.cflag =
      (k.cflag & ~static_cast<uint32_t>(CBAUD << kInputSpeedShift)) | (kBother << kInputSpeedShift);
  k.ispeed = k.ospeed = rate;
  return ioctl(fd, kTcsets2, &k) == 0 || failWith(errno);
}

tcflag_t sizeBits(uint8_t byteSize) {
  switch (byteSize) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    default:
      return CS8;
  }
}

tcflag_t parityBits(uint8_t parity) {
  switch (parity) {
    case kOddParity:
      return PARENB | PARODD;
    case kEvenParity:
      return PARENB;
    case kMarkParity:
      return PARENB | CMSPAR | PARODD;
    case kSpaceParity:
      return PARENB | CMSPAR;
    default:
      return 0;
  }
}

bool settingsFit(const LineSettings& s) {
  // One and a half stop bits has no termios spelling.
  return s.baudRate != 0 && s.byteSize >= 5 && s.byteSize <= 8 && s.parity <= kSpaceParity &&
         (s.stopBits == kOneStopBit || s.stopBits == kTwoStopBits) && s.dtrControl <= 1 &&
         s.rtsControl <= 1;
}

bool setModemBit(int fd, int bit, bool on) {
  return ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bit) == 0 || failWith(errno);
}

bool applyLine(int fd, const LineSettings& s) {
  termios t{};
  if (tcgetattr(fd, &t) != 0)
    return failWith(errno);
  cfmakeraw(&t);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  t.c_cflag |= CLOCAL | CREAD | sizeBits(s.byteSize) | parityBits(s.parity);
  if (s.stopBits == kTwoStopBits)
    t.c_cflag |= CSTOPB;
  if (s.outxCtsFlow)
    t.c_cflag |= CRTSCTS;
  if (s.outX)
    t.c_iflag |= IXON;
  if (s.inX)
    t.c_iflag |= IXOFF;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  const speed_t speed = speedOf(s.baudRate);
  cfsetspeed(&t, speed ? speed : B9600);
  if (tcsetattr(fd, TCSANOW, &t) != 0)
    return failWith(errno);
  if (!speed && !setOddRate(fd, s.baudRate))
    return false;
  // A line without modem lines (a pseudo-terminal) still carries bytes.
  for (int bit : {TIOCM_DTR, TIOCM_RTS}) {
    const bool on = (bit == TIOCM_DTR ? s.dtrControl : s.rtsControl) != 0;
    if (!setModemBit(fd, bit, on) && errno != ENOTTY && errno != EINVAL)
      return false;
  }
  return true;
}

// ---- transfers ------------------------------------------------------------------

// How long a read may take in all and between two bytes, as Windows reads
// the timeouts; kInfinite where there is no limit.
struct ReadLimits {
  bool returnAtOnce = false;  // take what is there, even nothing
  bool firstByteEnds = false;
  uint32_t totalMs = kInfinite;
  uint32_t intervalMs = kInfinite;
};

ReadLimits readLimitsOf(const Timeouts& t, uint32_t count) {
  ReadLimits limits;
  if (t.readIntervalMs == kInfinite && t.readTotalMultiplierMs == 0 && t.readTotalConstantMs == 0) {
    limits.returnAtOnce = true;
    return limits;
  }
  if (t.readIntervalMs == kInfinite && t.readTotalMultiplierMs == kInfinite &&
      t.readTotalConstantMs != 0 && t.readTotalConstantMs != kInfinite) {
    limits.firstByteEnds = true;
    limits.totalMs = t.readTotalConstantMs;
    return limits;
  }
  const uint64_t total = uint64_t{t.readTotalMultiplierMs} * count + t.readTotalConstantMs;
  if (total != 0)
    limits.totalMs = total >= kInfinite ? kInfinite - 1 : static_cast<uint32_t>(total);
  if (t.readIntervalMs != 0)
    limits.intervalMs = t.readIntervalMs;
  return limits;
}

// Waits for the device or the wake-up, up to waitMs (kInfinite: no limit).
// 1 ready, 0 time out, -1 woken or failed (error set).
int awaitDevice(Operation* op, short events, uint32_t waitMs) {
  pollfd fds[2] = {{op->device->fd, events, 0}, {op->wake, POLLIN, 0}};
  const int timeout = waitMs == kInfinite ? -1 : static_cast<int>(waitMs);
  int n = 0;
  do {
    n = poll(fds, 2, timeout);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    op->error = errorOf(errno);
    return -1;
  }
  if (fds[1].revents != 0 || op->aborted.load()) {
    op->error = kErrorOperationAborted;
    return -1;
  }
  if (n == 0)
    return 0;
  if (fds[0].revents & (POLLNVAL | POLLERR)) {
    op->error = kErrorBrokenPipe;
    return -1;
  }
  return 1;  // readable, writable, or hung up: the transfer call tells which
}

uint32_t remainingMs(uint64_t deadline) {
  if (deadline == UINT64_MAX)
    return kInfinite;
  const uint64_t now = nowMs();
  return now >= deadline ? 0 : static_cast<uint32_t>(deadline - now);
}

// Bytes that arrive while DSR is down are not taken, as a Windows driver
// told to be DSR-sensitive drops them.
bool dsrDown(int fd) {
  int bits = 0;
  return ioctl(fd, TIOCMGET, &bits) == 0 && (bits & TIOCM_DSR) == 0;
}

void runRead(Operation* op) {
  const ReadLimits limits = readLimitsOf(op->timeouts, op->count);
  const uint64_t start = nowMs();
  const uint64_t totalEnd = limits.totalMs == kInfinite ? UINT64_MAX : start + limits.totalMs;
  uint64_t gapEnd = UINT64_MAX;
  while (op->moved < op->count) {
    uint32_t waitMs = limits.returnAtOnce ? 0 : remainingMs(totalEnd);
    const uint32_t gapMs = remainingMs(gapEnd);
    if (gapMs < waitMs)
      waitMs = gapMs;
    const int ready = awaitDevice(op, POLLIN, waitMs);
    if (ready < 0)
      return;
    if (ready == 0)
      return;  // a time-out ends a read with what it has
    const ssize_t n = read(op->device->fd, op->in + op->moved, op->count - op->moved);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
      continue;
    if (n <= 0) {
      // End of file or EIO: the other side of the line has gone.
      op->error = kErrorBrokenPipe;
      return;
    }
    if (op->dsrSensitive && dsrDown(op->device->fd))
      continue;
    op->moved += static_cast<uint32_t>(n);
    if (limits.firstByteEnds)
      return;
    if (limits.intervalMs != kInfinite)
      gapEnd = nowMs() + limits.intervalMs;
  }
}

void runWrite(Operation* op) {
  const uint64_t total =
      uint64_t{op->timeouts.writeTotalMultiplierMs} * op->count + op->timeouts.writeTotalConstantMs;
  const uint64_t deadline = total == 0 ? UINT64_MAX : nowMs() + total;
  while (op->moved < op->count) {
    const int ready = awaitDevice(op, POLLOUT, remainingMs(deadline));
    if (ready <= 0)
      return;  // a time-out ends a write with what it moved
    const ssize_t n = write(op->device->fd, op->out + op->moved, op->count - op->moved);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
      continue;
    if (n < 0) {
      op->error = errno == EIO ? kErrorBrokenPipe : errorOf(errno);
      return;
    }
    op->moved += static_cast<uint32_t>(n);
  }
}

void* runOperation(void* context) {
  auto* op = static_cast<Operation*>(context);
  if (op->reading)
    runRead(op);
  else
    runWrite(op);
  op->finished.store(true);
  if (op->event)
    signalEvent(op->event);
  return nullptr;
}

void wake(Operation* op) {
  op->aborted.store(true);
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = write(op->wake, &one, sizeof one);
}

Operation*& operationOf(Transfer& transfer) {
  static_assert(sizeof(Operation*) <= sizeof(Transfer::opaque));
  return *reinterpret_cast<Operation**>(transfer.opaque);
}

bool start(Device* device, Operation* op, Transfer& transfer) {
  op->device = device;
  op->wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (op->wake < 0) {
    failWith(errno);
    delete op;
    return false;
  }
  {
    std::lock_guard<std::mutex> hold(device->lock);
    op->timeouts = device->timeouts;
    op->dsrSensitive = device->settings.dsrSensitivity;
    device->operations.push_back(op);
  }
  if (op->event) {
    std::lock_guard<std::mutex> hold(signalLock);
    op->event->set = false;  // as the OVERLAPPED's event is reset at the start
  }
  // pthread_create rather than std::thread: a refusal is a result, not a throw.
  const int error = pthread_create(&op->thread, nullptr, runOperation, op);
  if (error != 0) {
    {
      std::lock_guard<std::mutex> hold(device->lock);
      std::erase(device->operations, op);
    }
    close(op->wake);
    delete op;
    failWith(ENOMEM);  // out of threads, as Windows is out of resources
    return false;
  }
  operationOf(transfer) = op;
  return true;
}

// Wakes the device's transfers of one kind (or both), under its lock.
void abortTransfers(Device* device, bool reads, bool writes) {
  std::lock_guard<std::mutex> hold(device->lock);
  for (Operation* op : device->operations) {
    if ((op->reading && reads) || (!op->reading && writes))
      wake(op);
  }
}

void closeDevice(Device* device) {
  abortTransfers(device, true, true);
  // A transfer whose record is still the caller's ends here, so that its
  // thread never reads a closed descriptor; its finish comes later.
  for (;;) {
    bool running = false;
    {
      std::lock_guard<std::mutex> hold(device->lock);
      for (Operation* op : device->operations)
        running = running || !op->finished.load();
      if (!running) {
        for (Operation* op : device->operations)
          op->device = nullptr;
        device->operations.clear();
      }
    }
    if (!running)
      break;
    sleepMs(1);
  }
  ioctl(device->fd, TIOCNXCL);
  close(device->fd);  // lets the lock go too
  device->kind = Kind{};
  delete device;
}

}  // namespace

// ---- clock ------------------------------------------------------------------------

uint32_t tickCount() {
  return static_cast<uint32_t>(nowMs());
}

void sleepMs(uint32_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

// nanosleep needs no object made beforehand.
Handle createLookPause() {
  return nullptr;
}

void pauseBetweenLooks(Handle) {
  timespec ts{0, 500000};
  nanosleep(&ts, nullptr);
}

LocalTime localTime() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  localtime_r(&ts.tv_sec, &local);
  LocalTime t;
  t.year = static_cast<uint16_t>(local.tm_year + 1900);
  t.month = static_cast<uint8_t>(local.tm_mon + 1);
  t.day = static_cast<uint8_t>(local.tm_mday);
  t.msOfDay =
      ((static_cast<uint32_t>(local.tm_hour) * 60u + static_cast<uint32_t>(local.tm_min)) * 60u +
       static_cast<uint32_t>(local.tm_sec)) *
          1000u +
      static_cast<uint32_t>(ts.tv_nsec / 1000000);
  t.utcOffsetMinutes = static_cast<int16_t>(local.tm_gmtoff / 60);
  return t;
}

// ---- last error ----------------------------------------------------------------------

uint32_t lastError() {
  return threadError;
}

void setLastError(uint32_t code) {
  threadError = code;
}

// ---- events, mutexes, waits -------------------------------------------------------------

Handle createEvent() {
  auto* event = new Event;
  event->kind = Kind::Event;
  return event;
}

bool setEvent(Handle handle) {
  Event* event = as<Event>(handle, Kind::Event);
  if (!event)
    return false;
  signalEvent(event);
  return true;
}

bool resetEvent(Handle handle) {
  Event* event = as<Event>(handle, Kind::Event);
  if (!event)
    return false;
  std::lock_guard<std::mutex> hold(signalLock);
  event->set = false;
  return true;
}

bool isEventSet(Handle handle) {
  Event* event = as<Event>(handle, Kind::Event);
  if (!event)
    return false;
  std::lock_guard<std::mutex> hold(signalLock);
  return event->set;
}

Handle createMutex() {
  auto* mutex = new Mutex;
  mutex->kind = Kind::Mutex;
  return mutex;
}

bool lockMutex(Handle handle) {
  Mutex* mutex = as<Mutex>(handle, Kind::Mutex);
  if (!mutex)
    return false;
  mutex->mutex.lock();
  return true;
}

bool unlockMutex(Handle handle) {
  Mutex* mutex = as<Mutex>(handle, Kind::Mutex);
  if (!mutex)
    return false;
  mutex->mutex.unlock();
  return true;
}

bool closeHandle(Handle handle) {
  auto* object = static_cast<Object*>(handle);
  if (!object) {
    threadError = kErrorInvalidHandle;
    return false;
  }
  switch (object->kind) {
    case Kind::Event:
      object->kind = Kind{};
      delete static_cast<Event*>(object);
      return true;
    case Kind::Mutex:
      object->kind = Kind{};
      delete static_cast<Mutex*>(object);
      return true;
    case Kind::Device:
      closeDevice(static_cast<Device*>(object));
      return true;
  }
  threadError = kErrorInvalidHandle;
  return false;
}

int waitAny(const Handle* handles, uint32_t count, uint32_t timeoutMs) {
  if (handles == nullptr || count < 1 || count > 2) {
    threadError = kErrorInvalidParameter;
    return kWaitFailed;
  }
  Event* events[2] = {};
  for (uint32_t i = 0; i < count; ++i) {
    events[i] = as<Event>(handles[i], Kind::Event);
    if (!events[i])
      return kWaitFailed;
  }
  auto firstSet = [&]() -> int {
    for (uint32_t i = 0; i < count; ++i) {
      if (events[i]->set)
        return static_cast<int>(i);
    }
    return kWaitTimeout;
  };
  std::unique_lock<std::mutex> hold(signalLock);
  if (timeoutMs == kInfinite) {
    signalled.wait(hold, [&] { return firstSet() != kWaitTimeout; });
    return firstSet();
  }
  signalled.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                     [&] { return firstSet() != kWaitTimeout; });
  return firstSet();
}

// ---- serial devices ------------------------------------------------------------------------

Handle openSerial(const wchar_t* deviceName) {
  const wchar_t prefix[] = L"\\\\.\\COM";
  const size_t prefixLength = sizeof prefix / sizeof prefix[0] - 1;
  if (deviceName == nullptr || std::wcsncmp(deviceName, prefix, prefixLength) != 0) {
    threadError = kErrorInvalidParameter;
    return nullptr;
  }
  uint32_t number = 0;
  for (const wchar_t* p = deviceName + prefixLength; *p; ++p) {
    if (*p < L'0' || *p > L'9' || number > 255) {
      threadError = kErrorFileNotFound;
      return nullptr;
    }
    number = number * 10 + static_cast<uint32_t>(*p - L'0');
  }
  const char* path = posix::devicePath(number);
  if (path == nullptr) {
    threadError = kErrorFileNotFound;
    return nullptr;
  }
  const int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    failWith(errno);
    return nullptr;
  }
  // Another NLCONF takes the same lock; TIOCEXCL keeps other programs out.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0 || !isatty(fd)) {
    const int error = isatty(fd) ? errno : ENOTTY;
    close(fd);
    failWith(error);
    return nullptr;
  }
  auto* device = new Device;
  device->kind = Kind::Device;
  device->fd = fd;
  termios t{};
  if (tcgetattr(fd, &t) == 0) {
    device->settings.baudRate = 9600;
    device->settings.byteSize = 8;
    device->settings.binary = true;
  }
  return device;
}

bool purgeSerial(Handle handle, uint32_t flags) {
  Device* device = as<Device>(handle, Kind::Device);
  if (!device)
    return false;
  abortTransfers(device, flags & kPurgeRxAbort, flags & kPurgeTxAbort);
  if ((flags & kPurgeRxClear) && tcflush(device->fd, TCIFLUSH) != 0)
    return failWith(errno);
  if ((flags & kPurgeTxClear) && tcflush(device->fd, TCOFLUSH) != 0)
    return failWith(errno);
  return true;
}

bool setSerialTimeouts(Handle handle, const Timeouts& timeouts) {
  Device* device = as<Device>(handle, Kind::Device);
  if (!device)
    return false;
  std::lock_guard<std::mutex> hold(device->lock);
  device->timeouts = timeouts;
  return true;
}

bool setSerialQueues(Handle handle, uint32_t, uint32_t) {
  return as<Device>(handle, Kind::Device) != nullptr;  // the kernel sizes its own
}

bool getLineSettings(Handle handle, LineSettings& settings) {
  Device* device = as<Device>(handle, Kind::Device);
  if (!device)
    return false;
  termios t{};
  if (tcgetattr(device->fd, &t) != 0)
    return failWith(errno);
  std::lock_guard<std::mutex> hold(device->lock);
  settings = device->settings;
  return true;
}

bool setLineSettings(Handle handle, const LineSettings& settings) {
  Device* device = as<Device>(handle, Kind::Device);
  if (!device)
    return false;
  if (!settingsFit(settings)) {
    threadError = kErrorInvalidParameter;
    return false;
  }
  if (!applyLine(device->fd, settings))
    return false;
  std::lock_guard<std::mutex> hold(device->lock);
  device->settings = settings;
  return true;
}

bool escapeSerial(Handle handle, uint32_t function) {
  Device* device = as<Device>(handle, Kind::Device);
  if (!device)
    return false;
  switch (function) {
    case kEscapeSetRts:
      return setModemBit(device->fd, TIOCM_RTS, true);
    case kEscapeClrRts:
      return setModemBit(device->fd, TIOCM_RTS, false);
    case kEscapeSetDtr:
      return setModemBit(device->fd, TIOCM_DTR, true);
    case kEscapeClrDtr:
      return setModemBit(device->fd, TIOCM_DTR, false);
    default:
      threadError = kErrorInvalidParameter;
      return false;
  }
}

bool getModemStatus(Handle handle, uint32_t& status) {
  Device* device = as<Device>(handle, Kind::Device);
  if (!device)
    return false;
  int bits = 0;
  if (ioctl(device->fd, TIOCMGET, &bits) != 0)
    return failWith(errno);
  status = ((bits & TIOCM_CTS) ? kModemCtsOn : 0) | ((bits & TIOCM_DSR) ? kModemDsrOn : 0) |
           ((bits & TIOCM_RI) ? kModemRingOn : 0) | ((bits & TIOCM_CD) ? kModemRlsdOn : 0);
  return true;
}

bool setBreak(Handle handle) {
  Device* device = as<Device>(handle, Kind::Device);
  return device && (ioctl(device->fd, TIOCSBRK) == 0 || failWith(errno));
}

bool clearBreak(Handle handle) {
  Device* device = as<Device>(handle, Kind::Device);
  return device && (ioctl(device->fd, TIOCCBRK) == 0 || failWith(errno));
}

// ---- overlapped transfers ----------------------------------------------------------------------

bool startWrite(Handle handle, const void* bytes, uint32_t count, Transfer& transfer,
                Handle event) {
  Device* device = as<Device>(handle, Kind::Device);
  Event* done = event ? as<Event>(event, Kind::Event) : nullptr;
  if (!device || (event && !done))
    return false;
  auto* op = new Operation;
  op->out = static_cast<const char*>(bytes);
  op->count = count;
  op->event = done;
  return start(device, op, transfer);
}

bool startRead(Handle handle, void* bytes, uint32_t count, Transfer& transfer, Handle event) {
  Device* device = as<Device>(handle, Kind::Device);
  Event* done = event ? as<Event>(event, Kind::Event) : nullptr;
  if (!device || (event && !done))
    return false;
  auto* op = new Operation;
  op->reading = true;
  op->in = static_cast<char*>(bytes);
  op->count = count;
  op->event = done;
  return start(device, op, transfer);
}

bool startReadUnsignalled(Handle device, void* bytes, uint32_t count, Transfer& transfer) {
  return startRead(device, bytes, count, transfer, nullptr);
}

bool finishTransfer(Handle handle, Transfer& transfer, uint32_t& count) {
  Operation* op = operationOf(transfer);
  if (op == nullptr) {
    threadError = kErrorInvalidParameter;
    return false;
  }
  pthread_join(op->thread, nullptr);
  // A device closed under the transfer has forgotten it already.
  if (Device* device = op->device; device && as<Device>(handle, Kind::Device) == device) {
    std::lock_guard<std::mutex> hold(device->lock);
    std::erase(device->operations, op);
  }
  operationOf(transfer) = nullptr;
  count = op->moved;
  const uint32_t error = op->error;
  close(op->wake);
  delete op;
  if (error != 0) {
    threadError = error;
    return false;
  }
  return true;
}

bool cancelTransfers(Handle handle) {
  Device* device = as<Device>(handle, Kind::Device);
  if (!device)
    return false;
  abortTransfers(device, true, true);
  return true;
}

}  // namespace os

namespace os::posix {

bool setDevicePath(uint32_t portNumber, const char* path) {
  if (portNumber < 1 || portNumber > 255 || path == nullptr || std::strlen(path) >= kPathChars)
    return false;
  DevicePathTable& table = devicePaths();
  std::lock_guard<std::mutex> hold(table.lock);
  std::strcpy(table.paths[portNumber], path);
  return true;
}

const char* devicePath(uint32_t portNumber) {
  if (portNumber < 1 || portNumber > 255)
    return nullptr;
  DevicePathTable& table = devicePaths();
  std::lock_guard<std::mutex> hold(table.lock);
  return table.paths[portNumber][0] ? table.paths[portNumber] : nullptr;
}

}  // namespace os::posix
