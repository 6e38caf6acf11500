// nlconf-cli on Linux: device paths for ports, signals for Cancel.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include <thread>

#include "cli/cli.h"
#include "platform/posix/device_paths.h"
#include "platform/posix/serial_ports.h"

namespace cli {

std::vector<PortEntry> listPorts() {
  std::vector<PortEntry> ports;
  for (const os::posix::SerialPortEntry& entry : os::posix::listSerialPorts()) {
    PortEntry port;
    port.name = entry.path;
    port.description = entry.description;
    port.detailed = true;
    port.byIdPath = entry.byIdPath;
    port.product = entry.product;
    port.manufacturer = entry.manufacturer;
    port.serial = entry.serial;
    port.driver = entry.driver;
    ports.push_back(port);
  }
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

void modulesReleased() {}

}  // namespace cli

namespace {

// The first of SIGINT, SIGTERM and SIGHUP cancels as Cancel does; a second
// SIGINT or SIGTERM stops at once. The same signal again within moments
// is one delivered twice (timeout(1) signals the program and its process
// group), and a hang-up comes twice when a session drops (from the shell,
// and from the terminal as the shell goes): neither is anybody insisting.
constexpr int64_t kSameSignalMs = 250;

int64_t monotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void awaitSignals(sigset_t signals) {
  int first = 0;
  int64_t firstAt = 0;
  for (;;) {
    int received = 0;
    if (sigwait(&signals, &received) != 0)
      continue;
    if (first == 0) {
      first = received;
      firstAt = monotonicMs();
      cli::requestCancel();
      continue;
    }
    const bool repeated = received == first && monotonicMs() - firstAt < kSameSignalMs;
    if (received != SIGHUP && !repeated)
      cli::stopAtOnce();
  }
}

// A closed standard stream would be the next open's descriptor: a port's
// line would get the progress text, a file the results.
void openClosedStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
      continue;
    const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      dup2(opened, fd);
      close(opened);
    }
  }
}

// What the program was started with ignoring (nohup's SIGHUP, a script's
// trap '' INT) stays ignored: blocked, it would still reach the waiter.
void addUnlessIgnored(sigset_t* signals, int number) {
  struct sigaction now {};
  if (sigaction(number, nullptr, &now) != 0 || now.sa_handler != SIG_IGN)
    sigaddset(signals, number);
}

}  // namespace

int main(int argc, char** argv) {
  openClosedStandardStreams();
  // A reader that went away is a failed write, handled where it is made,
  // not the end of the program in the middle of a module's sequence.
  signal(SIGPIPE, SIG_IGN);
  sigset_t signals;
  sigemptyset(&signals);
  for (int number : {SIGINT, SIGTERM, SIGHUP})
    addUnlessIgnored(&signals, number);
  // Blocked before any thread starts, so that only the waiter takes them.
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread(awaitSignals, signals).detach();
  return cli::run(std::vector<std::string>(argv + 1, argv + argc));
}
