#include "module/settings.h"

#include <iterator>

#include "link/serial_codes.h"
#include "platform/os.h"
#include "resources/pane_labels.h"

namespace {

const wchar_t* const kChannelTexts[] = {L"11", L"12", L"13", L"14", L"15", L"16", L"17", L"18",
                                        L"19", L"20", L"21", L"22", L"23", L"24", L"25", L"26"};
const wchar_t* const kBaudTexts[] = {L"1200",  L"2400",  L"4800",  L"9600",
                                     L"19200", L"38400", L"57600", L"115200"};
const wchar_t* const kParityTexts[] = {L"No Parity", L"Even Parity", L"Odd Parity", L"Mark Parity"};
const wchar_t* const kStopBitsTexts[] = {L"One Stop Bit", L"Two Stop Bits"};
const wchar_t* const kPowerLevelTexts[] = {L"Lowest", L"Low", L"Medium", L"High", L"Highest"};
const wchar_t* const kBoostModeTexts[] = {L"Disable", L"Enable"};
const wchar_t* const kPowerSaveTexts[] = {L"On", L"Off"};
const wchar_t* const kFlowControlTexts[] = {L"Disable", L"Enable"};

template <int32_t N>
constexpr ChoiceList listOf(const wchar_t* const (&entries)[N]) {
  return ChoiceList{entries, N};
}

const ChoiceList kChannels = listOf(kChannelTexts);
const ChoiceList kBauds = listOf(kBaudTexts);
const ChoiceList kParities = listOf(kParityTexts);
const ChoiceList kStopBits = listOf(kStopBitsTexts);
const ChoiceList kPowerLevels = listOf(kPowerLevelTexts);
const ChoiceList kBoostModes = listOf(kBoostModeTexts);
const ChoiceList kPowerSaves = listOf(kPowerSaveTexts);
const ChoiceList kFlowControls = listOf(kFlowControlTexts);

// Bit n of the SC mask is channel 11 + n; the lowest set bit counts, and
// an empty mask means channel 20.
uint64_t channelOfMask(uint64_t mask) {
  if ((mask & 0xFFFF) == 0)
    return 20;
  uint64_t bit = 0;
  while (!(mask & (uint64_t{1} << bit)))
    ++bit;
  return 11 + bit;
}

// No channel at all for one outside 11..26.
uint64_t maskOfChannel(uint64_t channel) {
  return channel < 11 || channel > 26 ? 0 : uint64_t{1} << (channel - 11);
}

// The read series asks GT, VR, ID, OI, HV, TP, NI, SL, SH, DL, DH, SC, BD,
// NB, SB, PL, PM, SM, D7, D6; the write series sets ID, SC, DH, DL, BD, NB,
// SB, PL, PM, SM, D7, D6. The identity queries (GT, VR, HV, TP, NI, SL, SH)
// are the read's own.
const SettingInfo kSettings[kSettingCount] = {
    {.setting = Setting::PanId,
     .query = "ATID\r",
     .setter = "ATID",
     .bytes = 8,
     .moduleBytes = 8,
     .flags = kLinkMatch | kRejoins | kHexField,
     .name = L"PAN ID",
     .jsonKey = "pan_id",
     .readStep = 2,
     .writeStep = 0,
     .display = DisplayPart::Link},
    {.setting = Setting::OperatingPanId,
     .query = "ATOI\r",
     .bytes = 2,
     .moduleBytes = 2,
     .name = L"Operating PAN ID",
     .jsonKey = "operating_pan_id",
     .readStep = 3},
    {.setting = Setting::Channel,
     .query = "ATSC\r",
     .setter = "ATSC",
     .moduleBytes = 2,
     .flags = kChoice | kCopied | kRejoins,
     .choices = &kChannels,
     .firstValue = 11,
     .label = L"" LABEL_CHANNEL,
     .name = L"" LABEL_CHANNEL,
     .jsonKey = LABEL_CHANNEL,
     .defaultValue = 20,
     .readStep = 11,
     .writeStep = 1,
     .toModule = maskOfChannel,
     .fromModule = channelOfMask,
     .display = DisplayPart::Link},
    {.setting = Setting::DestLow,
     .query = "ATDL\r",
     .setter = "ATDL",
     .bytes = 4,
     .moduleBytes = 4,
     .flags = kHexField | kAllDigits | kResetToZero,
     .name = L"Destination",
     .jsonKey = "destination",
     .readStep = 9,
     .writeStep = 3,
     .display = DisplayPart::Link},
    {.setting = Setting::DestHigh,
     .query = "ATDH\r",
     .setter = "ATDH",
     .bytes = 4,
     .moduleBytes = 4,
     .flags = kHexField | kAllDigits | kResetToZero,
     .name = L"Destination",
     .jsonKey = "destination",
     .readStep = 10,
     .writeStep = 2,
     .display = DisplayPart::Link},
    {.setting = Setting::BaudRate,
     .query = "ATBD\r",
     .setter = "ATBD",
     .bytes = 4,
     .moduleBytes = 4,
     .flags = kChoice | kCopied | kLinkMatch | kLineSetting,
     .choices = &kBauds,
     .label = L"" LABEL_BAUD_RATE,
     .name = L"" LABEL_BAUD_RATE,
     .jsonKey = LABEL_BAUD_RATE,
     .defaultValue = 3,
     .readStep = 12,
     .writeStep = 4,
     .display = DisplayPart::Link},
    {.setting = Setting::Parity,
     .query = "ATNB\r",
     .setter = "ATNB",
     .flags = kChoice | kCopied | kLinkMatch | kLineSetting,
     .choices = &kParities,
     .label = L"" LABEL_PARITY,
     .name = L"" LABEL_PARITY,
     .jsonKey = LABEL_PARITY,
     .defaultValue = 0,
     .readStep = 13,
     .writeStep = 5,
     .display = DisplayPart::Link},
    {.setting = Setting::StopBits,
     .query = "ATSB\r",
     .setter = "ATSB",
     .flags = kChoice | kCopied | kLinkMatch | kLineSetting,
     .choices = &kStopBits,
     .label = L"" LABEL_STOP_BITS,
     .name = L"" LABEL_STOP_BITS,
     .jsonKey = LABEL_STOP_BITS,
     .defaultValue = 0,
     .readStep = 14,
     .writeStep = 6,
     .display = DisplayPart::Link},
    {.setting = Setting::PowerLevel,
     .query = "ATPL\r",
     .setter = "ATPL",
     .flags = kChoice,
     .choices = &kPowerLevels,
     .label = L"" LABEL_POWER_LEVEL,
     .name = L"" LABEL_POWER_LEVEL,
     .jsonKey = LABEL_POWER_LEVEL,
     .defaultValue = 4,
     .readStep = 15,
     .writeStep = 7},
    {.setting = Setting::BoostMode,
     .query = "ATPM\r",
     .setter = "ATPM",
     .flags = kChoice,
     .choices = &kBoostModes,
     .label = L"" LABEL_BOOST_MODE,
     .name = L"" LABEL_BOOST_MODE,
     .jsonKey = LABEL_BOOST_MODE,
     .defaultValue = 1,
     .readStep = 16,
     .writeStep = 8},
    // Derived from the sleep mode and the flow control the module holds.
    {.setting = Setting::PowerSave,
     .flags = kChoice,
     .choices = &kPowerSaves,
     .label = L"" LABEL_POWER_SAVE,
     .name = L"" LABEL_POWER_SAVE,
     .jsonKey = LABEL_POWER_SAVE,
     .slaveOnly = true,
     .defaultValue = 0,
     .display = DisplayPart::PowerSave},
    {.setting = Setting::SleepMode,
     .query = "ATSM\r",
     .setter = "ATSM",
     .flags = kTwoValues,
     .name = L"" LABEL_POWER_SAVE,
     .jsonKey = "sleep_mode",
     .slaveOnly = true,
     .defaultValue = 4,
     .readStep = 17,
     .writeStep = 9,
     .allowed = {0, 4},
     .allowedText = {L"No Sleep", L"Cyclic Sleep"},
     .display = DisplayPart::PowerSave},
    // Derived from D7 and D6.
    {.setting = Setting::FlowControl,
     .flags = kChoice,
     .choices = &kFlowControls,
     .label = L"" LABEL_FLOW_CONTROL,
     .name = L"" LABEL_FLOW_CONTROL,
     .jsonKey = LABEL_FLOW_CONTROL,
     .defaultValue = 1,
     .display = DisplayPart::Flow},
    {.setting = Setting::D7Config,
     .query = "ATD7\r",
     .setter = "ATD7",
     .flags = kTwoValues,
     .name = L"" LABEL_FLOW_CONTROL,
     .jsonKey = "d7",
     .defaultValue = 1,
     .readStep = 18,
     .writeStep = 10,
     .allowed = {1, 4},
     .allowedText = {L"Flow Control", L"High Level Out"},
     .display = DisplayPart::Flow},
    {.setting = Setting::D6Config,
     .query = "ATD6\r",
     .setter = "ATD6",
     .flags = kTwoValues,
     .name = L"" LABEL_FLOW_CONTROL,
     .jsonKey = "d6",
     .defaultValue = 1,
     .readStep = 19,
     .writeStep = 11,
     .allowed = {1, 0},
     .allowedText = {L"Flow Control", L"Disable"},
     .display = DisplayPart::Flow},
};

}  // namespace

