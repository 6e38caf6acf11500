// LD_PRELOAD library that gives the pseudo-terminals of simports the modem
// lines and line settings of a real serial port, for Wine's serial driver:
//
//  - TIOCMGET answers CTS/DSR/DCD as the module model drives them, and the
//    DTR/RTS that the host set; TIOCMBIS/TIOCMBIC/TIOCMSET set DTR/RTS.
//  - TIOCSBRK/TIOCCBRK (and timed breaks) are told to the model.
//  - The line settings the host asks for (tcsetattr, TCSETS*) are recorded,
//    and reads of them (tcgetattr, TCGETS*) give back the data bits, parity
//    and stop bits asked for, which a pseudo-terminal would otherwise drop.
//  - Flushing the output (tcflush TCOFLUSH) is left out: a write the host
//    saw complete has left a real adapter, while on a pseudo-terminal it can
//    still wait for simports to take it, and the flush would lose it.
//  - A test can pause the host inside the read that takes a chosen carriage
//    return (see Slot::holdAfterCr), to act while the host is at that point.
//
// Only descriptors whose device is a slave listed in the table of the run
// directory named by NLCONF_SIMPORTS_DIR are touched; every other call goes
// straight to libc. Built without exceptions, RTTI or sanitizers: it lives
// inside every process of a Wine run.
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "e2e/rig/simports/shared_line.h"

