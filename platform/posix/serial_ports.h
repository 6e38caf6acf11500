// The serial ports of a Linux machine: ttys with a driver behind them.
#pragma once

#include <string>
#include <vector>

namespace os::posix {

// Empty where the machine does not say.
struct SerialPortEntry {
  std::string path;          // /dev/ttyUSB0
  std::string byIdPath;      // /dev/serial/by-id/usb-...-if00-port0: stable, holds the serial
  std::string product;       // the USB adapter's product string
  std::string manufacturer;  // the USB adapter's manufacturer string
  std::string serial;        // the USB adapter's serial number
  std::string driver;        // the tty's driver, such as ftdi_sio or serial8250
  // What tells the port apart for a person: the by-id name, which names the
  // adapter and its serial number; else the product; else the driver.
  std::string description;
};

// Sorted by path. sysRoot and devRoot are "/sys" and "/dev" but for tests.
std::vector<SerialPortEntry> listSerialPorts(const std::string& sysRoot = "/sys",
                                             const std::string& devRoot = "/dev");

}  // namespace os::posix
