// What one module holds, as the program knows it: who it is, what was read
// from it (the Read group) and what is shown and will be written (the Shown
// group), with the rules that keep the shown mode settings consistent. No
// window, no port: the dialog's pane and the command line both hold one.
#pragma once

#include <cstdint>

#include "module/settings.h"

constexpr uint32_t kNodeIdSize = 21;
constexpr uint32_t kTemperatureTextSize = 16;

// Every code is a position in its choice list (the channel, minus 11); these
// are the lists' bounds, so that nothing outside them reaches a module.
constexpr uint8_t kFirstChannel = 11;
constexpr uint8_t kLastChannel = 26;

struct ModuleRecord {
  int32_t isMaster = 0;  // the place it is read for
  int32_t channelLimit = 0;
  uint16_t firmwareVersion = 0;  // its high byte is the module's role
  uint16_t hardwareVersion = 0;
  uint32_t serialHigh = 0;
  uint32_t serialLow = 0;
  char nodeId[kNodeIdSize] = {};  // empty: the record holds no module data
  char temperatureText[kTemperatureTextSize] = {};
  SettingValues read;   // as last read from or written to the module
  SettingValues shown;  // as shown, and what a Write sends
};

// Every value marked as not read, the identity gone; the role stays.
// The module's serial number, and the address it sends to (DH above DL) as
// read or as shown: a pair's modules send each to the other's number.
uint64_t serialNumber(const ModuleRecord& module);
uint64_t destination(const SettingValues& values);
void setDestination(SettingValues& values, uint64_t address);

void resetPane(ModuleRecord* module);
void setDefaults(ModuleRecord* module);
void applyFlowControlRule(ModuleRecord* module);
void applyNoSleepRule(ModuleRecord* module);
void applyCyclicSleepRule(ModuleRecord* module);
void deriveModeState(ModuleRecord* module);
// A user's pick of a list (its position, kNoSelection for none) as the
// Shown value, with the mode rules it sets off: the dialog's, a settings
// file's and --set's picks alike.
void pickChoice(ModuleRecord* module, Setting setting, int32_t position);
// The one pair of picks that the mode rules never allow together: setting
// at position while `because` is at becausePosition (cyclic sleep needs flow
// control, which may not be turned off then).
struct PickConflict {
  Setting setting;
  int32_t position;
  Setting because;
  int32_t becausePosition;
  const wchar_t* reason;
};
const PickConflict& pickConflict();
// Whether the user may pick another entry of the setting's list now: not
// the conflict's setting while the other pick stands.
bool choiceOffered(const ModuleRecord& module, Setting setting);

// Bit n of the SC mask is channel 11 + n; the lowest set bit counts, and
// an empty mask means channel 20.
uint8_t channelFromMask(uint16_t mask);
// 0, no channel at all, for a channel outside 11..26.
uint16_t maskFromChannel(uint8_t channel);
// A value the module's lists offer: an entry of its list, and for the
// channel one up to the module's channel limit.
bool valueOffered(const ModuleRecord& module, Setting setting, uint64_t value);

// An empty node identifier: nothing was read into the record.
bool holdsModuleData(const ModuleRecord* module);
// Shown values that differ from what the module holds, among those a Write sends.
bool showsChanges(const ModuleRecord* module);
// The text that the dialog shows for a Shown value: its list's entry, or a
// mode register's label; null when it names none.
const wchar_t* shownText(const ModuleRecord& module, Setting setting);