namespace {

using simports::Slot;
using simports::Table;

constexpr tcflag_t kFrameBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
constexpr tcflag_t kBother = 0010000;  // termios2: the speed is in c_ospeed
constexpr int kModemOutBits = TIOCM_DTR | TIOCM_RTS;
// UNIX98 pseudo-terminal slaves use majors 136 to 143.
constexpr unsigned kPtsMajorFirst = 136;
constexpr unsigned kPtsMajorLast = 143;

// The kernel's own records behind TCGETS and TCGETS2 (not glibc's termios).
struct KernelTermios {
  uint32_t iflag, oflag, cflag, lflag;
  uint8_t line;
  uint8_t cc[19];
};
struct KernelTermios2 {
  uint32_t iflag, oflag, cflag, lflag;
  uint8_t line;
  uint8_t cc[19];
  uint32_t ispeed, ospeed;
};
static_assert(sizeof(KernelTermios2) == 44);

// glibc declares no struct termios2, so its requests are spelled out here.
constexpr unsigned long kTcgets2 = _IOR('T', 0x2A, KernelTermios2);
constexpr unsigned long kTcsets2 = _IOW('T', 0x2B, KernelTermios2);
constexpr unsigned long kTcsetsw2 = _IOW('T', 0x2C, KernelTermios2);
constexpr unsigned long kTcsetsf2 = _IOW('T', 0x2D, KernelTermios2);

using IoctlFn = int (*)(int, unsigned long, ...);
using TcsetattrFn = int (*)(int, int, const termios*);
using TcgetattrFn = int (*)(int, termios*);
using TcsendbreakFn = int (*)(int, int);
using ReadFn = ssize_t (*)(int, void*, size_t);
using WriteFn = ssize_t (*)(int, const void*, size_t);
using TcflushFn = int (*)(int, int);

// Looked up on first use; two threads racing here store the same address.
template <typename Fn>
Fn nextSymbol(std::atomic<void*>& cache, const char* name) {
  void* fn = cache.load(std::memory_order_relaxed);
  if (fn == nullptr) {
    fn = dlsym(RTLD_NEXT, name);
    cache.store(fn, std::memory_order_relaxed);
  }
  return reinterpret_cast<Fn>(fn);
}

std::atomic<void*> gIoctl{nullptr}, gTcsetattr{nullptr}, gTcgetattr{nullptr}, gTcsendbreak{nullptr},
    gRead{nullptr}, gTcflush{nullptr}, gWrite{nullptr};

IoctlFn realIoctl() {
  return nextSymbol<IoctlFn>(gIoctl, "ioctl");
}
TcsetattrFn realTcsetattr() {
  return nextSymbol<TcsetattrFn>(gTcsetattr, "tcsetattr");
}
TcgetattrFn realTcgetattr() {
  return nextSymbol<TcgetattrFn>(gTcgetattr, "tcgetattr");
}
TcsendbreakFn realTcsendbreak() {
  return nextSymbol<TcsendbreakFn>(gTcsendbreak, "tcsendbreak");
}
ReadFn realRead() {
  return nextSymbol<ReadFn>(gRead, "read");
}
WriteFn realWrite() {
  return nextSymbol<WriteFn>(gWrite, "write");
}
TcflushFn realTcflush() {
  return nextSymbol<TcflushFn>(gTcflush, "tcflush");
}

// ---------------------------------------------------------------- the table

pthread_mutex_t gMapLock = PTHREAD_MUTEX_INITIALIZER;
std::atomic<Table*> gTable{nullptr};
char gSocketPath[sizeof(sockaddr_un::sun_path)] = {};

// The run directory may not exist yet when a Wine process starts, so the
// mapping is tried again on later calls until it succeeds.
Table* table() {
  if (Table* t = gTable.load(std::memory_order_acquire))
    return t;
  const char* dir = std::getenv(simports::kRunDirEnv);
  if (dir == nullptr || dir[0] == '\0')
    return nullptr;
  pthread_mutex_lock(&gMapLock);
  Table* t = gTable.load(std::memory_order_acquire);
  if (t == nullptr) {
    char path[512];
    const size_t room = sizeof gSocketPath;
    if (std::strlen(dir) + sizeof simports::kEventSocket + 1 < room) {
      std::strcpy(path, dir);
      std::strcat(path, "/");
      std::strcat(path, simports::kTableFile);
      const int fd = open(path, O_RDWR | O_CLOEXEC);
      if (fd >= 0) {
        void* map = mmap(nullptr, sizeof(Table), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        close(fd);
        auto* candidate = static_cast<Table*>(map);
        if (map != MAP_FAILED && candidate->magic.load() == simports::kTableMagic &&
            candidate->version.load() == simports::kTableVersion) {
          std::strcpy(gSocketPath, dir);
          std::strcat(gSocketPath, "/");
          std::strcat(gSocketPath, simports::kEventSocket);
          t = candidate;
          gTable.store(t, std::memory_order_release);
        } else if (map != MAP_FAILED) {
          munmap(map, sizeof(Table));
        }
      }
    }
  }
  pthread_mutex_unlock(&gMapLock);
  return t;
}

// The slot of a simulated port's slave, or null for any other descriptor.
Slot* slotOf(int fd, uint32_t* index) {
  Table* t = table();
  if (t == nullptr)
    return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
    return nullptr;
  const unsigned maj = major(st.st_rdev);
  if (maj < kPtsMajorFirst || maj > kPtsMajorLast)
    return nullptr;
  for (uint32_t i = 0; i < simports::kSlotCount; ++i) {
    Slot& s = t->slots[i];
    if (s.state.load() != simports::kSlotFree && s.rdev.load() == st.st_rdev) {
      *index = i;
      return &s;
    }
  }
  return nullptr;
}

void count(Slot& slot, simports::CallCounter counter) {
  slot.counters[counter].fetch_add(1, std::memory_order_relaxed);
}

bool unplugged(Slot& slot) {
  if (slot.state.load() != simports::kSlotUnplugged)
    return false;
  count(slot, simports::kCountRefused);
  return true;
}

// ---------------------------------------------------------------- events

uint64_t monotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

// Best effort: simports also reads the table, so a lost datagram delays a
// change by one of its ticks at worst and never hides it.
void notify(Slot& slot, uint32_t index, uint32_t kind, uint32_t a, uint32_t b) {
  slot.hostSeq.fetch_add(1);
  simports::Event event{};
  event.magic = simports::kTableMagic;
  event.slot = index;
  event.rdev = slot.rdev.load();
  event.kind = kind;
  event.a = a;
  event.b = b;
  event.monotonicNs = monotonicNs();
  const int saved = errno;
  const int sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (sock >= 0) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, gSocketPath, sizeof addr.sun_path - 1);
    sendto(sock, &event, sizeof event, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&addr),
           sizeof addr);
    close(sock);
  }
  errno = saved;
}

