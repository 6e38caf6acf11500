// The termios binding of the OS seam against the rig's lines: an echo line
// and a simulated module behind pseudo-terminals, with the modem-line
// library preloaded (ctest sets LD_PRELOAD), and modules behind plain
// pseudo-terminals that the library leaves alone.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <termios.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "link/at_command.h"
#include "link/discovery.h"
#include "link/line_log.h"
#include "link/port_activity.h"
#include "link/port_table.h"
#include "link/reset_prompt.h"
#include "platform/os.h"
#include "platform/posix/device_paths.h"
#include "platform/posix/serial_ports.h"

extern char** environ;

namespace {

constexpr uint32_t kEcho = 1;
constexpr uint32_t kModule = 2;
constexpr uint32_t kPlainMaster = 3;
constexpr uint32_t kPlainSlow = 4;  // 38400 baud: its read needs the reset key
constexpr uint32_t kOwnPty = 5;

// One rig for the whole program: the preloaded library maps the first
// rig's table for good.
class Rig : public ::testing::Environment {
 public:
  void SetUp() override {
    dir = "/tmp/nlconf-seam-" + std::to_string(getpid());
    ASSERT_EQ(std::system(("mkdir -p " + dir + "/dev " + dir + "/run " + dir + "/tr").c_str()), 0);
    setenv("NLCONF_SIMPORTS_DIR", (dir + "/run").c_str(), 1);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    const std::string devs = dir + "/dev", run = dir + "/run", tr = dir + "/tr";
    // clang-format off
    const char* argv[] = {NLCONF_SIMPORTS, "--dosdevices", devs.c_str(), "--run-dir", run.c_str(),
                          "--transcripts", tr.c_str(), "--time-limit", "120", "--port", "1=echo",
                          "--port", "2=master", "--port", "3=master:plain",
                          "--port", "4=slave:baud=5,plain", nullptr};
    // clang-format on
    // The library belongs in the program under test, not in the modules.
    const std::string keep = getenv("LD_PRELOAD") ? getenv("LD_PRELOAD") : "";
    unsetenv("LD_PRELOAD");
    ASSERT_EQ(
        posix_spawn(&server, NLCONF_SIMPORTS, &actions, nullptr, const_cast<char**>(argv), environ),
        0);
    setenv("LD_PRELOAD", keep.c_str(), 1);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    FILE* lines = fdopen(out[0], "r");
    char line[256];
    while (fgets(line, sizeof line, lines) && std::string(line) != "ready\n") {
    }
    fclose(lines);
    os::posix::setDevicePath(kEcho, (dir + "/dev/com1").c_str());
    os::posix::setDevicePath(kModule, (dir + "/dev/com2").c_str());
    os::posix::setDevicePath(kPlainMaster, (dir + "/dev/com3").c_str());
    os::posix::setDevicePath(kPlainSlow, (dir + "/dev/com4").c_str());
  }
  void TearDown() override {
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    std::system(("rm -rf " + dir).c_str());
  }
  static inline std::string dir;
  static inline pid_t server = 0;
};

[[maybe_unused]] const auto* const rig = ::testing::AddGlobalTestEnvironment(new Rig);

class PosixSeam : public ::testing::Test {
 protected:
  static std::string ctl(const std::string& command) {
    std::string text;
    FILE* out =
        popen((std::string(NLCONF_SIMPORTS_CTL) + " " + Rig::dir + "/run " + command).c_str(), "r");
    char buffer[512];
    while (out && fgets(buffer, sizeof buffer, out))
      text += buffer;
    if (out)
      pclose(out);
    return text;
  }
  void SetUp() override {
    device = os::openSerial(kEcho == port ? L"\\\\.\\COM1" : L"\\\\.\\COM2");
    ASSERT_NE(device, nullptr) << os::lastError();
    os::LineSettings s{};
    s.baudRate = 9600;
    s.byteSize = 8;
    ASSERT_TRUE(os::setLineSettings(device, s));
    event = os::createEvent();
  }
  void TearDown() override {
    os::closeHandle(event);
    os::closeHandle(device);
  }
  // Starts a read of `count` and returns how long it took, its bytes and result.
  uint32_t timedRead(const os::Timeouts& t, uint32_t count, std::string* got, bool* ok) {
    os::setSerialTimeouts(device, t);
    char buffer[64] = {};
    os::Transfer transfer{};
    const uint32_t t0 = os::tickCount();
    EXPECT_TRUE(os::startRead(device, buffer, count, transfer, event));
    uint32_t moved = 0;
    *ok = os::finishTransfer(device, transfer, moved);
    *got = std::string(buffer, moved);
    return os::tickCount() - t0;
  }
  void send(const char* text) {
    os::Transfer transfer{};
    uint32_t moved = 0;
    ASSERT_TRUE(
        os::startWrite(device, text, static_cast<uint32_t>(std::strlen(text)), transfer, event));
    ASSERT_TRUE(os::finishTransfer(device, transfer, moved));
    ASSERT_EQ(moved, std::strlen(text));
  }

