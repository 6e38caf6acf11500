// The POSIX seam's serial line: termios settings, modem lines, breaks, the
// device's open and close, and the table of device paths that stands for
// the COM numbers.
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <cwchar>
#include <thread>

#include "platform/posix/device_paths.h"
#include "platform/posix/seam_posix.h"

namespace os::seam {

DevicePathTable& devicePaths() {
  static DevicePathTable table;
  return table;
}

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
  // A module's answer after the last write says that the write has left.
  const bool answered = device->lastReadMs > device->lastWriteMs;
  const uint64_t since = nowMs() - device->lastWriteMs;
  if (!answered && since < kOutputSettleMs)
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

}  // namespace os::seam

namespace os {

using namespace seam;

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

uint32_t bytesWaiting(Handle handle) {
  Device* device = as<Device>(handle, Kind::Device);
  int count = 0;
  return device && ioctl(device->fd, FIONREAD, &count) == 0 && count > 0
             ? static_cast<uint32_t>(count)
             : 0;
}

bool setBreak(Handle handle) {
  Device* device = as<Device>(handle, Kind::Device);
  return device && hasModemLines(device) && (ioctl(device->fd, TIOCSBRK) == 0 || failWith(errno));
}

bool clearBreak(Handle handle) {
  Device* device = as<Device>(handle, Kind::Device);
  return device && hasModemLines(device) && (ioctl(device->fd, TIOCCBRK) == 0 || failWith(errno));
}

}  // namespace os

namespace os::posix {

using namespace seam;

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
  refuseWrites();
  OpenDevices& open = openDevices();
  std::lock_guard<std::mutex> hold(open.lock);
  for (Device* device : open.devices) {
    // A write half on the line is given a moment to finish (CTS may hold it).
    std::unique_lock<std::mutex> line(device->writing);
    for (int waited = 0; device->partialWrite && waited < 100; ++waited) {
      line.unlock();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      line.lock();
    }
    [[maybe_unused]] const ssize_t written = write(device->fd, bytes, count);
  }
}

const char* devicePath(uint32_t portNumber) {
  if (portNumber < 1 || portNumber > 255)
    return nullptr;
  DevicePathTable& table = devicePaths();
  std::lock_guard<std::mutex> hold(table.lock);
  return table.paths[portNumber][0] ? table.paths[portNumber] : nullptr;
}

}  // namespace os::posix
