#include "cli/session.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "cli/cli.h"
#include "cli/console_view.h"
#include "cli/operands.h"
#include "link/errors.h"
#include "link/line_log.h"
#include "module/pair_run.h"
#include "module/read.h"
#include "module/result_messages.h"

namespace cli {

namespace {

std::atomic<os::Handle> masterCancel{nullptr};
std::atomic<os::Handle> slaveCancel{nullptr};

struct LogOutput {
  FILE* file = nullptr;
  bool failed = false;  // a line did not reach the file
  int error = 0;
  bool verbose = false;
  std::string comName[3];  // "COM1 " as the layer names the port
  std::string shownName[3];
};
LogOutput logOutput;
uint32_t usedPorts[3] = {};
bool progressShown = true;

// The link layer names ports COM<n>; where the system has no such names,
// the device's path takes the place.
// A pair run's two sessions log at once.
std::mutex logLock;

void writeLogLine(void* context, const char* line, uint32_t length) {
  auto* out = static_cast<LogOutput*>(context);
  std::lock_guard guard(logLock);
  std::string text(line, length);
  for (uint32_t slot : {kMasterSlot, kSlaveSlot}) {
    const std::string& com = out->comName[slot];
    const size_t at = com.empty() ? std::string::npos : text.find(com);
    if (at != std::string::npos && out->shownName[slot] + " " != com) {
      text.replace(at, com.size(), out->shownName[slot] + " ");
      break;
    }
  }
  if (out->file && std::fprintf(out->file, "%s\n", text.c_str()) < 0 && !out->failed) {
    out->failed = true;
    out->error = errno;
  }
  if (out->verbose)
    std::fprintf(stderr, "%s\n", text.c_str());
}

}  // namespace

void createCancelEvents() {
  for (auto* event : {&masterCancel, &slaveCancel}) {
    if (!event->load())
      event->store(os::createEvent());
  }
}

void requestCancel() {
  for (auto* event : {&masterCancel, &slaveCancel}) {
    if (os::Handle handle = event->load())
      os::setEvent(handle);
  }
}

bool startLog(const Options& o, std::string* message) {
  logOutput = LogOutput{};
  logOutput.verbose = o.verbose;
  if (!o.log.empty()) {
    logOutput.file = openFile(o.log, "w");
    if (!logOutput.file) {
      *message = "Cannot write the log file " + o.log + ": " + std::strerror(errno) + ".";
      return false;
    }
  }
  if (logOutput.file || logOutput.verbose)
    setLineLogSink(writeLogLine, &logOutput);
  return true;
}

bool endLog(int* error) {
  setLineLogSink(nullptr, nullptr);
  bool written = !logOutput.failed;
  *error = logOutput.error;
  if (logOutput.file) {
    errno = 0;
    written = std::fflush(logOutput.file) == 0 && !std::ferror(logOutput.file) && written;
    *error = *error ? *error : errno;
    written = std::fclose(logOutput.file) == 0 && written;
    *error = *error ? *error : errno;
  }
  logOutput.file = nullptr;
  return written;
}

int outputFailed(int code, const std::string& what, int error) {
  std::fprintf(stderr, "%s could not be written%s%s.\n", what.c_str(), error ? ": " : "",
               error ? std::strerror(error) : "");
  return code == ExitDone ? ExitOutput : code;
}

void swapLogPortNames() {
  std::swap(logOutput.shownName[kMasterSlot], logOutput.shownName[kSlaveSlot]);
  std::swap(logOutput.comName[kMasterSlot], logOutput.comName[kSlaveSlot]);
}

const std::string& comPortName(uint32_t slot) {
  return logOutput.comName[slot];
}

const std::string& shownPortName(uint32_t slot) {
  return logOutput.shownName[slot];
}

// ---- panes and ports ---------------------------------------------------------------------

void showProgress(bool shown) {
  progressShown = shown;
}

void progress(const std::string& text) {
  if (progressShown && stderrIsTerminal()) {
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
  }
}

bool preparePane(PaneRecord* pane, bool master, const std::string& portName, uint32_t slot,
                 std::string* message) {
  *pane = PaneRecord{};
  pane->isMaster = master ? 1 : 0;
  resetPane(pane);
  uint32_t number = 0;
  std::string shown;
  if (!bindPort(portName, slot, &number, &shown, message))
    return false;
  attachPane(pane, number);
  usedPorts[slot] = number;
  pane->portNumber = static_cast<int32_t>(number);
  // Kept for the program's life: Ctrl+C may come at any moment, from
  // another thread, and must never find it closed.
  pane->cancelEvent = (slot == kMasterSlot ? masterCancel : slaveCancel).load();
  if (!pane->cancelEvent) {
    *message = "Could not create event.";
    return false;
  }
  logOutput.comName[slot] = "COM" + std::to_string(number) + " ";
  logOutput.shownName[slot] = shown;
  return true;
}

void releasePane(PaneRecord* pane, uint32_t) {
  pane->cancelEvent = nullptr;
}

// A module takes "+++" only after its guard time of silence: the next
// command of a script would find it deaf if this one ended at once. The
// results are out by then.
void waitOutGuardTime() {
  uint32_t longest = 0;
  for (uint32_t slot : {kMasterSlot, kSlaveSlot}) {
    const SerialPort* port = portRecord(usedPorts[slot]);
    if (usedPorts[slot] != 0 && port && port->guardDelayMs > longest)
      longest = port->guardDelayMs;
  }
  os::sleepMs(longest);
}

bool anyCancelled() {
  return isCancelled(&masterPane) || isCancelled(&slavePane);
}

// ---- results ----------------------------------------------------------------------------

int exitCodeOf(int32_t result) {
  switch (result) {
    case 0:
      return ExitDone;
    case ResultCancelled:
      return ExitCancelled;
    case ResultNotMaster:
    case ResultNotSlave:
      return ExitWrongRole;
    case ResultProfileMisfit:
      return ExitRefused;
    case ResultSamePort:
      return ExitUsage;
    case ResultNotHeld:
    case ResultLinkNg:
      return ExitLinkOrCheck;
    default:
      return ExitCommunication;
  }
}

// An identifier may fill its array without a terminator.
std::string nodeIdOf(const PaneRecord* pane) {
  return std::string(pane->nodeId, strnlen(pane->nodeId, kNodeIdSize));
}

// The dialog's own texts, so that a script sees what a user would.
std::string messageOf(int32_t result, const PaneRecord* pane) {
  return resultText(result, pane);
}

// A Ctrl+C that a step turned into its own failure was still a cancel.
int32_t settled(int32_t result) {
  return result != 0 && result != ResultCancelled && anyCancelled() ? ResultCancelled : result;
}

int failWith(int32_t result, const PaneRecord* pane) {
  const uint32_t error = os::lastError();
  result = settled(result);
  std::fprintf(stderr, "%s\n", messageOf(result, pane).c_str());
  // What the dialog leaves to the user's eyes, a script is told.
  if (result == ErrNoPort && error == os::kErrorAccessDenied)
    std::fprintf(stderr, "The port is in use by another program.\n");
  if (result == ErrNoPort && error == os::kErrorPrivilegeNotHeld)
    std::fprintf(stderr,
                 "This user may not open the port (on Linux: a member of the port's group, "
                 "often dialout).\n");
  return exitCodeOf(result);
}

void logEnd(const PaneRecord* pane, const char* operation, int32_t result) {
  const std::string text = std::string(operation) + ": " +
                           (result == 0 ? std::string("done.") : messageOf(result, pane));
  logNote(static_cast<uint32_t>(pane->portNumber), text.c_str());
}

// ---- settings files and --set -----------------------------------------------------------
namespace {

// The first line of a refusal: "pair.ini, line 4: ...".
std::string firstLineOf(const wchar_t* message) {
  std::string text = narrow(message);
  const size_t end = text.find_first_of("\r\n");
  return end == std::string::npos ? text : text.substr(0, end);
}

}  // namespace

bool loadFile(const std::string& name, SettingsFile* file, std::string* message) {
  FILE* in = openFile(name, "rb");
  if (!in) {
    *message = "Cannot open " + name + ": " + std::strerror(errno) + ".";
    return false;
  }
  std::vector<uint8_t> bytes(kSettingsFileLimit + 1);
  const size_t size = std::fread(bytes.data(), 1, bytes.size(), in);
  const bool failed = std::ferror(in) != 0;
  std::fclose(in);
  if (failed || size > kSettingsFileLimit) {
    *message = name + (failed ? ": cannot be read." : ": larger than 64 KiB.");
    return false;
  }
  wchar_t text[kSettingsMessageChars] = {};
  uint32_t line = 0;
  if (parseSettingsFile(bytes.data(), size, widen(name).c_str(), file, &line, text))
    return true;
  *message = firstLineOf(text);
  return false;
}

// A --set is a one-line section of the role, so it meets the very checks
// and refusals of a file.
bool parseSet(const std::string& set, bool master, SettingsFile* file, std::string* message) {
  const std::string text = std::string(master ? "[Master]\n" : "[Slave]\n") + set + "\n";
  wchar_t refusal[kSettingsMessageChars] = {};
  uint32_t line = 0;
  if (set.find('=') != std::string::npos &&
      parseSettingsFile(reinterpret_cast<const uint8_t*>(text.data()), text.size(), L"--set", file,
                        &line, refusal)) {
    return true;
  }
  std::string why = set.find('=') == std::string::npos ? "no \"=\" in it." : firstLineOf(refusal);
  const size_t colon = why.find(": ");
  if (colon != std::string::npos && why.rfind("--set", 0) == 0)
    why = why.substr(colon + 2);
  *message = "--set \"" + set + "\": " + why;
  return false;
}

}  // namespace cli
