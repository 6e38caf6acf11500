// The seam's calls as the virtual world answers them.
#include <algorithm>
#include <cstring>

#include "platform/virtual/world.h"
#include "platform/virtual/world_internal.h"

namespace vw {
namespace {

constexpr uint32_t kErrorNotOwner = 288;
constexpr uint32_t kInfinite = 0xFFFFFFFF;
constexpr TimeUs kYieldUs = 100;  // Sleep(0) still lets virtual time pass
constexpr TimeUs kLookPauseUs = 500;

uint64_t transferId(const os::Transfer& t) {
  uint64_t id = 0;
  std::memcpy(&id, t.opaque, sizeof id);
  return id;
}

void setTransferId(os::Transfer& t, uint64_t id) {
  std::memcpy(t.opaque, &id, sizeof id);
}

// The driver's "return what is there" read time-outs.
bool returnsAtOnce(const os::Timeouts& t) {
  return t.readIntervalMs == kInfinite && t.readTotalMultiplierMs == 0 &&
         t.readTotalConstantMs == 0;
}

bool fail(uint32_t error) {
  os::setLastError(error);
  return false;
}

}  // namespace

World::Object* World::object(os::Handle h, int kind) {
  auto* o = static_cast<Object*>(h);
  if (!h || !objects_.count(o) || o->kind != kind)
    return nullptr;
  return o;
}

void World::noteCall() {
  constexpr uint64_t kSpinLimit = 200000;
  if (now_ != spinTime_) {
    spinTime_ = now_;
    spinCalls_ = 0;
  } else if (++spinCalls_ > kSpinLimit) {
    fatal("a thread spins: calls without end while the clock stands still");
  }
}

SerialLine* World::serialOf(os::Handle h) {
  noteCall();
  Object* o = object(h, kSerial);
  if (!o) {
    os::setLastError(os::kErrorInvalidHandle);
    return nullptr;
  }
  if (!o->line->present) {
    os::setLastError(kErrorBadCommand);
    return nullptr;
  }
  return o->line;
}

uint32_t World::tickCount() {
  std::lock_guard lock(mutex_);
  noteCall();
  return tickOrigin_ + static_cast<uint32_t>(now_ / 1000);
}

uint64_t World::bootClockMs() {
  std::lock_guard lock(mutex_);
  noteCall();
  return now_ / 1000;
}

os::NoteRead World::readPortNote(uint32_t portNumber, char* bytes, uint32_t capacity,
                                 uint32_t& got) {
  std::lock_guard lock(mutex_);
  got = 0;
  if (shouldFail(Call::ReadNote))
    return os::NoteRead::Failed;
  const auto it = portNotes_.find(portNumber);
  if (it == portNotes_.end())
    return os::NoteRead::Missing;
  got = static_cast<uint32_t>(std::min<size_t>(capacity, it->second.size()));
  std::memcpy(bytes, it->second.data(), got);
  return os::NoteRead::Found;
}

bool World::writePortNote(uint32_t portNumber, const char* bytes, uint32_t count) {
  std::lock_guard lock(mutex_);
  if (shouldFail(Call::WriteNote))
    return false;
  portNotes_[portNumber].assign(bytes, count);
  return true;
}

void World::sleepMs(uint32_t ms) {
  Lock lock(mutex_);
  block(lock, nullptr, now_ + (ms ? TimeUs{ms} * 1000 : kYieldUs));
}

// A handle like any other, so that one left open shows among the leaks.
os::Handle World::createLookPause() {
  std::lock_guard lock(mutex_);
  auto* o = new Object{kTimer};
  objects_.insert(o);
  return o;
}

void World::pauseBetweenLooks(os::Handle pause) {
  Lock lock(mutex_);
  block(lock, nullptr, now_ + (object(pause, kTimer) ? kLookPauseUs : kYieldUs));
}

os::Handle World::createEvent() {
  std::lock_guard lock(mutex_);
  if (shouldFail(Call::CreateEvent))
    return fail(os::kErrorInvalidParameter), nullptr;
  auto* o = new Object{kEvent};
  objects_.insert(o);
  return o;
}

bool World::setEvent(os::Handle h) {
  std::lock_guard lock(mutex_);
  Object* o = object(h, kEvent);
  if (!o)
    return fail(os::kErrorInvalidHandle);
  o->signalled = true;
  return true;
}

bool World::resetEvent(os::Handle h) {
  std::lock_guard lock(mutex_);
  Object* o = object(h, kEvent);
  if (!o)
    return fail(os::kErrorInvalidHandle);
  o->signalled = false;
  return true;
}

bool World::isEventSet(os::Handle h) {
  std::lock_guard lock(mutex_);
  Object* o = object(h, kEvent);
  return o && o->signalled;
}

os::Handle World::createMutex() {
  std::lock_guard lock(mutex_);
  if (shouldFail(Call::CreateMutex))
    return fail(os::kErrorInvalidParameter), nullptr;
  auto* o = new Object{kMutex};
  objects_.insert(o);
  return o;
}

bool World::lockMutex(os::Handle h) {
  Lock lock(mutex_);
  Object* o = object(h, kMutex);
  if (!o)
    return fail(os::kErrorInvalidHandle);
  if (shouldFail(Call::LockMutex))
    return fail(os::kErrorInvalidParameter);
  const int me = self()->id;
  if (o->owner != me && o->owner != -1) {
    o->waiters++;
    block(
        lock, [this, o] { return !objects_.count(o) || o->owner == -1; }, std::nullopt);
    if (!objects_.count(o))
      return fail(os::kErrorInvalidHandle);
    o->waiters--;
  }
  o->owner = me;
  o->depth++;
  return true;
}

bool World::unlockMutex(os::Handle h) {
  std::lock_guard lock(mutex_);
  Object* o = object(h, kMutex);
  if (!o)
    return fail(os::kErrorInvalidHandle);
  if (o->owner != self()->id)
    return fail(kErrorNotOwner);
  if (--o->depth == 0)
    o->owner = -1;
  return true;
}

bool World::closeHandle(os::Handle h) {
  std::lock_guard lock(mutex_);
  auto* o = static_cast<Object*>(h);
  if (!h || !objects_.count(o))
    return fail(os::kErrorInvalidHandle);
  if (o->kind == kMutex && o->owner != -1)
    violations_.push_back("a mutex was closed while locked");
  if (o->kind == kMutex && o->waiters > 0)
    violations_.push_back("a mutex was closed while a thread waited for it");
  if (o->kind == kSerial) {
    SerialLine& l = *o->line;
    if (l.breakOn) {
      violations_.push_back("a port was closed with its break still on");
      l.breakOn = false;
    }
    abortTransfer(l.pendingRead, os::kErrorOperationAborted, true);
    abortTransfer(l.pendingWrite, os::kErrorOperationAborted, true);
    stopHostTx(l, true);
    l.input.clear();
    l.open = false;
    record(l, Event::Close, 0);
  }
  objects_.erase(o);
  delete o;
  return true;
}

int World::waitAny(const os::Handle* handles, uint32_t count, uint32_t timeoutMs) {
  Lock lock(mutex_);
  if (shouldFail(Call::WaitAny))
    return fail(os::kErrorInvalidParameter), os::kWaitFailed;
  if (!handles || count < 1 || count > 2)
    return fail(os::kErrorInvalidParameter), os::kWaitFailed;
  std::vector<Object*> objs;
  for (uint32_t i = 0; i < count; ++i) {
    Object* o = object(handles[i], kEvent);
    if (!o)
      return fail(os::kErrorInvalidHandle), os::kWaitFailed;
    objs.push_back(o);
  }
  auto signalled = [this, objs]() -> int {
    for (size_t i = 0; i < objs.size(); ++i) {
      if (objects_.count(objs[i]) && objs[i]->signalled)
        return static_cast<int>(i);
    }
    return -1;
  };
  if (signalled() < 0) {
    std::optional<TimeUs> deadline;
    if (timeoutMs != kInfinite)
      deadline = now_ + TimeUs{timeoutMs} * 1000;
    block(
        lock, [signalled] { return signalled() >= 0; }, deadline);
    if (signalled() < 0 && deadline && busyLookUs > 0) {
      block(
          lock, [] { return false; }, now_ + busyLookUs);
      return os::kWaitTimeout;
    }
  }
  const int index = signalled();
  return index >= 0 ? index : os::kWaitTimeout;
}

// ---------------------------------------------------------------- serial

os::Handle World::openSerial(const wchar_t* name) {
  std::lock_guard lock(mutex_);
  std::string narrow;
  for (const wchar_t* p = name; p && *p; ++p)
    narrow.push_back(static_cast<char>(*p));
  const std::string prefix = "\\\\.\\";
  auto it = narrow.rfind(prefix, 0) == 0 ? lines_.find(narrow.substr(prefix.size())) : lines_.end();
  if (it == lines_.end() || shouldFail(Call::OpenSerial)) {
    return fail(os::kErrorFileNotFound), nullptr;
  }
  SerialLine& l = *it->second;
  if (l.open)
    return fail(os::kErrorAccessDenied), nullptr;
  l.open = true;
  l.input.clear();
  l.hostBusyUntil = now_;
  if (l.settings.baudRate == 0) {
    l.settings.baudRate = 9600;
    l.settings.byteSize = 8;
    l.settings.binary = true;
  }
  auto* o = new Object{kSerial};
  o->line = &l;
  objects_.insert(o);
  record(l, Event::Open, 0);
  return o;
}

bool World::purgeSerial(os::Handle h, uint32_t flags) {
  std::lock_guard lock(mutex_);
  SerialLine* l = serialOf(h);
  if (!l)
    return false;
  if (shouldFail(Call::Purge))
    return fail(os::kErrorInvalidParameter);
  record(*l, Event::Purge, flags);
  if (flags & os::kPurgeTxAbort)
    abortTransfer(l->pendingWrite, os::kErrorOperationAborted, true);
  if (flags & os::kPurgeRxAbort)
    abortTransfer(l->pendingRead, os::kErrorOperationAborted, true);
  if (flags & os::kPurgeTxClear)
    stopHostTx(*l, true);
  if (flags & os::kPurgeRxClear)
    l->input.clear();
  return true;
}

bool World::setSerialTimeouts(os::Handle h, const os::Timeouts& t) {
  std::lock_guard lock(mutex_);
  SerialLine* l = serialOf(h);
  if (!l)
    return false;
  if (shouldFail(Call::SetTimeouts))
    return fail(os::kErrorInvalidParameter);
  l->timeouts = t;
  record(*l, Event::Timeouts, t.writeTotalConstantMs);
  return true;
}

bool World::setSerialQueues(os::Handle h, uint32_t in, uint32_t out) {
  std::lock_guard lock(mutex_);
  SerialLine* l = serialOf(h);
  if (!l)
    return false;
  if (shouldFail(Call::SetQueues))
    return fail(os::kErrorInvalidParameter);
  l->inQueue = in;
  l->outQueue = out;
  record(*l, Event::Queues, in);
  return true;
}

bool World::getLineSettings(os::Handle h, os::LineSettings& s) {
  std::lock_guard lock(mutex_);
  SerialLine* l = serialOf(h);
  if (!l)
    return false;
  s = l->settings;
  return true;
}

bool World::setLineSettings(os::Handle h, const os::LineSettings& s) {
  std::lock_guard lock(mutex_);
  SerialLine* l = serialOf(h);
  if (!l)
    return false;
  if (shouldFail(Call::SetLineSettings) || s.baudRate == 0 || s.byteSize < 5 || s.byteSize > 8) {
    return fail(os::kErrorInvalidParameter);
  }
  l->settings = s;
  l->dtr = s.dtrControl == os::kDtrControlEnable;
  l->rts = s.rtsControl == os::kRtsControlEnable;
  record(*l, Event::Settings, s.baudRate);
  return true;
}

bool World::escapeSerial(os::Handle h, uint32_t function) {
  std::lock_guard lock(mutex_);
  SerialLine* l = serialOf(h);
  if (!l)
    return false;
  if (shouldFail(Call::Escape))
    return fail(os::kErrorInvalidParameter);
  switch (function) {
    case os::kEscapeSetDtr:
    case os::kEscapeClrDtr:
      l->dtr = function == os::kEscapeSetDtr;
      record(*l, Event::Dtr, l->dtr);
      break;
    case os::kEscapeSetRts:
    case os::kEscapeClrRts:
      l->rts = function == os::kEscapeSetRts;
      record(*l, Event::Rts, l->rts);
      break;
    default:
      return fail(os::kErrorInvalidParameter);
  }
  if (l->peer)
    l->peer->hostModemLines(now_, l->dtr, l->rts);
  return true;
}

uint32_t World::bytesWaiting(os::Handle h) {
  std::lock_guard lock(mutex_);
  SerialLine* l = serialOf(h);
  return l ? static_cast<uint32_t>(l->input.size()) : 0;
}

bool World::getModemStatus(os::Handle h, uint32_t& status) {
  std::lock_guard lock(mutex_);
  SerialLine* l = serialOf(h);
  if (!l)
    return false;
  if (shouldFail(Call::ModemStatus))
    return fail(os::kErrorInvalidParameter);
  status = 0;
  if (l->peer) {
    status =
        (l->peer->dsr(now_) ? os::kModemDsrOn : 0) | (l->peer->cts(now_) ? os::kModemCtsOn : 0);
  }
  return true;
}

bool World::setBreak(os::Handle h, bool on) {
  std::lock_guard lock(mutex_);
  SerialLine* l = serialOf(h);
  if (!l)
    return false;
  if (on && shouldFail(Call::SetBreak))
    return fail(os::kErrorInvalidParameter);
  l->breakOn = on;
  record(*l, on ? Event::BreakOn : Event::BreakOff, 0);
  if (l->peer)
    l->peer->hostBreak(now_, on);
  return true;
}

bool World::startTransfer(os::Handle h, bool write, void* bytes, uint32_t count, os::Transfer& t,
                          os::Handle event, bool signals) {
  std::lock_guard lock(mutex_);
  SerialLine* l = serialOf(h);
  if (!l)
    return false;
  if (shouldFail(write ? Call::StartWrite : Call::StartRead)) {
    return fail(os::kErrorInvalidParameter);
  }
  Object* ev = signals ? object(event, kEvent) : nullptr;
  if ((signals && !ev) || (count && !bytes))
    return fail(os::kErrorInvalidParameter);
  // One transfer per direction: overlapping ones are a fault of the caller.
  if (write ? l->pendingWrite : l->pendingRead)
    return fail(os::kErrorInvalidParameter);

  // Like ReadFile and WriteFile, a start clears the transfer's event.
  if (ev)
    ev->signalled = false;
  auto tr = std::make_unique<Transfer>();
  Transfer& x = *tr;
  x.id = nextTransferId_++;
  x.line = l;
  x.write = write;
  x.buffer = static_cast<char*>(bytes);
  x.count = count;
  x.event = ev;
  x.signals = signals;
  transfers_[x.id] = std::move(tr);
  setTransferId(t, x.id);
  (write ? l->pendingWrite : l->pendingRead) = x.id;

  if (count == 0) {
    complete(x, true, 0);
  } else if (!write) {
    serviceRead(*l);
    if (!x.finished && returnsAtOnce(l->timeouts))
      complete(x, true, 0);
  } else {
    sendFromHost(*l, x);
  }
  return true;
}

bool World::finishTransfer(os::Handle h, os::Transfer& t, uint32_t& count) {
  Lock lock(mutex_);
  const bool injected = shouldFail(Call::FinishTransfer);
  auto it = transfers_.find(transferId(t));
  if (!object(h, kSerial) || it == transfers_.end())
    return fail(os::kErrorInvalidParameter);
  Transfer* x = it->second.get();
  if (!x->finished)
    block(
        lock, [x] { return x->finished; }, std::nullopt);
  count = x->done;
  const bool ok = x->ok;
  const uint32_t error = x->error;
  transfers_.erase(x->id);
  if (injected)
    return fail(os::kErrorInvalidParameter);
  return ok ? true : fail(error);
}

bool World::cancelTransfers(os::Handle h) {
  std::lock_guard lock(mutex_);
  SerialLine* l = serialOf(h);
  if (!l)
    return false;
  abortTransfer(l->pendingRead, os::kErrorOperationAborted, true);
  abortTransfer(l->pendingWrite, os::kErrorOperationAborted, true);
  return true;
}

}  // namespace vw