void setModemOut(Slot& slot, uint32_t index, uint32_t bits) {
  slot.modemOut.store(bits & kModemOutBits);
  notify(slot, index, simports::kEventModem, bits & kModemOutBits, 0);
}

void setBreak(Slot& slot, uint32_t index, bool on) {
  slot.breakOn.store(on ? 1 : 0);
  notify(slot, index, simports::kEventBreak, on ? 1 : 0, 0);
}

uint32_t baudOfSpeed(speed_t speed) {
  switch (speed) {
    case B50:
      return 50;
    case B75:
      return 75;
    case B110:
      return 110;
    case B134:
      return 134;
    case B150:
      return 150;
    case B200:
      return 200;
    case B300:
      return 300;
    case B600:
      return 600;
    case B1200:
      return 1200;
    case B1800:
      return 1800;
    case B2400:
      return 2400;
    case B4800:
      return 4800;
    case B9600:
      return 9600;
    case B19200:
      return 19200;
    case B38400:
      return 38400;
    case B57600:
      return 57600;
    case B115200:
      return 115200;
    case B230400:
      return 230400;
    case B460800:
      return 460800;
    case B921600:
      return 921600;
    default:
      return 0;
  }
}

void recordSettings(Slot& slot, uint32_t index, uint32_t baud, tcflag_t cflag) {
  slot.baud.store(baud);
  slot.cflag.store(cflag & kFrameBits);
  notify(slot, index, simports::kEventSettings, baud, cflag & kFrameBits);
}

uint32_t patchedCflag(const Slot& slot, uint32_t cflag) {
  return (cflag & ~kFrameBits) | (slot.cflag.load() & kFrameBits);
}

// ---------------------------------------------------------------- modem ioctls

int modemIoctl(Slot& slot, uint32_t index, unsigned long request, void* arg) {
  if (unplugged(slot)) {
    errno = EIO;
    return -1;
  }
  int* bits = static_cast<int*>(arg);
  if (bits == nullptr) {
    errno = EFAULT;
    return -1;
  }
  const uint32_t out = slot.modemOut.load();
  switch (request) {
    case TIOCMGET:
      count(slot, simports::kCountTiocmget);
      *bits = static_cast<int>(slot.modemIn.load() | out);
      return 0;
    case TIOCMBIS:
      count(slot, simports::kCountTiocmbis);
      setModemOut(slot, index, out | static_cast<uint32_t>(*bits));
      return 0;
    case TIOCMBIC:
      count(slot, simports::kCountTiocmbic);
      setModemOut(slot, index, out & ~static_cast<uint32_t>(*bits));
      return 0;
    default:  // TIOCMSET
      count(slot, simports::kCountTiocmset);
      setModemOut(slot, index, static_cast<uint32_t>(*bits));
      return 0;
  }
}

int breakIoctl(Slot& slot, uint32_t index, int fd, unsigned long request, void* arg) {
  if (unplugged(slot)) {
    errno = EIO;
    return -1;
  }
  const bool on = request == TIOCSBRK;
  count(slot, on ? simports::kCountTiocsbrk : simports::kCountTioccbrk);
  setBreak(slot, index, on);
  // The pseudo-terminal takes it too, so errors stay the kernel's.
  return realIoctl()(fd, request, arg);
}

// TCSBRK with 0 (and TCSBRKP) sends a timed break; any other TCSBRK only drains.
int timedBreakIoctl(Slot& slot, uint32_t index, int fd, unsigned long request, void* arg) {
  const auto value = reinterpret_cast<uintptr_t>(arg);
  if (request == TCSBRK && value != 0)
    return realIoctl()(fd, request, arg);
  if (unplugged(slot)) {
    errno = EIO;
    return -1;
  }
  count(slot, simports::kCountTcsbrk);
  setBreak(slot, index, true);
  const int result = realIoctl()(fd, request, arg);
  const int saved = errno;
  setBreak(slot, index, false);
  errno = saved;
  return result;
}

