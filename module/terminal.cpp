#include "module/terminal.h"

#include <cstdio>
#include <cstring>

#include "link/at_command.h"
#include "link/hex.h"
#include "link/line_log.h"
#include "link/transfer.h"
#include "module/read.h"

namespace {

constexpr uint32_t kReplySize = 256;

// "AT" and two letters, upper-case, and what follows them without blanks;
// false for a line that is no such command.
bool commandParts(const std::string& line, std::string* letters, std::string* parameter) {
  if (line.size() < 4)
    return false;
  std::string upper = line;
  for (char& c : upper)
    c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  if (upper.compare(0, 2, "AT") != 0)
    return false;
  *letters = upper.substr(2, 2);
  *parameter = upper.substr(4);
  while (!parameter->empty() && parameter->front() == ' ')
    parameter->erase(0, 1);
  while (!parameter->empty() && parameter->back() == ' ')
    parameter->pop_back();
  return true;
}

void show(const Terminal& t, TerminalLine::Kind kind, const std::string& text) {
  if (!t.view.line)
    return;
  TerminalLine line;
  line.kind = kind;
  line.text = text;
  line.msOfDay = os::localTime().msOfDay;
  t.view.line(t.view.context, line);
}

void showMode(const Terminal& t) {
  if (t.view.mode)
    t.view.mode(t.view.context, t.session->port && t.session->port->inCommandMode != 0,
                commandModeLeftMs(t));
}

// The module's time-out runs again from the command (or would, had it taken
// it); counted from the first reply line, or from giving up on one, so that
// the terminal never thinks the module out sooner than it is.
void noteCommandTaken(Terminal& t) {
  t.lastCommandTick = os::tickCount();
  t.runningTimeoutMs = t.commandTimeoutMs;
}

// What the module's own answers tell of its time-out and guard time.
void learnFromReply(Terminal& t, const std::string& line, const TerminalExchange& x) {
  std::string letters, parameter;
  if (!commandParts(line, &letters, &parameter) || x.replies.empty())
    return;
  const std::string& reply = x.replies.front();
  const char* end = nullptr;
  uint32_t value = 0;
  if (parameter.empty()) {
    value = parseHex32(reply.c_str(), &end);
    if (end == reply.c_str() || *end != 0)
      return;  // no number: nothing learnt
  } else {
    value = parseHex32(parameter.c_str(), &end);
    if (reply != "OK" || end == parameter.c_str() || *end != 0)
      return;
  }
  if (letters == "CT") {
    const uint64_t ms = uint64_t{value} * 100;
    const uint32_t timeout = ms < 100         ? 100
                             : ms > 0xFFFFFFF ? 0xFFFFFFF
                                              : static_cast<uint32_t>(ms);
    // A longer one may already run; a shorter one only from the next command.
    if (timeout > t.runningTimeoutMs || parameter.empty())
      t.runningTimeoutMs = timeout;
    t.commandTimeoutMs = timeout;
  } else if (letters == "GT") {
    takeGuardTime(t.session->port, value);
  }
}

// The further lines of a reply, within kFurtherReplyMs of each other; the
// exchange's time runs to the last of them, not to the quiet after it.
int32_t readFurtherLines(Terminal& t, char* reply, TerminalExchange& x, uint32_t start) {
  SerialPort* port = t.session->port;
  const uint32_t ioTimeout = port->ioTimeoutMs;
  port->ioTimeoutMs = kFurtherReplyMs;
  port->quietEndsRead = true;
  int32_t result = 0;
  while (x.replies.size() < kMostReplyLines) {
    uint32_t length = 0;
    bool crEnded = false;
    result = readLine(port, reply, kReplySize, &length, &crEnded);
    if (length > 0 || crEnded) {
      x.ms = os::tickCount() - start;
      x.replies.push_back(escapedBytes(reply, length));
      show(t, crEnded ? TerminalLine::Kind::Reply : TerminalLine::Kind::Cut, x.replies.back());
    }
    if (!crEnded)
      break;
  }
  port->ioTimeoutMs = ioTimeout;
  port->quietEndsRead = false;
  // The quiet that ends a reply is no failure.
  return result == ErrTimeout ? 0 : result;
}

// A port whose modem lines cannot be read is gone: nothing reaches the
// module now, and its time-out is no longer counted.
void noteIfPortGone(Terminal& t, int32_t result) {
  Session& s = *t.session;
  uint32_t status = 0;
  if (result == 0 || result == ErrTimeout || result == ErrNotOk || result == ErrArgument ||
      result == ErrCancelled || result == ResultCancelled || !s.port ||
      os::getModemStatus(s.port->handle, status))
    return;
  loseTerminalPort(t);
}

}  // namespace

void loseTerminalPort(Terminal& t) {
  Session& s = *t.session;
  if (!s.port)
    return;
  s.port->inCommandMode = 0;
  closeSessionPort(s);
  t.portLost = true;
  t.portAbsent = true;
  char text[96];
  std::snprintf(text, sizeof text, "COM%u is gone: the terminal takes it back once it returns",
                s.portNumber);
  show(t, TerminalLine::Kind::Note, text);
  showMode(t);
}

