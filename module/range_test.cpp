#include "module/range_test.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "link/errors.h"
#include "link/hex.h"
#include "link/line_log.h"
#include "link/port_activity.h"
#include "link/transfer.h"
#include "module/read.h"

namespace {

constexpr uint32_t kSequenceDigits = 6;
constexpr uint32_t kSizeDigits = 2;
constexpr uint32_t kCrcDigits = 4;
constexpr uint32_t kSequenceMask = 0xFFFFFF;
constexpr uint32_t kCrcAt = kCrcDigits + 1;  // from the packet's end
constexpr char kCr = '\r';

uint16_t crc16(const char* bytes, uint32_t count) {
  uint16_t crc = 0xFFFF;
  for (uint32_t i = 0; i < count; ++i) {
    crc ^= static_cast<uint16_t>(static_cast<uint8_t>(bytes[i]) << 8);
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                           : static_cast<uint16_t>(crc << 1);
  }
  return crc;
}

// Exactly `digits` of them: the value is masked to fit.
void putHex(char* out, uint32_t value, uint32_t digits) {
  formatHex(value & ((uint64_t{1} << (4 * digits)) - 1), static_cast<int>(digits), out);
}

// Only what putHex makes: anything else is damage.
bool readHex(const char* in, uint32_t digits, uint32_t* value) {
  uint32_t v = 0;
  for (uint32_t i = 0; i < digits; ++i) {
    const char c = in[i];
    uint32_t d = 0;
    if (c >= '0' && c <= '9')
      d = static_cast<uint32_t>(c - '0');
    else if (c >= 'A' && c <= 'F')
      d = static_cast<uint32_t>(c - 'A' + 10);
    else
      return false;
    v = v << 4 | d;
  }
  *value = v;
  return true;
}

uint32_t bitsPerByte(const os::LineSettings& s) {
  const uint32_t data = s.byteSize ? s.byteSize : 8;
  const uint32_t stop = s.stopBits == os::kOneStopBit ? 1 : 2;  // 1.5 rounds up
  return 1 + data + (s.parity != os::kNoParity ? 1 : 0) + stop;
}

uint32_t lineMs(uint32_t bytes, const os::LineSettings& s) {
  const uint64_t baud = s.baudRate ? s.baudRate : 9600;
  return static_cast<uint32_t>((uint64_t{bytes} * bitsPerByte(s) * 1000 + baud - 1) / baud);
}

// Ports keep what the driver had; a driver that will not say is taken at
// the modules' default.
os::LineSettings settingsOf(SerialPort* port) {
  os::LineSettings s{};
  if (!os::getLineSettings(port->handle, s) || s.baudRate == 0)
    s = os::LineSettings{.baudRate = 9600, .byteSize = 8};
  return s;
}

int32_t endedWait(SerialPort* port, os::Transfer& transfer, int index, uint32_t* moved) {
  if (index != 0)
    os::cancelTransfers(port->handle);
  *moved = 0;
  const bool finished = os::finishTransfer(port->handle, transfer, *moved);
  if (index == 1)
    return ErrCancelled;
  if (index == 0)
    return finished ? 0 : ErrRead;
  return index == os::kWaitTimeout ? ErrTimeout : ErrRead;
}

// Sent without the line log's byte lines: the packet's fate is its line.
int32_t sendPacket(SerialPort* port, const char* bytes, uint32_t size, uint32_t limitMs) {
  if (!waitWriteReady(port))
    return cancelRequested(port) ? ErrCancelled : ErrTimeout;
  os::resetEvent(port->writeWait[0]);
  os::Transfer transfer{};
  if (!os::startWrite(port->handle, bytes, size, transfer, port->writeWait[0])) {
    logEvent(port, "write failed");
    return ErrWrite;
  }
  const int index = os::waitAny(port->writeWait, port->waitCount, limitMs);
  uint32_t moved = 0;
  const int32_t ended = endedWait(port, transfer, index, &moved);
  noteBytesSent(port->portNumber);
  if (ended == ErrCancelled)
    return ended;
  if (ended != 0 || moved != size) {
    logEvent(port, "write not done in time");
    return ended == ErrRead || ended == 0 ? ErrWrite : ended;
  }
  return 0;
}

struct Wait {
  int32_t code = 0;  // 0, ErrCancelled or ErrRead
  PacketFate fate = PacketFate::Lost;
  bool settled = false;  // the awaited packet's fate is known
  uint32_t duplicated = 0;
  uint32_t echoed = 0;
};

// A packet whose wait ended with nothing: it may still come.
struct Pending {
  uint32_t sequence = 0;
  uint32_t sentAt = 0;
  uint32_t echoed = 0;  // seen while it was awaited, for its line in the log
};

struct Leg {
  SerialPort* sender = nullptr;
  SerialPort* receiver = nullptr;
  uint32_t limitMs = 0;
  RangeReceiver lines;
  const char* name = "";
  std::vector<Pending> pending;
};

struct Runner {
  Session* master = nullptr;
  Session* slave = nullptr;  // null for the loopback
  RangeRun run;
  RangeResult* result = nullptr;
  RangePacketSink sink = nullptr;
  void* context = nullptr;
  Leg legs[2];
  std::vector<uint32_t> roundTrips;
  uint32_t drainMs = 0;           // how long a packet past its wait may still come
  uint32_t slowestArrivalMs = 0;  // of the packets received so far
};

// The drain window grows with the slowest packet yet received: a radio, or
// a machine, that slow may bring the next one as late, and twice over.
constexpr uint32_t kLongestDrainMs = 10000;
uint32_t drainWindowMs(const Runner& r) {
  return std::max(r.drainMs, std::min(2 * r.slowestArrivalMs, kLongestDrainMs));
}

// A run that ended with a packet on its way (stopped, cancelled, a port
// gone) may still have it coming, through a far module's plug even twice
// over the air: the next run on those ports lets it arrive before it purges
// its lines, or it would be taken for that run's first packet, corrupted,
// and the first packet for late.
void notePacketsInFlight(const Runner& r) {
  uint32_t longest = 0;
  for (uint32_t i = 0; i < r.result->directionCount; ++i)
    longest = longest > r.legs[i].limitMs ? longest : r.legs[i].limitMs;
  for (uint32_t i = 0; i < r.result->directionCount; ++i) {
    noteArrivalsDue(r.legs[i].sender->portNumber, 2 * longest);
    noteArrivalsDue(r.legs[i].receiver->portNumber, 2 * longest);
  }
}

// False when a cancel came first: the wait ends on it at once.
bool letLastPacketsArrive(const Runner& r) {
  uint32_t left = 0;
  for (uint32_t i = 0; i < r.result->directionCount; ++i) {
    for (const SerialPort* port : {r.legs[i].sender, r.legs[i].receiver})
      left = std::max(left, arrivalsDueMs(port->portNumber));
  }
  if (left == 0)
    return true;
  os::Handle events[2];
  uint32_t count = 0;
  for (const Session* s : {r.master, r.slave}) {
    if (s && s->cancelEvent)
      events[count++] = s->cancelEvent;
  }
  if (count == 0)
    os::sleepMs(left);
  else if (os::waitAny(events, count, left) != os::kWaitTimeout)
    return false;
  return true;
}

bool cancelled(const Runner& r) {
  return isCancelled(*r.master) || (r.slave && isCancelled(*r.slave));
}

// A module in power save sleeps with its radio: the first packet to it
// would wait for its next poll and pass for lost. A short break wakes it
// and counts as traffic, which keeps it awake until the packets do; a
// module still waking holds CTS down, and the CTS wait holds the break on.
constexpr uint32_t kWakeBreakMs = 5;

void wakeModules(const Runner& r) {
  for (uint32_t i = 0; i < r.result->directionCount && !cancelled(r); ++i) {
    SerialPort* port = r.legs[i].receiver;
    if (os::setBreak(port->handle)) {
      logEvent(port, "break on (waking the module)");
      os::sleepMs(kWakeBreakMs);
      os::clearBreak(port->handle);
      logEvent(port, "break off");
    }
    waitForCts(port, port->ctsWaitMs);
  }
}

void noteRoundTrip(Runner& r, uint32_t ms) {
  RangeResult& res = *r.result;
  r.roundTrips.push_back(ms);
  res.roundTripMinMs = res.hasRoundTrip ? std::min(res.roundTripMinMs, ms) : ms;
  res.roundTripMaxMs = res.hasRoundTrip ? std::max(res.roundTripMaxMs, ms) : ms;
  res.hasRoundTrip = true;
  std::vector<uint32_t> sorted = r.roundTrips;
  std::sort(sorted.begin(), sorted.end());
  const size_t n = sorted.size();
  res.roundTripMedianMs =
      n % 2 ? sorted[n / 2] : (static_cast<double>(sorted[n / 2 - 1]) + sorted[n / 2]) / 2;
}

void logFate(const Leg& leg, const RangePacket& p) {
  if (!lineLogActive(leg.receiver))
    return;
  static const char* const kFates[] = {"received", "lost", "corrupted"};
  char text[128];
  int n = std::snprintf(text, sizeof text, "range packet %u from %s %s in %u ms", p.sequence,
                        leg.name, kFates[static_cast<int>(p.fate)], p.elapsedMs);
  if (p.late && n > 0 && n < static_cast<int>(sizeof text))
    n += std::snprintf(text + n, sizeof text - static_cast<size_t>(n), ", late");
  if (p.duplicated && n > 0 && n < static_cast<int>(sizeof text))
    n += std::snprintf(text + n, sizeof text - static_cast<size_t>(n), ", %u duplicate",
                       p.duplicated);
  if (p.echoed && n > 0 && n < static_cast<int>(sizeof text))
    std::snprintf(text + n, sizeof text - static_cast<size_t>(n), ", %u echoed", p.echoed);
  logNote(leg.receiver->lineLog, leg.receiver->portNumber, text);
}

// A device that has gone can no longer say what its modem lines do; a line
// that has none says so.
bool portPresent(SerialPort* port) {
  uint32_t status = 0;
  return os::getModemStatus(port->handle, status) || os::lastError() == os::kErrorNotSupported;
}

// The port whose failure stops the run, named in the result and the log.
int32_t portFailed(Runner& r, SerialPort* port, int32_t code) {
  if (code == ErrCancelled || code == ResultCancelled)
    return code;
  r.result->failedPort = port->portNumber;
  logEvent(port, portPresent(port) ? "port failed: the range test stops"
                                   : "port gone: the range test stops");
  return code;
}

// One packet's fate: counted, logged and told.
void countFate(Runner& r, uint32_t index, RangePacket& p) {
  p.direction = index;
  RangeDirection& d = r.result->directions[index];
  ++d.sent;
  d.duplicated += p.duplicated;
  if (p.fate == PacketFate::Received) {
    ++d.received;
    r.slowestArrivalMs = std::max(r.slowestArrivalMs, p.elapsedMs);
  } else {
    ++d.lost;
  }
  if (p.fate == PacketFate::Corrupted)
    ++d.corrupted;
  if (p.late) {
    ++d.late;
    d.lateMaxMs = std::max(d.lateMaxMs, p.elapsedMs);
  }
  if (p.fate == PacketFate::Received && r.run.way == RangeWay::FarLoopback)
    noteRoundTrip(r, p.elapsedMs);
  logFate(r.legs[index], p);
  if (r.sink)
    r.sink(r.context, p, *r.result);
}

// A packet whose wait had ended came whole after all: received, and late.
void takeLate(Runner& r, uint32_t index, uint32_t sequence) {
  std::vector<Pending>& pending = r.legs[index].pending;
  const auto it = std::find_if(pending.begin(), pending.end(),
                               [sequence](const Pending& p) { return p.sequence == sequence; });
  if (it == pending.end())
    return;  // given up for lost already
  RangePacket p;
  p.sequence = sequence;
  p.fate = PacketFate::Received;
  p.elapsedMs = os::tickCount() - it->sentAt;
  p.late = true;
  pending.erase(it);
  countFate(r, index, p);
}

// Packets waited for beyond the drain window (all of them when `all`) are lost.
void giveUpOverdue(Runner& r, uint32_t index, bool all) {
  std::vector<Pending>& pending = r.legs[index].pending;
  const uint32_t now = os::tickCount();
  while (!pending.empty() && (all || now - pending.front().sentAt >= drainWindowMs(r))) {
    RangePacket p;
    p.sequence = pending.front().sequence;
    p.elapsedMs = now - pending.front().sentAt;
    p.echoed = pending.front().echoed;
    pending.erase(pending.begin());
    countFate(r, index, p);
  }
}

// What a line means for the awaited packet; an earlier packet's first line
// is that packet come late. While draining nothing new is awaited: the last
// packet's own line is late too.
void takeLine(Runner& r, uint32_t index, RangeReceiver::Line line, bool draining, Wait& wait) {
  const uint32_t sequence = r.legs[index].lines.lineSequence();
  switch (line) {
    case RangeReceiver::Line::Expected:
      if (draining) {
        takeLate(r, index, sequence);
      } else {
        wait.fate = PacketFate::Received;
        wait.settled = true;
      }
      return;
    case RangeReceiver::Line::Damaged:
      if (!draining) {
        wait.fate = PacketFate::Corrupted;
        wait.settled = true;
      }
      return;
    case RangeReceiver::Line::Late:
      takeLate(r, index, sequence);
      return;
    case RangeReceiver::Line::Duplicate:
      ++wait.duplicated;
      return;
    case RangeReceiver::Line::Echo:
      ++wait.echoed;
      return;
    case RangeReceiver::Line::Stray:
    case RangeReceiver::Line::None:
      return;
  }
}

// A thread that ran late finds bytes that came in time waiting for it: past
// the deadline, what the port already holds is still read, up to a few
// packets' worth.
constexpr uint32_t kBytesPastDeadline = 3 * kRangeMaxSize;

// Byte by byte until the awaited packet's fate (or, draining, until nothing
// is pending), or the deadline.
Wait readLines(Runner& r, uint32_t index, uint32_t deadline, bool draining) {
  Wait wait;
  SerialPort* port = r.legs[index].receiver;
  uint32_t pastDeadline = 0;
  for (;;) {
    if (draining && r.legs[index].pending.empty())
      return wait;
    const int32_t left = static_cast<int32_t>(deadline - os::tickCount());
    if (left <= 0 && ++pastDeadline > kBytesPastDeadline)
      return wait;
    char byte = 0;
    os::resetEvent(port->readWait[0]);
    os::Transfer transfer{};
    if (!os::startRead(port->handle, &byte, 1, transfer, port->readWait[0])) {
      wait.code = ErrRead;
      return wait;
    }
    const uint32_t waitMs = left > 0 ? static_cast<uint32_t>(left) : 0;
    uint32_t moved = 0;
    const int32_t ended =
        endedWait(port, transfer, os::waitAny(port->readWait, port->waitCount, waitMs), &moved);
    if (moved == 1) {
      takeLine(r, index, r.legs[index].lines.take(byte), draining, wait);
      if (wait.settled)
        return wait;
    }
    if (ended == ErrCancelled || ended == ErrRead) {
      wait.code = ended;
      return wait;
    }
    if (ended == ErrTimeout && left <= 0)
      return wait;
  }
}

// 0 when the packet went and its fate is known or pending, else what
// stopped it (uncounted).
int32_t sendOne(Runner& r, uint32_t index, uint32_t sequence) {
  Leg& leg = r.legs[index];
  giveUpOverdue(r, index, false);
  char packet[kRangeMaxSize];
  makeRangePacket(sequence, r.run.size, packet,
                  index == 1 ? RangeOrigin::Slave : RangeOrigin::Master);
  leg.lines.expect(sequence, r.run.size);
  const uint32_t start = os::tickCount();
  if (const int32_t sent = sendPacket(leg.sender, packet, r.run.size, leg.limitMs))
    return portFailed(r, leg.sender, sent);
  const Wait wait = readLines(r, index, start + leg.limitMs, false);
  if (wait.code)
    return portFailed(r, leg.receiver, wait.code);
  // Not here, or gone with a port that went away: only the first is the radio's.
  for (SerialPort* port : {leg.sender, leg.receiver}) {
    if (!wait.settled && !portPresent(port))
      return portFailed(r, port, ErrRead);
  }
  // An echo is of the packets this port sent: the other direction's.
  r.result->directions[r.result->directionCount == 2 ? 1 - index : index].echoed += wait.echoed;
  if (!wait.settled) {
    leg.pending.push_back({sequence, start, wait.echoed});
    return 0;
  }
  RangePacket p;
  p.sequence = sequence;
  p.fate = wait.fate;
  p.elapsedMs = os::tickCount() - start;
  p.duplicated = wait.duplicated;
  p.echoed = wait.echoed;
  countFate(r, index, p);
  return 0;
}

// The packets still on their way get the drain window from the last send;
// what has not come by then is lost.
int32_t drainPending(Runner& r) {
  const uint32_t deadline = os::tickCount() + drainWindowMs(r);
  for (uint32_t i = 0; i < r.result->directionCount; ++i) {
    const Wait wait = readLines(r, i, deadline, true);
    if (wait.code)
      return portFailed(r, r.legs[i].receiver, wait.code);
    giveUpOverdue(r, i, true);
  }
  return 0;
}

int32_t sendAll(Runner& r) {
  const uint32_t legCount = r.result->directionCount;
  for (uint32_t seq = 0; r.run.count == kRangeUntilStopped || seq < r.run.count; ++seq) {
    for (uint32_t i = 0; i < legCount; ++i) {
      if (cancelled(r))
        return ResultCancelled;
      if (const int32_t stopped = sendOne(r, i, seq))
        return stopped == ErrCancelled || cancelled(r) ? ResultCancelled : stopped;
    }
  }
  const int32_t drained = drainPending(r);
  return drained == ErrCancelled || cancelled(r) ? ResultCancelled : drained;
}

int32_t openFailure(int32_t opened, Runner& r, const Session& s) {
  if (opened == ResultCancelled || cancelled(r))
    return ResultCancelled;
  // A port that would not open names itself.
  r.result->failedPort = s.portNumber;
  return opened;
}

void setUpLegs(Runner& r) {
  SerialPort* master = r.master->port;
  const os::LineSettings m = settingsOf(master);
  RangeResult& res = *r.result;
  if (r.run.way == RangeWay::FarLoopback) {
    r.legs[0].sender = r.legs[0].receiver = master;
    r.legs[0].limitMs = rangeRoundTripLimitMs(r.run.size, m);
    r.legs[0].name = "master and back";
    res.directionCount = 1;
  } else {
    SerialPort* slave = r.slave->port;
    const os::LineSettings s = settingsOf(slave);
    r.legs[0] = {master,          slave,    rangePacketLimitMs(r.run.size, m, s),
                 RangeReceiver(), "master", {}};
    r.legs[1] = {
        slave,   master, rangePacketLimitMs(r.run.size, s, m), RangeReceiver(RangeOrigin::Slave),
        "slave", {}};
    res.directionCount = 2;
  }
  // At least the longest wait twice over, and never less than a second.
  r.drainMs = std::max<uint32_t>(1000, 2 * std::max(r.legs[0].limitMs, r.legs[1].limitMs));
  for (uint32_t i = 0; i < res.directionCount; ++i) {
    res.directions[i].fromPort = r.legs[i].sender->portNumber;
    res.directions[i].toPort = r.legs[i].receiver->portNumber;
  }
}

}  // namespace

