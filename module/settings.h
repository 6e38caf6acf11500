// Every value that a module record keeps twice, as the module holds it and
// as it is shown and to be written, declared once: how the module is asked
// for it and given it, the list a user picks it from, its names in the
// settings file and in JSON, its default, and its place in the read and
// write series. The read, the write, the settings file, the record, the
// command line and the dialog all loop over this table.
#pragma once

#include <cstddef>
#include <cstdint>

// A list's entries; a position is the module's value minus the list's
// first value (the channel's list starts at 11).
struct ChoiceList {
  const wchar_t* const* entries;
  int32_t count;
};

constexpr int32_t kNoSelection = -1;

// In the order of the record's Read and Shown groups.
enum class Setting : uint8_t {
  PanId,
  OperatingPanId,
  Channel,
  DestLow,
  DestHigh,
  BaudRate,
  Parity,
  StopBits,
  PowerLevel,
  BoostMode,
  PowerSave,
  SleepMode,
  FlowControl,
  D7Config,
  D6Config,
};
constexpr uint32_t kSettingCount = 15;

// What a setting takes part in.
enum SettingFlags : uint16_t {
  kChoice = 1 << 0,       // a pick of the dialog, a key of settings files and of --set
  kCopied = 1 << 1,       // Copy takes it to the other pane
  kLinkMatch = 1 << 2,    // two modules talk only when they hold the same
  kRejoins = 1 << 3,      // the module joins its network again once it is written
  kLineSetting = 1 << 4,  // the host's line follows it once the module has left command mode
  kHexField = 1 << 5,     // shown as hexadecimal digits
  kAllDigits = 1 << 6,    // written and shown with every digit of its width
  kResetToZero = 1 << 7,  // a reset clears it instead of marking it unread
  kTwoValues = 1 << 8,    // a mode register: a Write sends only one of `allowed`
};

constexpr int64_t kNoDefault = -1;
constexpr uint8_t kNotWritten = 0xFF;
// The read series' length: the settings' queries and the identity queries.
constexpr uint8_t kReadSeriesLength = 20;

// The part of the pane's display a setting is drawn in, alone when only it
// changed: the link fields, the slave's power save fields, the flow fields.
enum class DisplayPart : uint8_t { Other, Link, PowerSave, Flow };

struct SettingInfo {
  Setting setting = Setting::PanId;
  const char* query = nullptr;   // "ATPM\r"; null: derived from other values, not asked
  const char* setter = nullptr;  // "ATPM"; null: never written as itself
  uint8_t bytes = 1;             // the record's width: 1, 2, 4 or 8
  uint8_t moduleBytes = 1;       // the width of the module's reply
  uint16_t flags = 0;
  const ChoiceList* choices = nullptr;  // null: not picked from a list
  uint8_t firstValue = 0;               // the value of the list's first entry
  const wchar_t* label = nullptr;       // the dialog's label and the settings file's key
  const wchar_t* name = nullptr;        // what a message calls it
  const char* jsonKey = nullptr;
  bool slaveOnly = false;
  int64_t defaultValue = kNoDefault;   // what Set Default shows; kNoDefault: kept
  uint8_t readStep = 0;                // its place in the read series
  uint8_t writeStep = kNotWritten;     // its place in the write series
  uint8_t allowed[2] = {};             // kTwoValues: the values a Write sends
  const wchar_t* allowedText[2] = {};  // ... and the dialog's text for each
  // The module's register value from the record's, and back; null: the same.
  uint64_t (*toModule)(uint64_t value) = nullptr;
  uint64_t (*fromModule)(uint64_t value) = nullptr;
  DisplayPart display = DisplayPart::Other;
};

const SettingInfo& settingInfo(Setting setting);
// Every setting, in the record's order, for range-for loops.
extern const Setting kAllSettings[kSettingCount];
// The written ones in the order the module is given them.
struct SettingOrder {
  Setting settings[kSettingCount];
  size_t count;
};
const SettingOrder& writeOrder();

inline size_t indexOf(Setting setting) {
  return static_cast<size_t>(setting);
}

bool hasFlag(Setting setting, uint16_t flag);
// A slave-only setting is no part of a master: never read, reset or shown.
bool appliesTo(Setting setting, bool master);
// All bits of the setting's width: the value of nothing read.
uint64_t unreadValue(Setting setting);

// The setting's value at a list position, and the position of a value;
// kNoSelection for a value that is no entry of its list.
int32_t listPosition(Setting setting, uint64_t value);
uint64_t valueAt(Setting setting, int32_t position);
// The entry's text of a value, or null.
const wchar_t* entryText(Setting setting, uint64_t value);

// A setting's Read and Shown values.
struct SettingValues {
  uint64_t value[kSettingCount] = {};
  uint64_t& operator[](Setting s) { return value[indexOf(s)]; }
  uint64_t operator[](Setting s) const { return value[indexOf(s)]; }
};

namespace os {
struct LineSettings;
}
// Puts a line setting's code (kLineSetting: the module's baud, parity or
// stop-bits code) into the host's line settings, as the module then talks.
void followLineSetting(Setting setting, uint64_t code, os::LineSettings& line);
