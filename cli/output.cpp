#include "cli/output.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "cli/cli.h"
#include "cli/session.h"
#include "module/bounded_text.h"
#include "module/settings_file.h"

namespace cli {

std::string hex(uint64_t value, int digits) {
  char text[24];
  std::snprintf(text, sizeof text, "%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

std::string entryText(const PaneRecord* pane, Setting s) {
  const int32_t position = shownSettingPosition(pane, s);
  return position < 0 ? "?" : narrow(settingList(s).entries[position]);
}

int32_t shownCode(const PaneRecord* p, Setting s) {
  switch (s) {
    case SettingChannel:
      return p->channelShown;
    case SettingBaudRate:
      return static_cast<int32_t>(p->baudCodeShown);
    case SettingParity:
      return p->parityCodeShown;
    case SettingStopBits:
      return p->stopBitsCodeShown;
    case SettingPowerLevel:
      return p->powerLevelShown;
    case SettingBoostMode:
      return p->boostModeShown;
    case SettingPowerSave:
      return p->powerSaveShown;
    default:
      return p->flowControlShown;
  }
}

bool settingApplies(const PaneRecord* pane, int s) {
  return !(pane->isMaster && s == SettingPowerSave);
}

// Well-formed UTF-8 passes as it is; a byte that is none keeps its value as
// the code point U+00XX, so that nothing a module sent is lost or invalid.
std::string jsonString(const std::string& text) {
  static constexpr char kReplacement[] = "\xEF\xBF\xBD";
  std::string out = "\"";
  const char* p = text.c_str();
  const char* end = p + text.size();
  while (p < end) {
    const char* start = p;
    const uint32_t c = takeUtf8(p);
    const auto length = static_cast<size_t>(p - start);
    const bool malformed = c == 0xFFFD && std::string_view(start, length) != kReplacement;
    if (malformed) {
      for (const char* b = start; b < p; ++b)
        out += "\\u00" + hex(static_cast<uint8_t>(*b), 2);
    } else if (c < 0x20 || c == 0x7F) {
      out += "\\u00" + hex(c, 2);
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else {
      out.append(start, length);
    }
  }
  return out + "\"";
}

std::string jsonBool(bool value) {
  return value ? "true" : "false";
}

void addJson(std::string& json, const char* key, const std::string& value) {
  if (json.back() != '{')
    json += ", ";
  json += jsonString(key) + ": " + value;
}

void addJsonItem(std::string& array, const std::string& value) {
  if (array.back() != '[')
    array += ", ";
  array += value;
}

// A module's 8-bit text for a terminal: printable ASCII, anything else "?",
// as the settings file and the record show it.
std::string paneJson(const PaneRecord* p) {
  std::string out = "{";
  out += "\"role\": " + jsonString(p->isMaster ? "master" : "slave");
  out += ", \"nodeIdentifier\": " + jsonString(nodeIdOf(p));
  out += ", \"serialNumber\": " + jsonString(hex(p->serialHigh, 8) + hex(p->serialLow, 8));
  out += ", \"firmwareVersion\": " + jsonString(hex(p->firmwareVersion, 4));
  out += ", \"panId\": " + jsonString(hex(p->panIdShown, 1));
  out += ", \"destination\": " + jsonString(hex(p->destHighShown, 8) + hex(p->destLowShown, 8));
  out += ", \"settings\": {";
  bool first = true;
  for (int s = 0; s < kSettingCount; ++s) {
    if (!settingApplies(p, s))
      continue;
    const auto setting = static_cast<Setting>(s);
    out += first ? "" : ", ";
    first = false;
    out += jsonString(narrow(settingKey(setting))) +
           ": {\"text\": " + jsonString(entryText(p, setting)) +
           ", \"code\": " + std::to_string(shownCode(p, setting)) + "}";
  }
  return out + "}}";
}

bool printSettingsFile(const PaneRecord* pane) {
  PaneRecord empty{};
  empty.isMaster = pane->isMaster ? 0 : 1;
  std::vector<char> text(kSettingsFileLimit);
  const PaneRecord* master = pane->isMaster ? pane : &empty;
  const PaneRecord* slave = pane->isMaster ? &empty : pane;
  const size_t size = formatSettingsFile(master, slave, text.data(), text.size());
  if (size == 0)
    return false;
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    if (text[i] != '\r')
      out += text[i];
  }
  // The rest of what the pane shows read-only, as one more comment.
  const size_t section = out.find("\n[");
  if (section != std::string::npos) {
    out.insert(section + 1, std::string(pane->isMaster ? "; Master" : "; Slave") +
                                ": Serial Number " + hex(pane->serialHigh, 8) + " " +
                                hex(pane->serialLow, 8) + ", Firmware " +
                                hex(pane->firmwareVersion, 4) + "\n");
  }
  std::fputs(out.c_str(), stdout);
  return true;
}

std::vector<Change> changesOf(const PaneRecord* before, const PaneRecord* after) {
  std::vector<Change> changes;
  if (before->panIdShown != after->panIdShown) {
    const std::string from = hex(before->panIdShown, 1), to = hex(after->panIdShown, 1);
    changes.push_back({"PAN ID", from, to, "PAN ID: " + from + " -> " + to});
  }
  if (before->destHighShown != after->destHighShown ||
      before->destLowShown != after->destLowShown) {
    const std::string fromHigh = hex(before->destHighShown, 8),
                      fromLow = hex(before->destLowShown, 8);
    const std::string toHigh = hex(after->destHighShown, 8), toLow = hex(after->destLowShown, 8);
    changes.push_back({"Destination", fromHigh + fromLow, toHigh + toLow,
                       "Destination: " + fromHigh + " " + fromLow + " -> " + toHigh + " " + toLow});
  }
  for (int s = 0; s < kSettingCount; ++s) {
    const auto setting = static_cast<Setting>(s);
    if (!settingApplies(after, s) || shownCode(before, setting) == shownCode(after, setting))
      continue;
    const std::string key = narrow(settingKey(setting));
    const std::string from = entryText(before, setting), to = entryText(after, setting);
    changes.push_back({key, from, to, key + ": " + from + " -> " + to});
  }
  return changes;
}

std::string changesJson(const std::vector<Change>& changes) {
  std::string array = "[";
  for (const Change& c : changes) {
    std::string item = "{";
    addJson(item, "key", jsonString(c.key));
    addJson(item, "from", jsonString(c.from));
    addJson(item, "to", jsonString(c.to));
    addJsonItem(array, item + "}");
  }
  return array + "]";
}

namespace {

int32_t readCode(const PaneRecord* p, Setting s) {
  switch (s) {
    case SettingChannel:
      return p->channelRead;
    case SettingBaudRate:
      return static_cast<int32_t>(p->baudCodeRead);
    case SettingParity:
      return p->parityCodeRead;
    case SettingStopBits:
      return p->stopBitsCodeRead;
    case SettingPowerLevel:
      return p->powerLevelRead;
    case SettingBoostMode:
      return p->boostModeRead;
    case SettingPowerSave:
      return p->powerSaveRead;
    default:
      return p->flowControlRead;
  }
}

// What the module holds, each value as the settings file names it.
std::string heldSettingsJson(const PaneRecord* p) {
  std::string object = "{";
  for (int s = 0; s < kSettingCount; ++s) {
    if (!settingApplies(p, s))
      continue;
    const auto setting = static_cast<Setting>(s);
    const int32_t code = readCode(p, setting);
    const int32_t position = setting == SettingChannel
                                 ? channelPosition(static_cast<uint8_t>(code))
                                 : listPosition(static_cast<uint32_t>(code), settingList(setting));
    addJson(object, narrow(settingKey(setting)).c_str(),
            position < 0 ? "null" : jsonString(narrow(settingList(setting).entries[position])));
  }
  return object + "}";
}

std::string nodeIdText(const PairModule& m) {
  return std::string(m.nodeId, strnlen(m.nodeId, kNodeIdSize));
}

}  // namespace

PairModule moduleOf(const PaneRecord* pane, bool read) {
  PairModule m;
  m.portNumber = pane->portNumber;
  m.identified = read;
  m.holdsSettings = read;
  if (read) {
    m.serialHigh = pane->serialHigh;
    m.serialLow = pane->serialLow;
    std::memcpy(m.nodeId, pane->nodeId, kNodeIdSize);
    m.firmwareVersion = pane->firmwareVersion;
    m.settings = *pane;
  }
  return m;
}

std::string moduleJson(const std::string& port, const PairModule& m) {
  std::string object = "{";
  addJson(object, "port", jsonString(port));
  // A module refused by its role is named by what it answered.
  const bool id = m.identified || m.named;
  const bool serial = m.identified || m.serialKnown;
  const bool firmware = m.identified || (m.named && m.firmwareVersion != 0xFFFF);
  addJson(object, "serial",
          serial ? jsonString(hex(m.serialHigh, 8) + hex(m.serialLow, 8)) : "null");
  addJson(object, "node_id", id ? jsonString(nodeIdText(m)) : "null");
  addJson(object, "firmware", firmware ? jsonString(hex(m.firmwareVersion, 4)) : "null");
  const PaneRecord* p = &m.settings;
  const bool held = m.holdsSettings;
  addJson(object, "settings", held ? heldSettingsJson(p) : "null");
  addJson(object, "pan_id", held ? jsonString(hex(p->panIdRead, 1)) : "null");
  addJson(object, "destination",
          held ? jsonString(hex(p->destHighRead, 8) + hex(p->destLowRead, 8)) : "null");
  return object + "}";
}

bool printText(const std::string& text) {
  return std::fputs(text.c_str(), stdout) >= 0;
}

}  // namespace cli
