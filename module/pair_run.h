// Making two modules a pair, and the production run that reads, sets up,
// writes, checks and link-tests one pair after the other.
#pragma once

#include <cstddef>
#include <cstdint>

#include "module/range_test.h"
#include "module/received_share.h"
#include "module/session.h"
#include "module/settings_file.h"

// Both records hold read values.
bool canMakePair(const ModuleRecord* master, const ModuleRecord* slave);
// The slave takes the master's PAN ID and each destination becomes the
// other module's serial number, as Shown values: red where they differ from
// what was read, and nothing reaches a module until Write.
void makePair(ModuleRecord* master, ModuleRecord* slave);

enum class PairStep : uint8_t {
  None,
  ReadMaster,
  ReadSlave,
  ApplyProfile,
  WriteMaster,
  WriteSlave,
  Check,
  LinkTest,
};

// "Read Master", "Apply Profile", ...; "" for None.
const wchar_t* pairStepName(PairStep step);

constexpr uint32_t kPairDetailChars = 256;

// How a module's write in the run ended.
enum class PairWrite : uint8_t {
  NotReached,      // the run ended before its writes
  NothingToWrite,  // it held what the run asked
  NotBegun,        // it had changes, but the run ended before its write
  Stored,          // stored ("ATWR") and read back
  Stopped,         // the program's end stopped it: what it had set is stored
  Failed,
};

// One module as the run found and left it.
struct PairModule {
  int32_t portNumber = -1;
  bool identified = false;  // its read succeeded: the identity below is the module's
  uint32_t serialHigh = 0;
  uint32_t serialLow = 0;
  char nodeId[kNodeIdSize] = {};
  uint16_t firmwareVersion = 0;
  // Refused by its role check: the serial number, node identifier and
  // firmware version above are what it answered (firmware 0xFFFF, node
  // identifier empty, where it did not), but nothing else is known.
  bool named = false;
  bool serialKnown = false;
  bool holdsSettings = false;  // the settings below are what the module holds
  ModuleRecord settings;       // its Read group at the end
  PairWrite write = PairWrite::NotReached;
};

struct PairRunResult {
  int32_t result = 0;  // 0: PASS
  PairStep failedStep = PairStep::None;
  wchar_t detail[kPairDetailChars] = {};  // what does not fit or is not held
  bool portsSwapped = false;              // each module was on the other's pick
  int32_t linkVerdict = -1;               // 1 OK, 0 NG, -1 not run
  // The range test that took the Link Test's place ([Range] in the profile);
  // its counts also when it was cancelled or fell short.
  bool rangeTested = false;
  uint32_t rangeMinReceived = 0;  // per cent
  RangeResult range;
  // The link step stopped because a module's port failed or went away:
  // 0 the master's, 1 the slave's; -1 none.
  int32_t portFailedInLink = -1;
  uint32_t durationMs = 0;
  PairModule master;
  PairModule slave;
  // Where it failed, as the failing session noted it: the port the module
  // was on (0 where the failure was no one port's: a cancel, Link NG, a
  // profile that does not fit), the step and the system's error.
  Outcome outcome;
};

// The range test's shares against its minimum, into kPairDetailChars:
// "received Master to Slave 100.0 %, Slave to Master 94.0 %; at least 98 %
// needed".
void describeRangeShares(const PairRunResult& run, wchar_t* out);

struct PairRun {
  // The two modules' sessions, the master's place and the slave's: their
  // ports, cancel events, reset prompt and views, and the records the run
  // fills in.
  Session* master = nullptr;
  Session* slave = nullptr;
  const SettingsFile* profile = nullptr;  // null: none loaded
  // Told as each step begins, before its cancel check.
  void (*onStep)(void* context, PairStep step) = nullptr;
  // Told as a module's write begins (true) and ends (false): once begun, a
  // write goes through "ATWR" and its checking read whatever Cancel says,
  // so that no module runs settings it has not stored; only its time limits
  // end it early. A Cancel meanwhile is "finishing the write"; the run then
  // ends Cancelled.
  void (*onFinishingWrite)(void* context, PairStep step, bool writing) = nullptr;
  // Swaps the two port picks of the face (its lists, its names); false
  // when it cannot. The sessions exchange their ports and records
  // themselves. Called again when a run that swapped ends, to put the
  // bench's picks back.
  bool (*swapPorts)(void* context) = nullptr;
  // Whether the master's (or the slave's) port has gone (unplugged) since
  // the run began: a run stopped by its departure ends with the port's
  // result, not Cancelled.
  bool (*portDeparted)(void* context, bool master) = nullptr;
  void* context = nullptr;
};

// Read master, read slave (swapping the port picks when each module sits on
// the other's port), apply the profile and the pairing it asks for, write
// each module that shows changes, check that the modules hold what was
// written, and test the link (with the profile's [Range], a range test both
// ways that each direction must pass). Both sessions' cancel events end it
// after the step in flight. Runs on the caller's thread and one more. Both
// sessions on one port: ResultSamePort before a byte is sent. A run that
// swapped puts the picks back at its end and empties both records, which
// then no longer hold the modules on their ports.
int32_t runPair(const PairRun& run, PairRunResult* out);