uint32_t rangePacketLimitMs(uint32_t size, const os::LineSettings& from,
                            const os::LineSettings& to) {
  return lineMs(size, from) + lineMs(size, to) + kRangeTurnaroundMs;
}

uint32_t rangeRoundTripLimitMs(uint32_t size, const os::LineSettings& line) {
  return 3 * lineMs(size, line) + 2 * kRangeTurnaroundMs;
}

bool rangeFarModuleEchoes(const RangeResult& r) {
  return r.way == RangeWay::BothHere &&
         (r.directions[0].echoed > 0 || (r.directionCount == 2 && r.directions[1].echoed > 0));
}

void makeRangePacket(uint32_t sequence, uint32_t size, char* out, RangeOrigin origin) {
  putHex(out, sequence & kSequenceMask, kSequenceDigits);
  putHex(out + kSequenceDigits, size, kSizeDigits);
  const uint32_t shift = origin == RangeOrigin::Slave ? 13 : 0;  // another letter everywhere
  for (uint32_t i = kSequenceDigits + kSizeDigits; i < size - kCrcAt; ++i)
    out[i] = static_cast<char>('a' + (sequence + i + shift) % 26);
  putHex(out + size - kCrcAt, crc16(out, size - kCrcAt), kCrcDigits);
  out[size - 1] = kCr;
}