const Setting kAllSettings[kSettingCount] = {
    Setting::PanId,       Setting::OperatingPanId, Setting::Channel,   Setting::DestLow,
    Setting::DestHigh,    Setting::BaudRate,       Setting::Parity,    Setting::StopBits,
    Setting::PowerLevel,  Setting::BoostMode,      Setting::PowerSave, Setting::SleepMode,
    Setting::FlowControl, Setting::D7Config,       Setting::D6Config,
};

const SettingOrder& writeOrder() {
  static const SettingOrder order = [] {
    SettingOrder o{};
    for (const SettingInfo& info : kSettings) {
      if (info.writeStep != kNotWritten) {
        o.settings[info.writeStep] = info.setting;
        ++o.count;
      }
    }
    return o;
  }();
  return order;
}

const SettingInfo& settingInfo(Setting setting) {
  return kSettings[indexOf(setting)];
}

bool hasFlag(Setting setting, uint16_t flag) {
  return (settingInfo(setting).flags & flag) != 0;
}

bool appliesTo(Setting setting, bool master) {
  return !(master && settingInfo(setting).slaveOnly);
}

uint64_t unreadValue(Setting setting) {
  const uint8_t bytes = settingInfo(setting).bytes;
  return bytes >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * bytes)) - 1;
}

