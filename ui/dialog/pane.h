// The record of one pane of the dialog: the module record it shows, its
// controls and their colours, the session of its running operation, and
// that operation's state. Portable, so that native tests drive the
// dialog's operations as the worker does.
#pragma once

#include <atomic>
#include <cstdint>

#include "link/line_log.h"
#include "link/port_table.h"
#include "link/serial_codes.h"
#include "module/module_record.h"
#include "module/outcome.h"
#include "module/pair_run.h"
#include "module/range_test.h"
#include "module/session.h"
#include "runner/operation_run.h"
#include "ui/dialog/view_hooks.h"

using ColorRef = uint32_t;  // 0x00BBGGRR

constexpr ColorRef kColorBlack = 0x000000;
constexpr ColorRef kColorRed = 0x0000FF;

// The pane is the run its operations go through behind the progress dialog.
struct PaneRecord : OperationRun {
  ModuleRecord module;
  // The COM number its list picked when its last operation began; -1 when
  // the list's text names no "COM".
  int32_t portNumber = 0;
  // The running operation's session, on the pane's module record; its port
  // is open while the operation runs.
  Session session;

  WindowHandle portCombo = nullptr;
  WindowHandle readButton = nullptr;
  WindowHandle writeButton = nullptr;
  WindowHandle nodeIdField = nullptr;
  // Each setting's control (null where the pane shows none) and the
  // colour it is drawn in.
  WindowHandle control[kSettingCount] = {};
  ColorRef color[kSettingCount] = {};
};

// The pane whose run a worker body was given: the dialog's bodies run only
// on its panes.
inline PaneRecord* paneOfRun(OperationRun* run) {
  return static_cast<PaneRecord*>(run);
}

extern PaneRecord masterPane;
extern PaneRecord slavePane;
// Where the dialog found each port's module or set it talking, for as long
// as it runs: a module it wrote to other settings is found there again.
extern LineMemory paneLines;
// The dialog's line log, which every session of the dialog logs to.
extern LineLog dialogLineLog;
// Set as the user's session ends: the panes' writes store what they took.
extern std::atomic<bool> dialogClosing;

bool isCancelled(const PaneRecord* pane);
PaneRecord* otherPane(const PaneRecord* pane);

// On the GUI thread, as an operation begins: the port its list picks.
void notePortPick(PaneRecord* pane);
// The port a pane's operation will open, from its list's text; 0 for none.
uint32_t portNumberShown(const PaneRecord* pane);
// The pane's session made ready for an operation on the worker: its module
// record, the port number, cancel event and reset prompt that the GUI
// thread set before the worker began, options as the dialog's Read has
// them, and a view that draws the pane.
Session& paneSession(PaneRecord* pane);
// The pane's session given its port, carrying the pane's cancel event; at
// once when it has one. 0, or why it would not open.
int32_t openPanePort(PaneRecord* pane);
// The operations as the runner starts them on the worker: each ends with
// the word to the progress dialog.
int32_t readBody(OperationRun* run);
int32_t writeBody(OperationRun* run);
int32_t linkTestBody(OperationRun* run);
// The COM number that both panes pick; 0 when they pick two ports (or
// either none).
int32_t sharedPanePort();
// The Link Test, the range test and a pair run over the two panes'
// sessions.
int32_t testPaneLink();
int32_t runPaneRangeTest(const RangeRun& run, RangeResult* result, RangePacketSink sink = nullptr,
                         void* context = nullptr);
void usePaneSessions(PairRun* run);

// A pane's control of a setting, null where it shows none.
inline WindowHandle controlOf(const PaneRecord* pane, Setting setting) {
  return pane->control[indexOf(setting)];
}
