#include "platform/virtual/world.h"
#include "platform/virtual/world_internal.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vw {
namespace {

World* gWorld = nullptr;

}  // namespace

void fatal(const char* what) {
  std::fprintf(stderr, "virtual world: %s\n", what);
  std::fflush(stderr);
  std::abort();
}

uint8_t garble(uint8_t byte) {
  return static_cast<uint8_t>((byte ^ 0xA5) + 0x3B);
}

namespace {
thread_local World::VThread* tlThread = nullptr;
}

World::World() {
  if (gWorld)
    fatal("only one world at a time");
  gWorld = this;
  auto main = std::make_unique<VThread>();
  main->id = 0;
  tlThread = main.get();
  threads_[0] = std::move(main);
}

World::~World() {
  // Let every thread of the test run to its end, so none outlives the world.
  for (auto& [id, t] : threads_) {
    if (id != 0 && !t->finished)
      join(id);
  }
  for (auto& [id, t] : threads_) {
    if (t->thread.joinable())
      t->thread.join();
  }
  for (Object* o : objects_)
    delete o;
  tlThread = nullptr;
  gWorld = nullptr;
}

World& World::current() {
  if (!gWorld)
    fatal("no world: a test must create one before using the seam");
  return *gWorld;
}

// ---------------------------------------------------------------- scheduling

TimeUs World::now() const {
  std::lock_guard lock(mutex_);
  return now_;
}

void World::setTickOrigin(uint32_t originMs) {
  std::lock_guard lock(mutex_);
  tickOrigin_ = originMs;
}

void World::at(TimeUs when, std::function<void()> action) {
  std::lock_guard lock(mutex_);
  events_.push_back({std::max(when, now_), seq_++, std::move(action)});
}

void World::after(TimeUs delay, std::function<void()> action) {
  std::lock_guard lock(mutex_);
  events_.push_back({now_ + delay, seq_++, std::move(action)});
}

World::VThread* World::self() {
  if (!tlThread)
    fatal("a thread the world does not know called the seam");
  return tlThread;
}

int World::spawn(std::function<void()> body) {
  Lock lock(mutex_);
  auto t = std::make_unique<VThread>();
  VThread* raw = t.get();
  raw->id = nextThreadId_++;
  raw->blocked = true;
  raw->ready = [] { return true; };
  threads_[raw->id] = std::move(t);
  raw->thread = std::thread([this, raw, body = std::move(body)] {
    Lock inner(mutex_);
    cv_.wait(inner, [&] { return running_ == raw->id; });
    tlThread = raw;
    raw->ready = nullptr;
    inner.unlock();
    body();
    inner.lock();
    raw->finished = true;
    raw->blocked = true;
    raw->deadline.reset();
    handOff(inner, raw, true);
  });
  return raw->id;
}

void World::join(int id) {
  Lock lock(mutex_);
  auto it = threads_.find(id);
  if (it == threads_.end() || id == 0)
    fatal("join of an unknown thread");
  VThread* t = it->second.get();
  block(
      lock, [t] { return t->finished; }, std::nullopt);
  lock.unlock();
  if (t->thread.joinable())
    t->thread.join();
}

bool World::isReady(VThread* t) const {
  if (t->ready && t->ready())
    return true;
  return t->deadline && *t->deadline <= now_;
}

bool World::block(Lock& lock, std::function<bool()> ready, std::optional<TimeUs> deadline) {
  VThread* me = self();
  me->ready = std::move(ready);
  me->deadline = deadline;
  me->blocked = true;
  handOff(lock, me, false);
  const bool ok = me->ready && me->ready();
  me->ready = nullptr;
  me->deadline.reset();
  return ok;
}

void World::handOff(Lock& lock, VThread* me, bool exiting) {
  for (;;) {
    runDue();
    if (!exiting && isReady(me)) {
      me->blocked = false;
      return;
    }
    VThread* next = nullptr;
    for (auto& [id, t] : threads_) {
      if (t.get() != me && t->blocked && !t->finished && isReady(t.get())) {
        next = t.get();
        break;
      }
    }
    if (next) {
      next->blocked = false;
      running_ = next->id;
      cv_.notify_all();
      if (exiting)
        return;
      cv_.wait(lock, [&] { return running_ == me->id; });
      return;
    }
    if (!advanceClock())
      fatal("every thread waits for ever and nothing is scheduled");
  }
}

bool World::advanceClock() {
  std::optional<TimeUs> next;
  auto consider = [&next](TimeUs t) {
    if (!next || t < *next)
      next = t;
  };
  if (!events_.byDue.empty())
    consider(events_.byDue.begin()->first.first);
  for (const auto& [id, t] : threads_) {
    if (t->blocked && !t->finished && t->deadline)
      consider(*t->deadline);
  }
  for (const auto& [name, l] : lines_) {
    if (!l->peer)
      continue;
    if (auto w = l->peer->nextWake(); w && *w > now_)
      consider(*w);
  }
  if (!next)
    return false;
  now_ = std::max(now_, *next);
  runDue();
  return true;
}

