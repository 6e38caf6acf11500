// The far end of a pretend serial line for the Wine smoke test: a
// pseudo-terminal whose slave Wine opens as COM<N>, while this program
// answers a tiny line protocol on the master side.
//
//   pty_peer <dosdevices dir> <N>
//
// Requests end with '\r':
//   ECHO <text>  ->  <text>\r
//   SPEED?       ->  "<baud> <data bits> <N|O|E|M|S> <1|2>\r", as the master sees it
//   SILENT       ->  nothing
//   DRIBBLE      ->  the 16 bytes "0123456789abcdef", no terminator
//   BYE          ->  nothing; the program exits
// Prints "ready" once the dosdevices link exists; removes it on exit.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr const char kDribble[] = "0123456789abcdef";
constexpr size_t kMaxRequest = 256;

struct Pty {
  int master = -1;
  int slave = -1;
  std::string slavePath;
};

bool openPty(Pty& pty) {
  pty.master = posix_openpt(O_RDWR | O_NOCTTY);
  if (pty.master < 0) {
    std::perror("pty_peer: posix_openpt");
    return false;
  }
  if (grantpt(pty.master) != 0 || unlockpt(pty.master) != 0) {
    std::perror("pty_peer: grantpt/unlockpt");
    return false;
  }
  const char* name = ptsname(pty.master);
  if (name == nullptr) {
    std::perror("pty_peer: ptsname");
    return false;
  }
  pty.slavePath = name;
  // Held open for the whole run: otherwise the master reads EIO whenever
  // Wine has the port closed, e.g. between two opens.
  pty.slave = open(name, O_RDWR | O_NOCTTY);
  if (pty.slave < 0) {
    std::perror("pty_peer: open slave");
    return false;
  }
  return true;
}

// Termios of a pty pair live on the slave; setting them through the master
// gives Wine a clean raw line to start from (no echo, no CR/LF games).
bool makeRaw(int master) {
  termios tio{};
  if (tcgetattr(master, &tio) != 0) {
    std::perror("pty_peer: tcgetattr");
    return false;
  }
  cfmakeraw(&tio);
  if (tcsetattr(master, TCSANOW, &tio) != 0) {
    std::perror("pty_peer: tcsetattr");
    return false;
  }
  return true;
}

bool linkComPort(const std::string& linkPath, const std::string& target) {
  struct stat st {};
  if (lstat(linkPath.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      std::fprintf(stderr, "pty_peer: %s exists and is not a link\n", linkPath.c_str());
      return false;
    }
    unlink(linkPath.c_str());
  }
  if (symlink(target.c_str(), linkPath.c_str()) != 0) {
    std::perror("pty_peer: symlink");
    return false;
  }
  return true;
}

unsigned baudOf(speed_t speed) {
  switch (speed) {
    case B0:
      return 0;
    case B300:
      return 300;
    case B600:
      return 600;
    case B1200:
      return 1200;
    case B2400:
      return 2400;
    case B4800:
      return 4800;
    case B9600:
      return 9600;
    case B19200:
      return 19200;
    case B38400:
      return 38400;
    case B57600:
      return 57600;
    case B115200:
      return 115200;
    case B230400:
      return 230400;
    case B460800:
      return 460800;
    case B921600:
      return 921600;
    default:
      return 1;  // a rate this table lacks; never a real answer
  }
}

unsigned dataBitsOf(tcflag_t cflag) {
  switch (cflag & CSIZE) {
    case CS5:
      return 5;
    case CS6:
      return 6;
    case CS7:
      return 7;
    default:
      return 8;
  }
}

char parityOf(tcflag_t cflag) {
  if ((cflag & PARENB) == 0) {
    return 'N';
  }
  const bool odd = (cflag & PARODD) != 0;
  if ((cflag & CMSPAR) != 0) {
    return odd ? 'M' : 'S';
  }
  return odd ? 'O' : 'E';
}