  uint32_t port = kEcho;
  os::Handle device = nullptr;
  os::Handle event = nullptr;
};

TEST_F(PosixSeam, ReadsEndAsTheirTimeoutsSay) {
  std::string got;
  bool ok = false;
  send("ECHO abcdef\r");
  // No time-outs: the read waits for all it asked for.
  EXPECT_LT(timedRead({}, 4, &got, &ok), 1000u);
  EXPECT_TRUE(ok);
  EXPECT_EQ(got, "abcd");
  // An interval ends it once the line goes quiet.
  const uint32_t quiet = timedRead({50, 0, 0, 0, 0}, 20, &got, &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(got, "ef\r");
  EXPECT_LT(quiet, 500u);
  // A total with nothing coming: success with no bytes, once it runs out.
  const uint32_t total = timedRead({0, 10, 200, 0, 0}, 5, &got, &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(got, "");
  EXPECT_GE(total, 240u);
  EXPECT_LT(total, 1000u);
  // Interval at its maximum and nothing else: what is there, at once.
  EXPECT_LT(timedRead({0xFFFFFFFF, 0, 0, 0, 0}, 5, &got, &ok), 100u);
  EXPECT_TRUE(ok);
}

TEST_F(PosixSeam, CancelEndsAPendingReadAtOnceAndSignalsItsEvent) {
  os::setSerialTimeouts(device, {});
  char byte = 0;
  os::Transfer transfer{};
  ASSERT_TRUE(os::startRead(device, &byte, 1, transfer, event));
  EXPECT_EQ(os::waitAny(&event, 1, 100), os::kWaitTimeout);
  const uint32_t t0 = os::tickCount();
  ASSERT_TRUE(os::cancelTransfers(device));
  EXPECT_EQ(os::waitAny(&event, 1, 1000), 0);
  uint32_t moved = 7;
  EXPECT_FALSE(os::finishTransfer(device, transfer, moved));
  EXPECT_EQ(os::lastError(), os::kErrorOperationAborted);
  EXPECT_EQ(moved, 0u);
  EXPECT_LT(os::tickCount() - t0, 200u);
}

TEST_F(PosixSeam, TheDeviceIsOursAlone) {
  EXPECT_EQ(os::openSerial(L"\\\\.\\COM1"), nullptr);
  EXPECT_EQ(os::lastError(), os::kErrorAccessDenied);
}

auto threadCount() {
  return std::distance(std::filesystem::directory_iterator("/proc/self/task"), {});
}

TEST_F(PosixSeam, TransfersShareThePortsOneThread) {
  const auto idle = threadCount();
  os::setSerialTimeouts(device, {});
  char byte = 0;
  os::Transfer transfer{};
  ASSERT_TRUE(os::startRead(device, &byte, 1, transfer, event));
  EXPECT_EQ(threadCount(), idle);
  os::cancelTransfers(device);
  uint32_t moved = 0;
  os::finishTransfer(device, transfer, moved);
}

// A port closed under a pending read, and its event closed at once: the
// read's end must not touch either afterwards.
TEST_F(PosixSeam, ClosingUnderAPendingReadLeavesNothingBehind) {
  os::setSerialTimeouts(device, {});
  for (int i = 0; i < 50; ++i) {
    os::Handle done = os::createEvent();
    char byte = 0;
    os::Transfer transfer{};
    ASSERT_TRUE(os::startRead(device, &byte, 1, transfer, done));
    os::closeHandle(device);
    os::closeHandle(done);
    uint32_t moved = 0;
    EXPECT_FALSE(os::finishTransfer(device, transfer, moved));
    device = os::openSerial(L"\\\\.\\COM1");
    ASSERT_NE(device, nullptr);
  }
}

// A program that stops at once: its last bytes are the last on the line,
// whatever its sessions still try to send. In a child process, as the
// refusal lasts for the process.
TEST_F(PosixSeam, NothingFollowsTheLastBytes) {
  GTEST_FLAG_SET(death_test_style, "fast");
  EXPECT_EXIT(
      {
        os::posix::writeToOpenDevices("ECHO LAST\r", 10);
        os::Transfer transfer{};
        std::_Exit(os::startWrite(device, "ECHO MORE\r", 10, transfer, event) ? 1 : 0);
      },
      ::testing::ExitedWithCode(0), "");
  std::string echoed;
  bool ok = false;
  timedRead({0, 0, 500, 0, 0}, 16, &echoed, &ok);
  EXPECT_EQ(echoed, "LAST\r");
}

class PosixSeamModule : public PosixSeam {
 protected:
  PosixSeamModule() { port = kModule; }
};

TEST_F(PosixSeamModule, ModemLinesBreaksAndFramesReachTheModule) {
  // The module raises CTS once it has booted.
  uint32_t status = 0;
  for (int i = 0; i < 100 && (status & os::kModemCtsOn) == 0; ++i) {
    ASSERT_TRUE(os::getModemStatus(device, status));
    os::sleepMs(10);
  }
  EXPECT_NE(status & os::kModemCtsOn, 0u);
  ASSERT_TRUE(os::escapeSerial(device, os::kEscapeSetDtr));
  ASSERT_TRUE(os::escapeSerial(device, os::kEscapeClrRts));
  ASSERT_TRUE(os::setBreak(device));
  os::LineSettings s{};
  s.baudRate = 250000;  // no B constant: the kernel takes it as it is
  s.byteSize = 8;
  s.parity = os::kMarkParity;
  s.stopBits = os::kTwoStopBits;
  s.rtsControl = os::kRtsControlEnable;
  ASSERT_TRUE(os::setLineSettings(device, s));
  os::sleepMs(100);
  std::string line = ctl("status");
  EXPECT_NE(line.find("host 250000 8M2 cts"), std::string::npos) << line;
  EXPECT_NE(line.find("dtr 0 rts 1 break 1"), std::string::npos) << line;
  ASSERT_TRUE(os::clearBreak(device));
  os::sleepMs(100);
  EXPECT_NE(ctl("status").find("break 0"), std::string::npos);
}

TEST_F(PosixSeamModule, AnUnplugEndsAPendingReadWithAnError) {
  os::setSerialTimeouts(device, {});
  char byte = 0;
  os::Transfer transfer{};
  ASSERT_TRUE(os::startRead(device, &byte, 1, transfer, event));
  ctl("unplug COM2");
  EXPECT_EQ(os::waitAny(&event, 1, 2000), 0);
  uint32_t moved = 0;
  EXPECT_FALSE(os::finishTransfer(device, transfer, moved));
  uint32_t status = 0;
  EXPECT_FALSE(os::getModemStatus(device, status));
  ctl("plug COM2");
}

std::string gLog;
void keepLine(void* cancel, const char* line, uint32_t length) {
  gLog.append(line, length) += '\n';
  // The reset key's first pulse is all the test needs to see.
  if (cancel && std::string(line, length).find("break") != std::string::npos)
    os::setEvent(cancel);
}

// A network serial bridge or socat: bytes, and nothing else. A module is
// read all the same; one that needs the reset key is told it cannot have it.
TEST(PlainLine, ModulesAreReadWithoutModemLinesAndTheResetKeyNeedsABreak) {
  os::Handle cancel = os::createEvent();
  LineLog log;
  setLineLogSink(&log, keepLine, cancel);
  SerialPort* port = openPort(kPlainMaster, nullptr);
  ASSERT_NE(port, nullptr);
  port->lineLog = &log;
  EXPECT_TRUE(discoverSerialSettings(port, ResetPrompt{})) << gLog;
  char nodeId[21] = {};
  uint32_t length = 0;
  EXPECT_EQ(queryNodeIdentifier(port, nodeId, &length), 0) << gLog;
  EXPECT_STREQ(nodeId, "KOV-NL001/M");
  closePort(port);
  EXPECT_NE(gLog.find("no modem lines"), std::string::npos) << gLog;
  port = openPort(kPlainSlow, cancel);
  ASSERT_NE(port, nullptr);
  port->lineLog = &log;
  EXPECT_FALSE(discoverSerialSettings(port, ResetPrompt{}));
  closePort(port);
  os::closeHandle(cancel);
  EXPECT_NE(gLog.find("break cannot be sent on this line"), std::string::npos) << gLog;
}

TEST(PlainLine, ThePortsOwnSettingsComeBackOnClose) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master) | unlockpt(master), 0);
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  termios before{};
  ASSERT_EQ(tcgetattr(slave, &before), 0);
  cfsetspeed(&before, B4800);
  before.c_lflag |= ICANON | ECHO;
  ASSERT_EQ(tcsetattr(slave, TCSANOW, &before), 0);
  ASSERT_TRUE(os::posix::setDevicePath(kOwnPty, ptsname(master)));
  os::Handle device = os::openSerial(L"\\\\.\\COM5");
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(os::setLineSettings(device, {115200, 7, os::kEvenParity}));
  os::closeHandle(device);
  termios after{};
  ASSERT_EQ(tcgetattr(slave, &after), 0);
  EXPECT_EQ(after.c_cflag, before.c_cflag);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(cfgetospeed(&after), B4800);
  close(slave);
  close(master);
}

