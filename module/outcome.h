// What an operation ends with: a result code, where it came from (the
// system's error, the port, the step), and one table that says for each
// code what the message box says, what nlconf-cli exits with and whether
// the pane is emptied around the box.
#pragma once

#include <cstdint>

#include "link/errors.h"

// Results of an operation beyond the link-layer codes; the numbers are
// fixed because they travel as the worker thread's exit code.
constexpr int32_t ResultNoEvent = 256;
constexpr int32_t ResultNoThread = 257;
constexpr int32_t ResultCancelled = 258;
// Both panes pick one port: refused before a byte (259 is STILL_ACTIVE).
constexpr int32_t ResultSamePort = 260;
constexpr int32_t ResultNotMaster = 272;
constexpr int32_t ResultNotSlave = 273;
constexpr int32_t ResultJoinTimeout = 512;
// A pair run's own.
constexpr int32_t ResultProfileMisfit = 768;  // a profile section does not fit its module
constexpr int32_t ResultNotHeld = 769;        // a module does not hold what was written
constexpr int32_t ResultLinkNg = 770;         // the link test failed
// No try found the module, and the caller asked for no reset key.
constexpr int32_t ResultNotFound = 771;
// A pair run's two modules talk at other serial settings, which the
// profile did not ask for: no pair by the Link Test's rule.
constexpr int32_t ResultLinesDiffer = 772;

// nlconf-cli's exit codes, the same on every system.
enum ExitCode : int {
  ExitDone = 0,
  ExitUsage = 1,
  ExitRefused = 2,
  ExitCommunication = 3,
  ExitWrongRole = 4,
  ExitCancelled = 5,
  ExitLinkOrCheck = 6,
  ExitOutput = 7,
  // A second signal: the program stopped at once, modules told "ATCN".
  ExitStopped = 130,
};

enum class PaneReset : uint8_t {
  Keep,           // display and record stay as the body left them
  BeforeMessage,  // clear and reset first, then show the box
  AfterMessage,   // show the box (it names the module read), then clear
};

struct ResultMessage {
  const wchar_t* format = nullptr;  // null: the result needs no box
  bool namesNodeId = false;         // the format takes the nodeId as its one "%hs"
  PaneReset paneReset = PaneReset::Keep;
  int exitCode = ExitDone;
};

// The table's row for a code; every code not named is a communication
// error (link-layer errors, a cancelled wait, the join time-out).
ResultMessage resultMessage(int32_t result);

// A result with what it came from.
struct Outcome {
  int32_t code = 0;
  uint32_t systemError = 0;  // the system's error at the failure, 0 for none known
  uint32_t portNumber = 0;   // the port it happened on, 0 for none
  const char* step = "";     // "Read", "Write", "Line settings", "Link Test", ...
};
