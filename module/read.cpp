#include "module/read.h"

#include <cstring>

#include "link/at_command.h"
#include "link/discovery.h"
#include "link/hex.h"
#include "link/port_activity.h"

const char kMasterNodeId[] = "KOV-NL001/M";
const char kSlaveNodeId[] = "KOV-NL001/S";

namespace {

// A read that takes the module's role as found: the role byte places it, and
// a module that may take either place goes by its node identifier.
void takeRoleOfModule(ModuleRecord* m) {
  const uint8_t role = static_cast<uint8_t>(m->firmwareVersion >> 8);
  if (role == 0x20 || role == 0x22)
    m->isMaster = role == 0x20 ? 1 : 0;
}

bool roleFits(const ModuleRecord* m) {
  const uint8_t role = static_cast<uint8_t>(m->firmwareVersion >> 8);
  if (role == 0x40)
    return true;  // a module that may take either place
  return role == (m->isMaster ? 0x20 : 0x22);
}

int32_t wrongRole(const ModuleRecord* m) {
  return m->isMaster ? ResultNotMaster : ResultNotSlave;
}

// Over the length received: a NUL inside the reply must not end the
// comparison early.
bool nodeIdFits(const ModuleRecord* m, uint32_t length) {
  const char* expected = m->isMaster ? kMasterNodeId : kSlaveNodeId;
  return length == std::strlen(expected) && std::memcmp(m->nodeId, expected, length) == 0;
}

// ---- the steps of the query series ------------------------------------------
// Each runs one query and stores what it got; a value is stored only once
// its query has succeeded.

int32_t guardTimeStep(Session& s) {
  return readGuardTime(s.port);
}

int32_t roleStep(Session& s) {
  if (int32_t r = queryHex16(s.port, "ATVR\r", &s.module->firmwareVersion))
    return r;
  if (s.options.eitherRole)
    takeRoleOfModule(s.module);
  return roleFits(s.module) ? 0 : wrongRole(s.module);
}

int32_t hardwareStep(Session& s) {
  return queryHex16(s.port, "ATHV\r", &s.module->hardwareVersion);
}

int32_t temperatureStep(Session& s) {
  return queryTpText(s.port, s.module->temperatureText);
}

// The identifier is only ever what this read received, whole: a reply cut
// short leaves the record without one.
int32_t nodeIdStep(Session& s) {
  ModuleRecord* m = s.module;
  char received[kNodeIdSize] = {};
  uint32_t length = 0;
  if (int32_t r = queryNodeIdentifier(s.port, received, &length))
    return r;
  std::memcpy(m->nodeId, received, sizeof received);
  if (s.options.eitherRole && !nodeIdFits(m, length) &&
      static_cast<uint8_t>(m->firmwareVersion >> 8) == 0x40) {
    m->isMaster = m->isMaster ? 0 : 1;
  }
  return nodeIdFits(m, length) ? 0 : wrongRole(m);
}

int32_t serialLowStep(Session& s) {
  return queryHex32(s.port, "ATSL\r", &s.module->serialLow);
}

int32_t serialHighStep(Session& s) {
  return queryHex32(s.port, "ATSH\r", &s.module->serialHigh);
}

// The queries that say who the module is, at their places in the read
// series; the settings' queries take the other places, as their table says.
struct IdentityStep {
  uint8_t place;
  int32_t (*run)(Session& s);
};

constexpr IdentityStep kIdentitySteps[] = {
    {0, guardTimeStep}, {1, roleStep},      {4, hardwareStep},   {5, temperatureStep},
    {6, nodeIdStep},    {7, serialLowStep}, {8, serialHighStep},
};

int32_t queryWidth(SerialPort* port, const char* command, uint8_t bytes, uint64_t* value) {
  switch (bytes) {
    case 1: {
      uint8_t v = 0;
      const int32_t r = queryHex8(port, command, &v);
      *value = v;
      return r;
    }
    case 2: {
      uint16_t v = 0;
      const int32_t r = queryHex16(port, command, &v);
      *value = v;
      return r;
    }
    case 4: {
      uint32_t v = 0;
      const int32_t r = queryHex32(port, command, &v);
      *value = v;
      return r;
    }
    default:
      return queryExtendedPanId(port, value);
  }
}

// Both Read and Shown take what the module reports.
int32_t settingStep(Session& s, Setting setting) {
  const SettingInfo& info = settingInfo(setting);
  uint64_t value = 0;
  if (int32_t r = queryWidth(s.port, info.query, info.moduleBytes, &value))
    return r;
  if (info.fromModule)
    value = info.fromModule(value);
  s.module->read[setting] = s.module->shown[setting] = value;
  return 0;
}

// The step at a place of the series; false when it does not run for this
// module (a slave's setting on a master).
bool runStep(Session& s, uint8_t place, int32_t* result) {
  for (const IdentityStep& step : kIdentitySteps) {
    if (step.place == place) {
      *result = isCancelled(s) ? ResultCancelled : step.run(s);
      return true;
    }
  }
  for (Setting setting : kAllSettings) {
    const SettingInfo& info = settingInfo(setting);
    if (info.query && info.readStep == place) {
      if (!appliesTo(setting, s.module->isMaster != 0))
        return false;
      *result = isCancelled(s) ? ResultCancelled : settingStep(s, setting);
      return true;
    }
  }
  return false;
}

// Warnings only: the read stands whatever the other module holds.
void compareWithOther(const Session& s) {
  const ModuleRecord& other = s.options.other;
  const ModuleRecord* m = s.module;
  if (!s.options.pairWarnings || other.nodeId[0] == 0)
    return;
  if (m->shown[Setting::PanId] != other.read[Setting::PanId])
    showWarning(s, L"Extended PAN ID is not match.");
  if (destination(m->shown) != serialNumber(other))
    showWarning(s, L"Destination address is not correct.");
}

// Nothing is kept that did not come whole; a module that does not answer
// these stays refused for its role, unnamed.
void nameRefusedModule(Session& s) {
  ModuleRecord* m = s.module;
  if (m->nodeId[0] == 0 && !isCancelled(s)) {
    char received[kNodeIdSize] = {};
    uint32_t length = 0;
    if (queryNodeIdentifier(s.port, received, &length) == 0)
      std::memcpy(m->nodeId, received, sizeof received);
  }
  uint32_t high = 0, low = 0;
  if (!isCancelled(s) && queryHex32(s.port, "ATSH\r", &high) == 0 &&
      queryHex32(s.port, "ATSL\r", &low) == 0) {
    m->serialHigh = high;
    m->serialLow = low;
  }
}

bool refusedForRole(int32_t result) {
  return result == ResultNotMaster || result == ResultNotSlave;
}

// A refused module keeps its identifier for the message that names it; the
// face empties its record after that message.
void forgetPartialRead(Session& s, int32_t result) {
  if (!refusedForRole(result))
    resetPane(s.module);
}

}  // namespace

