// nlconf-cli ports: the serial ports the system tells of, and what it
// tells of each.
#include "cli/cli.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "cli/session.h"

namespace cli {

namespace {

// A column of the text: "-" where the system tells nothing, and no tab or
// line break that would move the next column.
std::string portColumn(const std::string& text) {
  std::string column = text.empty() ? "-" : text;
  for (char& c : column)
    c = static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
  return column;
}

// Device, by-id path, product, manufacturer, serial number and driver where
// the system tells them; else the device and what the system calls it.
int portsCommand(const Options& o) {
  const std::vector<PortEntry> ports = listPorts();
  std::string text = o.json ? "[" : "";
  for (const PortEntry& port : ports) {
    const std::string* details[] = {&port.byIdPath, &port.product, &port.manufacturer, &port.serial,
                                    &port.driver};
    const char* keys[] = {"by_id", "product", "manufacturer", "serial", "driver"};
    if (!o.json) {
      std::vector<std::string> columns = {port.name};
      if (!port.detailed)
        columns.push_back(port.description);
      for (size_t i = 0; port.detailed && i < 5; ++i)
        columns.push_back(*details[i]);
      for (const std::string& column : columns) {
        text += portColumn(column);
        text.push_back(&column == &columns.back() ? '\n' : '\t');
      }
      continue;
    }
    std::string item = "{";
    addJson(item, "port", jsonString(port.name));
    addJson(item, "description", jsonString(port.description));
    for (size_t i = 0; port.detailed && i < 5; ++i)
      addJson(item, keys[i], details[i]->empty() ? "null" : jsonString(*details[i]));
    addJsonItem(text, item + "}");
  }
  if (o.json)
    keepJsonResult(text + "]");
  else
    printText(text);
  return ExitDone;
}

constexpr OptionSpec kPortsOptions[] = {kJsonOption};

}  // namespace

extern constexpr CommandSpec kPortsCommand = {.name = "ports",
                                              .minPorts = 0,
                                              .maxPorts = 0,
                                              .fileOperand = nullptr,
                                              .needsRole = false,
                                              .options = kPortsOptions,
                                              .usage = "nlconf-cli ports [--json]",
                                              .summary = "Lists the serial ports.",
                                              .moreHelp = nullptr,
                                              .run = portsCommand};

}  // namespace cli
