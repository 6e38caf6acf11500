#include "module/module_record.h"

namespace {

constexpr uint8_t kSleepModeCyclic = 4;
constexpr uint8_t kD7FlowControl = 1;
constexpr uint8_t kD7HighLevelOut = 4;
constexpr uint8_t kD6FlowControl = 1;
constexpr uint8_t kD6Disabled = 0;
constexpr uint64_t kPowerSaveOn = 0;
constexpr uint64_t kPowerSaveOff = 1;

void showFlowControl(ModuleRecord* m, bool on) {
  m->shown[Setting::FlowControl] = on ? 1 : 0;
  m->shown[Setting::D7Config] = on ? kD7FlowControl : kD7HighLevelOut;
  m->shown[Setting::D6Config] = on ? kD6FlowControl : kD6Disabled;
}

}  // namespace

uint64_t serialNumber(const ModuleRecord& module) {
  return uint64_t{module.serialHigh} << 32 | module.serialLow;
}

uint64_t destination(const SettingValues& values) {
  return values[Setting::DestHigh] << 32 | values[Setting::DestLow];
}

void setDestination(SettingValues& values, uint64_t address) {
  values[Setting::DestHigh] = address >> 32;
  values[Setting::DestLow] = address & 0xFFFFFFFF;
}

void resetPane(ModuleRecord* m) {
  m->firmwareVersion = m->hardwareVersion = 0xFFFF;
  m->nodeId[0] = 0;
  m->temperatureText[0] = 0;
  m->serialHigh = m->serialLow = 0;
  m->channelLimit = 255;
  // The master has no power save: those values are never its.
  for (Setting s : kAllSettings) {
    if (appliesTo(s, m->isMaster != 0))
      m->read[s] = m->shown[s] = hasFlag(s, kResetToZero) ? 0 : unreadValue(s);
  }
}

void setDefaults(ModuleRecord* m) {
  for (Setting s : kAllSettings) {
    const int64_t value = settingInfo(s).defaultValue;
    if (value != kNoDefault && appliesTo(s, m->isMaster != 0))
      m->shown[s] = static_cast<uint64_t>(value);
  }
  if (!m->isMaster)
    applyCyclicSleepRule(m);
}

void applyFlowControlRule(ModuleRecord* m) {
  // Unread (all ones) counts as "on".
  showFlowControl(m, m->shown[Setting::FlowControl] != 0);
}

void applyNoSleepRule(ModuleRecord* m) {
  m->shown[Setting::PowerSave] = kPowerSaveOff;
  m->shown[Setting::SleepMode] = 0;
  applyFlowControlRule(m);
}

void applyCyclicSleepRule(ModuleRecord* m) {
  m->shown[Setting::PowerSave] = kPowerSaveOn;
  m->shown[Setting::SleepMode] = kSleepModeCyclic;
  showFlowControl(m, true);
}

void deriveModeState(ModuleRecord* m) {
  const bool flowControl =
      m->read[Setting::D7Config] == kD7FlowControl && m->read[Setting::D6Config] == kD6FlowControl;
  m->read[Setting::FlowControl] = flowControl ? 1 : 0;
  if (m->isMaster) {
    showFlowControl(m, flowControl);
    return;
  }
  m->shown[Setting::FlowControl] = m->read[Setting::FlowControl];
  if (m->read[Setting::SleepMode] == kSleepModeCyclic && flowControl) {
    m->read[Setting::PowerSave] = kPowerSaveOn;
    applyCyclicSleepRule(m);
  } else {
    m->read[Setting::PowerSave] = kPowerSaveOff;
    applyNoSleepRule(m);
  }
}

void pickChoice(ModuleRecord* m, Setting setting, int32_t position) {
  // Kept at the record's width, as a byte of the list's would be.
  m->shown[setting] = valueAt(setting, position) & unreadValue(setting);
  if (setting == Setting::FlowControl) {
    applyFlowControlRule(m);
  } else if (setting == Setting::PowerSave) {
    if (m->shown[Setting::PowerSave] == kPowerSaveOff)
      applyNoSleepRule(m);
    else
      applyCyclicSleepRule(m);
  }
}

const PickConflict& pickConflict() {
  static const PickConflict conflict{Setting::FlowControl, listPosition(Setting::FlowControl, 0),
                                     Setting::PowerSave,
                                     listPosition(Setting::PowerSave, kPowerSaveOn),
                                     L"a slave in cyclic sleep needs flow control"};
  return conflict;
}

bool choiceOffered(const ModuleRecord& m, Setting setting) {
  const PickConflict& c = pickConflict();
  return setting != c.setting || m.isMaster ||
         m.shown[c.because] != valueAt(c.because, c.becausePosition);
}

uint8_t channelFromMask(uint16_t mask) {
  return static_cast<uint8_t>(settingInfo(Setting::Channel).fromModule(mask));
}

uint16_t maskFromChannel(uint8_t channel) {
  return static_cast<uint16_t>(settingInfo(Setting::Channel).toModule(channel));
}

bool valueOffered(const ModuleRecord& m, Setting setting, uint64_t value) {
  if (listPosition(setting, value) == kNoSelection)
    return false;
  return setting != Setting::Channel || value <= static_cast<uint64_t>(m.channelLimit);
}

bool holdsModuleData(const ModuleRecord* m) {
  return m->nodeId[0] != 0;
}

bool showsChanges(const ModuleRecord* m) {
  if (!holdsModuleData(m))
    return false;
  for (Setting s : kAllSettings) {
    if (settingInfo(s).setter && appliesTo(s, m->isMaster != 0) && m->shown[s] != m->read[s])
      return true;
  }
  return false;
}

const wchar_t* shownText(const ModuleRecord& m, Setting setting) {
  return entryText(setting, m.shown[setting]);
}
