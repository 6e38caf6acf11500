// The POSIX seam's transfers: each open port has one I/O thread that runs
// its overlapped transfers in order (a read and a write at a time) and
// signals each one's event when it ends; a cancel, a purge or the close
// wakes it through an eventfd.
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/seam_posix.h"

namespace os::seam {

namespace {

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
  device->lastReadMs = nowMs();
  if (op->limits.intervalMs != kInfinite)
    op->gapEnd = nowMs() + op->limits.intervalMs;
  return op->limits.returnAtOnce || op->limits.firstByteEnds || op->moved == op->count;
}

bool writeSome(Device* device, Operation* op) {
  std::lock_guard<std::mutex> line(device->writing);
  // A write already under way goes out whole: a command cut in two would
  // be another command.
  if (op->moved == 0 && writesRefused.load()) {
    op->error = kErrorOperationAborted;
    return true;
  }
  const ssize_t n = write(device->fd, op->out + op->moved, op->count - op->moved);
  if (n < 0 && (errno == EAGAIN || errno == EINTR))
    return false;
  if (n < 0) {
    op->error = errno == EIO ? kErrorBrokenPipe : errorOf(errno);
    device->partialWrite = false;
    return true;
  }
  op->moved += static_cast<uint32_t>(n);
  device->lastWriteMs = nowMs();
  device->partialWrite = op->moved != op->count;
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

}  // namespace

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
    if (device->stopping || (!op->reading && writesRefused.load())) {
      threadError = device->stopping ? kErrorInvalidHandle : kErrorOperationAborted;
      delete op;
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

}  // namespace os::seam

namespace os {

using namespace seam;

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

// A write that has not begun ends, aborted, at its first turn on the line.
void refuseWrites() {
  writesRefused = true;
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