// Two identical USB adapters told apart by their by-id names, which carry
// their serial numbers; a third without a by-id link by its product; a
// legacy port without a UART and a console without a driver left out.
TEST(SerialPorts, ListsDevicesWithADriverAndTellsIdenticalAdaptersApart) {
  namespace fs = std::filesystem;
  const fs::path root = "/tmp/nlconf-ports-" + std::to_string(getpid());
  const fs::path sys = root / "sys", dev = root / "dev";
  fs::create_directories(sys / "drivers/uart_bridge");
  fs::create_directories(sys / "class/tty/tty1");
  fs::create_directories(dev / "serial/by-id");
  const char* serials[] = {"QX0001", "QX0002", "QX0003"};
  int n = 0;
  for (const char* at : {"usb/1-1/1-1:1.0/ttyUSB0", "usb/1-2/1-2:1.0/ttyUSB1",
                         "usb/1-3/1-3:1.0/ttyUSB2", "serial8250/ttyS1"}) {
    const fs::path device = sys / "devices" / at;
    fs::create_directories(device);
    fs::create_symlink(sys / "drivers/uart_bridge", device / "driver");
    fs::create_directories(sys / "class/tty" / device.filename());
    fs::create_symlink(device, sys / "class/tty" / device.filename() / "device");
    if (n < 3) {
      std::ofstream(device.parent_path().parent_path() / "product") << "USB Serial Adapter\n";
      std::ofstream(device.parent_path().parent_path() / "serial") << serials[n] << "\n";
      std::ofstream(device.parent_path().parent_path() / "manufacturer") << "Bench Parts\n";
    }
    if (n < 2)
      fs::create_symlink("../../" + device.filename().string(),
                         dev / "serial/by-id" / ("usb-Bench_" + std::string(serials[n]) + "-if00"));
    ++n;
  }
  std::ofstream(sys / "class/tty/ttyS1/type") << "0\n";
  const auto ports = os::posix::listSerialPorts(sys.string(), dev.string());
  fs::remove_all(root);
  ASSERT_EQ(ports.size(), 3u);
  EXPECT_EQ(ports[0].path, dev.string() + "/ttyUSB0");
  EXPECT_EQ(ports[0].byIdPath, dev.string() + "/serial/by-id/usb-Bench_QX0001-if00");
  EXPECT_EQ(ports[1].description, "usb-Bench_QX0002-if00");
  EXPECT_EQ(ports[1].serial + ", " + ports[1].manufacturer, "QX0002, Bench Parts");
  EXPECT_EQ(ports[2].product, "USB Serial Adapter");
  EXPECT_EQ(ports[2].description, "USB Serial Adapter");
  EXPECT_EQ(ports[2].driver, "uart_bridge");
}

