#include "link/discovery.h"

#include "link/hex.h"
#include "link/line_log.h"
#include "link/serial_codes.h"
#include "link/transfer.h"

namespace {

constexpr uint32_t kQueueBytes = 16384;
constexpr uint32_t kResetWindowMs = 10000;
constexpr uint32_t kPulseBaudRate = 38400;
constexpr uint32_t kCommandBaudRate = 9600;
constexpr uint32_t kLineSettleMs = 10;  // ten bytes at 9600

// A version request frame; answered or not, it is only there to stir a
// module that listens for frames before the break pulses.
constexpr char kRequestFrame[11] = {0x7E,
                                    0x00,
                                    0x04,
                                    0x08,
                                    0x01,
                                    0x56,
                                    0x52,
                                    0x4E,
                                    static_cast<char>(0xE4),
                                    static_cast<char>(0x91),
                                    0x18};

bool applySettings(SerialPort* port) {
  if (!os::setLineSettings(port->handle, port->serialSettings)) {
    logEvent(port, "line settings refused");
    return false;
  }
  logLineSettings(port);
  return true;
}

bool configurePort(SerialPort* port) {
  os::Timeouts timeouts{};
  timeouts.writeTotalMultiplierMs = 1000;
  timeouts.writeTotalConstantMs = 16000;
  if (!os::setSerialTimeouts(port->handle, timeouts))
    return false;
  if (!os::setSerialQueues(port->handle, kQueueBytes, kQueueBytes))
    return false;
  port->serialSettings = defaultLineSettings();
  if (!applySettings(port))
    return false;
  return purgePort(port) && setModemLine(port, os::kEscapeSetDtr) &&
         setModemLine(port, os::kEscapeSetRts) && purgePort(port);
}

// Once "+++" is on its way (a cancelled write still sends what the driver
// took), a module at these settings answers it after its guard time and is
// in command mode: the answer is awaited whatever a cancel says, within the
// I/O time-out, so that the way out knows to send "ATCN".
bool answersAtOnce(SerialPort* port) {
  if (!purgePort(port))
    return false;
  writeRaw(port, "+++", 3);
  const uint32_t waitCount = port->waitCount;
  port->waitCount = 1;
  const bool answered = readEscapeAnswer(port, escapeReplyWindowMs(port)) == 0;
  port->waitCount = waitCount;
  return answered;
}

bool setBaudRate(SerialPort* port, uint32_t rate) {
  port->serialSettings.baudRate = rate;
  return applySettings(port) && purgePort(port);
}

// Break pulses, each one read window long, until the module that the user
// resets answers with a byte. A cancelled pane gets no more pulses: its
// reads end at once, and the pulses would only hammer the line. Neither does
// a device that has gone, which shows as a read window that cannot be
// issued: every call would fail at once, and the loop would spin until the
// window closes. A refused break is no such sign: a driver without break
// support still hears a module that speaks on its own. A line that has no
// break at all (a pseudo-terminal, a network bridge) says so once.
bool pulseUntilModuleSpeaks(SerialPort* port) {
  const uint32_t t0 = os::tickCount();
  bool noBreakLogged = false;
  while (os::tickCount() - t0 < kResetWindowMs) {
    if (port->cancelEvent && os::isEventSet(port->cancelEvent))
      return false;
    const bool broke = os::setBreak(port->handle);
    const bool noBreak = !broke && os::lastError() == os::kErrorNotSupported;
    if (!noBreak)
      logEvent(port, broke ? "break on" : "break refused");
    else if (!noBreakLogged)
      logEvent(port, "break cannot be sent on this line: the reset key needs one");
    noBreakLogged = noBreakLogged || noBreak;
    char byte = 0;
    uint32_t count = 0;
    bool issued = false;
    readBlockTimed(port, &byte, 1, &count, &issued);
    os::clearBreak(port->handle);
    if (broke)
      logEvent(port, "break off");
    if (!issued)
      return false;
    if (count > 0)
      return true;
  }
  return false;
}

struct SettingsReplies {
  char baud[10] = {};
  char parity[3] = {};
  char stopBits[3] = {};
};

void askRaw(SerialPort* port, const char* command, char* reply, uint32_t size) {
  if (cancelRequested(port))
    return;  // the reply stays empty, and the settings are not taken
  writeRaw(port, command, 5);
  readLineRaw(port, reply, size, nullptr);
}

// The reset module is in command mode: its way out goes out whole even
// after a cancel, as the query series' does, bounded by the I/O time-out.
void leaveCommandModeRaw(SerialPort* port) {
  const uint32_t waitCount = port->waitCount;
  port->waitCount = 1;
  char ignored[4] = {};
  writeRaw(port, "ATCN\r", 5);
  readLineRaw(port, ignored, sizeof ignored, nullptr);
  port->waitCount = waitCount;
}

void querySettings(SerialPort* port, SettingsReplies& r) {
  askRaw(port, "ATBD\r", r.baud, sizeof r.baud);
  askRaw(port, "ATNB\r", r.parity, sizeof r.parity);
  askRaw(port, "ATSB\r", r.stopBits, sizeof r.stopBits);
  leaveCommandModeRaw(port);
}

// A reply is good when its hexadecimal digits run up to its CR.
bool parseReply(const char* reply, uint32_t* value) {
  const char* end = nullptr;
  *value = parseHex32(reply, &end);
  return *end == '\r';
}

}  // namespace

