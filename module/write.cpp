#include "module/write.h"

#include <atomic>

#include "link/at_command.h"
#include "link/line_log.h"
#include "link/transfer.h"
#include "module/read.h"
#include "module/view_hooks.h"

namespace {

std::atomic<bool> closingNoted{false};

constexpr uint8_t kNoSleep = 0;
constexpr uint8_t kCyclicSleep = 4;

template <uint8_t Count>
bool below(uint8_t value) {
  return value < Count;
}

template <uint8_t A, uint8_t B>
bool eitherOf(uint8_t value) {
  return value == A || value == B;
}

// A byte-sized setting, sent when its Shown value differs from its Read one.
// The mode fields are offered only as the pairs that the pane's rules set.
struct ByteField {
  const char* name;
  uint8_t PaneRecord::*shown;
  uint8_t PaneRecord::*read;
  bool (*offered)(uint8_t value);
  bool slaveOnly;
};

// In the order the module is given them, after the channel and the baud code.
constexpr ByteField kByteFields[] = {
    {"ATNB", &PaneRecord::parityCodeShown, &PaneRecord::parityCodeRead, below<kParityCodeCount>,
     false},
    {"ATSB", &PaneRecord::stopBitsCodeShown, &PaneRecord::stopBitsCodeRead,
     below<kStopBitsCodeCount>, false},
    {"ATPL", &PaneRecord::powerLevelShown, &PaneRecord::powerLevelRead, below<kPowerLevelCount>,
     false},
    {"ATPM", &PaneRecord::boostModeShown, &PaneRecord::boostModeRead, below<kBoostModeCount>,
     false},
    {"ATSM", &PaneRecord::sleepModeShown, &PaneRecord::sleepModeRead,
     eitherOf<kNoSleep, kCyclicSleep>, true},
    {"ATD7", &PaneRecord::d7ConfigShown, &PaneRecord::d7ConfigRead, eitherOf<1, 4>, false},
    {"ATD6", &PaneRecord::d6ConfigShown, &PaneRecord::d6ConfigRead, eitherOf<0, 1>, false},
};

// A value that is no entry of its list (a marker of a value never read, a
// code the pane cannot name) is never sent: the module keeps its own, and
// the verifying read shows it. The Read side follows the module only once
// the module has said "OK".
int32_t writeByteField(PaneRecord* pane, const ByteField& field) {
  if (isCancelled(pane))
    return ResultCancelled;
  const uint8_t shown = pane->*field.shown;
  if (shown == pane->*field.read || !field.offered(shown))
    return 0;
  if (int32_t r = setRegister8(pane->port, field.name, shown))
    return r;
  pane->*field.read = shown;
  return 0;
}

constexpr uint64_t kNoPanId = ~uint64_t{0};

// The module takes a new PAN ID at once but joins with it only when told
// to apply its network settings, which the channel step does.
int32_t writePanId(PaneRecord* pane, bool* rejoin) {
  if (isCancelled(pane))
    return ResultCancelled;
  if (pane->panIdShown == pane->panIdRead || pane->panIdShown == kNoPanId)
    return 0;
  if (int32_t r = setExtendedPanId(pane->port, pane->panIdShown))
    return r;
  *rejoin = true;
  return 0;
}

// A Read value changes only once the module has joined again with it.
int32_t writeChannel(PaneRecord* pane, bool rejoin) {
  if (isCancelled(pane))
    return ResultCancelled;
  const bool channel =
      pane->channelShown != pane->channelRead && channelOffered(pane, pane->channelShown);
  if (!channel && !rejoin)
    return 0;
  if (int32_t r = channel ? changeChannel(pane) : rejoinNetwork(pane))
    return r;
  if (channel)
    pane->channelRead = pane->channelShown;
  if (rejoin)
    pane->panIdRead = pane->panIdShown;
  return 0;
}

int32_t writeAddressHalf(PaneRecord* pane, uint32_t PaneRecord::*shown, uint32_t PaneRecord::*read,
                         int32_t (*setter)(SerialPort* port, uint32_t half)) {
  if (isCancelled(pane))
    return ResultCancelled;
  if (pane->*shown == pane->*read)
    return 0;
  if (int32_t r = setter(pane->port, pane->*shown))
    return r;
  pane->*read = pane->*shown;
  return 0;
}

int32_t writeDestination(PaneRecord* pane) {
  if (int32_t r = writeAddressHalf(pane, &PaneRecord::destHighShown, &PaneRecord::destHighRead,
                                   setDestinationHigh))
    return r;
  return writeAddressHalf(pane, &PaneRecord::destLowShown, &PaneRecord::destLowRead,
                          setDestinationLow);
}

int32_t writeBaud(PaneRecord* pane) {
  if (isCancelled(pane))
    return ResultCancelled;
  if (pane->baudCodeShown == pane->baudCodeRead || pane->baudCodeShown >= kBaudCodeCount)
    return 0;
  if (int32_t r = setBaudCode(pane->port, pane->baudCodeShown))
    return r;
  pane->baudCodeRead = pane->baudCodeShown;
  return 0;
}

int32_t writeSession(PaneRecord* pane) {
  if (isCancelled(pane))
    return ResultCancelled;
  if (int32_t r = enterCommandMode(pane->port))
    return r;
  const int32_t written = writeChanged(pane);
  const int32_t exit = exitCommandMode(pane->port);
  return written != 0 ? written : exit;
}

// The serial codes the module was talking at when the Write began.
struct SerialCodes {
  uint32_t baud;
  uint8_t parity;
  uint8_t stopBits;
};

SerialCodes serialCodesRead(const PaneRecord* pane) {
  return {pane->baudCodeRead, pane->parityCodeRead, pane->stopBitsCodeRead};
}

// The module now talks at what it was given; the host follows what changed
// and keeps the rest as it found it talking (a rate that discovery took from
// the module, say, which no code of the pane names).
void followModuleSettings(PaneRecord* pane, const SerialCodes& before) {
  SerialPort* port = pane->port;
  os::getLineSettings(port->handle, port->serialSettings);
  if (pane->baudCodeRead != before.baud)
    port->serialSettings.baudRate = baudRateOfCode(pane->baudCodeRead);
  if (pane->parityCodeRead != before.parity)
    port->serialSettings.parity = parityOfCode(pane->parityCodeRead);
  if (pane->stopBitsCodeRead != before.stopBits)
    port->serialSettings.stopBits = stopBitsOfCode(pane->stopBitsCodeRead);
  if (os::setLineSettings(port->handle, port->serialSettings))
    logLineSettings(port);
  else
    logEvent(port, "line settings refused");
}

int32_t writeFields(PaneRecord* pane) {
  bool rejoin = false;
  if (int32_t r = writePanId(pane, &rejoin))
    return r;
  if (int32_t r = programClosing() ? ResultCancelled : writeChannel(pane, rejoin))
    return r;
  if (int32_t r = programClosing() ? ResultCancelled : writeDestination(pane))
    return r;
  if (int32_t r = programClosing() ? ResultCancelled : writeBaud(pane))
    return r;
  for (const ByteField& field : kByteFields) {
    if (field.slaveOnly && pane->isMaster)
      continue;
    if (int32_t r = programClosing() ? ResultCancelled : writeByteField(pane, field))
      return r;
  }
  return 0;
}

// What a Cancel stopped is stored all the same: the port's waits no longer
// watch the cancel, whose caller is gone in a moment.
int32_t storeBeforeClosing(PaneRecord* pane) {
  setPortCancelEvent(pane->port, nullptr);
  logEvent(pane->port, "closing: what was set is stored");
  sendCommand5ExpectOk(pane->port, "ATWR\r");
  return ResultCancelled;
}

}  // namespace

