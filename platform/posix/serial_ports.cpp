#include "platform/posix/serial_ports.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace os::posix {

namespace {

namespace fs = std::filesystem;

std::string firstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// The USB device above the tty's interface carries the strings that name
// the adapter.
void readUsbStrings(const fs::path& device, SerialPortEntry& entry) {
  std::error_code ec;
  fs::path at = fs::canonical(device, ec);
  for (int up = 0; !ec && up < 4 && !at.empty() && at != at.root_path(); ++up) {
    entry.product = firstLine(at / "product");
    if (!entry.product.empty()) {
      entry.manufacturer = firstLine(at / "manufacturer");
      entry.serial = firstLine(at / "serial");
      return;
    }
    at = at.parent_path();
  }
}

// by-id links name the adapter, its serial number and interface.
std::string byIdPathOf(const std::string& devRoot, const std::string& ttyName) {
  std::error_code ec;
  fs::directory_iterator it(fs::path(devRoot) / "serial/by-id", ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const fs::path target = fs::read_symlink(it->path(), ec);
    if (!ec && target.filename() == ttyName)
      return it->path().string();
  }
  return {};
}

// Where nothing names the adapter, its driver does; the serial core's own
// "port" and "ctrl" devices stand between the tty and the UART's driver.
std::string driverOf(fs::path device) {
  for (int up = 0; up < 3; ++up, device /= "..") {
    std::error_code ec;
    const std::string name = fs::read_symlink(device / "driver", ec).filename().string();
    if (!ec && !name.empty() && name != "port" && name != "ctrl")
      return name;
  }
  return {};
}

}  // namespace

std::vector<SerialPortEntry> listSerialPorts(const std::string& sysRoot,
                                             const std::string& devRoot) {
  std::vector<SerialPortEntry> ports;
  std::error_code ec;
  fs::directory_iterator it(fs::path(sysRoot) / "class/tty", ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const fs::path device = it->path() / "device";
    std::error_code missing;
    // Virtual terminals and unused legacy ports have no driver behind them.
    if (!fs::exists(device / "driver", missing))
      continue;
    // A legacy port that the serial core found no UART behind.
    if (firstLine(it->path() / "type") == "0")
      continue;
    const std::string name = it->path().filename().string();
    SerialPortEntry entry;
    entry.path = devRoot + "/" + name;
    entry.byIdPath = byIdPathOf(devRoot, name);
    readUsbStrings(device, entry);
    entry.driver = driverOf(device);
    entry.description = !entry.byIdPath.empty()  ? fs::path(entry.byIdPath).filename().string()
                        : !entry.product.empty() ? entry.product
                                                 : entry.driver;
    ports.push_back(entry);
  }
  std::sort(ports.begin(), ports.end(),
            [](const SerialPortEntry& a, const SerialPortEntry& b) { return a.path < b.path; });
  return ports;
}

}  // namespace os::posix
