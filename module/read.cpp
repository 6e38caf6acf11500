#include "module/read.h"

#include <cstring>

#include "link/at_command.h"
#include "link/discovery.h"
#include "module/view_hooks.h"

const char kMasterNodeId[] = "KOV-NL001/M";
const char kSlaveNodeId[] = "KOV-NL001/S";

namespace {

constexpr uint32_t kPortTextSize = 512;

bool eitherRoleTaken = false;
bool refusedModuleNamed = false;

// A read that takes the module's role as found: the role byte places it, and
// a module that may take either place goes by its node identifier.
void takeRoleOfModule(PaneRecord* pane) {
  const uint8_t role = static_cast<uint8_t>(pane->firmwareVersion >> 8);
  if (role == 0x20 || role == 0x22)
    pane->isMaster = role == 0x20 ? 1 : 0;
}

bool roleFits(const PaneRecord* pane) {
  const uint8_t role = static_cast<uint8_t>(pane->firmwareVersion >> 8);
  if (role == 0x40)
    return true;  // a module that may take either place
  return role == (pane->isMaster ? 0x20 : 0x22);
}

int32_t wrongRole(const PaneRecord* pane) {
  return pane->isMaster ? ResultNotMaster : ResultNotSlave;
}

// Over the length received: a NUL inside the reply must not end the
// comparison early.
bool nodeIdFits(const PaneRecord* pane, uint32_t length) {
  const char* expected = pane->isMaster ? kMasterNodeId : kSlaveNodeId;
  return length == std::strlen(expected) && std::memcmp(pane->nodeId, expected, length) == 0;
}

// ---- the steps of the query series ------------------------------------------
// Each runs one query and stores what it got; a value is stored only once
// its query has succeeded.

int32_t guardTimeStep(PaneRecord* pane, const char*) {
  return readGuardTime(pane->port);
}

int32_t roleStep(PaneRecord* pane, const char* command) {
  if (int32_t r = queryHex16(pane->port, command, &pane->firmwareVersion))
    return r;
  if (eitherRoleTaken)
    takeRoleOfModule(pane);
  return roleFits(pane) ? 0 : wrongRole(pane);
}

int32_t panIdStep(PaneRecord* pane, const char*) {
  uint64_t value = 0;
  if (int32_t r = queryExtendedPanId(pane->port, &value))
    return r;
  pane->panIdRead = pane->panIdShown = value;
  return 0;
}

template <typename T>
int32_t queryInto(SerialPort* port, const char* command, T* out) {
  if constexpr (sizeof(T) == 1)
    return queryHex8(port, command, out);
  else if constexpr (sizeof(T) == 2)
    return queryHex16(port, command, out);
  else
    return queryHex32(port, command, out);
}

// A value the pane only keeps.
template <auto Field>
int32_t keepStep(PaneRecord* pane, const char* command) {
  return queryInto(pane->port, command, &(pane->*Field));
}

// A parameter: both Read and Shown take what the module reports.
template <auto Read, auto Shown>
int32_t pairStep(PaneRecord* pane, const char* command) {
  auto value = pane->*Read;
  if (int32_t r = queryInto(pane->port, command, &value))
    return r;
  pane->*Read = pane->*Shown = value;
  return 0;
}

int32_t temperatureStep(PaneRecord* pane, const char*) {
  return queryTpText(pane->port, pane->temperatureText);
}

// The identifier is only ever what this read received, whole: a reply cut
// short leaves the pane without one.
int32_t nodeIdStep(PaneRecord* pane, const char*) {
  char received[kNodeIdSize] = {};
  uint32_t length = 0;
  if (int32_t r = queryNodeIdentifier(pane->port, received, &length))
    return r;
  std::memcpy(pane->nodeId, received, sizeof received);
  if (eitherRoleTaken && !nodeIdFits(pane, length) &&
      static_cast<uint8_t>(pane->firmwareVersion >> 8) == 0x40) {
    pane->isMaster = pane->isMaster ? 0 : 1;
  }
  return nodeIdFits(pane, length) ? 0 : wrongRole(pane);
}

int32_t channelStep(PaneRecord* pane, const char* command) {
  uint16_t mask = 0;
  if (int32_t r = queryHex16(pane->port, command, &mask))
    return r;
  pane->channelRead = pane->channelShown = channelFromMask(mask);
  return 0;
}

struct ReadStep {
  const char* command;
  int32_t (*run)(PaneRecord* pane, const char* command);
  bool slaveOnly;
};

// The query series, in the order the module is asked. A cancel check comes
// before every step that runs; the first failing step ends the series.
constexpr ReadStep kReadSteps[] = {
    {"ATGT\r", guardTimeStep, false},
    {"ATVR\r", roleStep, false},
    {"ATID\r", panIdStep, false},
    {"ATOI\r", pairStep<&PaneRecord::operatingPanIdRead, &PaneRecord::operatingPanIdShown>, false},
    {"ATHV\r", keepStep<&PaneRecord::hardwareVersion>, false},
    {"ATTP\r", temperatureStep, false},
    {"ATNI\r", nodeIdStep, false},
    {"ATSL\r", keepStep<&PaneRecord::serialLow>, false},
    {"ATSH\r", keepStep<&PaneRecord::serialHigh>, false},
    {"ATDL\r", pairStep<&PaneRecord::destLowRead, &PaneRecord::destLowShown>, false},
    {"ATDH\r", pairStep<&PaneRecord::destHighRead, &PaneRecord::destHighShown>, false},
    {"ATSC\r", channelStep, false},
    {"ATBD\r", pairStep<&PaneRecord::baudCodeRead, &PaneRecord::baudCodeShown>, false},
    {"ATNB\r", pairStep<&PaneRecord::parityCodeRead, &PaneRecord::parityCodeShown>, false},
    {"ATSB\r", pairStep<&PaneRecord::stopBitsCodeRead, &PaneRecord::stopBitsCodeShown>, false},
    {"ATPL\r", pairStep<&PaneRecord::powerLevelRead, &PaneRecord::powerLevelShown>, false},
    {"ATPM\r", pairStep<&PaneRecord::boostModeRead, &PaneRecord::boostModeShown>, false},
    {"ATSM\r", pairStep<&PaneRecord::sleepModeRead, &PaneRecord::sleepModeShown>, true},
    {"ATD7\r", pairStep<&PaneRecord::d7ConfigRead, &PaneRecord::d7ConfigShown>, false},
    {"ATD6\r", pairStep<&PaneRecord::d6ConfigRead, &PaneRecord::d6ConfigShown>, false},
};

bool pairWarningsShown = true;

// Warnings only: the read stands whatever the other module holds.
void compareWithOtherPane(const PaneRecord* pane) {
  // Not a look at the other pane unless warned of: a pair run reads it on
  // another thread meanwhile.
  if (!pairWarningsShown)
    return;
  const PaneRecord* other = otherPane(pane);
  if (other->nodeId[0] == 0)
    return;
  if (pane->panIdShown != other->panIdRead)
    showError(L"Extended PAN ID is not match.");
  if (pane->destLowShown != other->serialLow || pane->destHighShown != other->serialHigh) {
    showError(L"Destination address is not correct.");
  }
}

// Nothing is kept that did not come whole; a module that does not answer
// these stays refused for its role, unnamed.
void nameRefusedModule(PaneRecord* pane) {
  if (pane->nodeId[0] == 0 && !isCancelled(pane)) {
    char received[kNodeIdSize] = {};
    uint32_t length = 0;
    if (queryNodeIdentifier(pane->port, received, &length) == 0)
      std::memcpy(pane->nodeId, received, sizeof received);
  }
  uint32_t high = 0, low = 0;
  if (!isCancelled(pane) && queryHex32(pane->port, "ATSH\r", &high) == 0 &&
      queryHex32(pane->port, "ATSL\r", &low) == 0) {
    pane->serialHigh = high;
    pane->serialLow = low;
  }
}

// A refused module keeps its identifier for the message that names it; the
// runner empties the pane after that message.
void forgetPartialRead(PaneRecord* pane, int32_t result) {
  if (result != ResultNotMaster && result != ResultNotSlave)
    resetPane(pane);
}

}  // namespace

