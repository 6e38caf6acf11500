// What the commands print: settings files, JSON, and the changes a write makes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "module/pane.h"
#include "module/settings_file.h"

namespace cli {

std::string hex(uint64_t value, int digits);
std::string entryText(const PaneRecord* pane, Setting s);
int32_t shownCode(const PaneRecord* p, Setting s);
bool settingApplies(const PaneRecord* pane, int s);
std::string jsonString(const std::string& text);
void printJson(const PaneRecord* p);
// The settings file as Save writes it, with this system's line ends.
bool printSettingsFile(const PaneRecord* pane);
// "Channel: 15 -> 12" for each value that a Write would send.
std::vector<std::string> changesOf(const PaneRecord* before, const PaneRecord* after);

}  // namespace cli
