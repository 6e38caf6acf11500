#include "ui/dialog/rules.h"

#include <initializer_list>

#include "link/hex.h"
#include "module/read.h"
#include "resources/pane_labels.h"
#include "resources/resource_ids.h"
#include "ui/dialog/view_hooks.h"

namespace {

constexpr uint32_t kCommandIdMask = 0xFFFF;
constexpr uint32_t kNotifyShift = 16;
constexpr uint32_t kNotifyClicked = 0;    // BN_CLICKED, and accelerators
constexpr uint32_t kNotifySelChange = 1;  // CBN_SELCHANGE

constexpr int kMasterIds[kSettingCount] = {IDC_MASTER_SETTINGS};
constexpr int kSlaveIds[kSettingCount] = {IDC_SLAVE_SETTINGS};

bool containsCom(const wchar_t* text) {
  for (const wchar_t* p = text; *p; ++p) {
    if (p[0] == L'C' && p[1] == L'O' && p[2] == L'M')
      return true;
  }
  return false;
}

Command buttonCommand(uint32_t id) {
  switch (id) {
    case IDC_EXIT:  // or Enter with no push button focused
    case IDC_ESCAPE:
      return {CommandKind::Close, nullptr};
    case IDC_COPY_TO_SLAVE:
      return {CommandKind::CopyToSlave, nullptr};
    case IDC_COPY_TO_MASTER:
      return {CommandKind::CopyToMaster, nullptr};
    case IDC_SET_DEFAULT:
      return {CommandKind::SetDefault, nullptr};
    case IDC_LINK_TEST:
      return {CommandKind::LinkTest, nullptr};
    case IDC_MASTER_READ:
      return {CommandKind::Read, &masterPane};
    case IDC_MASTER_WRITE:
      return {CommandKind::Write, &masterPane};
    case IDC_SLAVE_READ:
      return {CommandKind::Read, &slavePane};
    case IDC_SLAVE_WRITE:
      return {CommandKind::Write, &slavePane};
    default:
      return {};
  }
}

// A pick in one of the lists: the id names the pane and the setting.
Command selectionCommand(uint32_t id) {
  for (const bool master : {true, false}) {
    for (Setting setting : kAllSettings) {
      if (hasFlag(setting, kChoice) && settingControlId(master, setting) == static_cast<int>(id))
        return {CommandKind::Choice, master ? &masterPane : &slavePane, setting};
    }
  }
  return {};
}

}  // namespace

// ---- buttons ----------------------------------------------------------------

bool modulesFormLink(const ModuleRecord* master, const ModuleRecord* slave) {
  for (Setting s : kAllSettings) {
    if (hasFlag(s, kLinkMatch) && master->read[s] != slave->read[s])
      return false;
  }
  return serialNumber(*master) == destination(slave->read) &&
         destination(master->read) == serialNumber(*slave);
}

ButtonStates buttonStates(const PaneRecord* master, const PaneRecord* slave,
                          int32_t masterPortCount, int32_t slavePortCount) {
  const bool masterData = holdsModuleData(&master->module);
  const bool slaveData = holdsModuleData(&slave->module);
  const bool bothData = masterData && slaveData;
  ButtonStates s;
  s.masterRead = masterPortCount > 0;
  s.masterWrite = masterData;
  s.slaveRead = slavePortCount > 0;
  s.slaveWrite = slaveData;
  s.copyToSlave = bothData;
  s.copyToMaster = bothData;
  s.linkTest = bothData && modulesFormLink(&master->module, &slave->module);
  s.setDefault = masterData || slaveData;
  return s;
}

// ---- colours ----------------------------------------------------------------

ColorRef fieldColor(uint64_t shown, uint64_t read) {
  return shown == read ? kColorBlack : kColorRed;
}

ColorRef recolorField(PaneRecord* pane, Setting setting) {
  const ModuleRecord& m = pane->module;
  return pane->color[indexOf(setting)] = fieldColor(m.shown[setting], m.read[setting]);
}

namespace {

// What the pane draws: the master has no power save row.
bool paneShows(const PaneRecord* pane, Setting setting) {
  return settingControlId(pane->module.isMaster != 0, setting) != 0;
}

}  // namespace

void recolorPane(PaneRecord* pane) {
  for (Setting s : kAllSettings) {
    if (paneShows(pane, s))
      recolorField(pane, s);
  }
}

namespace {

bool fieldColorOf(const PaneRecord* pane, WindowHandle control, bool combo, ColorRef* color) {
  if (!control)
    return false;
  for (Setting s : kAllSettings) {
    if (controlOf(pane, s) == control && (settingInfo(s).choices != nullptr) == combo) {
      *color = pane->color[indexOf(s)];
      return true;
    }
  }
  return false;
}

}  // namespace

// Static value fields: the hexadecimal ones and the mode registers' texts.
bool staticFieldColor(const PaneRecord* pane, WindowHandle control, ColorRef* color) {
  return fieldColorOf(pane, control, false, color);
}

bool comboFieldColor(const PaneRecord* pane, WindowHandle control, ColorRef* color) {
  return fieldColorOf(pane, control, true, color);
}

// ---- unwritten values -------------------------------------------------------

bool showsUnwrittenValues(const PaneRecord* pane) {
  if (!holdsModuleData(&pane->module))
    return false;
  for (Setting s : kAllSettings) {
    if (paneShows(pane, s) && pane->color[indexOf(s)] != kColorBlack)
      return true;
  }
  return false;
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

int settingControlId(bool master, Setting setting) {
  return (master ? kMasterIds : kSlaveIds)[indexOf(setting)];
}

void storeChoice(PaneRecord* pane, Setting setting, int32_t position) {
  pickChoice(&pane->module, setting, position);
  recolorPane(pane);
}

// ---- choice lists and positions ---------------------------------------------

int32_t channelEntryCount(int32_t channelLimit) {
  // The limit counts as unsigned: a negative one allows every channel.
  const auto limit = static_cast<uint32_t>(channelLimit);
  if (limit < kFirstChannel)
    return 0;
  const uint32_t allowed = limit - kFirstChannel + 1;
  const auto all = static_cast<uint32_t>(settingInfo(Setting::Channel).choices->count);
  return static_cast<int32_t>(allowed < all ? allowed : all);
}

// A reset marker or a code the pane cannot name would reach the other
// module with its next Write: only an entry of the list is copied.
void copyPaneSettings(PaneRecord* destination, const PaneRecord* source) {
  for (Setting s : kAllSettings) {
    const uint64_t value = source->module.shown[s];
    if (!hasFlag(s, kCopied) || !valueOffered(destination->module, s, value))
      continue;
    destination->module.shown[s] = value;
    selectComboEntry(controlOf(destination, s), listPosition(s, value));
  }
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
