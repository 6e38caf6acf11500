// A deterministic world for native tests: a virtual clock that moves only
// when the code under test waits or sleeps, events scheduled at virtual
// times, serial lines with a peer on the far side, and a transcript.
//
// Threads of the code under test are real threads, but only one runs at a
// time: a thread that blocks hands the baton to the lowest-numbered thread
// that can go on, and when none can, the clock jumps to the next event or
// deadline. Runs therefore repeat exactly.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/os.h"
#include "platform/virtual/uart.h"

namespace vw {

constexpr TimeUs ms(uint64_t m) {
  return m * 1000;
}

// The deterministic corruption a byte suffers between mismatched UARTs, as
// the real-time line of the Wine rig still models it.
uint8_t garble(uint8_t byte);

// Bytes of the host's transmit FIFO: handed to the hardware, they go out
// even when the write that handed them is cancelled.
constexpr uint32_t kTxFifoBytes = 16;

struct TxBurst;

// What sits on the far side of a serial line (a module model). It is told
// what arrives and asked what it sends; it never sees the clock otherwise.
class LinePeer {
 public:
  virtual ~LinePeer() = default;
  virtual PeerSettings lineSettings() const = 0;
  virtual void receive(TimeUs at, uint8_t byte) = 0;
  virtual void hostBreak(TimeUs at, bool on) = 0;
  virtual void hostModemLines(TimeUs at, bool dtr, bool rts) = 0;
  virtual void advance(TimeUs now) = 0;
  virtual std::optional<TimeUs> nextWake() const = 0;
  virtual std::string takeOutput() = 0;
  virtual bool cts(TimeUs now) const = 0;
  virtual bool dsr(TimeUs now) const = 0;
};

enum class Event {
  Open,
  Close,
  HostByte,  // a byte the host started to send (value: the byte)
  PeerByte,  // a byte the peer started to send
  HostRead,  // a byte a read of the host took from its input (value: the byte)
  BreakOn,
  BreakOff,
  Purge,  // value: the flags
  Dtr,    // value: 1 up, 0 down
  Rts,
  Settings,  // the host applied line settings
  Timeouts,
  Queues,
};

struct Entry {
  TimeUs at = 0;
  std::string port;  // e.g. "COM5"
  Event kind = Event::Open;
  uint32_t value = 0;
  PeerSettings settings;  // the sender's settings for bytes, the host's otherwise
};

// Calls of the seam that a test can make fail.
enum class Call {
  CreateEvent,
  CreateMutex,
  LockMutex,
  OpenSerial,
  StartWrite,
  StartRead,
  FinishTransfer,
  ModemStatus,
  SetLineSettings,
  SetTimeouts,
  SetQueues,
  Purge,
  Escape,
  WaitAny,
  SetBreak,  // as a driver without break support refuses it
  ReadNote,
  WriteNote,
};

class World;

// The host side of one COM port as the world keeps it.
struct SerialLine {
  std::string name;  // "COM5"
  LinePeer* peer = nullptr;
  bool open = false;
  os::LineSettings settings{};
  os::Timeouts timeouts{};
  uint32_t inQueue = 4096, outQueue = 2048;
  bool dtr = false, rts = false, breakOn = false;
  std::string input;                   // received, not yet read
  std::shared_ptr<TxBurst> lastBurst;  // the host's latest write on the line
  TimeUs hostBusyUntil = 0, peerBusyUntil = 0;
  uint64_t framingErrors = 0, parityErrors = 0;  // as the host's UART counts them
  uint64_t pendingRead = 0, pendingWrite = 0;    // transfer ids
  bool present = true;                           // false once the device was unplugged
};

class World {
 public:
  World();
  ~World();
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  // The world that os:: calls of the running test go to.
  static World& current();

  // ---- clock and events ----
  TimeUs now() const;
  // The tick counter reads origin + elapsed ms; set it near 2^32 to test wraps.
  void setTickOrigin(uint32_t originMs);
  void at(TimeUs when, std::function<void()> action);
  void after(TimeUs delay, std::function<void()> action);

  // ---- threads ----
  // A thread of the code under test; it starts when the running one blocks.
  int spawn(std::function<void()> body);
  void join(int id);

  // ---- serial lines ----
  // Makes \\.\<name> openable; the peer (may be null) answers on the line.
  SerialLine& addSerialPort(const std::string& name, LinePeer* peer);
  void removeSerialPort(const std::string& name);
  SerialLine* line(const std::string& name);

  // ---- faults ----
  // The call fails once, after `succeedFirst` more successful calls.
  void failCall(Call call, int succeedFirst = 0);
  // A busy machine: a wait that times out gives its thread back only this
  // much later, whatever comes meanwhile (the time-out stands).
  TimeUs busyLookUs = 0;
  // A starved machine serves a pending read this much after its bytes came
  // (as Wine's wineserver does when it runs late); cancelled before, the
  // read takes nothing and the bytes wait in the input queue.
  TimeUs readsServedLateUs = 0;

  // Called (inside the world) after each byte reaches the host's input
  // queue; lets a test act at an exact point of the traffic.
  std::function<void(const std::string& port, uint8_t byte)> onHostReceived;