namespace {

int32_t exchangeLine(Terminal& t, const std::string& line, TerminalExchange& x) {
  SerialPort* port = t.session->port;
  const std::string sent = line + "\r";
  char reply[kReplySize] = {};
  uint32_t length = 0;
  bool crEnded = false;
  const uint32_t start = os::tickCount();
  show(t, TerminalLine::Kind::Sent, x.command);
  int32_t result = transact(port, sent.data(), static_cast<uint32_t>(sent.size()), reply,
                            kReplySize, &length, &crEnded);
  noteCommandTaken(t);
  x.ms = os::tickCount() - start;
  if (length > 0 || crEnded) {
    x.replies.push_back(escapedBytes(reply, length));
    show(t, crEnded ? TerminalLine::Kind::Reply : TerminalLine::Kind::Cut, x.replies.back());
    if (crEnded)
      result = readFurtherLines(t, reply, x, start);
  }
  if (result == ErrTimeout && x.replies.empty()) {
    char text[64];
    std::snprintf(text, sizeof text, "no reply within %u ms", port->ioTimeoutMs);
    show(t, TerminalLine::Kind::Note, text);
  }
  // Written and not refused: the module may have taken it (its "OK" may be
  // lost); one it answered "ERROR" changed nothing.
  const bool refused = !x.replies.empty() && x.replies.front() == "ERROR";
  if (result != ErrWrite && result != ErrCancelled && !refused && changesModule(line))
    t.changedModule = true;
  return result;
}

// The module's own time-out, asked as command mode begins: one set longer
// or shorter than the usual is followed from the first command on.
// Its lines are the terminal's, not the user's: a note says what it learnt.
void learnCommandTimeout(Terminal& t) {
  TerminalExchange x;
  x.command = "ATCT";
  const TerminalView shown = t.view;
  t.view.line = nullptr;
  const int32_t result = exchangeLine(t, "ATCT", x);
  t.view = shown;
  if (result != 0 || x.replies.empty())
    return;
  learnFromReply(t, "ATCT", x);
  char text[80];
  std::snprintf(text, sizeof text, "command mode time-out %u.%u s (ATCT %s)",
                t.commandTimeoutMs / 1000, t.commandTimeoutMs % 1000 / 100,
                x.replies.front().c_str());
  show(t, TerminalLine::Kind::Note, text);
}

// The module times out by its own clock: this much before or after the
// count, it may be in command mode or out of it.
uint32_t clockMarginMs(const Terminal& t) {
  return t.runningTimeoutMs / 20 + 100;
}

// What a line of the longest kind takes to reach the module, and a little.
uint32_t lineTimeMs(const SerialPort* port) {
  const uint32_t baud = port->serialSettings.baudRate ? port->serialSettings.baudRate : 9600;
  return (kTerminalLineLimit + 1) * 11 * 1000 / baud + 50;
}

}  // namespace

const char* terminalLineRefusal(const std::string& line) {
  if (line.empty())
    return "Nothing to send.";
  if (line.size() > kTerminalLineLimit)
    return "A command line holds at most 80 characters.";
  for (char c : line) {
    if (c < 0x20 || c > 0x7E)
      return "A command line holds printable ASCII characters only.";
  }
  return nullptr;
}

bool changesModule(const std::string& line) {
  std::string letters, parameter;
  if (!commandParts(line, &letters, &parameter))
    return false;
  return !parameter.empty() || letters == "WR" || letters == "RE" || letters == "AC" ||
         letters == "NR" || letters == "FR";
}

std::string terminalLineText(const TerminalLine& line) {
  const char* marker = line.kind == TerminalLine::Kind::Sent    ? " > "
                       : line.kind == TerminalLine::Kind::Reply ? " < "
                       : line.kind == TerminalLine::Kind::Cut   ? " <... "
                                                                : " -- ";
  return timeOfDayText(line.msOfDay) + marker + line.text;
}

int32_t openTerminal(Terminal& t) {
  Session& s = *t.session;
  int32_t result = openSessionPort(s);
  if (result == 0)
    result = findModuleSettings(s);
  if (result == 0 && s.port->inCommandMode) {
    // The search's own "+++" was taken.
    show(t, TerminalLine::Kind::Note, "in command mode");
    noteCommandTaken(t);
    learnCommandTimeout(t);
    showMode(t);
  } else if (result == 0) {
    result = enterTerminalCommandMode(t);
  }
  if (result != 0)
    endSession(s);
  return noteOutcome(s, "Terminal", result);
}