os::LineSettings defaultLineSettings() {
  os::LineSettings s{};
  s.baudRate = kCommandBaudRate;
  s.binary = true;
  s.dtrControl = os::kDtrControlEnable;
  s.dsrSensitivity = true;
  s.rtsControl = os::kRtsControlEnable;
  s.xonLim = 8192;
  s.xoffLim = 2048;
  s.byteSize = 8;
  s.parity = os::kNoParity;
  s.stopBits = os::kOneStopBit;
  s.xonChar = 0x11;
  s.xoffChar = 0x13;
  return s;
}

LineGuess defaultLineGuess() {
  return lineGuessOf(defaultLineSettings());
}

LineGuess lineGuessOf(const os::LineSettings& line) {
  return {line.baudRate, line.parity, line.stopBits};
}

bool holdsLineTry(const LineTries& tries, LineGuess guess) {
  for (size_t i = 0; i < tries.count; ++i) {
    if (tries.at[i] == guess)
      return true;
  }
  return false;
}

void addLineTry(LineTries& tries, LineGuess guess) {
  if (guess.baudRate != 0 && tries.count < kLineTriesLimit && !holdsLineTry(tries, guess))
    tries.at[tries.count++] = guess;
}

LineTries everyLineSettingBut(const LineTries& tried) {
  // Modules leave the factory at 9600; 115200 and 38400 are what people and
  // profiles pick most.
  constexpr uint32_t kRates[] = {9600, 115200, 38400, 57600, 19200, 4800, 2400, 1200};
  constexpr struct {
    uint8_t parity, stopBits;
  } kFrames[] = {{os::kNoParity, os::kOneStopBit},   {os::kEvenParity, os::kOneStopBit},
                 {os::kOddParity, os::kOneStopBit},  {os::kNoParity, os::kTwoStopBits},
                 {os::kMarkParity, os::kOneStopBit}, {os::kEvenParity, os::kTwoStopBits},
                 {os::kOddParity, os::kTwoStopBits}, {os::kMarkParity, os::kTwoStopBits}};
  LineTries every;
  for (const auto& frame : kFrames) {
    for (uint32_t rate : kRates) {
      const LineGuess guess{rate, frame.parity, frame.stopBits};
      if (!holdsLineTry(tried, guess))
        addLineTry(every, guess);
    }
  }
  return every;
}

int quickEscape(SerialPort* port) {
  LineTries tries;
  addLineTry(tries, defaultLineGuess());
  return quickEscapeAt(port, tries);
}

int quickEscapeAt(SerialPort* port, const LineTries& tries) {
  if (!configurePort(port))
    return -1;
  for (size_t i = 0; i < tries.count; ++i) {
    const LineGuess& guess = tries.at[i];
    if (lineGuessOf(port->serialSettings) != guess) {
      port->serialSettings.baudRate = guess.baudRate;
      port->serialSettings.parity = guess.parity;
      port->serialSettings.stopBits = guess.stopBits;
      if (!applySettings(port) || !purgePort(port))
        return -1;
    }
    // An operation that just sent on this port (a Link Test's text, a range
    // test's packets, the last try's "+++") would make the module pass the
    // "+++" on as data.
    if (!waitOutGuardTime(port))
      return -1;
    if (answersAtOnce(port)) {
      // The port says so, so that every way out of the read that follows
      // leaves command mode again.
      port->inCommandMode = 1;
      return static_cast<int>(i + 1);
    }
  }
  // The reset procedure begins at 9600, as the module comes back at it.
  if (lineGuessOf(port->serialSettings) == defaultLineGuess())
    return 0;
  port->serialSettings = defaultLineSettings();
  return applySettings(port) && purgePort(port) ? 0 : -1;
}

bool discoverSerialSettings(SerialPort* port, const ResetPrompt& prompt) {
  const int quick = quickEscape(port);
  return quick > 0 || (quick == 0 && searchWithResetKey(port, prompt));
}

bool searchWithResetKey(SerialPort* port, const ResetPrompt& prompt) {
  // A cancel stops the search between its stages: the waits end at once on
  // it, but the stages after them would still drive the line and the prompt.
  if (cancelRequested(port))
    return false;
  writeRaw(port, kRequestFrame, sizeof kRequestFrame);
  char discarded[4];
  uint32_t count = 0;
  readBlockTimed(port, discarded, sizeof discarded, &count);

  if (cancelRequested(port) || !setBaudRate(port, kPulseBaudRate))
    return false;
  const bool asked = prompt.shown && prompt.hidden;
  logEvent(port, "reset key asked");
  if (asked)
    prompt.shown(prompt.context, port->portNumber);
  const bool spoke = pulseUntilModuleSpeaks(port);
  if (asked)
    prompt.hidden(prompt.context, port->portNumber);
  if (!spoke)
    return false;

  // The byte that ended the pulses may still be on the line (one byte at the
  // module's 9600 is several at 38400): let it pass before the purge, or its
  // tail would be taken for the first reply.
  os::sleepMs(kLineSettleMs);
  if (!setBaudRate(port, kCommandBaudRate))
    return false;
  SettingsReplies replies;
  querySettings(port, replies);
  if (!setModemLine(port, os::kEscapeClrDtr) || !purgePort(port))
    return false;

  uint32_t baud = 0, parity = 0, stopBits = 0;
  if (!parseReply(replies.baud, &baud))
    return false;
  if (!parseReply(replies.parity, &parity))
    return false;
  if (!parseReply(replies.stopBits, &stopBits))
    return false;
  port->serialSettings.baudRate = baudRateOfCode(baud);
  port->serialSettings.parity = parityOfCode(static_cast<uint8_t>(parity));
  port->serialSettings.stopBits = stopBitsOfCode(static_cast<uint8_t>(stopBits));
  if (!applySettings(port))
    return false;
  setModemLine(port, os::kEscapeSetDtr);
  return true;
}
