#include "cli/session.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "cli/cli.h"
#include "cli/console_view.h"
#include "cli/operands.h"
#include "cli/output.h"
#include "link/errors.h"
#include "link/line_log.h"
#include "link/port_activity.h"
#include "module/pair_run.h"
#include "module/read.h"
#include "module/result_messages.h"

namespace cli {

namespace {

std::atomic<os::Handle> masterCancel{nullptr};
std::atomic<os::Handle> slaveCancel{nullptr};
std::atomic<bool> consoleClosing{false};

// Written beside its target and put in its place when the command ends, so
// that an earlier log stays whole until this one is.
struct LogOutput {
  std::string target;  // --log as given, "" for none
  std::string made;    // the file being written
  std::string place;   // what it replaces, where links lead
  bool opened = false;
  FILE* file = nullptr;
  bool failed = false;  // a line did not reach the file
  int error = 0;
  bool verbose = false;
};
LogOutput logOutput;
// The console's line log: every session of the command logs to it.
LineLog consoleLog;
// A pair run's two sessions log at once; the stop at once waits for no line.
std::timed_mutex logLock;

// The ports bound, by slot: the user's names, and whether the command
// names each module's role.
struct BoundPort {
  uint32_t number = 0;
  std::string name;
};
BoundPort boundPorts[3];
bool progressShown = true;

// What --json prints once: the command's result and its first failure.
struct JsonResult {
  bool wanted = false;
  std::string result;
  bool failed = false;
  std::string message;
  std::string port;
};
JsonResult jsonResult;
std::mutex jsonLock;
std::atomic<bool> jsonPrinted{false};

constexpr char kStoppedText[] =
    "Stopped at once: the modules may hold what was sent before the stop.";

void writeLogLine(void* context, const char* line, uint32_t length) {
  auto* out = static_cast<LogOutput*>(context);
  std::lock_guard guard(logLock);
  if (out->file && std::fprintf(out->file, "%.*s\n", static_cast<int>(length), line) < 0 &&
      !out->failed) {
    out->failed = true;
    out->error = errno;
  }
  if (out->verbose)
    std::fprintf(stderr, "%.*s\n", static_cast<int>(length), line);
}

// Under logLock. The file is closed and put in its place; false with the
// reason when a line or the file was lost.
bool finishLogFile(std::string* why) {
  if (!logOutput.file)
    return true;
  errno = 0;
  bool written =
      !logOutput.failed && std::fflush(logOutput.file) == 0 && !std::ferror(logOutput.file);
  int error = logOutput.error ? logOutput.error : errno;
  if (std::fclose(logOutput.file) != 0 && written) {
    written = false;
    error = errno;
  }
  logOutput.file = nullptr;
  *why = written || !error ? "" : std::strerror(error);
  // Even a log that lost a line goes in place: what it holds was seen.
  std::string replaced;
  if (!replaceFile(logOutput.made, logOutput.place, &replaced)) {
    *why = replaced;
    return false;
  }
  return written;
}

bool openLogFile(std::string* message) {
  if (logOutput.opened || logOutput.target.empty())
    return true;
  std::string why;
  FILE* file = createBeside(logOutput.target, &logOutput.made, &logOutput.place, &why);
  if (!file) {
    *message = "Cannot write the log file " + logOutput.target + ": " + why + ".";
    return false;
  }
  std::lock_guard guard(logLock);
  logOutput.file = file;
  logOutput.opened = true;
  return true;
}

std::string errorJson(int code, const JsonResult& r) {
  if (code == ExitDone)
    return "null";
  std::string error = "{";
  addJson(error, "code", std::to_string(code));
  addJson(error, "message", r.failed ? jsonString(r.message) : "null");
  addJson(error, "port", r.failed && !r.port.empty() ? jsonString(r.port) : "null");
  return error + "}";
}

std::string jsonWithError(int code) {
  std::lock_guard guard(jsonLock);
  const std::string& kept = jsonResult.result;
  if (!kept.empty() && kept.front() == '[')
    return kept + "\n";
  std::string json = kept.empty() ? "{" : kept.substr(0, kept.size() - 1);
  addJson(json, "error", errorJson(code, jsonResult));
  return json + "}\n";
}

}  // namespace

void createCancelEvents() {
  for (auto* event : {&masterCancel, &slaveCancel}) {
    if (!event->load())
      event->store(os::createEvent());
  }
}

void requestClosing() {
  consoleClosing = true;
}

void requestCancel() {
  for (auto* event : {&masterCancel, &slaveCancel}) {
    if (os::Handle handle = event->load())
      os::setEvent(handle);
  }
}

void stopAtOnce() {
  static std::atomic<bool> stopping{false};
  while (stopping.exchange(true))
    os::sleepMs(1000);  // the first to stop ends the program
  // No reply awaited: a module still in command mode leaves it.
  sendOnOpenPorts("ATCN\r", 5);
  // The next command's "+++" must wait for these bytes' guard time too.
  for (const BoundPort& bound : boundPorts) {
    if (bound.number != 0)
      noteBytesSent(bound.number);
  }
  std::fprintf(stderr, "%s\n", kStoppedText);
  std::fflush(stderr);
  {
    // Whatever failed before, this is how the program ends.
    std::lock_guard guard(jsonLock);
    jsonResult.failed = true;
    jsonResult.message = kStoppedText;
    jsonResult.port.clear();
  }
  printJsonResult(ExitStopped);
  std::fflush(stdout);
  // A line being written may finish; none starts after this.
  if (logLock.try_lock_for(std::chrono::milliseconds(500))) {
    std::string why;
    finishLogFile(&why);
  }
  std::_Exit(ExitStopped);
}

void startLog(const Options& o) {
  std::lock_guard guard(logLock);
  logOutput = LogOutput{};
  logOutput.verbose = o.verbose;
  logOutput.target = o.log;
  if (!o.log.empty() || o.verbose)
    setLineLogSink(&consoleLog, writeLogLine, &logOutput);
}

bool endLog(std::string* why) {
  setLineLogSink(&consoleLog, nullptr, nullptr);
  std::lock_guard guard(logLock);
  return finishLogFile(why);
}

int outputFailed(int code, const std::string& what, const std::string& why) {
  reportFailure(what + " could not be written" + (why.empty() ? "" : ": " + why) + ".");
  return code == ExitDone ? ExitOutput : code;
}

std::string portNameOf(int32_t portNumber) {
  for (const BoundPort& bound : boundPorts) {
    if (bound.number != 0 && static_cast<int32_t>(bound.number) == portNumber)
      return bound.name;
  }
  return "COM" + std::to_string(portNumber);
}

namespace {

Module makeModule(bool master) {
  Module m;
  m.master = master;
  return m;
}

}  // namespace

Module& masterModule() {
  static Module m = makeModule(true);
  return m;
}

Module& slaveModule() {
  static Module m = makeModule(false);
  return m;
}

std::string roleShown(const Module& m) {
  return m.roleKnown ? (m.master ? "Master" : "Slave") : "";
}

std::string portPrefix(const Module& m, uint32_t portNumber) {
  const std::string role = roleShown(m);
  return portNameOf(static_cast<int32_t>(portNumber)) + (role.empty() ? "" : " (" + role + ")") +
         ": ";
}

std::string portPrefix(const Module& m) {
  return portPrefix(m, m.session.portNumber);
}

namespace {

// "Master (/dev/ttyUSB0)": the module on the port names the role, where
// the command knows it.
std::string moduleOnPort(uint32_t portNumber) {
  const Module* m = nullptr;
  for (const Module* candidate : {&masterModule(), &slaveModule()}) {
    if (candidate->session.portNumber == portNumber)
      m = candidate;
  }
  const std::string name = portNameOf(static_cast<int32_t>(portNumber));
  const std::string role = m ? roleShown(*m) : "";
  return role.empty() ? name : role + " (" + name + ")";
}

}  // namespace

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

namespace {

void warnOnConsole(void*, const wchar_t* text) {
  std::fprintf(stderr, "%s\n", narrow(text).c_str());
}

}  // namespace

LineSearch lineSearchOf(const Options& o) {
  LineSearch search;
  if (o.baud != 0) {
    search.named.baudRate = o.baud;
    search.named.parity =
        static_cast<uint8_t>(o.parity == Options::kNotGiven ? os::kNoParity : o.parity);
    search.named.stopBits = o.stopBits == 2 ? os::kTwoStopBits : os::kOneStopBit;
  }
  search.everySetting = o.search;
  search.resetKey = !o.noResetKey;
  return search;
}

int prepareModule(Module& m, const std::string& portName, bool roleIsKnown,
                  const LineSearch& search) {
  std::string message;
  if (!openLogFile(&message)) {
    reportFailure(message);
    return ExitRefused;
  }
  m.record = ModuleRecord{};
  m.record.isMaster = m.master ? 1 : 0;
  resetPane(&m.record);
  m.session = Session{};
  m.session.module = &m.record;
  // A module refused for its role is named in the message: a script's log
  // must say which module was plugged in the wrong place.
  m.session.options.nameRefused = true;
  m.session.options.eitherRole = !roleIsKnown;
  m.session.options.search = search;
  m.session.view.warned = warnOnConsole;
  m.session.resetPrompt = consolePrompt(moduleOnPort);
  m.session.closing = &consoleClosing;
  m.session.lineLog = &consoleLog;
  const uint32_t slot = m.master ? kMasterSlot : kSlaveSlot;
  uint32_t number = 0;
  std::string shown;
  if (!bindPort(portName, slot, &number, &shown, &message)) {
    reportFailure(message, portName);
    return ExitCommunication;
  }
  boundPorts[slot] = {number, shown};
  m.roleKnown = roleIsKnown;
  // Before the port is used: every line is made with the user's name.
  setLineLogPortName(&consoleLog, number, shown.c_str());
  m.session.portNumber = number;
  // Kept for the program's life: Ctrl+C may come at any moment, from
  // another thread, and must never find it closed.
  m.session.cancelEvent = (m.master ? masterCancel : slaveCancel).load();
  if (!m.session.cancelEvent) {
    reportFailure("Could not create event.");
    return ExitCommunication;
  }
  return 0;
}

void releaseModule(Module& m) {
  m.session.cancelEvent = nullptr;
}

int prepareBoth(const Options& o) {
  const int refused = prepareModule(masterModule(), o.ports[0], true, lineSearchOf(o));
  return refused ? refused : prepareModule(slaveModule(), o.ports[1], true, lineSearchOf(o));
}

void releaseBoth() {
  releaseModule(masterModule());
  releaseModule(slaveModule());
}

bool anyCancelled() {
  for (os::Handle event : {masterCancel.load(), slaveCancel.load()}) {
    if (event && os::isEventSet(event))
      return true;
  }
  return false;
}

// ---- failures and --json ------------------------------------------------------------------

void noteFailure(const std::string& text, const std::string& port) {
  std::lock_guard guard(jsonLock);
  if (jsonResult.failed)
    return;
  jsonResult.failed = true;
  jsonResult.message = text;
  for (char& c : jsonResult.message)
    c = c == '\n' ? ' ' : c;
  jsonResult.port = port;
}

void reportFailure(const std::string& text, const std::string& port) {
  std::fprintf(stderr, "%s\n", text.c_str());
  noteFailure(text, port);
}

void wantJson(bool wanted) {
  std::lock_guard guard(jsonLock);
  jsonResult.wanted = wanted;
}

void keepJsonResult(const std::string& json) {
  std::lock_guard guard(jsonLock);
  jsonResult.result = json;
}

void printJsonResult(int code) {
  bool wanted = false;
  {
    std::lock_guard guard(jsonLock);
    wanted = jsonResult.wanted;
  }
  if (wanted && !jsonPrinted.exchange(true))
    printText(jsonWithError(code));
}

// ---- results ----------------------------------------------------------------------------

int exitCodeOf(int32_t result) {
  return resultMessage(result).exitCode;
}

// An identifier may fill its array without a terminator.
// The dialog's own texts, so that a script sees what a user would.
std::string messageOf(int32_t result, const ModuleRecord& module) {
  return resultText(result, &module);
}

// A Ctrl+C that a step turned into its own failure was still a cancel.
int32_t settled(int32_t result) {
  return result != 0 && result != ResultCancelled && anyCancelled() ? ResultCancelled : result;
}

Outcome outcomeIn(const Module& m, int32_t result) {
  if (m.session.outcome.code == result && result != 0)
    return m.session.outcome;
  return Outcome{result, os::lastError(), m.session.portNumber, ""};
}

namespace {

// A cancel or a refusal of the two picks is no port's failure.
uint32_t failedPort(const Outcome& outcome) {
  const bool ofPort = outcome.code != ResultCancelled && outcome.code != ResultSamePort;
  return ofPort ? outcome.portNumber : 0;
}

}  // namespace

std::string failureText(const Outcome& outcome, const Module& m) {
  const uint32_t port = failedPort(outcome);
  return (port ? portPrefix(m, port) : "") + messageOf(outcome.code, m.record);
}

std::string failureText(int32_t result, const Module& m) {
  return failureText(outcomeIn(m, result), m);
}

// What the dialog leaves to the user's eyes, a script is told.
std::string portHint(int32_t result, uint32_t systemError) {
  if (result == ErrNoPort && systemError == os::kErrorAccessDenied)
    return "\nThe port is in use by another program.";
  if (result == ErrNoPort && systemError == os::kErrorPrivilegeNotHeld)
    return "\nThis user may not open the port (on Linux: a member of the port's group, "
           "often dialout).";
  return "";
}

int failWith(Outcome outcome, const Module& m) {
  outcome.code = settled(outcome.code);
  const std::string text = failureText(outcome, m) + portHint(outcome.code, outcome.systemError);
  const uint32_t port = outcome.code == ResultCancelled ? 0 : outcome.portNumber;
  reportFailure(text, port ? portNameOf(static_cast<int32_t>(port)) : "");
  return exitCodeOf(outcome.code);
}

int failWith(int32_t result, const Module& m) {
  return failWith(outcomeIn(m, result), m);
}

void logEnd(const Module& m, const char* operation, int32_t result) {
  logOperationEnd(m.session.lineLog, m.session.portNumber, operation, result, &m.record);
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

std::string fileShown(const std::string& operand) {
  return operand == "-" ? kStandardInputName : operand;
}

bool loadFile(const std::string& operand, SettingsFile* file, std::string* message) {
  const bool piped = operand == "-";
  const std::string name = fileShown(operand);
  FILE* in = piped ? binaryStandardInput() : openFile(name, "rb");
  if (!in) {
    *message = "Cannot open " + name + ": " + std::strerror(errno) + ".";
    return false;
  }
  // fread waits for a pipe's every piece, up to its end or one byte past the limit.
  std::vector<uint8_t> bytes(kSettingsFileLimit + 1);
  const size_t size = std::fread(bytes.data(), 1, bytes.size(), in);
  const bool failed = std::ferror(in) != 0;
  if (!piped)
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
