// The range test: how good a radio link is, not only whether it works.
//
// Numbered packets go through the modules in transparent mode, one at a
// time, and each one's fate is told: received, lost, or corrupted (a damaged
// line came instead). A packet that arrives whole after its wait ended, yet
// before the run's end and a drain window, is received and counted late as
// well: a PC slow to look loses no packet. Duplicates are counted apart.
//
// A packet is `size` bytes of printable ASCII, ended by CR:
//   SSSSSS  sequence number, 6 upper-case hex digits (modulo 2^24)
//   LL      the packet's size, 2 hex digits
//   ...     filler letters
//   CCCC    CRC-16/CCITT of everything before it, 4 hex digits
//   CR
// The filler tells the master's port's packets from the slave's: a line of
// a port's own packets that comes back to it is an echo (a far module with
// a loopback plug), which no direction counts as received.
// A line counts as a packet only when it is byte for byte the packet its
// sequence number names.
//
// Ways:
//   BothHere     master's port sends to the slave's, then the slave's to the
//                master's, in turns: `count` packets each way.
//   FarLoopback  only the master's port: the far module's data-out is
//                joined to its data-in, so each packet comes back; the round
//                trip is timed.
//
// Each packet is waited for no longer than its bytes take at the sender's
// and the receiver's line rates plus kRangeTurnaroundMs; a round trip, its
// bytes three times at the master's rate (the plug's wire is crossed once,
// the far line taken to run at the master's rate) plus two turnarounds.
//
// Ports: as the link test, the sessions' ports are opened with openSessionPort and
// closed again; no AT command, line setting or time-out is set on them, and
// the modules stay in transparent mode. Before the first packet each
// receiving port holds a break for a few ms and waits for CTS, so that a
// module in power save is awake for it. It runs on the calling thread (a
// window runs it on a worker). Cancel: set the sessions' cancel events (both,
// or give both the same one): every wait on a session's port ends at
// once; the run returns ResultCancelled with what was measured, the packet
// in flight not counted.
#pragma once

#include <cstdint>
#include <vector>

#include "link/port_table.h"
#include "module/session.h"

enum class RangeWay : uint8_t { BothHere, FarLoopback };

constexpr uint32_t kRangeDefaultCount = 100;
constexpr uint32_t kRangeUntilStopped = 0;  // a count of 0 runs until Cancel
constexpr uint32_t kRangeDefaultSize = 32;
constexpr uint32_t kRangeMinSize = 16;
// What the module sends over the radio as one frame: a bigger packet would be
// split, and each part could be lost on its own.
constexpr uint32_t kRangeMaxSize = 100;
// The radio's part of a packet's wait: the module's packetising pause, air
// time, acknowledgement and retries, and a coarse system tick.
constexpr uint32_t kRangeTurnaroundMs = 100;

struct RangeRun {
  RangeWay way = RangeWay::BothHere;
  uint32_t count = kRangeDefaultCount;  // per direction; kRangeUntilStopped
  uint32_t size = kRangeDefaultSize;    // kRangeMinSize..kRangeMaxSize
};

// sent = received + lost once a packet's fate is known. corrupted counts
// the lost packets for which a damaged line arrived; late the received ones
// that came after their wait, the longest of them lateMaxMs from its send;
// duplicated counts extra lines, in neither received nor lost.
struct RangeDirection {
  uint32_t fromPort = 0;  // port numbers; the loopback's are the same
  uint32_t toPort = 0;
  uint32_t sent = 0;
  uint32_t received = 0;
  uint32_t lost = 0;
  uint32_t corrupted = 0;
  uint32_t late = 0;
  uint32_t duplicated = 0;
  uint32_t echoed = 0;  // lines of its packets that came back to its sender's port
  uint32_t lateMaxMs = 0;
};

enum class PacketFate : uint8_t { Received, Lost, Corrupted };

// What the per-packet callback is told.
struct RangePacket {
  uint32_t direction = 0;  // index into RangeResult::directions
  uint32_t sequence = 0;   // from 0 in each direction
  PacketFate fate = PacketFate::Lost;
  uint32_t elapsedMs = 0;  // from the send to the line's end, or to giving up
  bool late = false;       // it came after its wait
  uint32_t duplicated = 0;
  uint32_t echoed = 0;  // lines of the receiving port's own packets
};

struct RangeResult {
  // 0 when every packet was sent; ResultCancelled; otherwise the error
  // that stopped it (a port that would not open, a write that failed).
  int32_t code = 0;
  RangeWay way = RangeWay::BothHere;
  uint32_t directionCount = 0;
  RangeDirection directions[2];
  // Loopback only, over the packets received.
  bool hasRoundTrip = false;
  uint32_t roundTripMinMs = 0;
  double roundTripMedianMs = 0;
  uint32_t roundTripMaxMs = 0;
  uint32_t durationMs = 0;
  uint32_t failedPort = 0;  // with an error code: the port that failed or went away
};

// Called on the running thread after each packet's fate, with the counts so
// far; it must return soon (a window posts, a log appends).
using RangePacketSink = void (*)(void* context, const RangePacket& packet,
                                 const RangeResult& sofar);

// The whole test over the master's (and for BothHere the slave's) port.
// Arguments out of range, BothHere without a slave, or until-stopped
// without a cancel event on each session used, give ErrArgument before any
// port opens.
int32_t runRangeTest(const RangeRun& run, Session& master, Session* slave, RangeResult* result,
                     RangePacketSink sink = nullptr, void* context = nullptr);

// ms a packet of `size` bytes may take from its send to its CR, for lines of
// the given settings.
uint32_t rangePacketLimitMs(uint32_t size, const os::LineSettings& from,
                            const os::LineSettings& to);

uint32_t rangeRoundTripLimitMs(uint32_t size, const os::LineSettings& line);

// Both modules here: some of a port's own packets came back to it.
bool rangeFarModuleEchoes(const RangeResult& result);
// What the faces say of a direction whose packets came back.
inline constexpr char kRangeEchoNote[] = "the far module echoes (a loopback plug left on it?)";

// ---- the receiving side, apart from any port ------------------------------------

// Which port sends a packet; its filler says so.
enum class RangeOrigin : uint8_t { Master, Slave };

void makeRangePacket(uint32_t sequence, uint32_t size, char* out,
                     RangeOrigin origin = RangeOrigin::Master);

// One direction's receiver: lines in, fates out. Lines longer than the
// largest packet are cut and count as damaged.
class RangeReceiver {
 public:
  // Late: an earlier packet's first line. Stray: a whole packet of no
  // packet this run sent (another size, another run).
  enum class Line : uint8_t { None, Expected, Late, Duplicate, Damaged, Echo, Stray };

  // Whose packets it awaits; the other end's are echoes of its own port's.
  explicit RangeReceiver(RangeOrigin awaited = RangeOrigin::Master) : awaited_(awaited) {}
  // The packet now awaited; the ones before it have their fates.
  void expect(uint32_t sequence, uint32_t size);
  // One byte from the line; a CR ends a line and says what it was. A line
  // begun in one wait and ended in the next is one line (a late packet).
  Line take(char byte);
  // The packet an Expected or Late line was.
  uint32_t lineSequence() const { return sequence_; }

 private:
  Line classify();

  char line_[kRangeMaxSize + 1] = {};
  uint32_t length_ = 0;
  bool overflow_ = false;
  uint32_t expected_ = 0;
  uint32_t sequence_ = 0;
  uint32_t size_ = kRangeDefaultSize;
  RangeOrigin awaited_ = RangeOrigin::Master;
  std::vector<bool> seen_;
};
