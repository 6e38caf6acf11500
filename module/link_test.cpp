#include "module/link_test.h"

#include <cstring>

#include "link/transfer.h"
#include "module/pane.h"
#include "module/read.h"
#include "module/view_hooks.h"

const char kLinkTextDigits[] = "0123456789abcdef\r";
const char kLinkTextLetters[] = "abcdefghijklmnop\r";

namespace {

void closePanePort(PaneRecord* pane) {
  if (pane->port) {
    closePort(pane->port);
    pane->port = nullptr;
  }
}

bool linkCancelled() {
  return isCancelled(&masterPane) || isCancelled(&slavePane);
}

// The outcome of one transfer that counts; a transfer that fails because a
// cancel cut its wait is no verdict on the link.
int32_t countedTransfer(SerialPort* sender, SerialPort* receiver, const char* text) {
  if (linkCancelled())
    return kLinkCancelled;
  if (linkTransfer(sender, receiver, text))
    return kLinkPass;
  return linkCancelled() ? kLinkCancelled : kLinkFail;
}

// Transfer 1 only clears the way: what it brings or fails to bring is
// discarded by the purge before the next.
int32_t runTransfers() {
  SerialPort* master = masterPane.port;
  SerialPort* slave = slavePane.port;
  linkTransfer(slave, master, kLinkTextDigits);
  struct Step {
    SerialPort* sender;
    SerialPort* receiver;
    const char* text;
  };
  const Step counted[] = {{slave, master, kLinkTextDigits},
                          {master, slave, kLinkTextLetters},
                          {slave, master, kLinkTextLetters},
                          {master, slave, kLinkTextDigits}};
  for (const Step& step : counted) {
    const int32_t outcome = countedTransfer(step.sender, step.receiver, step.text);
    if (outcome != kLinkPass)
      return outcome;
  }
  return kLinkPass;
}

// A port that could not be opened fails the test, unless a cancel stopped it.
int32_t openFailure(int32_t opened) {
  return opened == ResultCancelled || linkCancelled() ? kLinkCancelled : kLinkFail;
}

}  // namespace

int32_t linkTransfer(SerialPort* sender, SerialPort* receiver, const char* text) {
  purgePort(sender);
  purgePort(receiver);
  if (writeBytes(sender, text, kLinkTextLength) != 0)
    return 0;
  char line[kLinkTextLength + 1] = {};
  uint32_t count = 0;
  if (readLine(receiver, line, sizeof line, &count) != 0)
    return 0;
  return count >= kLinkTextLength - 1 && std::memcmp(line, text, count) == 0 ? 1 : 0;
}

int32_t testLink() {
  // Opened twice, one port would talk to itself, or fail its second open
  // as if the link were down.
  if (sharedPanePort())
    return kLinkSamePort;
  if (const int32_t opened = openPanePort(&masterPane))
    return openFailure(opened);
  if (const int32_t opened = openPanePort(&slavePane)) {
    closePanePort(&masterPane);
    return openFailure(opened);
  }
  const uint32_t masterTimeout = masterPane.port->ioTimeoutMs;
  const uint32_t slaveTimeout = slavePane.port->ioTimeoutMs;
  masterPane.port->ioTimeoutMs = kLinkIoTimeoutMs;
  slavePane.port->ioTimeoutMs = kLinkIoTimeoutMs;
  const int32_t verdict = runTransfers();
  masterPane.port->ioTimeoutMs = masterTimeout;
  slavePane.port->ioTimeoutMs = slaveTimeout;
  closePanePort(&slavePane);
  closePanePort(&masterPane);
  return verdict;
}

int32_t linkTestBody(PaneRecord* pane) {
  const int32_t verdict = testLink();
  postOperationDone(pane->progressDialog, pane);
  return verdict;
}