int getsIoctl(Slot& slot, int fd, unsigned long request, void* arg) {
  const int result = realIoctl()(fd, request, arg);
  count(slot, simports::kCountTcgetsIoctl);
  if (result == 0 && arg != nullptr) {
    // cflag sits at the same place in both kernel records.
    auto* k = static_cast<KernelTermios*>(arg);
    k->cflag = patchedCflag(slot, k->cflag);
  }
  return result;
}

uint32_t baudOfKernelTermios(unsigned long request, const void* arg) {
  if (request == kTcsets2 || request == kTcsetsw2 || request == kTcsetsf2) {
    const auto* k = static_cast<const KernelTermios2*>(arg);
    if ((k->cflag & CBAUD) == kBother)
      return k->ospeed;
    return baudOfSpeed(k->cflag & CBAUD);
  }
  const auto* k = static_cast<const KernelTermios*>(arg);
  return baudOfSpeed(k->cflag & CBAUD);
}

int setsIoctl(Slot& slot, uint32_t index, int fd, unsigned long request, void* arg) {
  const int result = realIoctl()(fd, request, arg);
  count(slot, simports::kCountTcsetsIoctl);
  if (result == 0 && arg != nullptr) {
    const int saved = errno;
    const auto* k = static_cast<const KernelTermios*>(arg);
    recordSettings(slot, index, baudOfKernelTermios(request, arg), k->cflag);
    errno = saved;
  }
  return result;
}

bool isGets(unsigned long request) {
  return request == TCGETS || request == kTcgets2;
}

bool isSets(unsigned long request) {
  return request == TCSETS || request == TCSETSW || request == TCSETSF || request == kTcsets2 ||
         request == kTcsetsw2 || request == kTcsetsf2;
}

bool interesting(unsigned long request) {
  return request == TIOCMGET || request == TIOCMBIS || request == TIOCMBIC || request == TIOCMSET ||
         request == TIOCSBRK || request == TIOCCBRK || request == TCSBRK || request == TCSBRKP ||
         isGets(request) || isSets(request);
}

// ---------------------------------------------------------------- held reads

// Whether this read took the carriage return the armed pause waits for.
bool takesAwaitedCr(Slot& slot, const char* bytes, ssize_t n) {
  for (ssize_t i = 0; i < n; ++i) {
    if (bytes[i] != '\r')
      continue;
    uint32_t left = slot.holdAfterCr.load();
    while (left != 0 && !slot.holdAfterCr.compare_exchange_weak(left, left - 1)) {
    }
    if (left == 1)
      return true;
  }
  return false;
}

