#include "ui/dialog/device_changes.h"

#include <initializer_list>

#include "link/port_table.h"
#include "ui/dialog/view_hooks.h"

namespace {

struct Deferred {
  bool reset = false;
  bool close = false;
  uint32_t closeNumber = 0;
};

Deferred deferredMaster;
Deferred deferredSlave;
bool buttonRulesDue = false;

Deferred* deferredOf(const PaneRecord* pane) {
  if (pane == &masterPane)
    return &deferredMaster;
  if (pane == &slavePane)
    return &deferredSlave;
  return nullptr;
}

bool usedPort(const PaneRecord* pane, uint32_t portNumber) {
  return pane->portNumber == static_cast<int32_t>(portNumber);
}

// Every serial wait of the pane's port also waits on this event, so the
// worker lets go of the port at once and ends with a link error.
void stopOperation(PaneRecord* pane) {
  if (pane->cancelEvent)
    os::setEvent(pane->cancelEvent);
}

void closeIfOpenOn(PaneRecord* pane, uint32_t portNumber) {
  SerialPort* record = portRecord(portNumber);
  if (pane->session.port && pane->session.port == record) {
    closePort(record);
    pane->session.port = nullptr;
  }
}

}  // namespace

bool operationRunning(const PaneRecord* pane) {
  return pane->cancelEvent != nullptr || pane->workerThread != nullptr;
}

bool anyOperationRunning() {
  return operationRunning(&masterPane) || operationRunning(&slavePane);
}

void resetPaneForPortChange(PaneRecord* pane, uint32_t portNumber) {
  if (!usedPort(pane, portNumber))
    return;
  Deferred* deferred = deferredOf(pane);
  if (!anyOperationRunning() || !deferred) {
    resetPane(&pane->module);
    clearPaneDisplay(pane);
    return;
  }
  if (operationRunning(pane))
    stopOperation(pane);
  deferred->reset = true;
}

void releaseDepartedPort(PaneRecord* pane, uint32_t portNumber) {
  Deferred* deferred = deferredOf(pane);
  if (!operationRunning(pane) || !deferred) {
    closeIfOpenOn(pane, portNumber);
    return;
  }
  if (!usedPort(pane, portNumber))
    return;
  stopOperation(pane);
  deferred->close = true;
  deferred->closeNumber = portNumber;
}

void deferButtonRules() {
  buttonRulesDue = true;
}

bool hasDeferredPortChange(const PaneRecord* pane) {
  const Deferred* deferred = deferredOf(pane);
  return deferred && (deferred->reset || deferred->close);
}

bool finishDeferredPortChanges() {
  if (anyOperationRunning())
    return false;
  bool rulesDue = buttonRulesDue;
  buttonRulesDue = false;
  for (PaneRecord* pane : {&masterPane, &slavePane}) {
    Deferred* deferred = deferredOf(pane);
    // The worker closes its own port; this only catches one left open.
    if (deferred->close)
      closeIfOpenOn(pane, deferred->closeNumber);
    if (deferred->reset) {
      resetPane(&pane->module);
      clearPaneDisplay(pane);
      rulesDue = true;
    }
    *deferred = Deferred{};
  }
  return rulesDue;
}