std::string describeLine(int master) {
  termios tio{};
  if (tcgetattr(master, &tio) != 0) {
    return "ERROR";
  }
  char text[64];
  std::snprintf(text, sizeof text, "%u %u %c %u", baudOf(cfgetospeed(&tio)),
                dataBitsOf(tio.c_cflag), parityOf(tio.c_cflag), (tio.c_cflag & CSTOPB) ? 2u : 1u);
  return text;
}

bool writeAll(int fd, const char* bytes, size_t count) {
  while (count > 0) {
    const ssize_t n = write(fd, bytes, count);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      std::perror("pty_peer: write");
      return false;
    }
    bytes += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

enum class Verdict { kGoOn, kBye, kBroken };

Verdict answer(int master, const std::string& request) {
  if (request.rfind("ECHO ", 0) == 0) {
    const std::string reply = request.substr(5) + "\r";
    return writeAll(master, reply.data(), reply.size()) ? Verdict::kGoOn : Verdict::kBroken;
  }
  if (request == "SPEED?") {
    const std::string reply = describeLine(master) + "\r";
    return writeAll(master, reply.data(), reply.size()) ? Verdict::kGoOn : Verdict::kBroken;
  }
  if (request == "DRIBBLE") {
    return writeAll(master, kDribble, sizeof kDribble - 1) ? Verdict::kGoOn : Verdict::kBroken;
  }
  if (request == "BYE") {
    return Verdict::kBye;
  }
  // SILENT, and anything unknown, gets no answer: a reply the other side did
  // not ask for would only muddle its next read.
  if (request != "SILENT") {
    std::fprintf(stderr, "pty_peer: ignored request '%s'\n", request.c_str());
  }
  return Verdict::kGoOn;
}

// Returns when told BYE, on a termination signal, or when the line breaks.
int serve(int master, int signals) {
  std::string pending;
  bool overlong = false;  // drop the rest of a request that grew too long
  for (;;) {
    pollfd fds[2] = {{master, POLLIN, 0}, {signals, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) {
        continue;
      }
      std::perror("pty_peer: poll");
      return 1;
    }
    if (fds[1].revents & POLLIN) {
      return 0;
    }
    if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
      continue;
    }
    char chunk[256];
    const ssize_t n = read(master, chunk, sizeof chunk);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
      continue;
    }
    if (n <= 0) {
      std::perror("pty_peer: read");
      return 1;
    }
    for (ssize_t i = 0; i < n; ++i) {
      if (chunk[i] != '\r') {
        if (!overlong) {
          pending.push_back(chunk[i]);
        }
        if (pending.size() > kMaxRequest) {
          std::fprintf(stderr, "pty_peer: request too long, dropped\n");
          pending.clear();
          overlong = true;
        }
        continue;
      }
      if (overlong) {
        overlong = false;
        continue;
      }
      const Verdict verdict = answer(master, pending);
      pending.clear();
      if (verdict == Verdict::kBye) {
        return 0;
      }
      if (verdict == Verdict::kBroken) {
        return 1;
      }
    }
  }
}

int terminationSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) {
    return -1;
  }
  return signalfd(-1, &set, SFD_CLOEXEC);
}

bool parsePortNumber(const char* text, unsigned& number) {
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 10);
  if (end == text || *end != '\0' || value < 1 || value > 255) {
    return false;
  }
  number = static_cast<unsigned>(value);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned port = 0;
  if (argc != 3 || !parsePortNumber(argv[2], port)) {
    std::fprintf(stderr, "usage: pty_peer <dosdevices dir> <port number 1..255>\n");
    return 2;
  }
  const int signals = terminationSignals();
  if (signals < 0) {
    std::perror("pty_peer: signalfd");
    return 1;
  }
  Pty pty;
  if (!openPty(pty) || !makeRaw(pty.master)) {
    return 1;
  }
  const std::string linkPath = std::string(argv[1]) + "/com" + std::to_string(port);
  if (!linkComPort(linkPath, pty.slavePath)) {
    return 1;
  }
  std::printf("ready %s -> %s\n", linkPath.c_str(), pty.slavePath.c_str());
  std::fflush(stdout);

  const int status = serve(pty.master, signals);

  unlink(linkPath.c_str());
  close(pty.slave);
  close(pty.master);
  close(signals);
  return status;
}