void noteProgramClosing(bool closing) {
  closingNoted = closing;
}

bool programClosing() {
  return closingNoted.load();
}

int32_t writeChanged(PaneRecord* pane) {
  purgePort(pane->port);
  const int32_t result = writeFields(pane);
  if (programClosing())
    return storeBeforeClosing(pane);
  if (result != 0)
    return result;
  if (isCancelled(pane))
    return ResultCancelled;
  return sendCommand5ExpectOk(pane->port, "ATWR\r");
}

int32_t changeChannel(PaneRecord* pane) {
  if (isCancelled(pane))
    return ResultCancelled;
  const uint16_t mask = maskFromChannel(pane->channelShown);
  if (mask == 0)
    return ErrArgument;  // no channel: nothing the module could join
  if (int32_t r = setChannelMask(pane->port, mask))
    return r;
  return rejoinNetwork(pane);
}

int32_t rejoinNetwork(PaneRecord* pane) {
  if (isCancelled(pane))
    return ResultCancelled;
  sendCommand5ExpectOk(pane->port, "ATAC\r");  // the change goes on whatever it answers
  if (isCancelled(pane))
    return ResultCancelled;
  if (int32_t r = setNetworkReset(pane->port, 0))
    return r;
  if (isCancelled(pane))
    return ResultCancelled;
  return waitForAssociation(pane);
}