// Notes for later processes: one per device, whatever path names it, in
// one folder for every process on the machine whatever its user and
// environment, and never half of one.
TEST(PortNotes, OneNotePerDeviceForEveryProcessOnTheMachine) {
  namespace fs = std::filesystem;
  const fs::path root = "/tmp/nlconf-notes-" + std::to_string(getpid());
  const fs::path folder = root / "lock/nlconf";
  const char* given = std::getenv("NLCONF_PORT_NOTES");
  const std::string before = given ? given : "";
  fs::create_directories(root / "lock");
  fs::create_symlink("/dev/null", root / "adapter");
  setenv("NLCONF_PORT_NOTES", folder.c_str(), 1);
  ASSERT_TRUE(os::posix::setDevicePath(9, "/dev/null"));
  ASSERT_TRUE(os::posix::setDevicePath(10, (root / "adapter").c_str()));
  ASSERT_TRUE(os::posix::setDevicePath(11, "/dev/zero"));
  char text[16];
  uint32_t got = 0;
  EXPECT_EQ(os::readPortNote(9, text, sizeof text, got), os::NoteRead::Missing);
  EXPECT_TRUE(os::writePortNote(9, "a longer first", 14));
  setenv("XDG_RUNTIME_DIR", (root / "elsewhere").c_str(), 1);  // a cron job's environment
  EXPECT_TRUE(os::writePortNote(9, "second", 6));
  EXPECT_EQ(os::readPortNote(10, text, sizeof text, got), os::NoteRead::Found);
  EXPECT_EQ(std::string(text, got), "second") << "another path to the same device";
  EXPECT_EQ(os::readPortNote(11, text, sizeof text, got), os::NoteRead::Missing);
  EXPECT_EQ(fs::status(folder).permissions(), fs::perms::all | fs::perms::sticky_bit);
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    EXPECT_EQ(entry.status().permissions(), fs::perms(0666));
    ++files;
  }
  EXPECT_EQ(files, 1u) << "nothing left beside the note";
  if (geteuid() == 0) {
    // Another user's process updates the note this one left, and the other
    // way round.
    for (const char* said : {"by nobody", "by nobody again"}) {
      const pid_t child = fork();
      if (child == 0) {
        const bool taken = setgid(65534) == 0 && setuid(65534) == 0;
        _exit(taken && os::writePortNote(9, said, static_cast<uint32_t>(std::strlen(said))) ? 0
                                                                                            : 1);
      }
      int status = -1;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      EXPECT_EQ(status, 0) << "another user could not update the note";
      EXPECT_EQ(os::readPortNote(9, text, sizeof text, got), os::NoteRead::Found);
      EXPECT_EQ(std::string(text, got), said);
      EXPECT_TRUE(os::writePortNote(9, "ours", 4));
    }
  }
  // Writable by others without the sticky bit: anyone could take a note away.
  fs::permissions(folder, fs::perms::sticky_bit, fs::perm_options::remove);
  EXPECT_EQ(os::readPortNote(9, text, sizeof text, got), os::NoteRead::Failed);
  EXPECT_FALSE(os::writePortNote(9, "third", 5));
  fs::permissions(folder, fs::perms::sticky_bit, fs::perm_options::add);
  const fs::path note = *fs::directory_iterator(folder);
  fs::remove(note);
  fs::create_directory(note);
  EXPECT_EQ(os::readPortNote(9, text, sizeof text, got), os::NoteRead::Failed);
  EXPECT_FALSE(os::writePortNote(9, "fourth", 6));
  // No folder can be made: nothing is kept, and nothing read says "unused".
  std::ofstream(root / "file").put('x');
  setenv("NLCONF_PORT_NOTES", (root / "file/nlconf").c_str(), 1);
  EXPECT_FALSE(os::writePortNote(9, "fifth", 5));
  EXPECT_EQ(os::readPortNote(9, text, sizeof text, got), os::NoteRead::Failed);
  forgetPortActivity();
  EXPECT_GE(guardTimeLeftMs(9, 1120), 500u) << "the next \"+++\" waits the whole guard time";
  EXPECT_TRUE(portNoteDoubted(9));
  if (before.empty())
    unsetenv("NLCONF_PORT_NOTES");
  else
    setenv("NLCONF_PORT_NOTES", before.c_str(), 1);
  unsetenv("XDG_RUNTIME_DIR");
  fs::remove_all(root);
}

}  // namespace