LineTries quickTries(const Session& s) {
  const LineSearch& search = s.options.search;
  LineTries tries;
  addLineTry(tries, search.named);
  if (search.memory && s.portNumber < kPortTableSize)
    addLineTry(tries, search.memory->port[s.portNumber]);
  // Where the module was last found or set, by any process on the machine.
  LineGuess noted;
  if (knownModuleLine(s.portNumber, &noted.baudRate, &noted.parity, &noted.stopBits))
    addLineTry(tries, noted);
  addLineTry(tries, defaultLineGuess());
  addLineTry(tries, search.profile);
  return tries;
}

namespace {

int32_t notFound(const Session& s, int found) {
  if (isCancelled(s))
    return ResultCancelled;
  return found == 0 && !s.options.search.resetKey ? ResultNotFound : ErrNoPort;
}

// quickTried: the quick tries were made and missed.
int32_t searchModule(Session& s, bool quickTried) {
  const LineSearch& search = s.options.search;
  int found = quickTried ? 0 : quickEscapeAt(s.port, quickTries(s));
  if (found == 0 && search.everySetting)
    found = quickEscapeAt(s.port, everyLineSettingBut(quickTries(s)));
  if (found > 0 || (found == 0 && search.resetKey && searchWithResetKey(s.port, s.resetPrompt))) {
    rememberLine(s);
    return 0;
  }
  return notFound(s, found);
}

}  // namespace