int32_t portNumberFromText(const wchar_t* text) {
  const wchar_t* com = nullptr;
  for (const wchar_t* p = text; p && *p && !com; ++p) {
    if (p[0] == L'C' && p[1] == L'O' && p[2] == L'M')
      com = p;
  }
  if (!com)
    return -1;
  // As the C library's wcstoul reads it: white space, a sign, decimal
  // digits, saturating at 2^32 - 1 and negated modulo 2^32.
  const wchar_t* p = com + 3;
  while (*p == L' ' || (*p >= L'\t' && *p <= L'\r'))
    ++p;
  const bool negative = *p == L'-';
  if (*p == L'-' || *p == L'+')
    ++p;
  uint64_t value = 0;
  for (; *p >= L'0' && *p <= L'9'; ++p) {
    value = value * 10 + static_cast<uint64_t>(*p - L'0');
    if (value > UINT32_MAX)
      return -1;  // saturated: 0xFFFFFFFF
  }
  const auto v = static_cast<uint32_t>(value);
  return static_cast<int32_t>(negative ? 0u - v : v);
}

int32_t openPanePort(PaneRecord* pane) {
  if (pane->port)
    return 0;
  wchar_t text[kPortTextSize] = {};
  controlText(pane->portCombo, text, kPortTextSize);
  pane->portNumber = portNumberFromText(text);
  if (pane->portNumber == 0)
    return ErrNoPort;
  if (isCancelled(pane))
    return ResultCancelled;
  pane->port = openPort(static_cast<uint32_t>(pane->portNumber),
                        pane->finishing ? nullptr : pane->cancelEvent);
  return pane->port ? 0 : ErrNoPort;
}

