#include "cli/output.h"

#include <cstdio>

#include "cli/cli.h"
#include "cli/session.h"
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

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\')
      out += std::string("\\") + c;
    else if (u < 0x20 || u >= 0x7F)
      out += "\\u00" + hex(u, 2);
    else
      out += c;
  }
  return out + "\"";
}

void printJson(const PaneRecord* p) {
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
  out += "}}\n";
  std::fputs(out.c_str(), stdout);
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

std::vector<std::string> changesOf(const PaneRecord* before, const PaneRecord* after) {
  std::vector<std::string> lines;
  if (before->panIdShown != after->panIdShown)
    lines.push_back("PAN ID: " + hex(before->panIdShown, 1) + " -> " + hex(after->panIdShown, 1));
  if (before->destHighShown != after->destHighShown ||
      before->destLowShown != after->destLowShown) {
    lines.push_back("Destination: " + hex(before->destHighShown, 8) + " " +
                    hex(before->destLowShown, 8) + " -> " + hex(after->destHighShown, 8) + " " +
                    hex(after->destLowShown, 8));
  }
  for (int s = 0; s < kSettingCount; ++s) {
    const auto setting = static_cast<Setting>(s);
    if (!settingApplies(after, s) || shownCode(before, setting) == shownCode(after, setting))
      continue;
    lines.push_back(narrow(settingKey(setting)) + ": " + entryText(before, setting) + " -> " +
                    entryText(after, setting));
  }
  return lines;
}

}  // namespace cli
