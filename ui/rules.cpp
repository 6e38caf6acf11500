#include "ui/rules.h"

#include <initializer_list>

#include "module/read.h"
#include "module/view_hooks.h"

namespace {

constexpr uint32_t kCommandIdMask = 0xFFFF;
constexpr uint32_t kNotifyShift = 16;
constexpr uint32_t kNotifyClicked = 0;    // BN_CLICKED, and accelerators
constexpr uint32_t kNotifySelChange = 1;  // CBN_SELCHANGE
constexpr uint32_t kMasterBaseId = 3000;
constexpr uint32_t kSlaveBaseId = 4000;

bool isWhiteSpace(wchar_t c) {
  return c == L' ' || (c >= L'\t' && c <= L'\r');
}

// As the C library's wcstoul with base 10 where long has 32 bits: white
// space, a sign, digits; saturates at 2^32 - 1, a minus negates.
uint32_t decimalAsWcstoul(const wchar_t* text) {
  const wchar_t* p = text;
  while (isWhiteSpace(*p))
    ++p;
  const bool negative = *p == L'-';
  if (*p == L'-' || *p == L'+')
    ++p;
  uint64_t value = 0;
  for (; *p >= L'0' && *p <= L'9'; ++p) {
    value = value * 10 + static_cast<uint64_t>(*p - L'0');
    if (value > UINT32_MAX)
      return UINT32_MAX;
  }
  const auto v = static_cast<uint32_t>(value);
  return negative ? 0u - v : v;
}

bool containsCom(const wchar_t* text) {
  for (const wchar_t* p = text; *p; ++p) {
    if (p[0] == L'C' && p[1] == L'O' && p[2] == L'M')
      return true;
  }
  return false;
}

PaneRecord* paneOfBaseId(uint32_t baseId) {
  return baseId == kMasterBaseId ? &masterPane : &slavePane;
}

Command buttonCommand(uint32_t id) {
  switch (id) {
    case 1:  // Exit, or Enter with no push button focused
    case 2:  // Escape
      return {CommandKind::Close, nullptr};
    case 1000:
      return {CommandKind::CopyToSlave, nullptr};
    case 1001:
      return {CommandKind::CopyToMaster, nullptr};
    case 1002:
      return {CommandKind::SetDefault, nullptr};
    case 1003:
      return {CommandKind::LinkTest, nullptr};
    case kMasterBaseId + 1:
      return {CommandKind::Read, &masterPane};
    case kMasterBaseId + 2:
      return {CommandKind::Write, &masterPane};
    case kSlaveBaseId + 1:
      return {CommandKind::Read, &slavePane};
    case kSlaveBaseId + 2:
      return {CommandKind::Write, &slavePane};
    default:
      return {};
  }
}

// The two panes number their mode combo boxes differently: the slave's
// Power Save takes the master's Flow Control slot.
CommandKind choiceOfOffset(uint32_t offset, bool master) {
  switch (offset) {
    case 7:
      return CommandKind::Channel;
    case 8:
      return CommandKind::Baud;
    case 9:
      return CommandKind::Parity;
    case 10:
      return CommandKind::StopBits;
    case 11:
      return CommandKind::PowerLevel;
    case 12:
      return CommandKind::BoostMode;
    case 13:
      return master ? CommandKind::FlowControl : CommandKind::PowerSave;
    case 15:
      return master ? CommandKind::Ignored : CommandKind::FlowControl;
    default:
      return CommandKind::Ignored;
  }
}

Command selectionCommand(uint32_t id) {
  const bool inMaster = id >= kMasterBaseId && id < kMasterBaseId + 100;
  const bool inSlave = id >= kSlaveBaseId && id < kSlaveBaseId + 100;
  if (!inMaster && !inSlave)
    return {};
  const uint32_t base = inMaster ? kMasterBaseId : kSlaveBaseId;
  const CommandKind kind = choiceOfOffset(id - base, inMaster);
  if (kind == CommandKind::Ignored)
    return {};
  return {kind, paneOfBaseId(base)};
}

}  // namespace