int32_t listPosition(Setting setting, uint64_t value) {
  const SettingInfo& info = settingInfo(setting);
  if (!info.choices || value < info.firstValue)
    return kNoSelection;
  const uint64_t position = value - info.firstValue;
  return position < static_cast<uint64_t>(info.choices->count) ? static_cast<int32_t>(position)
                                                               : kNoSelection;
}

uint64_t valueAt(Setting setting, int32_t position) {
  return settingInfo(setting).firstValue + static_cast<uint64_t>(static_cast<uint32_t>(position));
}

const wchar_t* entryText(Setting setting, uint64_t value) {
  const SettingInfo& info = settingInfo(setting);
  if (info.flags & kTwoValues) {
    for (int i = 0; i < 2; ++i) {
      if (value == info.allowed[i])
        return info.allowedText[i];
    }
    return nullptr;
  }
  const int32_t position = listPosition(setting, value);
  return position == kNoSelection ? nullptr : info.choices->entries[position];
}

void followLineSetting(Setting setting, uint64_t code, os::LineSettings& line) {
  switch (setting) {
    case Setting::BaudRate:
      line.baudRate = baudRateOfCode(static_cast<uint32_t>(code));
      break;
    case Setting::Parity:
      line.parity = parityOfCode(static_cast<uint8_t>(code));
      break;
    case Setting::StopBits:
      line.stopBits = stopBitsOfCode(static_cast<uint8_t>(code));
      break;
    default:
      break;
  }
}
