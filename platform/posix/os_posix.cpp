// The OS seam over termios, ioctl, poll and threads, with the meanings that
// the link layer relies on from the Win32 binding. Each open port has one
// I/O thread that runs its overlapped transfers in order (a read and a write
// at a time) and signals each one's event when it ends; a cancel, a purge or
// the close wakes it through an eventfd.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <cwchar>
#include <deque>
#include <mutex>
#include <new>
#include <vector>

#include "platform/os.h"
#include "platform/posix/device_paths.h"

namespace os {

namespace {

constexpr uint32_t kErrorNotReady = 21;
constexpr uint32_t kErrorNotEnoughMemory = 8;
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
  std::mutex lock;  // guards the queues, stopping, settings and timeouts
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

DevicePathTable& devicePaths() {
  static DevicePathTable table;
  return table;
}

// The devices open now, for a write from outside their transfers; a close
// takes its device out before the descriptor goes.
struct OpenDevices {
  std::mutex lock;
  std::vector<Device*> devices;
};

OpenDevices& openDevices() {
  static OpenDevices open;
  return open;
}

bool keptSettings(uint32_t number, LineSettings& settings) {
  DevicePathTable& table = devicePaths();
  std::lock_guard<std::mutex> hold(table.lock);
  settings = table.kept[number];
  return table.keepsSettings[number];
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
      return kErrorPrivilegeNotHeld;
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

bool applyLine(const Device* device, const LineSettings& s) {
  const int fd = device->fd;
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
    if (!device->modemLines)
      break;
    const bool on = (bit == TIOCM_DTR ? s.dtrControl : s.rtsControl) != 0;
    if (!setModemBit(fd, bit, on) && errno != ENOTTY && errno != EINVAL)
      return false;
  }
  return true;
}

// ---- transfers ------------------------------------------------------------------

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

uint32_t remainingMs(uint64_t deadline) {
  if (deadline == UINT64_MAX)
    return kInfinite;
  const uint64_t now = nowMs();
  return now >= deadline ? 0 : static_cast<uint32_t>(deadline - now);
}

// Bytes that arrive while DSR is down are not taken, as a Windows driver
// told to be DSR-sensitive drops them.
bool dsrDown(const Device* device) {
  int bits = 0;
  return device->modemLines && ioctl(device->fd, TIOCMGET, &bits) == 0 && (bits & TIOCM_DSR) == 0;
}

void wakeDevice(Device* device) {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = write(device->wake, &one, sizeof one);
}

// Hands the transfer back to its caller; the I/O thread lets go of it here.
void finish(Operation* op) {
  std::lock_guard<std::mutex> hold(signalLock);
  op->finished = true;
  if (op->event)
    op->event->set = true;
  signalled.notify_all();
}

void finishFront(std::deque<Operation*>& queue, uint32_t error) {
  Operation* op = queue.front();
  queue.pop_front();
  if (op->error == 0)
    op->error = error;
  finish(op);
}

// The time limits run from when the transfer reaches the head of its queue.
void begin(Operation* op) {
  op->begun = true;
  if (op->reading) {
    op->limits = readLimitsOf(op->timeouts, op->count);
    if (op->limits.totalMs != kInfinite)
      op->totalEnd = nowMs() + op->limits.totalMs;
  } else {
    const uint64_t total = uint64_t{op->timeouts.writeTotalMultiplierMs} * op->count +
                           op->timeouts.writeTotalConstantMs;
    if (total != 0)
      op->totalEnd = nowMs() + total;
  }
}

// How long the head transfer may wait for the line: 0 when its time is up
// (a time-out ends it with what it moved, as on Windows).
uint32_t waitOf(const Operation* op) {
  if (op->reading && op->limits.returnAtOnce)
    return 0;
  const uint32_t total = remainingMs(op->totalEnd);
  const uint32_t gap = remainingMs(op->gapEnd);
  return gap < total ? gap : total;
}

// Under the device's lock: ends what was aborted or ran out of time, and
// says which heads wait on the line and for how long.
uint32_t settleQueues(Device* device, Operation*& read, Operation*& write) {
  uint32_t waitMs = kInfinite;
  for (auto* queue : {&device->reads, &device->writes}) {
    Operation*& head = queue == &device->reads ? read : write;
    head = nullptr;
    while (!queue->empty()) {
      Operation* op = queue->front();
      if (op->aborted) {
        finishFront(*queue, kErrorOperationAborted);
        continue;
      }
      if (!op->begun)
        begin(op);
      const uint32_t wait = waitOf(op);
      if (wait == 0 && !(op->reading && op->limits.returnAtOnce)) {
        finishFront(*queue, 0);
        continue;
      }
      head = op;
      waitMs = wait < waitMs ? wait : waitMs;
      break;
    }
  }
  return waitMs;
}

// One read of the line for the head read; true when the read is over.
bool readSome(Device* device, Operation* op) {
  const ssize_t n = read(device->fd, op->in + op->moved, op->count - op->moved);
  if (n < 0 && (errno == EAGAIN || errno == EINTR))
    return op->limits.returnAtOnce;
  if (n <= 0) {
    // End of file or EIO: the other side of the line has gone.
    op->error = kErrorBrokenPipe;
    return true;
  }
  if (op->dsrSensitive && dsrDown(device))
    return op->limits.returnAtOnce;
  op->moved += static_cast<uint32_t>(n);
  if (op->limits.intervalMs != kInfinite)
    op->gapEnd = nowMs() + op->limits.intervalMs;
  return op->limits.returnAtOnce || op->limits.firstByteEnds || op->moved == op->count;
}

bool writeSome(Device* device, Operation* op) {
  const ssize_t n = write(device->fd, op->out + op->moved, op->count - op->moved);
  if (n < 0 && (errno == EAGAIN || errno == EINTR))
    return false;
  if (n < 0) {
    op->error = errno == EIO ? kErrorBrokenPipe : errorOf(errno);
    return true;
  }
  op->moved += static_cast<uint32_t>(n);
  device->lastWriteMs = nowMs();
  return op->moved == op->count;
}

// Waits for the line (only while a transfer wants it: a hung-up line would
// wake poll for ever) or the wake-up. The poll's revents of the line.
short awaitLine(Device* device, bool reading, bool writing, uint32_t waitMs) {
  const bool line = reading || writing;
  const short events = static_cast<short>((reading ? POLLIN : 0) | (writing ? POLLOUT : 0));
  pollfd fds[2] = {{device->wake, POLLIN, 0}, {line ? device->fd : -1, events, 0}};
  const int timeout = waitMs == kInfinite ? -1 : static_cast<int>(waitMs);
  if (poll(fds, 2, timeout) < 0)
    return 0;  // EINTR: look again
  if (fds[0].revents != 0) {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = read(device->wake, &count, sizeof count);
  }
  return fds[1].revents;
}

void* serveDevice(void* context) {
  auto* device = static_cast<Device*>(context);
  std::unique_lock<std::mutex> hold(device->lock);
  for (;;) {
    Operation* read = nullptr;
    Operation* write = nullptr;
    const uint32_t waitMs = settleQueues(device, read, write);
    if (device->stopping && !read && !write)
      return nullptr;
    if (read && read->limits.returnAtOnce) {
      hold.unlock();
      // With VMIN 0 a read of an empty line returns 0, which means hung up
      // only when poll says so.
      pollfd line = {device->fd, POLLIN, 0};
      if (poll(&line, 1, 0) > 0)
        readSome(device, read);
      hold.lock();
      finishFront(device->reads, 0);
      continue;
    }
    hold.unlock();
    const short revents = awaitLine(device, read != nullptr, write != nullptr, waitMs);
    bool readDone = false, writeDone = false;
    if (revents & (POLLNVAL | POLLERR)) {
      readDone = writeDone = true;
      if (read)
        read->error = kErrorBrokenPipe;
      if (write)
        write->error = kErrorBrokenPipe;
    } else {
      // Hung up: the transfer's own call tells how.
      if (read && (revents & (POLLIN | POLLHUP)))
        readDone = readSome(device, read);
      if (write && (revents & (POLLOUT | POLLHUP)))
        writeDone = writeSome(device, write);
    }
    hold.lock();
    if (read && readDone)
      finishFront(device->reads, 0);
    if (write && writeDone)
      finishFront(device->writes, 0);
  }
}

// The program's signals (Ctrl+C, a hang-up) are for the thread that waits
// for them: a handler run on a seam thread could wait for a lock it holds.
// pthread_create rather than std::thread: a refusal is a result, not a throw.
int startQuietThread(pthread_t* thread, void* (*body)(void*), void* argument) {
  sigset_t quiet, before;
  sigemptyset(&quiet);
  for (int signal :
       {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGUSR1, SIGUSR2, SIGALRM, SIGCHLD, SIGWINCH})
    sigaddset(&quiet, signal);
  pthread_sigmask(SIG_BLOCK, &quiet, &before);
  const int error = pthread_create(thread, nullptr, body, argument);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return error;
}

int startIoThread(Device* device) {
  return startQuietThread(&device->thread, serveDevice, device);
}

Operation*& operationOf(Transfer& transfer) {
  static_assert(sizeof(Operation*) <= sizeof(Transfer::opaque));
  return *reinterpret_cast<Operation**>(transfer.opaque);
}

bool start(Device* device, Operation* op, Transfer& transfer) {
  if (op->event) {
    std::lock_guard<std::mutex> hold(signalLock);
    op->event->set = false;  // as the OVERLAPPED's event is reset at the start
  }
  {
    std::lock_guard<std::mutex> hold(device->lock);
    if (device->stopping) {
      delete op;
      threadError = kErrorInvalidHandle;
      return false;
    }
    op->timeouts = device->timeouts;
    op->dsrSensitive = device->settings.dsrSensitivity;
    (op->reading ? device->reads : device->writes).push_back(op);
  }
  operationOf(transfer) = op;
  wakeDevice(device);
  return true;
}

// Ends the device's transfers of one kind (or both) at once.
void abortTransfers(Device* device, bool reads, bool writes) {
  {
    std::lock_guard<std::mutex> hold(device->lock);
    for (Operation* op : device->reads)
      op->aborted = op->aborted || reads;
    for (Operation* op : device->writes)
      op->aborted = op->aborted || writes;
  }
  wakeDevice(device);
}

// Bytes handed over in the last moments may still be on their way (a
// bridge or a pseudo-terminal's far end reads them when it gets to it):
// they must leave at the rate they were written at.
constexpr uint32_t kOutputSettleMs = 50;

void restoreSettings(Device* device) {
  if (!device->restore)
    return;
  for (int i = 0; i < 100; ++i) {
    int queued = 0;
    if (ioctl(device->fd, TIOCOUTQ, &queued) != 0 || queued == 0)
      break;
    sleepMs(10);  // a real adapter still sending, up to a second
  }
  const uint64_t since = nowMs() - device->lastWriteMs;
  if (since < kOutputSettleMs)
    sleepMs(static_cast<uint32_t>(kOutputSettleMs - since));
  ioctl(device->fd, kTcsets2, &device->saved);
}

// The seam's answer for a line that has no modem lines and no break.
bool hasModemLines(const Device* device) {
  if (!device->modemLines)
    threadError = kErrorNotSupported;
  return device->modemLines;
}

void closeDevice(Device* device) {
  {
    OpenDevices& open = openDevices();
    std::lock_guard<std::mutex> hold(open.lock);
    std::erase(open.devices, device);
  }
  {
    std::lock_guard<std::mutex> hold(device->lock);
    device->stopping = true;
  }
  // Every transfer ends (aborted) and signals before the thread returns, so
  // nothing touches an event or the device once the close is done.
  abortTransfers(device, true, true);
  pthread_join(device->thread, nullptr);
  restoreSettings(device);
  ioctl(device->fd, TIOCNXCL);
  close(device->fd);  // lets the lock go too
  close(device->wake);
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

namespace {

struct Thread {
  pthread_t thread{};
  void (*body)(void*) = nullptr;
  void* context = nullptr;
};

void* runThread(void* parameter) {
  auto* t = static_cast<Thread*>(parameter);
  t->body(t->context);
  return nullptr;
}

}  // namespace

Handle startThread(void (*body)(void*), void* context) {
  auto* t = new (std::nothrow) Thread{{}, body, context};
  if (!t)
    return nullptr;
  if (startQuietThread(&t->thread, runThread, t) == 0)
    return t;
  delete t;
  return nullptr;
}

void joinThread(Handle thread) {
  auto* t = static_cast<Thread*>(thread);
  if (!t)
    return;
  pthread_join(t->thread, nullptr);
  delete t;
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
  // Without O_NONBLOCK the open would wait for carrier. The descriptor
  // stays non-blocking: the I/O thread polls it.
  const int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    failWith(errno);
    return nullptr;
  }
  // Another NLCONF takes the same lock; TIOCEXCL keeps other programs out.
  if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
    const int error = isatty(fd) ? errno : ENOTTY;
    close(fd);
    failWith(error);
    return nullptr;
  }
  auto* device = new Device;
  device->kind = Kind::Device;
  device->number = number;
  device->fd = fd;
  device->restore = ioctl(fd, kTcgets2, &device->saved) == 0;
  int bits = 0;
  device->modemLines = ioctl(fd, TIOCMGET, &bits) == 0 || (errno != ENOTTY && errno != EINVAL);
  // What this program has not set yet is raw 9600 8-N-1, as a Windows port
  // starts, whatever the line was left at (cooked, another rate); CLOCAL, so
  // that a line without carrier never hangs up under the program. The modem
  // lines stay as they are until the program sets them.
  termios t{};
  if (tcgetattr(fd, &t) == 0) {
    cfmakeraw(&t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD | CS8;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetspeed(&t, B9600);
    if (tcsetattr(fd, TCSANOW, &t) == 0) {
      device->settings.baudRate = 9600;
      device->settings.byteSize = 8;
      device->settings.binary = true;
    }
  }
  LineSettings kept{};
  if (keptSettings(number, kept) && applyLine(device, kept))
    device->settings = kept;
  device->wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  const int error = device->wake < 0 ? errno : startIoThread(device);
  if (error != 0) {
    if (device->wake >= 0)
      close(device->wake);
    ioctl(fd, TIOCNXCL);
    close(fd);
    delete device;
    threadError = error == EAGAIN ? kErrorNotEnoughMemory : errorOf(error);
    return nullptr;
  }
  OpenDevices& open = openDevices();
  std::lock_guard<std::mutex> hold(open.lock);
  open.devices.push_back(device);
  return device;
}

bool purgeSerial(Handle handle, uint32_t flags) {
  Device* device = as<Device>(handle, Kind::Device);
  if (!device)
    return false;
  abortTransfers(device, flags & kPurgeRxAbort, flags & kPurgeTxAbort);
  if ((flags & kPurgeRxClear) && tcflush(device->fd, TCIFLUSH) != 0)
    return failWith(errno);
  // A pseudo-terminal's output queue is its far end's input: bytes that
  // have left, which an "ATCN" just before a close must not lose.
  if ((flags & kPurgeTxClear) && device->modemLines && tcflush(device->fd, TCOFLUSH) != 0)
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
  if (!applyLine(device, settings))
    return false;
  {
    DevicePathTable& table = devicePaths();
    std::lock_guard<std::mutex> hold(table.lock);
    table.kept[device->number] = settings;
    table.keepsSettings[device->number] = true;
  }
  std::lock_guard<std::mutex> hold(device->lock);
  device->settings = settings;
  return true;
}

bool escapeSerial(Handle handle, uint32_t function) {
  Device* device = as<Device>(handle, Kind::Device);
  if (!device || !hasModemLines(device))
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
  if (!device || !hasModemLines(device))
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
  return device && hasModemLines(device) && (ioctl(device->fd, TIOCSBRK) == 0 || failWith(errno));
}

bool clearBreak(Handle handle) {
  Device* device = as<Device>(handle, Kind::Device);
  return device && hasModemLines(device) && (ioctl(device->fd, TIOCCBRK) == 0 || failWith(errno));
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

// The device may be closed already: the transfer ended with the close.
bool finishTransfer(Handle, Transfer& transfer, uint32_t& count) {
  Operation* op = operationOf(transfer);
  if (op == nullptr) {
    threadError = kErrorInvalidParameter;
    return false;
  }
  {
    std::unique_lock<std::mutex> hold(signalLock);
    signalled.wait(hold, [op] { return op->finished; });
  }
  operationOf(transfer) = nullptr;
  count = op->moved;
  const uint32_t error = op->error;
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
  if (std::strcmp(table.paths[portNumber], path) != 0)
    table.keepsSettings[portNumber] = false;
  std::strcpy(table.paths[portNumber], path);
  return true;
}

void writeToOpenDevices(const void* bytes, uint32_t count) {
  OpenDevices& open = openDevices();
  std::lock_guard<std::mutex> hold(open.lock);
  for (const Device* device : open.devices)
    [[maybe_unused]] const ssize_t written = write(device->fd, bytes, count);
}

const char* devicePath(uint32_t portNumber) {
  if (portNumber < 1 || portNumber > 255)
    return nullptr;
  DevicePathTable& table = devicePaths();
  std::lock_guard<std::mutex> hold(table.lock);
  return table.paths[portNumber][0] ? table.paths[portNumber] : nullptr;
}

}  // namespace os::posix
