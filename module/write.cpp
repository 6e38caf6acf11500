#include "module/write.h"

#include "link/at_command.h"
#include "link/line_log.h"
#include "link/transfer.h"
#include "module/read.h"

namespace {

// A value that no list or rule offers (a marker of a value never read, a
// code the pane cannot name) is never sent: the module keeps its own, and
// the verifying read shows it.
bool writable(const ModuleRecord& m, Setting s, uint64_t value) {
  const SettingInfo& info = settingInfo(s);
  if (info.choices)
    return valueOffered(m, s, value);
  if (info.flags & kTwoValues)
    return value == info.allowed[0] || value == info.allowed[1];
  return (info.flags & kResetToZero) || value != unreadValue(s);
}

int32_t sendSetting(Session& s, Setting setting) {
  const SettingInfo& info = settingInfo(setting);
  uint64_t value = s.module->shown[setting];
  if (info.toModule)
    value = info.toModule(value);
  switch (setting) {
    case Setting::BaudRate:
      return setBaudCode(s.port, static_cast<uint32_t>(value));
    case Setting::Channel:
      return setChannelMask(s.port, static_cast<uint16_t>(value));
    default:
      break;
  }
  if (info.bytes == 1 && !(info.flags & kAllDigits))
    return setRegister8(s.port, info.setter, static_cast<uint8_t>(value));
  // The PAN ID and the destination's halves: wider than any family.
  const int digits = (info.flags & kAllDigits) ? 2 * info.bytes : 1;
  return setHexRegister(s.port, info.setter, value, digits);
}

// Each setting that differs, in the order the module is given them. The
// Read side follows the module only once it has said "OK"; a PAN ID and a
// channel only once the module has joined its network again with them.
int32_t writeSettings(Session& s, bool* setterSent) {
  ModuleRecord* m = s.module;
  const SettingOrder& order = writeOrder();
  bool rejoin = false;
  for (size_t i = 0; i < order.count; ++i) {
    const Setting setting = order.settings[i];
    if (i > 0 && programClosing(s))
      return ResultCancelled;
    if (isCancelled(s))
      return ResultCancelled;
    const bool sent = appliesTo(setting, m->isMaster != 0) &&
                      m->shown[setting] != m->read[setting] &&
                      writable(*m, setting, m->shown[setting]);
    const bool rejoins = hasFlag(setting, kRejoins);
    const bool lastOfJoin =
        rejoins && (i + 1 == order.count || !hasFlag(order.settings[i + 1], kRejoins));
    // A new channel, last of what the join takes, is a channel change.
    const bool movesChannel = sent && setting == Setting::Channel && lastOfJoin;
    if (sent) {
      *setterSent = true;  // its reply may be lost, yet the module may have taken it
      if (int32_t r = movesChannel ? changeChannel(s) : sendSetting(s, setting))
        return r;
    }
    if (sent && !rejoins)
      m->read[setting] = m->shown[setting];
    rejoin = rejoin || (sent && rejoins);
    if (!lastOfJoin || !rejoin)
      continue;
    if (int32_t r = movesChannel ? 0 : rejoinNetwork(s))
      return r;
    // What was sent before the join now holds; what was not, held already.
    for (size_t j = 0; j <= i; ++j) {
      const Setting joined = order.settings[j];
      if (hasFlag(joined, kRejoins) && writable(*m, joined, m->shown[joined]))
        m->read[joined] = m->shown[joined];
    }
  }
  return 0;
}

// A module must never run setters it has not stored: a power cycle would
// undo them, and the next read would take them for stored. So a write cut
// short (a Cancel, a refused setter, a join that never came) stores what it
// had sent, whatever cancel stands; only a gone port cannot.
// An "ATWR" unanswered may have been lost on the line, and the module would
// run what it never stored: it is asked again (storing twice does no harm),
// but not when the program has only moments left.
constexpr int kStoreTries = 3;

int32_t store(Session& s, bool whateverCancel) {
  const int tries = programClosing(s) ? 1 : kStoreTries;
  int32_t result = 0;
  for (int i = 0; i < tries; ++i) {
    result = whateverCancel ? storeSettings(s.port) : sendCommand5ExpectOk(s.port, "ATWR\r");
    if (result != ErrTimeout)
      break;
  }
  return result;
}

void storeWhatWasSent(Session& s, const char* why) {
  logEvent(s.port, why);
  s.storedPart = store(s, true) == 0;
}

int32_t writeSession(Session& s) {
  if (isCancelled(s))
    return ResultCancelled;
  if (int32_t r = enterCommandMode(s.port))
    return r;
  const int32_t written = writeChanged(s);
  const int32_t exit = exitCommandMode(s.port);
  return written != 0 ? written : exit;
}

// The serial codes the module was talking at when the Write began.
struct LineCodes {
  uint64_t code[kSettingCount] = {};
};

LineCodes lineCodesRead(const ModuleRecord* m) {
  LineCodes codes;
  for (Setting s : kAllSettings) {
    if (hasFlag(s, kLineSetting))
      codes.code[indexOf(s)] = m->read[s];
  }
  return codes;
}

bool lineCodesDiffer(const LineCodes& a, const LineCodes& b) {
  for (Setting s : kAllSettings) {
    if (a.code[indexOf(s)] != b.code[indexOf(s)])
      return true;
  }
  return false;
}

// The module now talks at what it was given; the host follows what changed
// and keeps the rest as it found it talking (a rate that discovery took from
// the module, say, which no code of the pane names).
void followModuleSettings(Session& s, const LineCodes& before) {
  SerialPort* port = s.port;
  os::getLineSettings(port->handle, port->serialSettings);
  for (Setting setting : kAllSettings) {
    const uint64_t now = s.module->read[setting];
    if (hasFlag(setting, kLineSetting) && now != before.code[indexOf(setting)])
      followLineSetting(setting, now, port->serialSettings);
  }
  if (os::setLineSettings(port->handle, port->serialSettings)) {
    logLineSettings(port);
    rememberLine(s);
  } else {
    logEvent(port, "line settings refused");
  }
}

// A sleeping module need not report its join in time.
bool sleeps(const ModuleRecord* m) {
  return appliesTo(Setting::SleepMode, m->isMaster != 0) && m->read[Setting::SleepMode] != 0;
}

}  // namespace

