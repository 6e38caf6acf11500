#include "module/read.h"

#include <cstring>

#include "link/at_command.h"
#include "link/discovery.h"
#include "module/view_hooks.h"

const char kMasterNodeId[] = "KOV-NL001/M";
const char kSlaveNodeId[] = "KOV-NL001/S";

namespace {

constexpr uint32_t kPortTextSize = 512;

bool roleFits(const PaneRecord* pane) {
  const uint8_t role = static_cast<uint8_t>(pane->firmwareVersion >> 8);
  if (role == 0x40)
    return true;  // a module that may take either place
  return role == (pane->isMaster ? 0x20 : 0x22);
}

int32_t wrongRole(const PaneRecord* pane) {
  return pane->isMaster ? ResultNotMaster : ResultNotSlave;
}

bool nodeIdFits(const PaneRecord* pane) {
  return std::strcmp(pane->nodeId, pane->isMaster ? kMasterNodeId : kSlaveNodeId) == 0;
}

// Both Read and Shown take what the module reports. value is read only
// here, after the query that fills it has run.
template <typename T>
int32_t queryPair(int32_t result, const T& value, T& read, T& shown) {
  if (result == 0)
    read = shown = value;
  return result;
}

int32_t readIdentity(PaneRecord* pane) {
  SerialPort* port = pane->port;
  if (isCancelled(pane))
    return ResultCancelled;
  if (int32_t r = readGuardTime(port))
    return r;
  if (isCancelled(pane))
    return ResultCancelled;
  if (int32_t r = queryHex16(port, "ATVR\r", &pane->firmwareVersion))
    return r;
  if (!roleFits(pane))
    return wrongRole(pane);
  if (isCancelled(pane))
    return ResultCancelled;
  uint64_t panId = 0;
  if (int32_t r =
          queryPair(queryExtendedPanId(port, &panId), panId, pane->panIdRead, pane->panIdShown)) {
    return r;
  }
  if (isCancelled(pane))
    return ResultCancelled;
  uint16_t oi = 0;
  if (int32_t r = queryPair(queryHex16(port, "ATOI\r", &oi), oi, pane->operatingPanIdRead,
                            pane->operatingPanIdShown)) {
    return r;
  }
  if (isCancelled(pane))
    return ResultCancelled;
  if (int32_t r = queryHex16(port, "ATHV\r", &pane->hardwareVersion))
    return r;
  if (isCancelled(pane))
    return ResultCancelled;
  if (int32_t r = queryTpText(port, pane->temperatureText))
    return r;
  if (isCancelled(pane))
    return ResultCancelled;
  uint32_t length = 0;
  if (int32_t r = queryNodeIdentifier(port, pane->nodeId, &length))
    return r;
  if (!nodeIdFits(pane))
    return wrongRole(pane);
  return 0;
}

int32_t readAddresses(PaneRecord* pane) {
  SerialPort* port = pane->port;
  if (isCancelled(pane))
    return ResultCancelled;
  if (int32_t r = queryHex32(port, "ATSL\r", &pane->serialLow))
    return r;
  if (isCancelled(pane))
    return ResultCancelled;
  if (int32_t r = queryHex32(port, "ATSH\r", &pane->serialHigh))
    return r;
  uint32_t value = 0;
  if (isCancelled(pane))
    return ResultCancelled;
  if (int32_t r = queryPair(queryHex32(port, "ATDL\r", &value), value, pane->destLowRead,
                            pane->destLowShown)) {
    return r;
  }
  if (isCancelled(pane))
    return ResultCancelled;
  return queryPair(queryHex32(port, "ATDH\r", &value), value, pane->destHighRead,
                   pane->destHighShown);
}

int32_t readByte(PaneRecord* pane, const char* command, uint8_t& read, uint8_t& shown) {
  if (isCancelled(pane))
    return ResultCancelled;
  uint8_t value = 0;
  return queryPair(queryHex8(pane->port, command, &value), value, read, shown);
}

int32_t readSettings(PaneRecord* pane) {
  SerialPort* port = pane->port;
  if (isCancelled(pane))
    return ResultCancelled;
  uint16_t mask = 0;
  if (int32_t r = queryHex16(port, "ATSC\r", &mask))
    return r;
  pane->channelRead = pane->channelShown = channelFromMask(mask);
  if (isCancelled(pane))
    return ResultCancelled;
  uint32_t baud = 0;
  if (int32_t r = queryPair(queryHex32(port, "ATBD\r", &baud), baud, pane->baudCodeRead,
                            pane->baudCodeShown)) {
    return r;
  }
  if (int32_t r = readByte(pane, "ATNB\r", pane->parityCodeRead, pane->parityCodeShown))
    return r;
  if (int32_t r = readByte(pane, "ATSB\r", pane->stopBitsCodeRead, pane->stopBitsCodeShown)) {
    return r;
  }
  if (int32_t r = readByte(pane, "ATPL\r", pane->powerLevelRead, pane->powerLevelShown))
    return r;
  if (int32_t r = readByte(pane, "ATPM\r", pane->boostModeRead, pane->boostModeShown))
    return r;
  if (!pane->isMaster) {
    if (int32_t r = readByte(pane, "ATSM\r", pane->sleepModeRead, pane->sleepModeShown))
      return r;
  }
  if (int32_t r = readByte(pane, "ATD7\r", pane->d7ConfigRead, pane->d7ConfigShown))
    return r;
  if (int32_t r = readByte(pane, "ATD6\r", pane->d6ConfigRead, pane->d6ConfigShown))
    return r;
  pane->channelLimit = 26;
  return 0;
}

// Warnings only: the read stands whatever the other module holds.
void compareWithOtherPane(const PaneRecord* pane) {
  const PaneRecord* other = otherPane(pane);
  if (other->nodeId[0] == 0)
    return;
  if (pane->panIdShown != other->panIdRead)
    showError(L"Extended PAN ID is not match.");
  if (pane->destLowShown != other->serialLow || pane->destHighShown != other->serialHigh) {
    showError(L"Destination address is not correct.");
  }
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
  pane->port = openPort(static_cast<uint32_t>(pane->portNumber), pane->cancelEvent);
  return pane->port ? 0 : ErrNoPort;
}

int32_t readSequence(PaneRecord* pane) {
  if (int32_t r = readIdentity(pane))
    return r;
  if (int32_t r = readAddresses(pane))
    return r;
  if (int32_t r = readSettings(pane))
    return r;
  deriveModeState(pane);
  return 0;
}

int32_t readAndVerify(PaneRecord* pane) {
  resetPane(pane);
  if (isCancelled(pane))
    return ResultCancelled;
  if (int32_t r = enterCommandMode(pane->port))
    return r;
  const int32_t sequence = readSequence(pane);
  const int32_t exit = exitCommandMode(pane->port);
  if (sequence != 0)
    return sequence;
  if (exit != 0)
    return exit;
  compareWithOtherPane(pane);
  return 0;
}

int32_t readBody(PaneRecord* pane) {
  clearPaneDisplay(pane);
  int32_t result = openPanePort(pane);
  if (result == 0) {
    if (!discoverSerialSettings(pane->port, pane->resetPrompt)) {
      result = ErrNoPort;
    } else {
      result = readAndVerify(pane);
      if (result == 0) {
        fillChannelList(pane->channelCombo, pane->channelLimit);
        displayPane(pane);
      }
    }
    closePort(pane->port);
    pane->port = nullptr;
  }
  postOperationDone(pane->progressDialog, pane);
  return result;
}