namespace {

// A reset marker or a code the pane cannot name would reach the other
// module with its next Write: only an entry of the list is copied.
template <typename T>
void copyListChoice(T source, T& destination, WindowHandle combo, const ChoiceList& list) {
  const int32_t position = listPosition(source, list);
  if (position == kNoSelection)
    return;
  destination = source;
  selectComboEntry(combo, position);
}

}  // namespace

// ---- buttons ----------------------------------------------------------------

bool modulesFormLink(const PaneRecord* master, const PaneRecord* slave) {
  return master->panIdRead == slave->panIdRead && master->serialLow == slave->destLowRead &&
         master->serialHigh == slave->destHighRead && master->destLowRead == slave->serialLow &&
         master->destHighRead == slave->serialHigh && master->baudCodeRead == slave->baudCodeRead &&
         master->parityCodeRead == slave->parityCodeRead &&
         master->stopBitsCodeRead == slave->stopBitsCodeRead;
}

ButtonStates buttonStates(const PaneRecord* master, const PaneRecord* slave,
                          int32_t masterPortCount, int32_t slavePortCount) {
  const bool masterData = holdsModuleData(master);
  const bool slaveData = holdsModuleData(slave);
  const bool bothData = masterData && slaveData;
  ButtonStates s;
  s.masterRead = masterPortCount > 0;
  s.masterWrite = masterData;
  s.slaveRead = slavePortCount > 0;
  s.slaveWrite = slaveData;
  s.copyToSlave = bothData;
  s.copyToMaster = bothData;
  s.linkTest = bothData && modulesFormLink(master, slave);
  s.setDefault = masterData || slaveData;
  return s;
}

// ---- colours ----------------------------------------------------------------

ColorRef fieldColor(uint64_t shown, uint64_t read) {
  return shown == read ? kColorBlack : kColorRed;
}

ColorRef recolorField(PaneRecord* pane, Field field) {
  PaneRecord& p = *pane;
  switch (field) {
    case Field::PanId:
      return p.panIdColor = fieldColor(p.panIdShown, p.panIdRead);
    case Field::DestLow:
      return p.destLowColor = fieldColor(p.destLowShown, p.destLowRead);
    case Field::DestHigh:
      return p.destHighColor = fieldColor(p.destHighShown, p.destHighRead);
    case Field::Channel:
      return p.channelColor = fieldColor(p.channelShown, p.channelRead);
    case Field::Baud:
      return p.baudColor = fieldColor(p.baudCodeShown, p.baudCodeRead);
    case Field::Parity:
      return p.parityColor = fieldColor(p.parityCodeShown, p.parityCodeRead);
    case Field::StopBits:
      return p.stopBitsColor = fieldColor(p.stopBitsCodeShown, p.stopBitsCodeRead);
    case Field::PowerLevel:
      return p.powerLevelColor = fieldColor(p.powerLevelShown, p.powerLevelRead);
    case Field::BoostMode:
      return p.boostModeColor = fieldColor(p.boostModeShown, p.boostModeRead);
    case Field::PowerSave:
      return p.powerSaveColor = fieldColor(p.powerSaveShown, p.powerSaveRead);
    case Field::SleepMode:
      return p.sleepModeColor = fieldColor(p.sleepModeShown, p.sleepModeRead);
    case Field::FlowControl:
      return p.flowControlColor = fieldColor(p.flowControlShown, p.flowControlRead);
    case Field::Rts:
      return p.rtsColor = fieldColor(p.d7ConfigShown, p.d7ConfigRead);
    case Field::Cts:
      return p.ctsColor = fieldColor(p.d6ConfigShown, p.d6ConfigRead);
  }
  return kColorBlack;
}

void recolorLinkFields(PaneRecord* pane) {
  for (Field f : {Field::PanId, Field::DestLow, Field::DestHigh, Field::Channel, Field::Baud,
                  Field::Parity, Field::StopBits}) {
    recolorField(pane, f);
  }
}