void sleepMs(uint32_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

void holdRead(Slot& slot, uint32_t index) {
  const int saved = errno;
  notify(slot, index, simports::kEventHold, 1, static_cast<uint32_t>(getpid()));
  uint32_t waited = 0;
  while (slot.holdRelease.load() == 0 && waited < simports::kHoldLimitMs) {
    sleepMs(1);
    ++waited;
  }
  slot.holdRelease.store(0);
  notify(slot, index, simports::kEventHold, 0, waited);
  errno = saved;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) ssize_t read(int fd, void* buffer, size_t size) {
  ReadFn real = realRead();
  if (real == nullptr) {
    errno = ENOSYS;
    return -1;
  }
  const ssize_t n = real(fd, buffer, size);
  Table* t = n > 0 ? table() : nullptr;
  if (t == nullptr || t->holdsArmed.load() == 0)
    return n;
  uint32_t index = 0;
  Slot* slot = slotOf(fd, &index);
  if (slot != nullptr && takesAwaitedCr(*slot, static_cast<const char*>(buffer), n))
    holdRead(*slot, index);
  return n;
}

// The bytes reach the module when the host wrote them, not when a busy
// machine lets simports read them from the pseudo-terminal: each write's
// time goes beside it.
__attribute__((visibility("default"))) ssize_t write(int fd, const void* bytes, size_t size) {
  WriteFn real = realWrite();
  if (real == nullptr) {
    errno = ENOSYS;
    return -1;
  }
  const ssize_t n = real(fd, bytes, size);
  Table* t = n > 0 ? table() : nullptr;
  uint32_t index = 0;
  Slot* slot = t != nullptr ? slotOf(fd, &index) : nullptr;
  if (slot != nullptr)
    notify(*slot, index, simports::kEventWrote, static_cast<uint32_t>(n), 0);
  return n;
}

__attribute__((visibility("default"))) int ioctl(int fd, unsigned long request, ...) noexcept {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  IoctlFn real = realIoctl();
  if (real == nullptr) {
    errno = ENOSYS;
    return -1;
  }
  if (!interesting(request))
    return real(fd, request, arg);
  uint32_t index = 0;
  Slot* slot = slotOf(fd, &index);
  if (slot == nullptr)
    return real(fd, request, arg);
  switch (request) {
    case TIOCMGET:
    case TIOCMBIS:
    case TIOCMBIC:
    case TIOCMSET:
      return modemIoctl(*slot, index, request, arg);
    case TIOCSBRK:
    case TIOCCBRK:
      return breakIoctl(*slot, index, fd, request, arg);
    case TCSBRK:
    case TCSBRKP:
      return timedBreakIoctl(*slot, index, fd, request, arg);
    default:
      break;
  }
  if (isGets(request))
    return getsIoctl(*slot, fd, request, arg);
  return setsIoctl(*slot, index, fd, request, arg);
}

__attribute__((visibility("default"))) int tcsetattr(int fd, int actions,
                                                     const termios* t) noexcept {
  TcsetattrFn real = realTcsetattr();
  if (real == nullptr) {
    errno = ENOSYS;
    return -1;
  }
  uint32_t index = 0;
  Slot* slot = t != nullptr ? slotOf(fd, &index) : nullptr;
  if (slot == nullptr)
    return real(fd, actions, t);
  // glibc reads the settings back and fails with EINVAL when the parity or
  // data bits did not stick, which they never do on a pseudo-terminal; so
  // the kernel gets what it keeps, and the shadow keeps what was asked for.
  termios kept = *t;
  kept.c_cflag = (kept.c_cflag & ~(CSIZE | PARENB | PARODD | CMSPAR)) | CS8;
  const int result = real(fd, actions, &kept);
  if (result != 0)
    return result;
  const int saved = errno;
  count(*slot, simports::kCountTcsetattr);
  recordSettings(*slot, index, baudOfSpeed(cfgetospeed(t)), t->c_cflag);
  errno = saved;
  return result;
}

__attribute__((visibility("default"))) int tcgetattr(int fd, termios* t) noexcept {
  TcgetattrFn real = realTcgetattr();
  if (real == nullptr) {
    errno = ENOSYS;
    return -1;
  }
  const int result = real(fd, t);
  uint32_t index = 0;
  Slot* slot = result == 0 && t != nullptr ? slotOf(fd, &index) : nullptr;
  if (slot == nullptr)
    return result;
  count(*slot, simports::kCountTcgetattr);
  t->c_cflag = patchedCflag(*slot, t->c_cflag);
  return result;
}

__attribute__((visibility("default"))) int tcflush(int fd, int queue) noexcept {
  TcflushFn real = realTcflush();
  if (real == nullptr) {
    errno = ENOSYS;
    return -1;
  }
  uint32_t index = 0;
  Slot* slot = queue == TCOFLUSH || queue == TCIOFLUSH ? slotOf(fd, &index) : nullptr;
  if (slot == nullptr)
    return real(fd, queue);
  if (unplugged(*slot)) {
    errno = EIO;
    return -1;
  }
  count(*slot, simports::kCountTcoflushKept);
  return queue == TCIOFLUSH ? real(fd, TCIFLUSH) : 0;
}

__attribute__((visibility("default"))) int tcsendbreak(int fd, int duration) noexcept {
  TcsendbreakFn real = realTcsendbreak();
  if (real == nullptr) {
    errno = ENOSYS;
    return -1;
  }
  uint32_t index = 0;
  Slot* slot = slotOf(fd, &index);
  if (slot == nullptr)
    return real(fd, duration);
  if (unplugged(*slot)) {
    errno = EIO;
    return -1;
  }
  count(*slot, simports::kCountTcsendbreak);
  setBreak(*slot, index, true);
  const int result = real(fd, duration);
  const int saved = errno;
  setBreak(*slot, index, false);
  errno = saved;
  return result;
}

}  // extern "C"