void World::runDue() {
  for (;;) {
    pollPeers();
    auto due = events_.byDue.begin();
    if (due == events_.byDue.end() || due->first.first > now_)
      return;
    auto action = std::move(due->second);
    events_.byDue.erase(due);
    action();
  }
}

void World::pollPeers() {
  for (auto& [name, l] : lines_) {
    if (!l->peer)
      continue;
    l->peer->advance(now_);
    std::string out = l->peer->takeOutput();
    if (!out.empty())
      sendFromPeer(*l, out);
  }
}

// ---------------------------------------------------------------- serial line

PeerSettings World::hostSettings(const SerialLine& line) const {
  return {line.settings.baudRate, line.settings.byteSize, line.settings.parity,
          line.settings.stopBits};
}

void World::record(const SerialLine& line, Event kind, uint32_t value) {
  record(line, kind, value, hostSettings(line));
}

void World::record(const SerialLine& line, Event kind, uint32_t value, const PeerSettings& s) {
  transcript_.push_back({now_, line.name, kind, value, s});
}

void World::sendFromPeer(SerialLine& line, const std::string& bytes) {
  const PeerSettings ps = line.peer->lineSettings();
  const TimeUs first = std::max(now_, line.peerBusyUntil);
  const TimeUs byteUs = byteTimeUs(ps);
  for (size_t i = 0; i < bytes.size(); ++i) {
    transcript_.push_back(
        {first + i * byteUs, line.name, Event::PeerByte, static_cast<uint8_t>(bytes[i]), ps});
  }
  line.peerBusyUntil = first + bytes.size() * byteUs;
  // The host's UART samples the burst at the settings it has when it starts.
  SerialLine* l = &line;
  events_.push_back(
      {first, seq_++, [this, l, bytes, ps, first] {
         for (const Received& r : receiveBurst(bytes, ps, hostSettings(*l)))
           events_.push_back({first + r.at, seq_++, [this, l, r] { deliverToHost(*l, r); }});
       }});
}

void World::deliverToHost(SerialLine& line, const Received& r) {
  if (!line.open)
    return;
  // A host that asks for DSR takes nothing while the line is down.
  if (line.settings.dsrSensitivity && !(line.peer && line.peer->dsr(now_)))
    return;
  if (line.input.size() >= line.inQueue)
    return;  // overrun: the byte is lost
  line.framingErrors += r.framingError;
  line.parityErrors += r.parityError;
  line.input.push_back(static_cast<char>(r.byte));
  if (readsServedLateUs > 0) {
    SerialLine* l = &line;
    events_.push_back({now_ + readsServedLateUs, seq_++, [this, l] { serviceRead(*l); }});
  } else {
    serviceRead(line);
  }
  if (onHostReceived)
    onHostReceived(line.name, r.byte);
}

// Each byte is on the transcript once it has gone out whole; the peer's
// UART samples the burst at the settings it has when the burst starts.
void World::sendFromHost(SerialLine& line, Transfer& x) {
  const PeerSettings hs = hostSettings(line);
  auto burst = std::make_shared<TxBurst>();
  burst->bytes.assign(x.buffer, x.count);
  burst->first = std::max(now_, line.hostBusyUntil);
  burst->byteUs = byteTimeUs(hs);
  burst->cutoff = x.count;
  x.burst = burst;
  line.lastBurst = burst;
  line.hostBusyUntil = burst->first + x.count * burst->byteUs;
  SerialLine* l = &line;
  const uint64_t id = x.id;
  for (size_t i = 0; i < x.count; ++i) {
    const TimeUs start = burst->first + i * burst->byteUs;
    events_.push_back({start + burst->byteUs, seq_++, [this, l, burst, hs, id, i, start] {
                         if (i >= burst->cutoff)
                           return;
                         transcript_.push_back({start, l->name, Event::HostByte,
                                                static_cast<uint8_t>(burst->bytes[i]), hs});
                         auto it = transfers_.find(id);
                         if (it == transfers_.end() || it->second->finished)
                           return;
                         it->second->done++;
                         if (i + 1 == burst->bytes.size())
                           complete(*it->second, true, 0);
                       }});
  }
  events_.push_back({burst->first, seq_++, [this, l, burst, hs] {
                       if (!l->peer)
                         return;
                       for (const Received& r :
                            receiveBurst(burst->bytes, hs, l->peer->lineSettings())) {
                         // The module's UART hands its firmware no byte that
                         // failed its framing or parity.
                         if (r.framingError || r.parityError)
                           continue;
                         events_.push_back({burst->first + r.at, seq_++, [this, l, burst, r] {
                                              if (r.senderIndex < burst->cutoff && l->peer)
                                                l->peer->receive(now_, r.byte);
                                            }});
                       }
                     }});
}

