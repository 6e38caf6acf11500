// The OS seam over POSIX threads and clocks, with the meanings that the
// link layer relies on from the Win32 binding: the clock, the last error,
// events, mutexes, threads and waits. The serial line is in
// serial_line_posix.cpp, its I/O thread in serial_io_posix.cpp.
#include <pthread.h>
#include <signal.h>
#include <time.h>

#include <cerrno>
#include <chrono>
#include <new>

#include "platform/posix/seam_posix.h"

namespace os::seam {

thread_local uint32_t threadError = 0;
std::mutex signalLock;
std::condition_variable signalled;
std::atomic<bool> writesRefused{false};

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

}  // namespace os::seam

namespace os {

using namespace seam;

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

}  // namespace os
