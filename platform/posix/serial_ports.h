// The serial ports of a Linux machine: ttys with a driver behind them.
#pragma once

#include <string>
#include <vector>

namespace os::posix {

struct SerialPortEntry {
  std::string path;         // /dev/ttyUSB0
  std::string description;  // the adapter's product, or its /dev/serial/by-id name
};

// Sorted by path. sysRoot and devRoot are "/sys" and "/dev" but for tests.
std::vector<SerialPortEntry> listSerialPorts(const std::string& sysRoot = "/sys",
                                             const std::string& devRoot = "/dev");

}  // namespace os::posix
