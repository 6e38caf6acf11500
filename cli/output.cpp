#include "cli/output.h"

#include <algorithm>

#include <cstdio>
#include <cstring>
#include <string_view>

#include "cli/cli.h"
#include "link/hex.h"
#include "module/bounded_text.h"
#include "module/settings_file.h"

namespace cli {

std::string hex(uint64_t value, int digits) {
  char text[16];
  return std::string(text, static_cast<size_t>(formatHex(value, digits, text)));
}

std::string shownEntry(const ModuleRecord& m, Setting s) {
  const wchar_t* text = shownText(m, s);
  return text ? narrow(text) : "?";
}

namespace {

bool isKey(const ModuleRecord& m, Setting s) {
  return hasFlag(s, kChoice) && appliesTo(s, m.isMaster != 0);
}

std::string keyOf(Setting s) {
  return narrow(settingInfo(s).label);
}

}  // namespace

std::string nodeIdOf(const ModuleRecord& module) {
  return std::string(module.nodeId, strnlen(module.nodeId, kNodeIdSize));
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

bool printSettingsFile(const ModuleRecord& m) {
  ModuleRecord empty{};
  empty.isMaster = m.isMaster ? 0 : 1;
  std::vector<char> text(kSettingsFileLimit);
  const ModuleRecord* master = m.isMaster ? &m : &empty;
  const ModuleRecord* slave = m.isMaster ? &empty : &m;
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
    out.insert(section + 1, std::string(m.isMaster ? "; Master" : "; Slave") + ": Serial Number " +
                                hex(m.serialHigh, 8) + " " + hex(m.serialLow, 8) + ", Firmware " +
                                hex(m.firmwareVersion, 4) + "\n");
  }
  std::fputs(out.c_str(), stdout);
  return true;
}

std::vector<Change> changesOf(const ModuleRecord& before, const ModuleRecord& after) {
  std::vector<Change> changes;
  const uint64_t fromId = before.shown[Setting::PanId], toId = after.shown[Setting::PanId];
  if (fromId != toId) {
    const std::string from = hex(fromId, 1), to = hex(toId, 1);
    changes.push_back({"PAN ID", from, to, "PAN ID: " + from + " -> " + to});
  }
  if (before.shown[Setting::DestHigh] != after.shown[Setting::DestHigh] ||
      before.shown[Setting::DestLow] != after.shown[Setting::DestLow]) {
    const std::string fromHigh = hex(before.shown[Setting::DestHigh], 8),
                      fromLow = hex(before.shown[Setting::DestLow], 8);
    const std::string toHigh = hex(after.shown[Setting::DestHigh], 8),
                      toLow = hex(after.shown[Setting::DestLow], 8);
    changes.push_back({"Destination", fromHigh + fromLow, toHigh + toLow,
                       "Destination: " + fromHigh + " " + fromLow + " -> " + toHigh + " " + toLow});
  }
  for (Setting s : kAllSettings) {
    if (!isKey(after, s) || before.shown[s] == after.shown[s])
      continue;
    const std::string key = keyOf(s);
    const std::string from = shownEntry(before, s), to = shownEntry(after, s);
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

// What the module holds, each value as the settings file names it.
std::string heldSettingsJson(const ModuleRecord& p, const std::vector<std::string>& unknown) {
  std::string object = "{";
  for (Setting s : kAllSettings) {
    if (!isKey(p, s))
      continue;
    const bool known = std::find(unknown.begin(), unknown.end(), keyOf(s)) == unknown.end();
    const wchar_t* text = known ? entryText(s, p.read[s]) : nullptr;
    addJson(object, keyOf(s).c_str(), text ? jsonString(narrow(text)) : "null");
  }
  return object + "}";
}

std::string nodeIdText(const PairModule& m) {
  return std::string(m.nodeId, strnlen(m.nodeId, kNodeIdSize));
}

}  // namespace

PairModule moduleOf(const ModuleRecord& module, uint32_t portNumber, bool read) {
  PairModule m;
  m.portNumber = static_cast<int32_t>(portNumber);
  m.identified = read;
  m.holdsSettings = read;
  if (read) {
    m.serialHigh = module.serialHigh;
    m.serialLow = module.serialLow;
    std::memcpy(m.nodeId, module.nodeId, kNodeIdSize);
    m.firmwareVersion = module.firmwareVersion;
    m.settings = module;
  }
  return m;
}

std::string moduleJson(const std::string& port, bool master, const PairModule& m,
                       const std::vector<std::string>& unknownKeys) {
  std::string object = "{";
  addJson(object, "port", jsonString(port));
  addJson(object, "role", jsonString(master ? "master" : "slave"));
  // A module refused by its role is named by what it answered.
  const bool id = m.identified || m.named;
  const bool serial = m.identified || m.serialKnown;
  const bool firmware = m.identified || (m.named && m.firmwareVersion != 0xFFFF);
  addJson(object, "serial",
          serial ? jsonString(hex(m.serialHigh, 8) + hex(m.serialLow, 8)) : "null");
  addJson(object, "node_id", id ? jsonString(nodeIdText(m)) : "null");
  addJson(object, "firmware", firmware ? jsonString(hex(m.firmwareVersion, 4)) : "null");
  const ModuleRecord& p = m.settings;
  const bool held = m.holdsSettings;
  addJson(object, "settings", held ? heldSettingsJson(p, unknownKeys) : "null");
  addJson(object, "pan_id", held ? jsonString(hex(p.read[Setting::PanId], 1)) : "null");
  addJson(object, "destination",
          held ? jsonString(hex(p.read[Setting::DestHigh], 8) + hex(p.read[Setting::DestLow], 8))
               : "null");
  return object + "}";
}

namespace {

// "The master's destination ... is not the slave's serial number ...".
void checkDestination(std::vector<std::string>& findings, const ModuleRecord& from,
                      const ModuleRecord& to, const char* whose, const char* whom) {
  const uint64_t high = from.read[Setting::DestHigh], low = from.read[Setting::DestLow];
  if (high == to.serialHigh && low == to.serialLow)
    return;
  findings.push_back(std::string("The ") + whose + " destination " + hex(high, 8) + hex(low, 8) +
                     " is not the " + whom + " serial number " + hex(to.serialHigh, 8) +
                     hex(to.serialLow, 8) + ".");
}

}  // namespace

std::vector<std::string> noPairFindings(const ModuleRecord& m, const ModuleRecord& s) {
  std::vector<std::string> findings;
  if (m.read[Setting::PanId] != s.read[Setting::PanId]) {
    findings.push_back("The PAN IDs differ: master " + hex(m.read[Setting::PanId], 1) + ", slave " +
                       hex(s.read[Setting::PanId], 1) + ".");
  }
  if (m.read[Setting::Channel] != s.read[Setting::Channel]) {
    findings.push_back("The channels differ: master " + std::to_string(m.read[Setting::Channel]) +
                       ", slave " + std::to_string(s.read[Setting::Channel]) + ".");
  }
  checkDestination(findings, m, s, "master's", "slave's");
  checkDestination(findings, s, m, "slave's", "master's");
  return findings;
}

std::string noPairText(const std::vector<std::string>& findings) {
  std::string text = findings.empty()
                         ? "The modules are a pair (PAN ID, destinations and channel match).\n"
                         : "The modules are no pair:\n";
  for (const std::string& finding : findings)
    text += "  " + finding + "\n";
  return text;
}

bool printText(const std::string& text) {
  return std::fputs(text.c_str(), stdout) >= 0;
}

}  // namespace cli