void RangeReceiver::expect(uint32_t sequence, uint32_t size) {
  expected_ = sequence;
  size_ = size;
  if (seen_.size() <= sequence)
    seen_.resize(sequence + 1, false);
}

RangeReceiver::Line RangeReceiver::take(char byte) {
  if (byte != kCr) {
    if (length_ + 1 < kRangeMaxSize)  // the CR is the packet's last byte
      line_[length_++] = byte;
    else
      overflow_ = true;
    return Line::None;
  }
  const Line line = classify();
  length_ = 0;
  overflow_ = false;
  return line;
}

RangeReceiver::Line RangeReceiver::classify() {
  const uint32_t size = length_ + 1;
  uint32_t sequence = 0, declared = 0, crc = 0;
  if (overflow_ || size < kRangeMinSize || size > kRangeMaxSize ||
      !readHex(line_, kSequenceDigits, &sequence) ||
      !readHex(line_ + kSequenceDigits, kSizeDigits, &declared) || declared != size ||
      !readHex(line_ + size - kCrcAt, kCrcDigits, &crc) || crc != crc16(line_, size - kCrcAt))
    return Line::Damaged;
  // The whole line, not only its checksum: a damaged packet whose damage
  // the checksum misses must still not count.
  const uint32_t behind = (expected_ - sequence) & kSequenceMask;
  const bool ours = behind <= expected_;  // else another run's, or from before this one's first
  char want[kRangeMaxSize];
  const uint32_t named = ours ? expected_ - behind : sequence;
  makeRangePacket(named, size, want, awaited_);
  if (std::memcmp(line_, want, length_) != 0) {
    const RangeOrigin own =
        awaited_ == RangeOrigin::Master ? RangeOrigin::Slave : RangeOrigin::Master;
    makeRangePacket(named, size, want, own);
    return std::memcmp(line_, want, length_) == 0 ? Line::Echo : Line::Damaged;
  }
  if (!ours || (behind == 0 && declared != size_))
    return Line::Stray;
  const uint32_t full = expected_ - behind;
  if (seen_[full])
    return Line::Duplicate;
  seen_[full] = true;
  sequence_ = full;
  return behind == 0 ? Line::Expected : Line::Late;
}

