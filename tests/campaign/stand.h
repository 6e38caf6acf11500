// What the fault campaign and the fuzz targets run the program against: a
// virtual world with a master on COM3 and a slave on COM4 over one radio,
// both panes bound to recorded controls, and the operations started as the
// runner starts them (a cancel event, the body on a worker thread, the join).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "module/pair_run.h"
#include "module/range_test.h"
#include "platform/virtual/world.h"
#include "sim/module.h"
#include "sim/radio.h"
#include "tests/support/module_peer.h"
#include "ui/dialog/pane.h"

namespace stand {

enum class Operation { Read, Write, LinkTest, PairRun, RangeTest, Terminal };

// A terminal session as a user types it: each line after its pause.
struct TypedLine {
  std::string line;
  uint32_t pauseMs = 0;
};

class Stand {
 public:
  Stand(const sim::ModuleConfig& master, const sim::ModuleConfig& slave);
  ~Stand();
  Stand(const Stand&) = delete;
  Stand& operator=(const Stand&) = delete;

  // The pane's operation to its end; its OperationResult (the link test: 1
  // pass, 0 fail, 258 cancelled). Virtual time runs meanwhile, with whatever
  // is scheduled. A pair run is the panes' together, with one cancel event
  // for both.
  int32_t run(Operation operation, PaneRecord* pane);

  sim::Module& moduleOf(const PaneRecord* pane);
  static std::string portOf(const PaneRecord* pane);
  // What a user does: the port goes away (its pane's operation is told).
  void unplug(PaneRecord* pane);
  // The module's replies, in order, from bytes: a length byte and that many
  // bytes, sent as the reply as they are; a length of 255 lets the module
  // answer itself. Once the bytes run out it answers itself throughout.
  static void scriptReplies(sim::Module& module, const uint8_t* data, size_t size);

  vw::World world;
  sim::Radio radio;
  const SettingsFile* profile = nullptr;  // a pair run's
  PairRunResult pairResult;
  RangeRun rangeRun;  // a range test's, and what it measured
  RangeResult rangeResult;
  std::vector<TypedLine> typed;  // a terminal's
  std::unique_ptr<sim::Module> master, slave;

 private:
  int32_t runPair();
  int32_t runTerminal(PaneRecord* pane);
  std::unique_ptr<ModulePeer> masterPeer_, slavePeer_;
};

}  // namespace stand