void recolorPowerSaveFields(PaneRecord* pane) {
  recolorField(pane, Field::PowerSave);
  recolorField(pane, Field::SleepMode);
}

void recolorFlowFields(PaneRecord* pane) {
  recolorField(pane, Field::FlowControl);
  recolorField(pane, Field::Rts);
  recolorField(pane, Field::Cts);
}

bool staticFieldColor(const PaneRecord* pane, WindowHandle control, ColorRef* color) {
  if (!control)
    return false;
  const PaneRecord& p = *pane;
  const struct {
    WindowHandle control;
    ColorRef color;
  } fields[] = {{p.panIdField, p.panIdColor},     {p.destHighField, p.destHighColor},
                {p.destLowField, p.destLowColor}, {p.sleepModeField, p.sleepModeColor},
                {p.rtsField, p.rtsColor},         {p.ctsField, p.ctsColor}};
  for (const auto& f : fields) {
    if (f.control == control) {
      *color = f.color;
      return true;
    }
  }
  return false;
}

bool comboFieldColor(const PaneRecord* pane, WindowHandle control, ColorRef* color) {
  if (!control)
    return false;
  const PaneRecord& p = *pane;
  const struct {
    WindowHandle control;
    ColorRef color;
  } fields[] = {{p.channelCombo, p.channelColor},       {p.baudCombo, p.baudColor},
                {p.parityCombo, p.parityColor},         {p.stopBitsCombo, p.stopBitsColor},
                {p.powerLevelCombo, p.powerLevelColor}, {p.boostModeCombo, p.boostModeColor},
                {p.powerSaveCombo, p.powerSaveColor},   {p.flowControlCombo, p.flowControlColor}};
  for (const auto& f : fields) {
    if (f.control == control) {
      *color = f.color;
      return true;
    }
  }
  return false;
}

// ---- unwritten values -------------------------------------------------------

bool showsUnwrittenValues(const PaneRecord* pane) {
  if (!holdsModuleData(pane))
    return false;
  const PaneRecord& p = *pane;
  bool red = false;
  for (ColorRef color : {p.panIdColor, p.destLowColor, p.destHighColor, p.channelColor, p.baudColor,
                         p.parityColor, p.stopBitsColor, p.powerLevelColor, p.boostModeColor,
                         p.flowControlColor, p.rtsColor, p.ctsColor}) {
    red = red || color != kColorBlack;
  }
  // The master has no power save row: its colours there are never drawn.
  if (!p.isMaster)
    red = red || p.powerSaveColor != kColorBlack || p.sleepModeColor != kColorBlack;
  return red;
}

namespace {

constexpr wchar_t kBothUnwrittenText[] =
    L"The Master's and the Slave's changes have not been written. Exit anyway?";
constexpr wchar_t kMasterUnwrittenText[] =
    L"The Master's changes have not been written. Exit anyway?";
constexpr wchar_t kSlaveUnwrittenText[] =
    L"The Slave's changes have not been written. Exit anyway?";

}  // namespace

const wchar_t* exitQuestion(const PaneRecord* master, const PaneRecord* slave) {
  const bool inMaster = showsUnwrittenValues(master);
  const bool inSlave = showsUnwrittenValues(slave);
  if (inMaster && inSlave)
    return kBothUnwrittenText;
  if (inMaster)
    return kMasterUnwrittenText;
  if (inSlave)
    return kSlaveUnwrittenText;
  return nullptr;
}

// ---- commands ---------------------------------------------------------------

Command decodeCommand(uint64_t wParam) {
  if (wParam > UINT32_MAX)
    return {};
  const auto value = static_cast<uint32_t>(wParam);
  const uint32_t id = value & kCommandIdMask;
  const uint32_t notify = value >> kNotifyShift;
  if (notify == kNotifyClicked)
    return buttonCommand(id);
  if (notify == kNotifySelChange)
    return selectionCommand(id);
  return {};
}