void World::serviceRead(SerialLine& line) {
  if (!line.pendingRead)
    return;
  Transfer& t = *transfers_.at(line.pendingRead);
  const uint32_t take = std::min<uint32_t>(t.count - t.done, line.input.size());
  std::memcpy(t.buffer + t.done, line.input.data(), take);
  for (uint32_t i = 0; i < take; ++i)
    record(line, Event::HostRead, static_cast<uint8_t>(line.input[i]));
  line.input.erase(0, take);
  t.done += take;
  if (t.done == t.count)
    complete(t, true, 0);
}

void World::complete(Transfer& t, bool ok, uint32_t error) {
  t.finished = true;
  t.ok = ok;
  t.error = error;
  if (t.signals && t.event && objects_.count(t.event))
    t.event->signalled = true;
  if (t.line->pendingRead == t.id)
    t.line->pendingRead = 0;
  if (t.line->pendingWrite == t.id)
    t.line->pendingWrite = 0;
}

void World::stopHostTx(SerialLine& line, bool keepFifo) {
  TxBurst* b = line.lastBurst.get();
  if (!b)
    return;
  size_t started = 0;
  if (now_ >= b->first)
    started = std::min<size_t>(b->bytes.size(), (now_ - b->first) / b->byteUs + 1);
  const size_t keep = keepFifo && now_ >= b->first ? started + kTxFifoBytes : started;
  b->cutoff = std::min(b->cutoff, keep);
  line.hostBusyUntil = std::max(now_, b->first + b->cutoff * b->byteUs);
}

void World::abortTransfer(uint64_t id, uint32_t error, bool keepFifo) {
  if (!id)
    return;
  Transfer& t = *transfers_.at(id);
  if (t.write) {
    stopHostTx(*t.line, keepFifo);
    t.done = static_cast<uint32_t>(std::min<size_t>(t.burst->cutoff, t.count));
  }
  complete(t, false, error);
}

SerialLine& World::addSerialPort(const std::string& name, LinePeer* peer) {
  std::lock_guard lock(mutex_);
  auto& l = lines_[name];
  if (!l)
    l = std::make_unique<SerialLine>();
  l->name = name;
  l->peer = peer;
  return *l;
}

void World::removeSerialPort(const std::string& name) {
  std::lock_guard lock(mutex_);
  auto it = lines_.find(name);
  if (it == lines_.end())
    return;
  SerialLine& l = *it->second;
  abortTransfer(l.pendingRead, kErrorBadCommand, false);
  abortTransfer(l.pendingWrite, kErrorBadCommand, false);
  stopHostTx(l, false);
  l.peer = nullptr;
  l.present = false;
  l.breakOn = false;  // there is no line left to hold in break
  l.name = "(removed " + name + ")";
  // The record stays for open handles and the transcript; the name is free.
  lines_[l.name] = std::move(it->second);
  lines_.erase(name);
}

SerialLine* World::line(const std::string& name) {
  std::lock_guard lock(mutex_);
  auto it = lines_.find(name);
  return it == lines_.end() ? nullptr : it->second.get();
}

// ---------------------------------------------------------------- faults

void World::failCall(Call call, int succeedFirst) {
  std::lock_guard lock(mutex_);
  faults_[call].push_back(succeedFirst);
}

bool World::shouldFail(Call call) {
  auto it = faults_.find(call);
  if (it == faults_.end() || it->second.empty())
    return false;
  int& left = it->second.front();
  if (left > 0) {
    --left;
    return false;
  }
  it->second.erase(it->second.begin());
  return true;
}

// ---------------------------------------------------------------- transcript

std::string World::hostBytes(const std::string& port) const {
  std::lock_guard lock(mutex_);
  std::string s;
  for (const auto& e : transcript_) {
    if (e.port == port && e.kind == Event::HostByte)
      s.push_back(static_cast<char>(e.value));
  }
  return s;
}

std::string World::peerBytes(const std::string& port) const {
  std::lock_guard lock(mutex_);
  std::string s;
  for (const auto& e : transcript_) {
    if (e.port == port && e.kind == Event::PeerByte)
      s.push_back(static_cast<char>(e.value));
  }
  return s;
}

std::vector<Entry> World::entries(const std::string& port, Event kind) const {
  std::lock_guard lock(mutex_);
  std::vector<Entry> out;
  for (const auto& e : transcript_) {
    if (e.port == port && e.kind == kind)
      out.push_back(e);
  }
  return out;
}

int World::openHandles() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(objects_.size());
}

std::vector<std::string> World::leftovers() const {
  std::lock_guard lock(mutex_);
  std::map<int, int> byKind;
  for (const Object* o : objects_)
    byKind[o->kind]++;
  const char* names[] = {"event", "mutex", "serial port", "timer"};
  std::vector<std::string> out;
  for (const auto& [kind, count] : byKind)
    out.push_back(std::to_string(count) + " " + names[kind] + " handle(s) open");
  if (!transfers_.empty())
    out.push_back(std::to_string(transfers_.size()) + " transfer(s) never fetched");
  for (const auto& [name, l] : lines_) {
    if (l->breakOn)
      out.push_back("break still on at " + name);
  }
  return out;
}

}  // namespace vw
