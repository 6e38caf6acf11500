// nlconf-cli: the module operations from a command line. The program is
// portable; each system's main gives it the few things below.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace cli {

// The same on every system, and listed by --help.
enum ExitCode : int {
  ExitDone = 0,
  ExitUsage = 1,
  ExitRefused = 2,
  ExitCommunication = 3,
  ExitWrongRole = 4,
  ExitCancelled = 5,
  ExitLinkOrCheck = 6,
  ExitOutput = 7,
};

// Arguments as UTF-8; returns the exit code.
int run(const std::vector<std::string>& args);
// Cancels the operation in flight as the dialog's Cancel does. Safe from
// any thread, not from a signal handler.
void requestCancel();

// ---- what each system provides ------------------------------------------------------

struct PortEntry {
  std::string name;
  std::string description;
  // Where the system tells more of a port (Linux: sysfs and
  // /dev/serial/by-id), what it tells, each "" where it does not.
  bool detailed = false;
  std::string byIdPath;
  std::string product;
  std::string manufacturer;
  std::string serial;
  std::string driver;
};
std::vector<PortEntry> listPorts();

// Gives the port the user named a number of the port table (preferred:
// the number to use where the system has none of its own) and the name the
// line log shows. False with a message when the name designates no port.
bool bindPort(const std::string& name, uint32_t preferred, uint32_t* number, std::string* shown,
              std::string* message);

// Whether two names designate one port (the same device under two paths,
// or one COM name spelt two ways). Nothing is opened.
bool samePort(const std::string& a, const std::string& b);

// A profile's whole path, as the record names it.
std::string wholePath(const std::string& name);

bool stderrIsTerminal();
// Told once the command has left its modules as Cancel does and closed its
// ports, before the results are flushed and the guard time waited out.
void modulesReleased();

// ---- text ---------------------------------------------------------------------------

std::wstring widen(const std::string& utf8);
std::string narrow(const wchar_t* text);

}  // namespace cli