int32_t readSequence(PaneRecord* pane) {
  for (const ReadStep& step : kReadSteps) {
    if (step.slaveOnly && pane->isMaster)
      continue;
    if (isCancelled(pane))
      return ResultCancelled;
    if (int32_t r = step.run(pane, step.command))
      return r;
  }
  pane->channelLimit = 26;
  deriveModeState(pane);
  return 0;
}

int32_t readAndVerify(PaneRecord* pane) {
  resetPane(pane);
  int32_t result = isCancelled(pane) ? ResultCancelled : enterCommandMode(pane->port);
  if (result == 0)
    result = readSequence(pane);
  if (refusedModuleNamed && (result == ResultNotMaster || result == ResultNotSlave))
    nameRefusedModule(pane);
  // Every way out leaves command mode: also a cancel before the "+++", when
  // discovery's own "+++" put the module there.
  const int32_t exit = exitCommandMode(pane->port);
  if (result != 0)
    return result;
  if (exit != 0)
    return exit;
  compareWithOtherPane(pane);
  return 0;
}

void readTakesEitherRole(bool either) {
  eitherRoleTaken = either;
}

int32_t sharedPanePort() {
  wchar_t master[kPortTextSize] = {}, slave[kPortTextSize] = {};
  controlText(masterPane.portCombo, master, kPortTextSize);
  controlText(slavePane.portCombo, slave, kPortTextSize);
  const int32_t number = portNumberFromText(master);
  return number > 0 && number == portNumberFromText(slave) ? number : 0;
}

void readNamesRefusedModule(bool named) {
  refusedModuleNamed = named;
}

void showPairWarnings(bool shown) {
  pairWarningsShown = shown;
}

int32_t readBody(PaneRecord* pane) {
  const int32_t result = readPane(pane);
  postOperationDone(pane->progressDialog, pane);
  return result;
}

int32_t tryQuickEscape(PaneRecord* pane) {
  clearPaneDisplay(pane);
  resetPane(pane);
  int32_t result = openPanePort(pane);
  if (result == 0 && quickEscape(pane->port) < 0)
    result = isCancelled(pane) ? ResultCancelled : ErrNoPort;
  if (result != 0)
    endSession(pane);
  return result;
}

int32_t readInSession(PaneRecord* pane) {
  int32_t result = 0;
  const bool opened = !pane->port;
  if (opened) {
    clearPaneDisplay(pane);
    resetPane(pane);
    result = openPanePort(pane);
  }
  // Opened here: searched in full; after its quick "+++" was not taken:
  // the rest of the search.
  if (result == 0 && !pane->port->inCommandMode &&
      !(opened ? discoverSerialSettings(pane->port, pane->resetPrompt)
               : searchWithResetKey(pane->port, pane->resetPrompt)))
    result = isCancelled(pane) ? ResultCancelled : ErrNoPort;
  if (result == 0) {
    resetPane(pane);
    result = isCancelled(pane) ? ResultCancelled : enterCommandMode(pane->port);
  }
  if (result == 0)
    result = readSequence(pane);
  if (refusedModuleNamed && (result == ResultNotMaster || result == ResultNotSlave))
    nameRefusedModule(pane);
  if (result != 0) {
    endSession(pane);
    forgetPartialRead(pane, result);
  }
  return result;
}

int32_t endSession(PaneRecord* pane) {
  if (!pane->port)
    return 0;
  const int32_t result = exitCommandMode(pane->port);
  closePort(pane->port);
  pane->port = nullptr;
  return result;
}

int32_t readPane(PaneRecord* pane) {
  // The record goes with the display: a Read that ends short must leave
  // nothing of the module read before for Write or Set Default to bring back.
  int32_t result = readInSession(pane);
  if (result == 0)
    result = endSession(pane);
  if (result != 0) {
    forgetPartialRead(pane, result);
    return result;
  }
  compareWithOtherPane(pane);
  fillChannelList(pane->channelCombo, pane->channelLimit);
  displayPane(pane);
  return 0;
}