int32_t waitForAssociation(PaneRecord* pane) {
  const uint32_t start = os::tickCount();
  while (os::tickCount() - start <= kAssociationLimitMs) {
    os::sleepMs(kAssociationPollMs);
    if (isCancelled(pane) || programClosing())
      return ResultCancelled;
    uint8_t indication = 0xFF;
    if (int32_t r = queryHex8(pane->port, "ATAI\r", &indication))
      return r;
    if (indication == 0)
      return 0;
  }
  // A sleeping module need not report its join in time.
  return pane->sleepModeRead != 0 ? 0 : ResultJoinTimeout;
}

int32_t writeInSession(PaneRecord* pane) {
  SerialPort* port = pane->port;
  const uint32_t savedTimeout = port->ioTimeoutMs;
  const SerialCodes before = serialCodesRead(pane);
  port->ioTimeoutMs = kWriteIoTimeoutMs;
  int32_t result = writeChanged(pane);
  port->ioTimeoutMs = savedTimeout;
  // The module talks at new serial settings only after "ATCN": the read
  // back proves them in a session of their own.
  const SerialCodes after = serialCodesRead(pane);
  if (result == 0 && (after.baud != before.baud || after.parity != before.parity ||
                      after.stopBits != before.stopBits)) {
    result = exitCommandMode(port);
    if (result == 0)
      followModuleSettings(pane, before);
  }
  if (result == 0)
    result = readAndVerify(pane);
  const int32_t ended = endSession(pane);
  if (result == 0)
    result = ended;
  if (result != 0) {
    clearPaneDisplay(pane);
    resetPane(pane);
  } else {
    displayPane(pane);
  }
  return result;
}

int32_t writeBody(PaneRecord* pane) {
  const int32_t result = writePane(pane);
  postOperationDone(pane->progressDialog, pane);
  return result;
}

int32_t writePane(PaneRecord* pane) {
  int32_t result = openPanePort(pane);
  if (result == 0) {
    SerialPort* port = pane->port;
    const uint32_t savedTimeout = port->ioTimeoutMs;
    const SerialCodes before = serialCodesRead(pane);
    port->ioTimeoutMs = kWriteIoTimeoutMs;
    result = writeSession(pane);
    port->ioTimeoutMs = savedTimeout;
    if (result == 0 && isValidPort(pane->port)) {
      followModuleSettings(pane, before);
      result = readAndVerify(pane);
      if (result != 0) {
        // The module may hold what was written or not: the pane shows and
        // offers nothing until the next Read.
        clearPaneDisplay(pane);
        resetPane(pane);
      } else {
        displayPane(pane);
      }
    }
    closePort(pane->port);
    pane->port = nullptr;
  }
  return result;
}