int32_t runRangeTest(const RangeRun& run, Session& master, Session* slave, RangeResult* result,
                     RangePacketSink sink, void* context) {
  if (!result)
    return ErrArgument;
  *result = RangeResult{};
  result->way = run.way;
  if (run.size < kRangeMinSize || run.size > kRangeMaxSize ||
      (run.way == RangeWay::BothHere && !slave))
    return result->code = ErrArgument;
  if (run.way == RangeWay::FarLoopback)
    slave = nullptr;
  // Until Stop needs a Stop: a cancel event on every session it uses.
  const bool stoppable = master.cancelEvent && (!slave || slave->cancelEvent);
  if (run.count == kRangeUntilStopped && !stoppable)
    return result->code = ErrArgument;
  Runner r;
  r.master = &master;
  r.slave = slave;
  r.run = run;
  r.result = result;
  r.sink = sink;
  r.context = context;
  const uint32_t start = os::tickCount();
  if (const int32_t opened = openSessionPort(master))
    return result->code = openFailure(opened, r, master);
  if (slave) {
    if (const int32_t opened = openSessionPort(*slave)) {
      closeSessionPort(master);
      return result->code = openFailure(opened, r, *slave);
    }
  }
  setUpLegs(r);
  if (letLastPacketsArrive(r)) {
    purgePort(master.port);
    if (slave)
      purgePort(slave->port);
    wakeModules(r);
    result->code = sendAll(r);
    if (result->code != 0) {
      // Stopped at once: no drain, and what had outlived its wait is lost.
      for (uint32_t i = 0; i < result->directionCount; ++i)
        giveUpOverdue(r, i, true);
      notePacketsInFlight(r);
    }
  } else {
    result->code = ResultCancelled;
  }
  if (slave)
    closeSessionPort(*slave);
  closeSessionPort(master);
  result->durationMs = os::tickCount() - start;
  // The session whose port failed notes it; a cancel is neither's.
  const bool slaveFailed = slave && result->failedPort == slave->portNumber;
  noteOutcome(slaveFailed ? *slave : master, "Range Test",
              result->code == ResultCancelled ? 0 : result->code);
  return result->code;
}
