// Module models in real time behind pseudo-terminals, one per COM port, for
// programs under Wine. See usage() for the command line and the control
// channel; modemshim.cpp is the other half, inside the Wine processes.
//
// A port may hold an echo line instead of a module: requests end with '\r';
// "ECHO <text>" is answered "<text>\r", "SPEED?" with the line as the
// pseudo-terminal holds it ("19200 8 N 1\r"), "DRIBBLE" with the 16 bytes
// "0123456789abcdef", "SILENT" and anything else with nothing. It answers at
// once and needs no shim: serial_smoke checks the Win32 binding with it.
//
// One single-threaded loop: the models have no locks.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "e2e/rig/simports/config.h"
#include "e2e/rig/simports/line_engine.h"
#include "e2e/rig/simports/shared_line.h"
#include "e2e/rig/simports/transcript.h"
#include "sim/radio.h"
#include "sim/registers.h"

namespace {

using namespace simports;

constexpr TimeUs kTickUs = 2000;  // CTS follows the model at least this often
constexpr TimeUs kClientLimitUs = 2000000;
constexpr size_t kMaxClients = 8;
constexpr size_t kMaxLine = 1024;
constexpr size_t kMaxToHost = 65536;  // beyond this a host that does not read loses bytes
constexpr const char kControlFifo[] = "control";
constexpr const char kControlSocket[] = "control.sock";
constexpr const char kDribble[] = "0123456789abcdef";

void usage() {
  std::fprintf(stderr,
               "usage: simports --dosdevices DIR --run-dir DIR --transcripts DIR\n"
               "                [--time-limit S] --port N=PRESET[:OVERRIDES] ...\n"
               "  presets: %s; or echo, a line that answers ECHO, SPEED?, DRIBBLE\n"
               "  overrides: XX=<hex> for register XX (baud=BD), ni=<node id>, tp=<text>,\n"
               "             comma-separated, e.g. --port 6=slave:baud=5,nb=1,sb=1\n"
               "Wine processes need LD_PRELOAD=<modem shim> and %s=<run dir>.\n"
               "Control: one line to <run dir>/%s, or simports-ctl <run dir> <command>:\n"
               "  press COMn [after-break <ms>] | power COMn | set COMn <XX> <hex>|NI <text>\n"
               "  fault COMn replace <XX|+++> <reply, \\r \\xHH escapes> | withhold <XX> [n]\n"
               "             | cts-low [ms] | cts-ok | never-associates on|off | clear\n"
               "  radio cut on|off | radio drop <n> | radio corrupt <n>\n"
               "  radio loss <percent> [COMn] | radio corrupt-rate <percent>\n"
               "  radio delay <ms> | radio seed <n> | loopback COMn on|off\n"
               "  unplug COMn | plug COMn | hold COMn <nth CR> | release COMn | status | quit\n",
               presetNames().c_str(), kRunDirEnv, kControlFifo);
}

uint64_t monotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

std::string portName(uint32_t n) {
  return "COM" + std::to_string(n);
}

// ---------------------------------------------------------------- pseudo-terminals

struct Pty {
  int master = -1;
  int slave = -1;  // held open, so the master never reads EIO between the host's opens
  std::string path;
  uint64_t rdev = 0;
  uint32_t baud = 0;
  uint32_t cflag = 0;
};

uint32_t baudOfSpeed(speed_t speed) {
  static const struct {
    speed_t code;
    uint32_t baud;
  } kRates[] = {{B1200, 1200},     {B2400, 2400},     {B4800, 4800},    {B9600, 9600},
                {B19200, 19200},   {B38400, 38400},   {B57600, 57600},  {B115200, 115200},
                {B230400, 230400}, {B460800, 460800}, {B921600, 921600}};
  for (const auto& r : kRates) {
    if (r.code == speed)
      return r.baud;
  }
  return 0;
}

void closePty(Pty& pty) {
  if (pty.master >= 0)
    close(pty.master);
  if (pty.slave >= 0)
    close(pty.slave);
  pty = Pty{};
}

bool openPty(Pty& pty, std::string& error) {
  pty.master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (pty.master < 0 || grantpt(pty.master) != 0 || unlockpt(pty.master) != 0) {
    error = std::string("pseudo-terminal: ") + std::strerror(errno);
    closePty(pty);
    return false;
  }
  const char* name = ptsname(pty.master);
  pty.slave = name ? open(name, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
  termios tio{};
  struct stat st {};
  if (pty.slave < 0 || tcgetattr(pty.slave, &tio) != 0 || fstat(pty.slave, &st) != 0) {
    error = std::string("pseudo-terminal slave: ") + std::strerror(errno);
    closePty(pty);
    return false;
  }
  pty.path = name;
  pty.rdev = st.st_rdev;
  // A clean raw line for the host to start from: no echo, no CR/LF games.
  cfmakeraw(&tio);
  if (tcsetattr(pty.slave, TCSANOW, &tio) != 0) {
    error = std::string("tcsetattr: ") + std::strerror(errno);
    closePty(pty);
    return false;
  }
  pty.baud = baudOfSpeed(cfgetospeed(&tio));
  pty.cflag = tio.c_cflag;
  return true;
}

// Replaces an earlier link (a stale one from a killed run), never a file.
bool makeLink(const std::string& link, const std::string& target, std::string& error) {
  struct stat st {};
  if (lstat(link.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      error = link + " exists and is not a link";
      return false;
    }
    unlink(link.c_str());
  }
  if (symlink(target.c_str(), link.c_str()) != 0) {
    error = "symlink " + link + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

// Only a link that still points at our pseudo-terminal is ours to remove.
void removeLink(const std::string& link, const std::string& target) {
  char buffer[256];
  const ssize_t n = readlink(link.c_str(), buffer, sizeof buffer - 1);
  if (n <= 0)
    return;
  buffer[n] = '\0';
  if (target == buffer)
    unlink(link.c_str());
}

// ---------------------------------------------------------------- ports

struct Port {
  PortSetup setup;
  std::unique_ptr<sim::Module> module;  // none on an echo line
  std::unique_ptr<Transcript> transcript;
  std::unique_ptr<LineEngine> engine;  // none on an echo line
  std::string request;                 // an echo line's request so far
  Pty pty;
  uint32_t slot = 0;
  std::string link;
  std::string toHost;  // bytes the pseudo-terminal has not taken yet
  // The host side as last applied to the engine.
  uint32_t modemOut = 0, breakOn = 0, baud = 0, cflag = 0;
  uint32_t modemIn = ~0u;
  // The host's writes the shim told of, oldest first: bytes not read yet
  // and when they were written.
  struct Written {
    uint32_t left;
    TimeUs at;
  };
  std::deque<Written> written;
  // Bytes read before the shim's word of their write came: that word, when
  // it comes, is of bytes gone already.
  uint64_t unannounced = 0;
};

struct Client {
  int fd = -1;
  std::string buffer;
  TimeUs deadline = 0;
};

class Server {
 public:
  explicit Server(Options options) : options_(std::move(options)) {}
  ~Server();
  bool start();
  int loop();

 private:
  TimeUs now() const;
  TimeUs fromShim(uint64_t ns) const;
  std::string runPath(const char* name) const { return options_.runDir + "/" + name; }
  bool createTable();
  bool createControl();
  bool createPort(const PortSetup& setup, uint32_t slot);
  void publishSlot(Port& port);
  Port* portOf(uint32_t number);

  void drainEvents();
  void applyEvent(const Event& e);
  void reconcile(Port& port, TimeUs at);
  void readHost(Port& port, TimeUs at);
  void hostBytes(Port& port, TimeUs at, const char* bytes, size_t count);
  void answerEcho(Port& port, TimeUs at, const std::string& bytes);
  void service(Port& port, TimeUs at);
  void flushToHost(Port& port);
  void publishModemIn(Port& port, TimeUs at);

  void readFifo();
  void acceptClients();
  void serveClient(Client& client);
  std::string execute(const std::string& line);
  std::string executePortCommand(const Command& c, Port& port, TimeUs at);
  std::string executeFault(const Command& c, Port& port, TimeUs at);
  std::string setRadio(const Command& c);
  std::string armHold(Port& port, uint64_t nthCr, TimeUs at);
  std::string releaseHold(Port& port, TimeUs at);
  std::string unplug(Port& port, TimeUs at);
  std::string plug(Port& port, TimeUs at);
  std::string status(TimeUs at);
  std::string counters(const Port& port) const;

  Options options_;
  uint64_t startNs_ = monotonicNs();
  Table* table_ = nullptr;
  int events_ = -1, fifo_ = -1, listener_ = -1, signals_ = -1;
  std::string fifoBuffer_;
  std::vector<Client> clients_;
  sim::Radio radio_;  // before the ports: modules leave it as they go
  std::vector<std::unique_ptr<Port>> ports_;
  bool quit_ = false;
};

TimeUs Server::now() const {
  return (monotonicNs() - startNs_) / 1000;
}

TimeUs Server::fromShim(uint64_t ns) const {
  return ns > startNs_ ? (ns - startNs_) / 1000 : 0;
}

bool Server::createTable() {
  const std::string path = runPath(kTableFile);
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0 || ftruncate(fd, sizeof(Table)) != 0) {
    std::fprintf(stderr, "simports: %s: %s\n", path.c_str(), std::strerror(errno));
    if (fd >= 0)
      close(fd);
    return false;
  }
  void* map = mmap(nullptr, sizeof(Table), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  if (map == MAP_FAILED) {
    std::fprintf(stderr, "simports: mmap %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  std::memset(map, 0, sizeof(Table));
  table_ = static_cast<Table*>(map);
  table_->version.store(kTableVersion);
  table_->magic.store(kTableMagic);  // last: the shim trusts the table from here on
  return true;
}

bool bindUnix(int fd, const std::string& path) {
  sockaddr_un addr{};
  if (path.size() >= sizeof addr.sun_path) {
    std::fprintf(stderr, "simports: socket path too long: %s\n", path.c_str());
    return false;
  }
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size());
  unlink(path.c_str());
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    std::fprintf(stderr, "simports: bind %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

bool Server::createControl() {
  events_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (events_ < 0 || !bindUnix(events_, runPath(kEventSocket)))
    return false;
  listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listener_ < 0 || !bindUnix(listener_, runPath(kControlSocket)) || listen(listener_, 8) != 0)
    return false;
  const std::string fifo = runPath(kControlFifo);
  unlink(fifo.c_str());
  if (mkfifo(fifo.c_str(), 0600) != 0) {
    std::fprintf(stderr, "simports: mkfifo %s: %s\n", fifo.c_str(), std::strerror(errno));
    return false;
  }
  // Read and write: the FIFO then never reads end-of-file between writers.
  fifo_ = open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fifo_ < 0) {
    std::fprintf(stderr, "simports: open %s: %s\n", fifo.c_str(), std::strerror(errno));
    return false;
  }
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  sigprocmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);
  signals_ = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  return signals_ >= 0;
}

void Server::publishSlot(Port& port) {
  Slot& s = table_->slots[port.slot];
  s.state.store(kSlotFree);
  s.port.store(port.setup.number);
  s.rdev.store(port.setup.plain ? 0 : port.pty.rdev);  // 0: the shim never matches it
  s.modemOut.store(0);
  s.breakOn.store(0);
  s.cflag.store(port.pty.cflag);
  s.baud.store(port.pty.baud);
  s.modemIn.store(0);
  s.holdAfterCr.store(0);
  s.holdRelease.store(0);
  port.modemOut = port.breakOn = 0;
  port.baud = port.pty.baud;
  port.cflag = port.pty.cflag;
  port.modemIn = ~0u;
  s.state.store(kSlotPlugged);  // last: the shim matches the slave from here on
}

bool Server::createPort(const PortSetup& setup, uint32_t slot) {
  auto port = std::make_unique<Port>();
  port->setup = setup;
  port->slot = slot;
  port->link = options_.dosdevices + "/com" + std::to_string(setup.number);
  // Not "COM5.log": Windows, and Wine, take any "COMn.ext" for the device.
  const std::string transcriptPath =
      options_.transcriptDir + "/transcript-" + portName(setup.number) + ".log";
  std::FILE* file = std::fopen(transcriptPath.c_str(), "w");
  if (file == nullptr) {
    std::fprintf(stderr, "simports: %s: %s\n", transcriptPath.c_str(), std::strerror(errno));
    return false;
  }
  port->transcript = std::make_unique<Transcript>(file);
  std::string error;
  if (!openPty(port->pty, error)) {
    std::fprintf(stderr, "simports: %s: %s\n", portName(setup.number).c_str(), error.c_str());
    return false;
  }
  const sim::SerialConfig host = hostConfigOf(port->pty.baud, port->pty.cflag);
  if (setup.echo) {
    port->transcript->event(now(), portName(setup.number) + " echo line on " + port->pty.path);
  } else {
    port->module = std::make_unique<sim::Module>(setup.config);
    radio_.attach(*port->module);
    port->engine = std::make_unique<LineEngine>(*port->module, *port->transcript, host);
    publishSlot(*port);
    port->transcript->event(now(), portName(setup.number) + " " + setup.preset + " module at " +
                                       describe(port->module->lineSettings()) + " on " +
                                       port->pty.path + ", host " + describe(host));
  }
  if (!makeLink(port->link, port->pty.path, error)) {
    std::fprintf(stderr, "simports: %s\n", error.c_str());
    ports_.push_back(std::move(port));  // so the destructor closes it
    return false;
  }
  ports_.push_back(std::move(port));
  return true;
}

bool Server::start() {
  if (!createTable() || !createControl())
    return false;
  for (uint32_t i = 0; i < options_.ports.size(); ++i) {
    if (!createPort(options_.ports[i], i))
      return false;
  }
  for (const auto& port : ports_) {
    const std::string what =
        port->module ? "module at " + describe(port->module->lineSettings()) : "answers at once";
    std::printf("%s -> %s (%s, %s)\n", portName(port->setup.number).c_str(), port->pty.path.c_str(),
                port->setup.preset.c_str(), what.c_str());
  }
  std::printf("ready\n");
  std::fflush(stdout);
  return true;
}

Server::~Server() {
  const TimeUs at = now();
  for (auto& port : ports_) {
    removeLink(port->link, port->pty.path);
    port->transcript->event(at, "simports stopped; calls the shim saw: " + counters(*port));
    closePty(port->pty);
  }
  for (Client& c : clients_)
    close(c.fd);
  for (int fd : {events_, fifo_, listener_, signals_}) {
    if (fd >= 0)
      close(fd);
  }
  for (const char* name : {kTableFile, kEventSocket, kControlFifo, kControlSocket})
    unlink(runPath(name).c_str());
  if (table_)
    munmap(table_, sizeof(Table));
}

Port* Server::portOf(uint32_t number) {
  for (auto& port : ports_) {
    if (port->setup.number == number)
      return port.get();
  }
  return nullptr;
}

// ---------------------------------------------------------------- the host side

void Server::drainEvents() {
  Event e{};
  for (;;) {
    const ssize_t n = recv(events_, &e, sizeof e, 0);
    if (n < 0)
      return;
    if (n == static_cast<ssize_t>(sizeof e) && e.magic == kTableMagic)
      applyEvent(e);
  }
}

void Server::applyEvent(const Event& e) {
  Port* port = nullptr;
  for (auto& p : ports_) {
    if (p->engine && p->slot == e.slot && p->pty.rdev == e.rdev && p->engine->plugged())
      port = p.get();
  }
  if (port == nullptr)
    return;  // from a pseudo-terminal that is gone
  const TimeUs at = fromShim(e.monotonicNs);
  switch (e.kind) {
    case kEventBreak:
      port->breakOn = e.a;
      port->engine->hostBreak(at, e.a != 0);
      break;
    case kEventModem:
      port->modemOut = e.a;
      port->engine->hostModemLines(at, (e.a & TIOCM_DTR) != 0, (e.a & TIOCM_RTS) != 0);
      break;
    case kEventSettings:
      port->baud = e.a;
      port->cflag = e.b;
      port->engine->hostSettings(at, hostConfigOf(e.a, e.b));
      break;
    case kEventWrote: {
      const uint32_t gone = static_cast<uint32_t>(std::min<uint64_t>(e.a, port->unannounced));
      port->unannounced -= gone;
      if (e.a > gone)
        port->written.push_back({e.a - gone, at});
      break;
    }
    case kEventHold:
      port->transcript->event(at,
                              e.a ? "hold: host read held in process " + std::to_string(e.b)
                                  : "hold: host read went on after " + std::to_string(e.b) + " ms");
      break;
    default:
      break;
  }
}

// A datagram that never came (the shim sends without waiting) still shows
// in the table; apply what it would have said, late.
void Server::reconcile(Port& port, TimeUs at) {
  if (!port.engine || !port.engine->plugged())
    return;
  Slot& s = table_->slots[port.slot];
  const uint32_t brk = s.breakOn.load(), out = s.modemOut.load();
  uint32_t baud = s.baud.load(), cflag = s.cflag.load();
  // The master reads the line's own settings; no shim tells them.
  termios tio{};
  if (port.setup.plain && tcgetattr(port.pty.master, &tio) == 0) {
    baud = baudOfSpeed(cfgetospeed(&tio));
    cflag = tio.c_cflag;
  }
  if (brk != port.breakOn) {
    port.breakOn = brk;
    port.engine->hostBreak(at, brk != 0);
  }
  if (out != port.modemOut) {
    port.modemOut = out;
    port.engine->hostModemLines(at, (out & TIOCM_DTR) != 0, (out & TIOCM_RTS) != 0);
  }
  if (baud != port.baud || cflag != port.cflag) {
    port.baud = baud;
    port.cflag = cflag;
    port.engine->hostSettings(at, hostConfigOf(baud, cflag));
  }
}

// Each byte goes to the module from when its write was made, as the shim
// told; bytes it did not tell of (a line without the shim), from now.
void Server::hostBytes(Port& port, TimeUs at, const char* bytes, size_t count) {
  while (count > 0) {
    size_t take = count;
    TimeUs from = at;
    if (!port.written.empty()) {
      Port::Written& w = port.written.front();
      take = std::min<size_t>(take, w.left);
      from = std::min(w.at, at);
      w.left -= static_cast<uint32_t>(take);
      if (w.left == 0)
        port.written.pop_front();
    } else {
      port.unannounced += take;
    }
    port.engine->hostWrote(from, std::string(bytes, take));
    bytes += take;
    count -= take;
  }
}

void Server::readHost(Port& port, TimeUs at) {
  char chunk[4096];
  for (;;) {
    const ssize_t n = read(port.pty.master, chunk, sizeof chunk);
    if (n <= 0)
      return;
    if (port.engine)
      hostBytes(port, at, chunk, static_cast<size_t>(n));
    else
      answerEcho(port, at, std::string(chunk, static_cast<size_t>(n)));
  }
}

// The pseudo-terminal drops parity and data bits (the host's own read-back
// may differ): what it holds is what the line carries without the shim.
std::string lineAsHeld(const Pty& pty) {
  termios tio{};
  if (tcgetattr(pty.slave, &tio) != 0)
    return "ERROR";
  const tcflag_t c = tio.c_cflag;
  const unsigned bits = (c & CSIZE) == CS5   ? 5
                        : (c & CSIZE) == CS6 ? 6
                        : (c & CSIZE) == CS7 ? 7
                                             : 8;
  char parity = 'N';
  if (c & PARENB)
    parity = (c & CMSPAR) ? ((c & PARODD) ? 'M' : 'S') : ((c & PARODD) ? 'O' : 'E');
  char text[64];
  std::snprintf(text, sizeof text, "%u %u %c %u", baudOfSpeed(cfgetospeed(&tio)), bits, parity,
                (c & CSTOPB) ? 2u : 1u);
  return text;
}

void Server::answerEcho(Port& port, TimeUs at, const std::string& bytes) {
  for (char byte : bytes) {
    if (byte != '\r') {
      port.request += byte;
      if (port.request.size() > kMaxLine) {
        port.transcript->event(at, "echo: request too long, dropped");
        port.request.clear();
      }
      continue;
    }
    std::string reply;
    if (port.request.rfind("ECHO ", 0) == 0)
      reply = port.request.substr(5) + "\r";
    else if (port.request == "SPEED?")
      reply = lineAsHeld(port.pty) + "\r";
    else if (port.request == "DRIBBLE")
      reply = kDribble;
    port.transcript->event(at, "echo: \"" + port.request + "\" answered with " +
                                   std::to_string(reply.size()) + " bytes");
    port.toHost += reply;
    port.request.clear();
  }
}

void Server::flushToHost(Port& port) {
  while (!port.toHost.empty() && port.pty.master >= 0) {
    const ssize_t n = write(port.pty.master, port.toHost.data(), port.toHost.size());
    if (n <= 0)
      return;  // the host does not read; a later round tries again
    port.toHost.erase(0, static_cast<size_t>(n));
  }
}

void Server::publishModemIn(Port& port, TimeUs at) {
  const bool plugged = port.engine->plugged();
  const bool cts = port.engine->cts(at);
  const uint32_t bits = (cts ? TIOCM_CTS : 0) | (plugged ? TIOCM_DSR | TIOCM_CAR : 0);
  if (bits == port.modemIn)
    return;
  const bool ctsChanged = port.modemIn == ~0u || ((bits ^ port.modemIn) & TIOCM_CTS) != 0;
  port.modemIn = bits;
  table_->slots[port.slot].modemIn.store(bits);
  if (ctsChanged && plugged)
    port.transcript->event(at, cts ? "cts 1" : "cts 0");
}

void Server::service(Port& port, TimeUs at) {
  if (!port.engine) {
    flushToHost(port);
    return;
  }
  const std::string out = port.engine->run(at);
  if (port.engine->plugged())
    port.toHost += out;
  flushToHost(port);
  if (port.toHost.size() > kMaxToHost) {
    port.transcript->event(
        at, "host does not read: " + std::to_string(port.toHost.size()) + " bytes lost");
    port.toHost.clear();
  }
  publishModemIn(port, at);
}

// ---------------------------------------------------------------- control

void Server::readFifo() {
  char chunk[512];
  for (;;) {
    const ssize_t n = read(fifo_, chunk, sizeof chunk);
    if (n <= 0)
      break;
    fifoBuffer_.append(chunk, static_cast<size_t>(n));
  }
  for (size_t nl = fifoBuffer_.find('\n'); nl != std::string::npos; nl = fifoBuffer_.find('\n')) {
    const std::string line = fifoBuffer_.substr(0, nl);
    fifoBuffer_.erase(0, nl + 1);
    const std::string reply = execute(line);
    std::printf("control: %s -> %s\n", line.c_str(), reply.c_str());
    std::fflush(stdout);
  }
  if (fifoBuffer_.size() > kMaxLine) {
    std::printf("control: line too long, dropped\n");
    fifoBuffer_.clear();
  }
}

void Server::acceptClients() {
  for (;;) {
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
      return;
    if (clients_.size() >= kMaxClients) {
      close(fd);
      continue;
    }
    clients_.push_back({fd, "", now() + kClientLimitUs});
  }
}

// One command per connection: a line in, the reply out, then closed.
void Server::serveClient(Client& client) {
  char chunk[512];
  const ssize_t n = read(client.fd, chunk, sizeof chunk);
  if (n > 0)
    client.buffer.append(chunk, static_cast<size_t>(n));
  const size_t nl = client.buffer.find('\n');
  if (nl == std::string::npos && n != 0 && client.buffer.size() <= kMaxLine)
    return;
  std::string reply = "error: no command line";
  if (nl != std::string::npos)
    reply = execute(client.buffer.substr(0, nl));
  reply += '\n';
  send(client.fd, reply.data(), reply.size(), MSG_NOSIGNAL);
  close(client.fd);
  client.fd = -1;
}

std::string Server::execute(const std::string& line) {
  Command c;
  std::string error;
  if (!parseCommand(line, c, error))
    return "error: " + error;
  const TimeUs at = now();
  switch (c.verb) {
    case Verb::kStatus:
      return status(at);
    case Verb::kQuit:
      quit_ = true;
      return "ok: stopping";
    case Verb::kRadio:
      if (const std::string refused = setRadio(c); !refused.empty())
        return refused;
      for (auto& port : ports_)
        port->transcript->event(at, "radio: " + line);
      return "ok";
    default:
      break;
  }
  Port* port = portOf(c.port);
  if (port == nullptr || !port->engine)
    return "error: " + portName(c.port) + " holds no module here";
  service(*port, at);  // everything up to now happens before the command
  return executePortCommand(c, *port, at);
}

// Empty when done.
std::string Server::setRadio(const Command& c) {
  sim::RadioFaults& f = radio_.faults;
  const int n = c.number ? static_cast<int>(std::min<uint64_t>(*c.number, 1000000)) : 0;
  if (c.what == "cut") {
    f.cut = c.on;
  } else if (c.what == "drop") {
    f.dropNext = n;
  } else if (c.what == "corrupt") {
    f.corruptNext = n;
  } else if (c.what == "corrupt-rate") {
    f.corruptPercent = n;
  } else if (c.what == "delay") {
    f.delayUs = *c.number * 1000;
  } else if (c.what == "seed") {
    radio_.seed(*c.number);
  } else if (c.port == 0) {
    f.lossPercent = n;
    f.lossPercentFrom.clear();
  } else {
    Port* from = portOf(c.port);
    if (from == nullptr || !from->module)
      return "error: " + portName(c.port) + " holds no module here";
    f.lossPercentFrom[from->module.get()] = n;
  }
  return "";
}

std::string Server::executePortCommand(const Command& c, Port& port, TimeUs at) {
  LineEngine& engine = *port.engine;
  switch (c.verb) {
    case Verb::kPress:
      if (c.number) {
        engine.pressAfterNextBreak(*c.number * 1000);
        port.transcript->event(
            at, "reset key armed: " + std::to_string(*c.number) + " ms after the next break");
        return "ok: armed";
      }
      engine.pressResetKey(at);
      return engine.breakOn() ? "ok: pressed under break" : "ok: pressed";
    case Verb::kPower:
      engine.powerCycle(at);
      return "ok";
    case Verb::kSet:
      if (c.what == "NI") {
        port.module->setNodeId(c.text);
        port.transcript->event(at, "node identifier set to " + c.text);
        return "ok";
      }
      port.module->setReg(c.what, *c.number);
      port.transcript->event(at, "register " + c.what + " set to " + sim::hexText(*c.number) +
                                     "; module at " + describe(port.module->lineSettings()));
      return "ok";
    case Verb::kFault:
      return executeFault(c, port, at);
    case Verb::kUnplug:
      return unplug(port, at);
    case Verb::kPlug:
      return plug(port, at);
    case Verb::kHold:
      return armHold(port, *c.number, at);
    case Verb::kRelease:
      return releaseHold(port, at);
    case Verb::kLoopback:
      port.module->setLoopback(c.on);
      port.transcript->event(at, std::string("loopback plug ") + (c.on ? "in" : "out"));
      return "ok";
    default:
      return "error: not a port command";
  }
}

std::string Server::executeFault(const Command& c, Port& port, TimeUs at) {
  sim::Faults& f = port.module->faults;
  if (c.what == "replace") {
    f.replaceReply[c.text] = c.reply;
    port.transcript->event(at, "fault: next reply to " + c.text + " replaced");
  } else if (c.what == "withhold") {
    f.withholdReply[c.text] = static_cast<int>(c.number.value_or(1));
    port.transcript->event(at, "fault: reply to " + c.text + " withheld " +
                                   std::to_string(c.number.value_or(1)) + " time(s)");
  } else if (c.what == "cts-low") {
    std::optional<TimeUs> until;
    if (c.number)
      until = at + *c.number * 1000;
    port.engine->holdCtsLow(at, until);
  } else if (c.what == "cts-ok") {
    port.engine->releaseCts(at);
  } else if (c.what == "never-associates") {
    f.neverAssociates = c.on;
    port.transcript->event(at, std::string("fault: never associates ") + (c.on ? "on" : "off"));
  } else {
    f = sim::Faults{};
    port.engine->releaseCts(at);
    port.transcript->event(at, "fault: all cleared");
  }
  publishModemIn(port, at);
  return "ok";
}

std::string Server::armHold(Port& port, uint64_t nthCr, TimeUs at) {
  Slot& s = table_->slots[port.slot];
  s.holdRelease.store(0);
  s.holdAfterCr.store(static_cast<uint32_t>(nthCr));
  table_->holdsArmed.store(1);
  port.transcript->event(at, "hold: armed for the host's read of carriage return " +
                                 std::to_string(nthCr) + " from now");
  return "ok";
}

// The flag stays up while any port still has a pause to come.
std::string Server::releaseHold(Port& port, TimeUs at) {
  Slot& s = table_->slots[port.slot];
  s.holdAfterCr.store(0);
  s.holdRelease.store(1);
  bool armed = false;
  for (const auto& p : ports_)
    armed = armed || table_->slots[p->slot].holdAfterCr.load() != 0;
  table_->holdsArmed.store(armed ? 1 : 0);
  port.transcript->event(at, "hold: released");
  return "ok";
}

// Like a USB adapter pulled out: the device name goes, and the open
// pseudo-terminal is hung up under the host, whose I/O then fails.
std::string Server::unplug(Port& port, TimeUs at) {
  if (!port.engine->plugged())
    return "error: " + portName(port.setup.number) + " is already unplugged";
  port.engine->unplug(at);
  port.written.clear();
  port.unannounced = 0;
  table_->slots[port.slot].state.store(kSlotUnplugged);
  removeLink(port.link, port.pty.path);
  port.transcript->event(at, "calls the shim saw: " + counters(port));
  closePty(port.pty);
  port.toHost.clear();
  publishModemIn(port, at);
  return "ok";
}

std::string Server::plug(Port& port, TimeUs at) {
  if (port.engine->plugged())
    return "error: " + portName(port.setup.number) + " is plugged in";
  std::string error;
  if (!openPty(port.pty, error))
    return "error: " + error;
  publishSlot(port);
  port.engine->plug(at, hostConfigOf(port.pty.baud, port.pty.cflag));
  if (!makeLink(port.link, port.pty.path, error))
    return "error: " + error;
  port.transcript->event(at, "now on " + port.pty.path);
  return "ok: " + port.pty.path;
}

std::string Server::counters(const Port& port) const {
  const Slot& s = table_->slots[port.slot];
  std::string text;
  for (uint32_t i = 0; i < kCounterCount; ++i) {
    const uint32_t n = s.counters[i].load();
    if (n == 0)
      continue;
    if (!text.empty())
      text += ' ';
    text += std::string(kCounterNames[i]) + "=" + std::to_string(n);
  }
  return text.empty() ? "none" : text;
}

std::string Server::status(TimeUs at) {
  std::string text = "ok";
  for (auto& port : ports_) {
    if (!port->engine) {
      text += "\n" + portName(port->setup.number) + " echo line " + port->pty.path;
      continue;
    }
    const LineEngine& e = *port->engine;
    const sim::Module& m = *port->module;
    char line[512];
    std::snprintf(line, sizeof line,
                  "\n%s %s %s module %s host %s cts %d dtr %d rts %d break %d "
                  "command-mode %d commands %zu",
                  portName(port->setup.number).c_str(), e.plugged() ? "plugged" : "unplugged",
                  e.plugged() ? port->pty.path.c_str() : "-", describe(m.lineSettings()).c_str(),
                  describe(e.hostConfig()).c_str(), e.cts(at) ? 1 : 0, e.dtr() ? 1 : 0,
                  e.rts() ? 1 : 0, e.breakOn() ? 1 : 0, m.inCommandMode() ? 1 : 0,
                  m.commandLog().size());
    text += line;
    text += "\n" + portName(port->setup.number) + " calls " + counters(*port);
  }
  const sim::RadioCounts& r = radio_.counts();
  text += "\nradio sent " + std::to_string(r.sent) + " lost " + std::to_string(r.lost) +
          " corrupted " + std::to_string(r.corrupted) + " arrivals " + std::to_string(r.arrivals) +
          (radio_.faults.cut ? " cut" : "") + " loss " + std::to_string(radio_.faults.lossPercent) +
          " corrupt-rate " + std::to_string(radio_.faults.corruptPercent) + " delay " +
          std::to_string(radio_.faults.delayUs / 1000);
  return text;
}

// ---------------------------------------------------------------- the loop

int Server::loop() {
  const TimeUs limit = options_.timeLimitS ? TimeUs{options_.timeLimitS} * 1000000 : 0;
  while (!quit_) {
    TimeUs t = now();
    if (limit && t >= limit) {
      std::fprintf(stderr, "simports: time limit of %u s reached\n", options_.timeLimitS);
      return 3;
    }
    TimeUs wake = t + kTickUs;
    for (auto& port : ports_) {
      if (auto due = port->engine ? port->engine->nextDue() : std::nullopt; due && *due < wake)
        wake = *due;
    }
    std::vector<pollfd> fds = {
        {signals_, POLLIN, 0}, {events_, POLLIN, 0}, {fifo_, POLLIN, 0}, {listener_, POLLIN, 0}};
    for (auto& port : ports_) {
      if (port->pty.master >= 0) {
        const short out = port->toHost.empty() ? 0 : POLLOUT;
        fds.push_back({port->pty.master, static_cast<short>(POLLIN | out), 0});
      }
    }
    for (Client& c : clients_)
      fds.push_back({c.fd, POLLIN, 0});
    const TimeUs waitUs = wake > t ? wake - t : 0;
    const timespec timeout{static_cast<time_t>(waitUs / 1000000),
                           static_cast<long>(waitUs % 1000000) * 1000};
    if (ppoll(fds.data(), fds.size(), &timeout, nullptr) < 0 && errno != EINTR) {
      std::perror("simports: ppoll");
      return 1;
    }
    if (fds[0].revents & POLLIN)
      return 0;
    t = now();
    drainEvents();
    for (auto& port : ports_) {
      reconcile(*port, t);
      if (port->pty.master >= 0)
        readHost(*port, t);
    }
    if (fds[2].revents & POLLIN)
      readFifo();
    if (fds[3].revents & POLLIN)
      acceptClients();
    for (Client& c : clients_) {
      if (c.fd >= 0 && t >= c.deadline) {
        close(c.fd);
        c.fd = -1;
      } else if (c.fd >= 0) {
        serveClient(c);
      }
    }
    std::erase_if(clients_, [](const Client& c) { return c.fd < 0; });
    t = now();
    for (auto& port : ports_) {
      service(*port, t);
      port->transcript->flushIdle(t);
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string error;
  if (!parseOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "simports: %s\n", error.c_str());
    usage();
    return 2;
  }
  struct stat st {};
  if (stat(options.dosdevices.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    std::fprintf(stderr, "simports: no directory %s\n", options.dosdevices.c_str());
    return 2;
  }
  Server server(std::move(options));
  if (!server.start())
    return 1;
  return server.loop();
}
