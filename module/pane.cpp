#include "module/pane.h"

#include "module/view_hooks.h"

PaneRecord masterPane;
PaneRecord slavePane;

const wchar_t* const kLabelFlowControl = L"Flow Control";
const wchar_t* const kLabelHighLevelOut = L"High Level Out";
const wchar_t* const kLabelDisable = L"Disable";
const wchar_t* const kLabelNoSleep = L"No Sleep";
const wchar_t* const kLabelCyclicSleep = L"Cyclic Sleep";

namespace {

constexpr uint8_t kNone8 = 0xFF;
constexpr uint8_t kDefaultChannel = 20;
constexpr uint8_t kSleepModeCyclic = 4;
constexpr uint8_t kD7FlowControl = 1;
constexpr uint8_t kD7HighLevelOut = 4;
constexpr uint8_t kD6FlowControl = 1;
constexpr uint8_t kD6Disabled = 0;
constexpr int32_t kFlowControlEnableEntry = 1;

void showFlowControl(PaneRecord* pane, bool on) {
  pane->flowControlShown = on ? 1 : 0;
  pane->d7ConfigShown = on ? kD7FlowControl : kD7HighLevelOut;
  pane->d6ConfigShown = on ? kD6FlowControl : kD6Disabled;
  pane->rtsLabel = on ? kLabelFlowControl : kLabelHighLevelOut;
  pane->ctsLabel = on ? kLabelFlowControl : kLabelDisable;
}

}  // namespace

void resetPane(PaneRecord* pane) {
  pane->panIdRead = pane->panIdShown = UINT64_MAX;
  pane->operatingPanIdRead = pane->operatingPanIdShown = 0xFFFF;
  pane->firmwareVersion = pane->hardwareVersion = 0xFFFF;
  pane->nodeId[0] = 0;
  pane->temperatureText[0] = 0;
  pane->serialHigh = pane->serialLow = 0;
  pane->destLowRead = pane->destLowShown = 0;
  pane->destHighRead = pane->destHighShown = 0;
  pane->channelRead = pane->channelShown = kNone8;
  pane->channelLimit = 255;
  pane->baudCodeRead = pane->baudCodeShown = UINT32_MAX;
  pane->parityCodeRead = pane->parityCodeShown = kNone8;
  pane->stopBitsCodeRead = pane->stopBitsCodeShown = kNone8;
  pane->powerLevelRead = pane->powerLevelShown = kNone8;
  pane->boostModeRead = pane->boostModeShown = kNone8;
  pane->flowControlRead = pane->flowControlShown = kNone8;
  pane->d7ConfigRead = pane->d7ConfigShown = kNone8;
  pane->d6ConfigRead = pane->d6ConfigShown = kNone8;
  if (!pane->isMaster) {
    pane->powerSaveRead = pane->powerSaveShown = kNone8;
    pane->sleepModeRead = pane->sleepModeShown = kNone8;
  }
}

void setDefaults(PaneRecord* pane) {
  pane->channelShown = kDefaultChannel;
  pane->baudCodeShown = 3;
  pane->parityCodeShown = 0;
  pane->stopBitsCodeShown = 0;
  pane->powerLevelShown = 4;
  pane->boostModeShown = 1;
  showFlowControl(pane, true);
  if (!pane->isMaster)
    applyCyclicSleepRule(pane);
}

void applyFlowControlRule(PaneRecord* pane) {
  // 0xFF after a reset counts as "on".
  showFlowControl(pane, pane->flowControlShown != 0);
}

void applyNoSleepRule(PaneRecord* pane) {
  pane->powerSaveShown = 1;
  pane->sleepModeShown = 0;
  pane->sleepModeLabel = kLabelNoSleep;
  enableControl(pane->flowControlCombo, true);
  applyFlowControlRule(pane);
}

void applyCyclicSleepRule(PaneRecord* pane) {
  pane->powerSaveShown = 0;
  pane->sleepModeShown = kSleepModeCyclic;
  pane->sleepModeLabel = kLabelCyclicSleep;
  // Cyclic sleep needs flow control: the user may not turn it off.
  enableControl(pane->flowControlCombo, false);
  selectComboEntry(pane->flowControlCombo, kFlowControlEnableEntry);
  showFlowControl(pane, true);
}

void deriveModeState(PaneRecord* pane) {
  const bool flowControl =
      pane->d7ConfigRead == kD7FlowControl && pane->d6ConfigRead == kD6FlowControl;
  pane->flowControlRead = flowControl ? 1 : 0;
  if (pane->isMaster) {
    showFlowControl(pane, flowControl);
    return;
  }
  pane->flowControlShown = pane->flowControlRead;
  if (pane->sleepModeRead == kSleepModeCyclic && flowControl) {
    pane->powerSaveRead = 0;
    applyCyclicSleepRule(pane);
  } else {
    pane->powerSaveRead = 1;
    applyNoSleepRule(pane);
  }
}

uint8_t channelFromMask(uint16_t mask) {
  if (mask == 0)
    return kDefaultChannel;
  uint8_t bit = 0;
  while (!(mask & (1u << bit)))
    ++bit;
  return static_cast<uint8_t>(kFirstChannel + bit);
}

uint16_t maskFromChannel(uint8_t channel) {
  if (channel < kFirstChannel || channel > kLastChannel)
    return 0;
  return static_cast<uint16_t>(1u << (channel - kFirstChannel));
}

bool channelOffered(const PaneRecord* pane, uint8_t channel) {
  return channel >= kFirstChannel && channel <= kLastChannel && channel <= pane->channelLimit;
}

bool isCancelled(const PaneRecord* pane) {
  os::Handle event = pane->cancelEvent;
  return event && !pane->finishing && os::waitAny(&event, 1, 0) == 0;
}

PaneRecord* otherPane(const PaneRecord* pane) {
  return pane->isMaster ? &slavePane : &masterPane;
}

bool holdsModuleData(const PaneRecord* pane) {
  return pane->nodeId[0] != 0;
}