void storeChoice(PaneRecord* pane, CommandKind kind, int32_t position) {
  const auto code = static_cast<uint32_t>(position);
  const auto byte = static_cast<uint8_t>(code);
  switch (kind) {
    case CommandKind::Channel:
      pane->channelShown = static_cast<uint8_t>(code + kFirstChannel);
      recolorField(pane, Field::Channel);
      break;
    case CommandKind::Baud:
      pane->baudCodeShown = code;
      recolorField(pane, Field::Baud);
      break;
    case CommandKind::Parity:
      pane->parityCodeShown = byte;
      recolorField(pane, Field::Parity);
      break;
    case CommandKind::StopBits:
      pane->stopBitsCodeShown = byte;
      recolorField(pane, Field::StopBits);
      break;
    case CommandKind::PowerLevel:
      pane->powerLevelShown = byte;
      recolorField(pane, Field::PowerLevel);
      break;
    case CommandKind::BoostMode:
      pane->boostModeShown = byte;
      recolorField(pane, Field::BoostMode);
      break;
    case CommandKind::PowerSave:
      pane->powerSaveShown = byte;
      recolorField(pane, Field::PowerSave);
      break;
    case CommandKind::FlowControl:
      pane->flowControlShown = byte;
      recolorField(pane, Field::FlowControl);
      break;
    default:
      break;
  }
}

// ---- choice lists and positions ---------------------------------------------

int32_t channelEntryCount(int32_t channelLimit) {
  // The limit counts as unsigned: a negative one allows every channel.
  const auto limit = static_cast<uint32_t>(channelLimit);
  if (limit < kFirstChannel)
    return 0;
  const uint32_t allowed = limit - kFirstChannel + 1;
  const auto all = static_cast<uint32_t>(channelChoices.count);
  return static_cast<int32_t>(allowed < all ? allowed : all);
}

void copyPaneSettings(PaneRecord* destination, const PaneRecord* source) {
  if (channelOffered(destination, source->channelShown)) {
    destination->channelShown = source->channelShown;
    selectComboEntry(destination->channelCombo, channelPosition(destination->channelShown));
  }
  copyListChoice(source->baudCodeShown, destination->baudCodeShown, destination->baudCombo,
                 baudChoices);
  copyListChoice(source->parityCodeShown, destination->parityCodeShown, destination->parityCombo,
                 parityChoices);
  copyListChoice(source->stopBitsCodeShown, destination->stopBitsCodeShown,
                 destination->stopBitsCombo, stopBitsChoices);
}

// ---- port list entries ------------------------------------------------------

bool friendlyNamePortNumber(const wchar_t* name, uint32_t* portNumber) {
  if (!name || !containsCom(name))
    return false;
  *portNumber = static_cast<uint32_t>(portNumberFromText(name));
  return true;
}

bool makePortEntry(const wchar_t* friendlyName, PortEntry* entry) {
  uint32_t number = 0;
  if (!friendlyNamePortNumber(friendlyName, &number))
    return false;
  uint32_t length = 0;
  while (friendlyName[length] && length + 1 < kFriendlyNameChars)
    entry->friendlyName[length] = friendlyName[length], ++length;
  entry->friendlyName[length] = 0;
  if (friendlyName[length]) {
    // Cut: the entry's text must still name the same port, since a Read
    // takes the number from the text shown.
    uint32_t cutNumber = 0;
    if (!friendlyNamePortNumber(entry->friendlyName, &cutNumber) || cutNumber != number)
      return false;
  }
  entry->portNumber = number;
  return true;
}

bool broadcastPortNumber(const wchar_t* name, uint32_t* portNumber) {
  // Printer ports are ports too: "LPT1" must not act on COM1.
  if (!name || name[0] != L'C' || name[1] != L'O' || name[2] != L'M')
    return false;
  *portNumber = decimalAsWcstoul(name + 3);
  return true;
}
