// nlconf-cli on Linux: device paths for ports, signals for Cancel.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "cli/cli.h"
#include "platform/posix/device_paths.h"
#include "platform/posix/serial_ports.h"

namespace cli {

std::vector<PortEntry> listPorts() {
  std::vector<PortEntry> ports;
  for (const os::posix::SerialPortEntry& entry : os::posix::listSerialPorts())
    ports.push_back({entry.path, entry.description});
  return ports;
}

bool bindPort(const std::string& name, uint32_t preferred, uint32_t* number, std::string* shown,
              std::string* message) {
  struct stat st {};
  if (stat(name.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
    *message = "No serial port " + name + ".";
    return false;
  }
  if (!os::posix::setDevicePath(preferred, name.c_str())) {
    *message = "The name " + name + " is too long.";
    return false;
  }
  *number = preferred;
  *shown = name;
  return true;
}

bool stderrIsTerminal() {
  return isatty(STDERR_FILENO) != 0;
}

FILE* openFile(const std::string& name, const char* mode) {
  return std::fopen(name.c_str(), mode);
}

}  // namespace cli

namespace {

// The first Ctrl+C cancels as Cancel does; a second one gives up at once.
void awaitSignals(sigset_t signals) {
  int count = 0;
  for (;;) {
    int received = 0;
    if (sigwait(&signals, &received) != 0)
      continue;
    if (++count > 1)
      _exit(cli::ExitCancelled);
    cli::requestCancel();
  }
}

}  // namespace

int main(int argc, char** argv) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  // Blocked before any thread starts, so that only the waiter takes them.
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread(awaitSignals, signals).detach();
  return cli::run(std::vector<std::string>(argv + 1, argv + argc));
}