bool programClosing(const Session& s) {
  return s.closing && s.closing->load();
}

int32_t writeChanged(Session& s) {
  purgePort(s.port);
  s.storedPart = false;
  bool setterSent = false;
  int32_t result = writeSettings(s, &setterSent);
  const bool closing = programClosing(s);
  if (result == 0 && !closing && !isCancelled(s)) {
    result = store(s, false);
    if (result != ErrCancelled)
      return result;
  }
  if (setterSent || closing)
    storeWhatWasSent(
        s, closing ? "closing: what was set is stored" : "cut short: what was set is stored");
  return result != 0 && !closing ? result : ResultCancelled;
}

int32_t rejoinNetwork(Session& s) {
  if (isCancelled(s))
    return ResultCancelled;
  sendCommand5ExpectOk(s.port, "ATAC\r");  // the change goes on whatever it answers
  if (isCancelled(s))
    return ResultCancelled;
  if (int32_t r = setNetworkReset(s.port, 0))
    return r;
  if (isCancelled(s))
    return ResultCancelled;
  return waitForAssociation(s);
}

int32_t changeChannel(Session& s) {
  if (isCancelled(s))
    return ResultCancelled;
  if (int32_t r = sendSetting(s, Setting::Channel))
    return r;
  return rejoinNetwork(s);
}

int32_t waitForAssociation(Session& s) {
  const uint32_t start = os::tickCount();
  while (os::tickCount() - start <= kAssociationLimitMs) {
    os::sleepMs(kAssociationPollMs);
    if (isCancelled(s) || programClosing(s))
      return ResultCancelled;
    uint8_t indication = 0xFF;
    if (int32_t r = queryHex8(s.port, "ATAI\r", &indication))
      return r;
    if (indication == 0)
      return 0;
  }
  return sleeps(s.module) ? 0 : ResultJoinTimeout;
}

int32_t writeInSession(Session& s) {
  SerialPort* port = s.port;
  const uint32_t savedTimeout = port->ioTimeoutMs;
  const LineCodes before = lineCodesRead(s.module);
  port->ioTimeoutMs = kWriteIoTimeoutMs;
  int32_t result = writeChanged(s);
  port->ioTimeoutMs = savedTimeout;
  // The module talks at new serial settings only after "ATCN": the read
  // back proves them in a session of their own.
  if (result == 0 && lineCodesDiffer(lineCodesRead(s.module), before)) {
    result = exitCommandMode(port);
    if (result == 0)
      followModuleSettings(s, before);
  }
  if (result == 0)
    result = readAndVerify(s);
  const int32_t ended = endSession(s);
  if (result == 0)
    result = ended;
  if (result != 0) {
    showCleared(s);
    resetPane(s.module);
  } else {
    showModule(s);
  }
  return noteOutcome(s, "Write", result);
}

Outcome writeModule(Session& s) {
  int32_t result = openSessionPort(s);
  if (result != 0)
    return outcomeOf(s, "Write", result);
  SerialPort* port = s.port;
  const uint32_t savedTimeout = port->ioTimeoutMs;
  const LineCodes before = lineCodesRead(s.module);
  port->ioTimeoutMs = kWriteIoTimeoutMs;
  result = writeSession(s);
  port->ioTimeoutMs = savedTimeout;
  if (result == 0 && isValidPort(s.port)) {
    followModuleSettings(s, before);
    result = readAndVerify(s);
    if (result != 0) {
      // The module may hold what was written or not: the face shows and
      // offers nothing until the next Read.
      showCleared(s);
      resetPane(s.module);
    } else {
      showModule(s);
    }
  }
  closeSessionPort(s);
  return outcomeOf(s, "Write", result);
}
