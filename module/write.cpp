#include "module/write.h"

#include "link/at_command.h"
#include "link/transfer.h"
#include "module/read.h"
#include "module/view_hooks.h"

namespace {

// Sends one byte-sized field when it differs; the Read side follows the
// module only once the module has said "OK".
int32_t writeByteField(PaneRecord* pane, const char* name, uint8_t shown, uint8_t& read) {
  if (isCancelled(pane))
    return ResultCancelled;
  if (shown == read)
    return 0;
  if (int32_t r = setRegister8(pane->port, name, shown))
    return r;
  read = shown;
  return 0;
}

int32_t writeChannel(PaneRecord* pane) {
  if (isCancelled(pane))
    return ResultCancelled;
  if (pane->channelShown == pane->channelRead)
    return 0;
  if (int32_t r = changeChannel(pane))
    return r;
  pane->channelRead = pane->channelShown;
  return 0;
}

int32_t writeBaud(PaneRecord* pane) {
  if (isCancelled(pane))
    return ResultCancelled;
  if (pane->baudCodeShown == pane->baudCodeRead)
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

// The module now talks at what it was given; the host follows.
void followModuleSettings(PaneRecord* pane) {
  SerialPort* port = pane->port;
  os::getLineSettings(port->handle, port->serialSettings);
  port->serialSettings.baudRate = baudRateOfCode(pane->baudCodeRead);
  port->serialSettings.parity = parityOfCode(pane->parityCodeRead);
  port->serialSettings.stopBits = stopBitsOfCode(pane->stopBitsCodeRead);
  os::setLineSettings(port->handle, port->serialSettings);
}

}  // namespace

int32_t writeChanged(PaneRecord* pane) {
  purgePort(pane->port);
  if (int32_t r = writeChannel(pane))
    return r;
  if (int32_t r = writeBaud(pane))
    return r;
  if (int32_t r = writeByteField(pane, "ATNB", pane->parityCodeShown, pane->parityCodeRead)) {
    return r;
  }
  if (int32_t r = writeByteField(pane, "ATSB", pane->stopBitsCodeShown, pane->stopBitsCodeRead)) {
    return r;
  }
  if (int32_t r = writeByteField(pane, "ATPL", pane->powerLevelShown, pane->powerLevelRead)) {
    return r;
  }
  if (int32_t r = writeByteField(pane, "ATPM", pane->boostModeShown, pane->boostModeRead)) {
    return r;
  }
  if (!pane->isMaster) {
    if (int32_t r = writeByteField(pane, "ATSM", pane->sleepModeShown, pane->sleepModeRead)) {
      return r;
    }
  }
  if (int32_t r = writeByteField(pane, "ATD7", pane->d7ConfigShown, pane->d7ConfigRead))
    return r;
  if (int32_t r = writeByteField(pane, "ATD6", pane->d6ConfigShown, pane->d6ConfigRead))
    return r;
  if (isCancelled(pane))
    return ResultCancelled;
  return sendCommand5ExpectOk(pane->port, "ATWR\r");
}

int32_t changeChannel(PaneRecord* pane) {
  if (isCancelled(pane))
    return ResultCancelled;
  if (int32_t r = setChannelMask(pane->port, maskFromChannel(pane->channelShown)))
    return r;
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
    if (isCancelled(pane))
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

int32_t writeBody(PaneRecord* pane) {
  int32_t result = openPanePort(pane);
  if (result == 0) {
    SerialPort* port = pane->port;
    const uint32_t savedTimeout = port->ioTimeoutMs;
    port->ioTimeoutMs = kWriteIoTimeoutMs;
    result = writeSession(pane);
    port->ioTimeoutMs = savedTimeout;
    if (result == 0 && isValidPort(pane->port)) {
      followModuleSettings(pane);
      result = readAndVerify(pane);
      if (result != 0) {
        pane->nodeId[0] = 0;
      } else {
        displayPane(pane);
      }
    }
    closePort(pane->port);
    pane->port = nullptr;
  }
  postOperationDone(pane->progressDialog, pane);
  return result;
}
