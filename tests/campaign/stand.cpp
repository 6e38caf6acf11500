#include "tests/campaign/stand.h"

#include <algorithm>

#include "module/link_test.h"
#include "module/pair_run.h"
#include "module/read.h"
#include "module/terminal.h"
#include "module/write.h"
#include "tests/support/recording_view.h"

namespace stand {

Stand::Stand(const sim::ModuleConfig& masterConfig, const sim::ModuleConfig& slaveConfig) {
  prepareTestPanes();
  master = std::make_unique<sim::Module>(masterConfig);
  slave = std::make_unique<sim::Module>(slaveConfig);
  radio.attach(*master);
  radio.attach(*slave);
  masterPeer_ = std::make_unique<ModulePeer>(*master);
  slavePeer_ = std::make_unique<ModulePeer>(*slave);
  world.addSerialPort("COM3", masterPeer_.get());
  world.addSerialPort("COM4", slavePeer_.get());
}

Stand::~Stand() {
  // A port an operation left open would outlive this world in the table.
  for (PaneRecord* pane : {&masterPane, &slavePane}) {
    closePort(pane->session.port);
    pane->session.port = nullptr;
  }
}

sim::Module& Stand::moduleOf(const PaneRecord* pane) {
  return pane == &masterPane ? *master : *slave;
}

std::string Stand::portOf(const PaneRecord* pane) {
  return pane == &masterPane ? "COM3" : "COM4";
}

void Stand::unplug(PaneRecord* pane) {
  world.removeSerialPort(portOf(pane));
  if (pane->cancelEvent)
    os::setEvent(pane->cancelEvent);  // as the device broadcast does
}

void Stand::scriptReplies(sim::Module& module, const uint8_t* data, size_t size) {
  module.faults.scriptedReply =
      [data, size, at = size_t{0}](const std::string&) mutable -> std::optional<std::string> {
    if (at >= size)
      return std::nullopt;
    const size_t length = data[at++];
    if (length == 255)
      return std::nullopt;
    const size_t take = std::min(length, size - at);
    std::string reply(reinterpret_cast<const char*>(data + at), take);
    at += take;
    return reply;
  };
}

int32_t Stand::runPair() {
  os::Handle cancel = os::createEvent();
  masterPane.cancelEvent = slavePane.cancelEvent = cancel;
  PairRun run;
  run.profile = profile;
  run.swapPorts = [](void*) {  // as the dialog does: the port picks change places
    std::swap(view().texts[masterPane.portCombo], view().texts[slavePane.portCombo]);
    return true;
  };
  int32_t result = -1;
  usePaneSessions(&run);
  const int worker = world.spawn([&] { result = ::runPair(run, &pairResult); });
  world.join(worker);
  masterPane.cancelEvent = slavePane.cancelEvent = nullptr;
  os::closeHandle(cancel);
  return result;
}

// As nlconf-cli at sends them: a line that finds the module out of command
// mode has "+++" go first. The first failure ends the session.
int32_t Stand::runTerminal(PaneRecord* pane) {
  Terminal t;
  t.session = &paneSession(pane);
  int32_t result = openTerminal(t);
  for (size_t i = 0; result == 0 && i < typed.size(); ++i) {
    os::sleepMs(typed[i].pauseMs);
    if (!followCommandMode(t) && typed[i].line != "+++")
      result = enterTerminalCommandMode(t);
    if (result == 0)
      result = sendTerminalLine(t, typed[i].line, nullptr);
  }
  const int32_t left = closeTerminal(t);
  return result ? result : left;
}

int32_t Stand::run(Operation operation, PaneRecord* pane) {
  if (operation == Operation::PairRun)
    return runPair();
  // The Link Test and the range test run on the master's operation; the
  // slave's port watches the same event.
  const bool both = operation == Operation::LinkTest || operation == Operation::RangeTest;
  PaneRecord* owner = both ? &masterPane : pane;
  owner->cancelEvent = os::createEvent();
  if (both)
    slavePane.cancelEvent = owner->cancelEvent;
  int32_t result = -1;
  const int worker = world.spawn([this, owner, operation, &result] {
    result = operation == Operation::Terminal    ? runTerminal(owner)
             : operation == Operation::Read      ? readBody(owner)
             : operation == Operation::Write     ? writeBody(owner)
             : operation == Operation::RangeTest ? runPaneRangeTest(rangeRun, &rangeResult)
                                                 : linkTestBody(owner);
  });
  world.join(worker);
  if (both)
    slavePane.cancelEvent = nullptr;
  os::closeHandle(owner->cancelEvent);
  owner->cancelEvent = nullptr;
  return result;
}

}  // namespace stand