  // ---- what happened ----
  const std::vector<Entry>& transcript() const { return transcript_; }
  std::string hostBytes(const std::string& port) const;
  std::string peerBytes(const std::string& port) const;
  std::vector<Entry> entries(const std::string& port, Event kind) const;
  int openHandles() const;
  // What a finished test must not leave behind: handles still open (by
  // kind), transfers never fetched, a break still on. Empty when clean.
  std::vector<std::string> leftovers() const;
  // What the code under test did that real Windows would punish at random
  // (a mutex closed while locked or waited on, a port closed with its break
  // still on); a test expects none.
  const std::vector<std::string>& violations() const { return violations_; }

  // ---- the seam, used by os_virtual.cpp ----
  uint32_t tickCount();
  void sleepMs(uint32_t ms);
  os::Handle createLookPause();
  void pauseBetweenLooks(os::Handle pause);
  os::Handle createEvent();
  bool setEvent(os::Handle h);
  bool resetEvent(os::Handle h);
  bool isEventSet(os::Handle h);
  os::Handle createMutex();
  bool lockMutex(os::Handle h);
  bool unlockMutex(os::Handle h);
  bool closeHandle(os::Handle h);
  int waitAny(const os::Handle* handles, uint32_t count, uint32_t timeoutMs);
  os::Handle openSerial(const wchar_t* name);
  bool purgeSerial(os::Handle h, uint32_t flags);
  bool setSerialTimeouts(os::Handle h, const os::Timeouts& t);
  bool setSerialQueues(os::Handle h, uint32_t in, uint32_t out);
  bool getLineSettings(os::Handle h, os::LineSettings& s);
  bool setLineSettings(os::Handle h, const os::LineSettings& s);
  bool escapeSerial(os::Handle h, uint32_t function);
  bool getModemStatus(os::Handle h, uint32_t& status);
  uint32_t bytesWaiting(os::Handle h);
  bool setBreak(os::Handle h, bool on);
  bool startTransfer(os::Handle h, bool write, void* bytes, uint32_t count, os::Transfer& t,
                     os::Handle event, bool signals);
  bool finishTransfer(os::Handle h, os::Transfer& t, uint32_t& count);
  bool cancelTransfers(os::Handle h);
  uint64_t bootClockMs();
  // The port notes live in the world, as the files of one machine: a later
  // "process" of a test (forgetPortActivity) finds them, a new world none.
  os::NoteRead readPortNote(uint32_t portNumber, char* bytes, uint32_t capacity, uint32_t& got);
  bool writePortNote(uint32_t portNumber, const char* bytes, uint32_t count);

  // Inner records, opaque outside the world.
  struct Object;
  struct Transfer;
  struct VThread;

 private:
  struct Scheduled {
    TimeUs at;
    uint64_t seq;
    std::function<void()> action;
  };
  // In due order (time, then the order of scheduling): a module that floods
  // its line schedules thousands of bytes, and each must be found quickly.
  struct Schedule {
    std::map<std::pair<TimeUs, uint64_t>, std::function<void()>> byDue;
    void push_back(Scheduled s) { byDue.emplace(std::pair{s.at, s.seq}, std::move(s.action)); }
  };

  using Lock = std::unique_lock<std::recursive_mutex>;

  bool shouldFail(Call call);
  // Counts seam calls made while the clock stands still; a loop of calls
  // that fail at once would otherwise hang the test instead of failing it.
  void noteCall();
  Object* object(os::Handle h, int kind);
  SerialLine* serialOf(os::Handle h);
  VThread* self();
  // Blocks the running thread until ready() holds or the deadline passes;
  // returns false on the deadline.
  bool block(Lock& lock, std::function<bool()> ready, std::optional<TimeUs> deadline);
  void handOff(Lock& lock, VThread* me, bool exiting);
  bool isReady(VThread* t) const;
  bool advanceClock();
  void runDue();
  void pollPeers();
  void sendFromPeer(SerialLine& line, const std::string& bytes);
  void deliverToHost(SerialLine& line, const Received& r);
  void serviceRead(SerialLine& line);
  void complete(Transfer& t, bool ok, uint32_t error);
  // A cancel, a purge or a close drops what the driver still holds; the
  // bytes already in the transmit FIFO go out all the same. Only an unplug
  // stops everything that has not started on the wire.
  void abortTransfer(uint64_t id, uint32_t error, bool keepFifo);
  void stopHostTx(SerialLine& line, bool keepFifo);
  void sendFromHost(SerialLine& line, Transfer& transfer);
  void record(const SerialLine& line, Event kind, uint32_t value);
  void record(const SerialLine& line, Event kind, uint32_t value, const PeerSettings& s);
  PeerSettings hostSettings(const SerialLine& line) const;

  mutable std::recursive_mutex mutex_;
  std::condition_variable_any cv_;
  TimeUs now_ = 0;
  uint32_t tickOrigin_ = 0;
  uint64_t seq_ = 0;
  Schedule events_;
  std::map<int, std::unique_ptr<VThread>> threads_;
  int running_ = 0;
  int nextThreadId_ = 1;
  std::set<Object*> objects_;
  std::map<uint64_t, std::unique_ptr<Transfer>> transfers_;
  uint64_t nextTransferId_ = 1;
  std::map<std::string, std::unique_ptr<SerialLine>> lines_;
  std::map<Call, std::vector<int>> faults_;
  std::map<uint32_t, std::string> portNotes_;
  std::vector<Entry> transcript_;
  std::vector<std::string> violations_;
  TimeUs spinTime_ = 0;
  uint64_t spinCalls_ = 0;
};

}  // namespace vw
