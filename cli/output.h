// What the commands print: settings files, JSON, and the changes a write makes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "module/module_record.h"
#include "module/pair_run.h"
#include "module/settings_file.h"

namespace cli {

std::string hex(uint64_t value, int digits);
// The entry a Shown value names, "?" for none.
std::string shownEntry(const ModuleRecord& m, Setting s);
// The node identifier, up to its terminator or its field's end.
std::string nodeIdOf(const ModuleRecord& module);
std::string jsonString(const std::string& text);
std::string jsonBool(bool value);
// Adds "key": value to an object or value to an array, both still open.
void addJson(std::string& json, const char* key, const std::string& value);
void addJsonItem(std::string& array, const std::string& value);

// The settings file as Save writes it, with this system's line ends.
bool printSettingsFile(const ModuleRecord& m);

// One value that a Write sends: what the pane held and what it is to hold.
struct Change {
  std::string key;
  std::string from;
  std::string to;
  std::string line;  // "Channel: 15 -> 12"
};
std::vector<Change> changesOf(const ModuleRecord& before, const ModuleRecord& after);
std::string changesJson(const std::vector<Change>& changes);

// A module as a run or a read found it, for the pair's and the link test's output.
PairModule moduleOf(const ModuleRecord& module, uint32_t portNumber, bool read);
// What makes two read modules no pair (PAN ID, channel, destinations), in
// words; empty for a pair. The text: "The modules are no pair:" and a line
// each, or that they are a pair.
std::vector<std::string> noPairFindings(const ModuleRecord& master, const ModuleRecord& slave);
std::string noPairText(const std::vector<std::string>& findings);
// The one module object of every command's JSON; null for what is not known
// (and for each setting of unknownKeys, by its key).
std::string moduleJson(const std::string& port, bool master, const PairModule& m,
                       const std::vector<std::string>& unknownKeys = {});
bool printText(const std::string& text);

}  // namespace cli
