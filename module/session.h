// One module on one port: what an operation needs to talk to it, passed in
// by the face that starts it. Any number of sessions may run at once, each
// on its own thread; none touches a global pane, a process-wide switch or a
// control. What the face is to show goes through `view`, on the session's
// thread (the dialog posts it to its GUI thread).
#pragma once

#include <atomic>
#include <cstdint>

#include "link/discovery.h"
#include "link/port_table.h"
#include "link/reset_prompt.h"
#include "module/module_record.h"
#include "module/outcome.h"

struct SessionView {
  // The module's values are gone from the face (a read begins or failed).
  void (*cleared)(void* context) = nullptr;
  // A read learnt the module's channel list: the face refills its list.
  void (*channelsRead)(void* context, int32_t channelLimit) = nullptr;
  // The module as read or written: the face draws it.
  void (*shown)(void* context, const ModuleRecord& module) = nullptr;
  // A warning box's text (the pair warnings of a Read).
  void (*warned)(void* context, const wchar_t* text) = nullptr;
  void* context = nullptr;
};

// What a face remembers, for its own life, of the line settings each port's
// module was last found at or given (baudRate 0: nothing).
struct LineMemory {
  LineGuess port[kPortTableSize] = {};
};

// Where a read looks for the module before it asks for the reset key, each
// place by one "+++": `named`, what `memory` holds for the port, 9600
// 8-N-1, `profile` (a module about to be given it may hold it already),
// and with `everySetting` each setting a module can have.
struct LineSearch {
  LineGuess named;
  LineGuess profile;
  bool everySetting = false;
  // False: a module that no try finds is not found (ResultNotFound).
  bool resetKey = true;
  // Kept up to date by every read and write of the session; null: none.
  LineMemory* memory = nullptr;
};

struct SessionOptions {
  // Takes the module in whichever role it has (its record's isMaster
  // follows it) instead of refusing the other role's module.
  bool eitherRole = false;
  // A module refused by its role is first asked, before leaving command
  // mode, for what names it: its node identifier and serial number.
  bool nameRefused = false;
  // Warns when this module and `other` (a copy made when the session
  // began) are no pair.
  bool pairWarnings = false;
  ModuleRecord other;
  LineSearch search;
};

struct Session {
  ModuleRecord* module = nullptr;
  uint32_t portNumber = 0;  // 0: no port picked
  SerialPort* port = nullptr;
  os::Handle cancelEvent = nullptr;
  ResetPrompt resetPrompt;
  // The face's line log, which the port opened gets (none: nothing logged).
  LineLog* lineLog = nullptr;
  // Set by the face when the program is about to end (none: it never says).
  const std::atomic<bool>* closing = nullptr;
  // A write that must end through "ATWR" and its checking read: its steps
  // and its port's waits do not see cancelEvent (only its time limits end
  // it), and whoever set it looks at cancelEvent afterwards.
  bool finishing = false;
  // The last write ended short of its end, yet stored ("ATWR") what it had
  // sent: the module holds part of the changes, stored.
  bool storedPart = false;
  SessionOptions options;
  SessionView view;
  // How its last operation ended, and where; why its port last would not
  // open (the system's error).
  Outcome outcome;
  uint32_t openError = 0;
};

bool isCancelled(const Session& session);
// Notes how an operation of the session ended (code 0 clears the note) and
// gives the code back; the system's error is the one standing now.
int32_t noteOutcome(Session& session, const char* step, int32_t code);
// The operation's outcome: where a step already noted this code, that note
// (its system error and step stand); otherwise noted now.
Outcome outcomeOf(Session& session, const char* step, int32_t code);
// The view's calls, each a no-op where the face gave none.
void showCleared(const Session& session);
void showChannels(const Session& session);
void showModule(const Session& session);
void showWarning(const Session& session, const wchar_t* text);
// The settings the session's port now talks at, noted in its memory.
void rememberLine(const Session& session);