int32_t enterTerminalCommandMode(Terminal& t) {
  Session& s = *t.session;
  if (!s.port)
    return ErrNoPort;
  if (isCancelled(s))
    return ResultCancelled;
  // Asked for, it goes out whatever the terminal believes.
  const uint32_t was = s.port->inCommandMode;
  s.port->inCommandMode = 0;
  show(t, TerminalLine::Kind::Sent, "+++");
  // The "OK" comes a guard time after the pluses, one the user set too.
  const int32_t result = enterCommandMode(s.port);
  if (result == 0) {
    show(t, TerminalLine::Kind::Reply, "OK");
    noteCommandTaken(t);
    learnCommandTimeout(t);
  } else if (result == ErrCancelled) {
    // It may still be where it was: a "+++" in command mode is no way out.
    s.port->inCommandMode = was;
    show(t, TerminalLine::Kind::Note, "cancelled");
  } else {
    // The pluses went out: a module at a guard time the terminal could not
    // learn (an answer lost in noise) takes them later all the same, so
    // leaving sends "ATCN" until that and its time-out may have passed.
    s.port->inCommandMode = 1;
    noteCommandTaken(t);
    t.runningTimeoutMs += kLongestGuardTimeMs;
    show(t, TerminalLine::Kind::Note, "\"+++\" was not answered \"OK\"");
  }
  showMode(t);
  return result == ErrCancelled ? ResultCancelled : result;
}

int32_t sendTerminalLine(Terminal& t, const std::string& line, TerminalExchange* exchange) {
  TerminalExchange x;
  x.command = escapedBytes(line.data(), static_cast<uint32_t>(line.size()));
  int32_t result = 0;
  if (terminalLineRefusal(line) || !t.session->port) {
    result = ErrArgument;
  } else if (line == "+++") {
    const uint32_t start = os::tickCount();
    result = enterTerminalCommandMode(t);
    if (result == 0)
      x.replies.push_back("OK");
    x.ms = os::tickCount() - start;
  } else if (!followCommandMode(t)) {
    result = ErrArgument;
  } else if (isCancelled(*t.session)) {
    result = ResultCancelled;
  } else {
    result = exchangeLine(t, line, x);
    x.refused = !x.replies.empty() && x.replies.front() == "ERROR";
    learnFromReply(t, line, x);
    std::string letters, parameter;
    if (commandParts(line, &letters, &parameter) && letters == "CN" && parameter.empty() &&
        !x.replies.empty() && x.replies.front() == "OK")
      t.session->port->inCommandMode = 0;
    showMode(t);
  }
  noteIfPortGone(t, result);
  if (result == ErrCancelled)
    result = ResultCancelled;
  x.result = result;
  if (exchange)
    *exchange = x;
  return result;
}

int32_t takeTerminalPortBack(Terminal& t) {
  Session& s = *t.session;
  if (!t.portLost || s.port)
    return 0;
  const bool opens = openSessionPort(s) == 0;
  closeSessionPort(s);
  if (!opens || !t.portAbsent) {
    t.portAbsent = t.portAbsent || !opens;
    return ErrNoPort;
  }
  t.portAbsent = false;  // one search each time it comes back
  char text[64];
  std::snprintf(text, sizeof text, "COM%u is back: finding the module", s.portNumber);
  show(t, TerminalLine::Kind::Note, text);
  const int32_t result = openTerminal(t);
  t.portLost = result != 0;
  return result;
}

bool followCommandMode(Terminal& t) {
  SerialPort* port = t.session->port;
  if (!port || !port->inCommandMode)
    return false;
  // A line sent now must reach the module before its time-out may end;
  // until it has surely ended, the module may still be in command mode.
  const uint32_t margin = clockMarginMs(t);
  const uint32_t left = commandModeLeftMs(t);
  if (left > lineTimeMs(port) + margin)
    return true;
  if (os::tickCount() - t.lastCommandTick < t.runningTimeoutMs + margin)
    return false;
  port->inCommandMode = 0;
  show(t, TerminalLine::Kind::Note, "command mode left: its time-out ran out");
  showMode(t);
  return false;
}

uint32_t commandModeLeftMs(const Terminal& t) {
  const SerialPort* port = t.session->port;
  if (!port || !port->inCommandMode)
    return 0;
  const uint32_t since = os::tickCount() - t.lastCommandTick;
  return since < t.runningTimeoutMs ? t.runningTimeoutMs - since : 0;
}

int32_t closeTerminal(Terminal& t) {
  Session& s = *t.session;
  if (!s.port)
    return 0;
  // An "ATCN" that may come after the module has left would go out by
  // radio: in the time-out's last moments, its end is waited out instead.
  if (s.port->inCommandMode && !followCommandMode(t)) {
    const uint32_t since = os::tickCount() - t.lastCommandTick;
    const uint32_t until = t.runningTimeoutMs + clockMarginMs(t);
    if (since < until)
      os::sleepMs(until - since);
    followCommandMode(t);
  }
  const bool leaving = s.port->inCommandMode != 0;
  if (leaving)
    show(t, TerminalLine::Kind::Sent, "ATCN");
  const int32_t result = endSession(s);
  if (leaving)
    show(t, TerminalLine::Kind::Note, result == 0 ? "command mode left" : "no \"OK\" to ATCN");
  showMode(t);
  return result;
}