int32_t findModuleSettings(Session& s) {
  return searchModule(s, false);
}

int32_t portNumberFromText(const wchar_t* text) {
  const wchar_t* com = nullptr;
  for (const wchar_t* p = text; p && *p && !com; ++p) {
    if (p[0] == L'C' && p[1] == L'O' && p[2] == L'M')
      com = p;
  }
  if (!com)
    return -1;
  // A number too large for a port saturates to -1, no port.
  return static_cast<int32_t>(decimalAsWcstoul(com + 3));
}

int32_t openSessionPort(Session& s) {
  if (s.port)
    return 0;
  if (s.portNumber == 0)
    return ErrNoPort;
  if (isCancelled(s))
    return ResultCancelled;
  s.port = openPort(s.portNumber, s.finishing ? nullptr : s.cancelEvent);
  // Why it would not open, before anything else can set the error.
  s.openError = s.port ? 0 : os::lastError();
  if (s.port)
    s.port->lineLog = s.lineLog;
  return s.port ? 0 : ErrNoPort;
}

void closeSessionPort(Session& s) {
  if (s.port) {
    closePort(s.port);
    s.port = nullptr;
  }
}

int32_t readSequence(Session& s) {
  for (uint8_t place = 0; place < kReadSeriesLength; ++place) {
    int32_t result = 0;
    if (runStep(s, place, &result) && result != 0)
      return result;
  }
  s.module->channelLimit = kLastChannel;
  deriveModeState(s.module);
  return 0;
}

int32_t readAndVerify(Session& s) {
  resetPane(s.module);
  int32_t result = isCancelled(s) ? ResultCancelled : enterCommandMode(s.port);
  if (result == 0)
    result = readSequence(s);
  if (s.options.nameRefused && refusedForRole(result))
    nameRefusedModule(s);
  // Every way out leaves command mode: also a cancel before the "+++", when
  // discovery's own "+++" put the module there.
  const int32_t exit = exitCommandMode(s.port);
  if (result != 0)
    return result;
  if (exit != 0)
    return exit;
  compareWithOther(s);
  return 0;
}

int32_t tryQuickEscape(Session& s) {
  showCleared(s);
  resetPane(s.module);
  int32_t result = openSessionPort(s);
  const int found = result == 0 ? quickEscapeAt(s.port, quickTries(s)) : 0;
  if (found < 0)
    result = notFound(s, found);
  if (found > 0)
    rememberLine(s);
  if (result != 0)
    endSession(s);
  return noteOutcome(s, "Read", result);
}

int32_t readInSession(Session& s) {
  int32_t result = 0;
  const bool opened = !s.port;
  if (opened) {
    showCleared(s);
    resetPane(s.module);
    result = openSessionPort(s);
  }
  // Opened here: searched in full; after its quick "+++" was not taken:
  // the rest of the search.
  if (result == 0 && !s.port->inCommandMode)
    result = searchModule(s, !opened);
  if (result == 0) {
    resetPane(s.module);
    result = isCancelled(s) ? ResultCancelled : enterCommandMode(s.port);
  }
  if (result == 0)
    result = readSequence(s);
  if (s.options.nameRefused && refusedForRole(result))
    nameRefusedModule(s);
  if (result != 0) {
    endSession(s);
    forgetPartialRead(s, result);
  }
  return noteOutcome(s, "Read", result);
}

int32_t endSession(Session& s) {
  if (!s.port)
    return 0;
  const int32_t result = exitCommandMode(s.port);
  closeSessionPort(s);
  return result;
}

Outcome readModule(Session& s) {
  // The record goes with the display: a Read that ends short must leave
  // nothing of the module read before for Write or Set Default to bring back.
  int32_t result = readInSession(s);
  if (result == 0)
    result = endSession(s);
  if (result != 0) {
    forgetPartialRead(s, result);
    return outcomeOf(s, "Read", result);
  }
  compareWithOther(s);
  showChannels(s);
  showModule(s);
  return outcomeOf(s, "Read", 0);
}
