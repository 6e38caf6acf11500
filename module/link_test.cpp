#include "module/link_test.h"

#include <cstring>

#include "link/transfer.h"
#include "module/read.h"

const char kLinkTextDigits[] = "0123456789abcdef\r";
const char kLinkTextLetters[] = "abcdefghijklmnop\r";

namespace {

struct Pair {
  Session& master;
  Session& slave;
};

// A port that failed under a transfer (no time-out: that is the radio's),
// noted in its session's outcome so that a face can tell a cable from a
// radio; the verdict stays Link NG.
void notePortFault(const Pair& p, SerialPort* port, int32_t code) {
  if (code == 0 || code == ErrTimeout || code == ErrCancelled)
    return;
  Session& s = port == p.master.port ? p.master : p.slave;
  if (s.outcome.code == 0)
    noteOutcome(s, "Link Test", code);
}

int32_t transferOnce(const Pair* p, SerialPort* sender, SerialPort* receiver, const char* text) {
  purgePort(sender);
  purgePort(receiver);
  if (const int32_t r = writeBytes(sender, text, kLinkTextLength)) {
    if (p)
      notePortFault(*p, sender, r);
    return 0;
  }
  char line[kLinkTextLength + 1] = {};
  uint32_t count = 0;
  if (const int32_t r = readLine(receiver, line, sizeof line, &count)) {
    if (p)
      notePortFault(*p, receiver, r);
    return 0;
  }
  return count >= kLinkTextLength - 1 && std::memcmp(line, text, count) == 0 ? 1 : 0;
}

bool linkCancelled(const Pair& p) {
  return isCancelled(p.master) || isCancelled(p.slave);
}

// The outcome of one transfer that counts; a transfer that fails because a
// cancel cut its wait is no verdict on the link.
int32_t countedTransfer(const Pair& p, SerialPort* sender, SerialPort* receiver, const char* text) {
  if (linkCancelled(p))
    return kLinkCancelled;
  if (transferOnce(&p, sender, receiver, text))
    return kLinkPass;
  return linkCancelled(p) ? kLinkCancelled : kLinkFail;
}

// Transfer 1 only clears the way: what it brings or fails to bring is
// discarded by the purge before the next.
int32_t runTransfers(const Pair& p) {
  SerialPort* master = p.master.port;
  SerialPort* slave = p.slave.port;
  transferOnce(&p, slave, master, kLinkTextDigits);
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
    const int32_t outcome = countedTransfer(p, step.sender, step.receiver, step.text);
    if (outcome != kLinkPass)
      return outcome;
  }
  return kLinkPass;
}

// A port that could not be opened fails the test, unless a cancel stopped it.
int32_t openFailure(const Pair& p, int32_t opened) {
  return opened == ResultCancelled || linkCancelled(p) ? kLinkCancelled : kLinkFail;
}

}  // namespace

int32_t linkTransfer(SerialPort* sender, SerialPort* receiver, const char* text) {
  return transferOnce(nullptr, sender, receiver, text);
}

int32_t testLink(Session& master, Session& slave) {
  // Opened twice, one port would talk to itself, or fail its second open
  // as if the link were down.
  if (master.portNumber != 0 && master.portNumber == slave.portNumber)
    return kLinkSamePort;
  const Pair p{master, slave};
  noteOutcome(master, "Link Test", 0);
  noteOutcome(slave, "Link Test", 0);
  if (const int32_t opened = openSessionPort(master)) {
    if (opened != ResultCancelled)
      noteOutcome(master, "Link Test", opened);
    return openFailure(p, opened);
  }
  if (const int32_t opened = openSessionPort(slave)) {
    if (opened != ResultCancelled)
      noteOutcome(slave, "Link Test", opened);
    closeSessionPort(master);
    return openFailure(p, opened);
  }
  const uint32_t masterTimeout = master.port->ioTimeoutMs;
  const uint32_t slaveTimeout = slave.port->ioTimeoutMs;
  master.port->ioTimeoutMs = kLinkIoTimeoutMs;
  slave.port->ioTimeoutMs = kLinkIoTimeoutMs;
  const int32_t verdict = runTransfers(p);
  master.port->ioTimeoutMs = masterTimeout;
  slave.port->ioTimeoutMs = slaveTimeout;
  closeSessionPort(slave);
  closeSessionPort(master);
  return verdict;
}
