#include "ui/dialog/pane_operation.h"

#include <cstdio>

#include "link/errors.h"
#include "link/line_log.h"
#include "module/read.h"
#include "module/result_messages.h"
#include "runner/runner.h"
#include "ui/dialog/operation_hooks.h"

namespace {

void emptyPane(PaneRecord* pane) {
  clearPaneDisplay(pane);
  resetPane(&pane->module);
}

void reportOutcome(PaneRecord* pane, const Outcome& outcome) {
  const ResultMessage message = resultMessage(outcome.code);
  if (message.paneReset == PaneReset::BeforeMessage)
    emptyPane(pane);
  if (message.format && message.namesNodeId) {
    char nodeId[kNodeIdMessageSize];
    copyNodeIdForMessage(&pane->module, nodeId);
    showError(message.format, nodeId);
  } else if (message.format) {
    showError(message.format);
  }
  if (message.paneReset == PaneReset::AfterMessage)
    emptyPane(pane);
}

void logOperationStart(uint32_t portNumber, const char* operation) {
  if (!lineLogActive(&dialogLineLog))
    return;
  char text[64];
  std::snprintf(text, sizeof text, "%s started", operation);
  logNote(&dialogLineLog, portNumber, text);
}

}  // namespace

int32_t runOnWorker(HWND owner, PaneRecord* pane, PaneRecord* partner, bool asksResetKey) {
  if (!pane)
    return ErrArgument;
  const uint32_t portNumber = portNumberShown(pane);
  // The picks as the operation begins: the worker reads no control.
  notePortPick(pane);
  if (partner)
    notePortPick(partner);
  RunCaptions captions;
  captions.prompt = paneCaption(pane->module.isMaster != 0, portNumber);
  captions.progress = captions.prompt;
  if (partner)
    captions.progress +=
        L", " + paneCaption(partner->module.isMaster != 0, portNumberShown(partner));
  lendPanesToWorker();
  const int32_t result = runBehindProgress(owner, pane, partner, captions, asksResetKey);
  takePanesBack();
  return result;
}

int32_t runOperation(HWND owner, PaneRecord* pane, const char* operation, PaneRecord* partner) {
  if (!pane)
    return ErrArgument;
  const uint32_t portNumber = portNumberShown(pane);
  logOperationStart(portNumber, operation);
  int32_t result = runOnWorker(owner, pane, partner);
  // The runner stopped an operation whose port departed through its cancel
  // event; the user did not cancel, and is told of the lost port.
  if (result == ResultCancelled && hasDeferredPortChange(pane))
    result = ErrBadHandle;
  // What the session noted of its end; the runner's own ends (a cancel, a
  // thread not made, a port gone) are the operation's on its port.
  const Outcome outcome = pane->session.outcome.code == result && result != 0
                              ? pane->session.outcome
                              : Outcome{result, 0, portNumber, operation};
  // Before the box, so that the log already says what the box says.
  logOperationEnd(&dialogLineLog, outcome.portNumber, operation, outcome.code, &pane->module);
  reportOutcome(pane, outcome);
  // A failure may have emptied the pane (a reset before a failing step, or
  // the clearing above); the buttons must not offer what it no longer holds.
  if (result != 0)
    applyButtonRules();
  finishDeferredDeviceChanges(pane);
  // The dialog takes the focus back to where it was: a button the
  // operation's end may have disabled.
  keepKeyboardFocus(pane);
  return result;
}
