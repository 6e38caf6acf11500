#include "module/link_test.h"

#include <cstring>

#include "link/transfer.h"
#include "module/pane.h"
#include "module/read.h"

const char kLinkTextDigits[] = "0123456789abcdef\r";
const char kLinkTextLetters[] = "abcdefghijklmnop\r";

namespace {

void closePanePort(PaneRecord* pane) {
  if (pane->port) {
    closePort(pane->port);
    pane->port = nullptr;
  }
}

// Transfer 1 only clears the way: what it brings or fails to bring is
// discarded by the purge before the next.
int32_t runTransfers() {
  SerialPort* master = masterPane.port;
  SerialPort* slave = slavePane.port;
  linkTransfer(slave, master, kLinkTextDigits);
  return linkTransfer(slave, master, kLinkTextDigits) &&
                 linkTransfer(master, slave, kLinkTextLetters) &&
                 linkTransfer(slave, master, kLinkTextLetters) &&
                 linkTransfer(master, slave, kLinkTextDigits)
             ? 1
             : 0;
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
  if (openPanePort(&masterPane) != 0)
    return 0;
  if (openPanePort(&slavePane) != 0) {
    closePanePort(&masterPane);
    return 0;
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
