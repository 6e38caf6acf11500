// The commands of nlconf-cli over the same module operations as the dialog.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "cli/cli.h"
#include "cli/console_view.h"
#include "cli/options.h"
#include "link/errors.h"
#include "link/line_log.h"
#include "module/link_test.h"
#include "module/pair_record.h"
#include "module/pair_run.h"
#include "module/read.h"
#include "module/result_messages.h"
#include "module/settings_file.h"
#include "module/write.h"
#include "version.h"

namespace cli {

namespace {

constexpr uint32_t kMasterSlot = 1;
constexpr uint32_t kSlaveSlot = 2;

std::atomic<os::Handle> masterCancel{nullptr};
std::atomic<os::Handle> slaveCancel{nullptr};

// ---- the line log --------------------------------------------------------------------

struct LogOutput {
  FILE* file = nullptr;
  bool verbose = false;
  std::string comName[3];  // "COM1 " as the layer names the port
  std::string shownName[3];
};
LogOutput logOutput;
uint32_t usedPorts[3] = {};

// The link layer names ports COM<n>; where the system has no such names,
// the device's path takes the place.
void writeLogLine(void* context, const char* line, uint32_t length) {
  auto* out = static_cast<LogOutput*>(context);
  std::string text(line, length);
  for (uint32_t slot : {kMasterSlot, kSlaveSlot}) {
    const std::string& com = out->comName[slot];
    const size_t at = com.empty() ? std::string::npos : text.find(com);
    if (at != std::string::npos && out->shownName[slot] + " " != com) {
      text.replace(at, com.size(), out->shownName[slot] + " ");
      break;
    }
  }
  if (out->file)
    std::fprintf(out->file, "%s\n", text.c_str());
  if (out->verbose)
    std::fprintf(stderr, "%s\n", text.c_str());
}

bool startLog(const Options& o, std::string* message) {
  logOutput = LogOutput{};
  logOutput.verbose = o.verbose;
  if (!o.log.empty()) {
    logOutput.file = openFile(o.log, "w");
    if (!logOutput.file) {
      *message = "Cannot write the log file " + o.log + ".";
      return false;
    }
  }
  if (logOutput.file || logOutput.verbose)
    setLineLogSink(writeLogLine, &logOutput);
  return true;
}

void endLog() {
  setLineLogSink(nullptr, nullptr);
  if (logOutput.file)
    std::fclose(logOutput.file);
  logOutput.file = nullptr;
}

// ---- panes and ports -------------------------------------------------------------------

void progress(const std::string& text) {
  if (stderrIsTerminal()) {
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
    case ResultNotHeld:
    case ResultLinkNg:
      return ExitLinkOrCheck;
    default:
      return ExitCommunication;
  }
}

std::string nodeIdOf(const PaneRecord* pane) {
  char id[kNodeIdSize];
  std::memcpy(id, pane->nodeId, kNodeIdSize);
  id[kNodeIdSize - 1] = 0;
  return id;
}

// The dialog's own texts, so that a script sees what a user would.
std::string messageOf(int32_t result, const PaneRecord* pane) {
  return resultText(result, pane);
}

int failWith(int32_t result, const PaneRecord* pane) {
  const uint32_t error = os::lastError();
  // A Ctrl+C that a step turned into its own failure was still a cancel.
  if (result != 0 && result != ResultCancelled && anyCancelled())
    result = ResultCancelled;
  std::fprintf(stderr, "%s\n", messageOf(result, pane).c_str());
  // What the dialog leaves to the user's eyes, a script is told.
  if (result == ErrNoPort && error == os::kErrorAccessDenied)
    std::fprintf(stderr, "The port is in use by another program.\n");
  return exitCodeOf(result);
}

void logEnd(const PaneRecord* pane, const char* operation, int32_t result) {
  const std::string text = std::string(operation) + ": " +
                           (result == 0 ? std::string("done.") : messageOf(result, pane));
  logNote(static_cast<uint32_t>(pane->portNumber), text.c_str());
}

// ---- settings files and --set -----------------------------------------------------------

// The first line of a refusal: "pair.ini, line 4: ...".
std::string firstLineOf(const wchar_t* message) {
  std::string text = narrow(message);
  const size_t end = text.find_first_of("\r\n");
  return end == std::string::npos ? text : text.substr(0, end);
}

bool loadFile(const std::string& name, SettingsFile* file, std::string* message) {
  FILE* in = openFile(name, "rb");
  if (!in) {
    *message = "Cannot open " + name + ".";
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

// ---- output -----------------------------------------------------------------------------

std::string hex(uint64_t value, int digits) {
  char text[24];
  std::snprintf(text, sizeof text, "%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

std::string entryText(const PaneRecord* pane, Setting s) {
  const int32_t position = shownSettingPosition(pane, s);
  return position < 0 ? "?" : narrow(settingList(s).entries[position]);
}

int32_t shownCode(const PaneRecord* p, Setting s) {
  switch (s) {
    case SettingChannel:
      return p->channelShown;
    case SettingBaudRate:
      return static_cast<int32_t>(p->baudCodeShown);
    case SettingParity:
      return p->parityCodeShown;
    case SettingStopBits:
      return p->stopBitsCodeShown;
    case SettingPowerLevel:
      return p->powerLevelShown;
    case SettingBoostMode:
      return p->boostModeShown;
    case SettingPowerSave:
      return p->powerSaveShown;
    default:
      return p->flowControlShown;
  }
}

bool settingApplies(const PaneRecord* pane, int s) {
  return !(pane->isMaster && s == SettingPowerSave);
}

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\')
      out += std::string("\\") + c;
    else if (u < 0x20 || u >= 0x7F)
      out += "\\u00" + hex(u, 2);
    else
      out += c;
  }
  return out + "\"";
}

void printJson(const PaneRecord* p) {
  std::string out = "{";
  out += "\"role\": " + jsonString(p->isMaster ? "master" : "slave");
  out += ", \"nodeIdentifier\": " + jsonString(nodeIdOf(p));
  out += ", \"serialNumber\": " + jsonString(hex(p->serialHigh, 8) + hex(p->serialLow, 8));
  out += ", \"firmwareVersion\": " + jsonString(hex(p->firmwareVersion, 4));
  out += ", \"panId\": " + jsonString(hex(p->panIdShown, 1));
  out += ", \"destination\": " + jsonString(hex(p->destHighShown, 8) + hex(p->destLowShown, 8));
  out += ", \"settings\": {";
  bool first = true;
  for (int s = 0; s < kSettingCount; ++s) {
    if (!settingApplies(p, s))
      continue;
    const auto setting = static_cast<Setting>(s);
    out += first ? "" : ", ";
    first = false;
    out += jsonString(narrow(settingKey(setting))) +
           ": {\"text\": " + jsonString(entryText(p, setting)) +
           ", \"code\": " + std::to_string(shownCode(p, setting)) + "}";
  }
  out += "}}\n";
  std::fputs(out.c_str(), stdout);
}

// The settings file as Save writes it, with this system's line ends.
bool printSettingsFile(const PaneRecord* pane) {
  PaneRecord empty{};
  empty.isMaster = pane->isMaster ? 0 : 1;
  std::vector<char> text(kSettingsFileLimit);
  const PaneRecord* master = pane->isMaster ? pane : &empty;
  const PaneRecord* slave = pane->isMaster ? &empty : pane;
  const size_t size = formatSettingsFile(master, slave, text.data(), text.size());
  if (size == 0)
    return false;
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    if (text[i] != '\r')
      out += text[i];
  }
  // The rest of what the pane shows read-only, as one more comment.
  const size_t section = out.find("\n[");
  if (section != std::string::npos) {
    out.insert(section + 1, std::string(pane->isMaster ? "; Master" : "; Slave") +
                                ": Serial Number " + hex(pane->serialHigh, 8) + " " +
                                hex(pane->serialLow, 8) + ", Firmware " +
                                hex(pane->firmwareVersion, 4) + "\n");
  }
  std::fputs(out.c_str(), stdout);
  return true;
}

// "Channel: 15 -> 12" for each value that a Write would send.
std::vector<std::string> changesOf(const PaneRecord* before, const PaneRecord* after) {
  std::vector<std::string> lines;
  if (before->panIdShown != after->panIdShown)
    lines.push_back("PAN ID: " + hex(before->panIdShown, 1) + " -> " + hex(after->panIdShown, 1));
  if (before->destHighShown != after->destHighShown ||
      before->destLowShown != after->destLowShown) {
    lines.push_back("Destination: " + hex(before->destHighShown, 8) + " " +
                    hex(before->destLowShown, 8) + " -> " + hex(after->destHighShown, 8) + " " +
                    hex(after->destLowShown, 8));
  }
  for (int s = 0; s < kSettingCount; ++s) {
    const auto setting = static_cast<Setting>(s);
    if (!settingApplies(after, s) || shownCode(before, setting) == shownCode(after, setting))
      continue;
    lines.push_back(narrow(settingKey(setting)) + ": " + entryText(before, setting) + " -> " +
                    entryText(after, setting));
  }
  return lines;
}

// ---- the commands ---------------------------------------------------------------------------

int readCommand(const Options& o) {
  const bool master = o.role != Role::Slave;
  PaneRecord* pane = master ? &masterPane : &slavePane;
  std::string message;
  if (!preparePane(pane, master, o.ports[0], master ? kMasterSlot : kSlaveSlot, &message)) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return ExitCommunication;
  }
  readTakesEitherRole(o.role == Role::Any);
  showPairWarnings(false);
  progress("Reading " + o.ports[0] + "...");
  logNote(static_cast<uint32_t>(pane->portNumber), "Read started");
  const int32_t result = readPane(pane);
  logEnd(pane, "Read", result);
  readTakesEitherRole(false);
  int code = ExitDone;
  if (result != 0)
    code = failWith(result, pane);
  else if (o.json)
    printJson(pane);
  else if (!printSettingsFile(pane))
    code = failWith(ErrArgument, pane);
  releasePane(pane, pane == &masterPane ? kMasterSlot : kSlaveSlot);
  return code;
}

// Applies the file's section and each --set to a copy of the pane: all of
// them fit and the pane takes the copy, or nothing changes.
bool applyChoices(PaneRecord* pane, const SettingsFile* file, const std::vector<SettingsFile>& sets,
                  const std::string& fileName, std::string* message) {
  PaneRecord trial = *pane;
  std::vector<std::pair<const PaneSettings*, std::string>> sections;
  if (file)
    sections.push_back({pane->isMaster ? &file->master : &file->slave, fileName});
  for (const SettingsFile& set : sets)
    sections.push_back({pane->isMaster ? &set.master : &set.slave, "--set"});
  for (const auto& [section, from] : sections) {
    if (!section->present)
      continue;
    wchar_t reason[kSettingsMessageChars] = {};
    uint32_t line = 0;
    if (!sectionFitsPane(&trial, *section, reason, &line)) {
      *message = from == "--set"
                     ? "--set: " + narrow(reason) + "."
                     : from + ", line " + std::to_string(line) + ": " + narrow(reason) + ".";
      return false;
    }
    applySection(&trial, *section);
  }
  *pane = trial;
  return true;
}

// What a Write was to change, and what the module holds after it.
bool holdsChoices(const PaneRecord* intended, const PaneRecord* now) {
  return changesOf(intended, now).empty();
}

int writeCommand(const Options& o) {
  const bool master = o.role == Role::Master;
  SettingsFile file;
  std::vector<SettingsFile> sets;
  std::string message;
  bool ok = o.file.empty() || loadFile(o.file, &file, &message);
  for (size_t i = 0; ok && i < o.sets.size(); ++i) {
    sets.emplace_back();
    ok = parseSet(o.sets[i], master, &sets.back(), &message);
  }
  if (!ok) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return ExitRefused;
  }
  PaneRecord* pane = master ? &masterPane : &slavePane;
  const uint32_t slot = master ? kMasterSlot : kSlaveSlot;
  if (!preparePane(pane, master, o.ports[0], slot, &message)) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return ExitCommunication;
  }
  showPairWarnings(false);
  progress("Reading " + o.ports[0] + "...");
  logNote(static_cast<uint32_t>(pane->portNumber), "Read started");
  int32_t result = readPane(pane);
  logEnd(pane, "Read", result);
  int code = ExitDone;
  if (result != 0) {
    code = failWith(result, pane);
  } else {
    const PaneRecord read = *pane;
    if (!applyChoices(pane, o.file.empty() ? nullptr : &file, sets, o.file, &message)) {
      std::fprintf(stderr, "%s\n", message.c_str());
      code = ExitRefused;
    } else {
      const std::vector<std::string> changes = changesOf(&read, pane);
      for (const std::string& line : changes)
        std::printf("%s\n", line.c_str());
      if (changes.empty())
        std::printf("Nothing to write.\n");
      if (!changes.empty() && !o.dryRun) {
        const PaneRecord intended = *pane;
        progress("Writing " + o.ports[0] + "...");
        logNote(static_cast<uint32_t>(pane->portNumber), "Write started");
        result = writePane(pane);
        if (result == 0 && !holdsChoices(&intended, pane))
          result = ResultNotHeld;
        logEnd(pane, "Write", result);
        code = result == 0 ? ExitDone : failWith(result, pane);
      }
    }
  }
  releasePane(pane, slot);
  return code;
}

// The port opens now: a test that cannot even start says so, rather
// than Link NG.
bool portOpens(const PaneRecord* pane) {
  SerialPort* port = openPort(static_cast<uint32_t>(pane->portNumber), nullptr);
  if (!port)
    return false;
  closePort(port);
  return true;
}

bool prepareBoth(const Options& o) {
  std::string message;
  if (!preparePane(&masterPane, true, o.ports[0], kMasterSlot, &message) ||
      !preparePane(&slavePane, false, o.ports[1], kSlaveSlot, &message)) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return false;
  }
  return true;
}

void releaseBoth() {
  releasePane(&masterPane, kMasterSlot);
  releasePane(&slavePane, kSlaveSlot);
}

int linkTestCommand(const Options& o) {
  if (!prepareBoth(o)) {
    releaseBoth();
    return ExitCommunication;
  }
  int code = ExitDone;
  if (!portOpens(&masterPane) || !portOpens(&slavePane)) {
    code = failWith(ErrNoPort, &masterPane);
  } else {
    progress("Testing the link...");
    const int32_t verdict = testLink();
    if (anyCancelled()) {
      code = failWith(ResultCancelled, &masterPane);
    } else {
      std::printf("%s\n", verdict == 1 ? "Link OK." : "Link NG.");
      code = verdict == 1 ? ExitDone : ExitLinkOrCheck;
    }
  }
  releaseBoth();
  return code;
}

void announceStep(void*, PairStep step) {
  progress(narrow(pairStepName(step)) + "...");
}

bool swapPorts(void*) {
  swapPanePorts();
  std::swap(logOutput.shownName[kMasterSlot], logOutput.shownName[kSlaveSlot]);
  std::swap(logOutput.comName[kMasterSlot], logOutput.comName[kSlaveSlot]);
  return true;
}

PairRecordContext recordContext() {
  PairRecordContext context;
  context.when = recordTime(os::localTime());
  return context;
}

std::string csvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos)
    return text;
  std::string quoted = "\"";
  for (char c : text)
    quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

// The record names each port as the user did, where that is no COM name.
std::string withPortNames(const std::string& line) {
  std::string out = line;
  size_t from = 0;
  for (uint32_t slot : {kMasterSlot, kSlaveSlot}) {
    std::string com = logOutput.comName[slot];  // "COM1 "
    if (com.empty())
      continue;
    com.back() = ',';
    com.insert(com.begin(), ',');
    const size_t at = out.find(com, from);
    if (at == std::string::npos)
      continue;
    std::string field = ",";
    field.append(csvField(logOutput.shownName[slot]));
    field.push_back(',');
    out.replace(at, com.size(), field);
    from = at + field.size() - 1;
  }
  return out;
}

// Appended whole, under a header when the file is new or empty.
bool appendRecord(const std::string& name, const PairRunResult& run, const std::string& message) {
  FILE* out = openFile(name, "ab");
  if (!out)
    return false;
  std::fseek(out, 0, SEEK_END);
  std::vector<char> line(kPairRecordLineLimit);
  bool ok = true;
  if (std::ftell(out) == 0) {
    const size_t n = formatPairRecordHeader(line.data(), line.size());
    ok = n > 0 && std::fwrite(line.data(), 1, n, out) == n;
  }
  const size_t n =
      formatPairRecordLine(run, widen(message).c_str(), recordContext(), line.data(), line.size());
  const std::string text = withPortNames(std::string(line.data(), n));
  ok = ok && n > 0 && std::fwrite(text.data(), 1, text.size(), out) == text.size();
  return std::fclose(out) == 0 && ok;
}

int pairCommand(const Options& o) {
  SettingsFile profile;
  std::string message;
  if (!o.file.empty() && !loadFile(o.file, &profile, &message)) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return ExitRefused;
  }
  if (o.makePair)
    profile.pair.makePair = true;
  if (!prepareBoth(o)) {
    releaseBoth();
    return ExitCommunication;
  }
  PairRun run;
  run.profile = o.file.empty() && !o.makePair ? nullptr : &profile;
  run.onStep = announceStep;
  run.swapPorts = swapPorts;
  static PairRunResult result;
  runPair(run, &result);
  const PaneRecord* failedPane =
      result.failedStep == PairStep::ReadSlave ? &slavePane : &masterPane;
  std::string text = messageOf(result.result, failedPane);
  if (result.detail[0])
    text += " " + narrow(result.detail);
  if (result.result == 0)
    std::printf("PASS\n");
  else
    std::printf("FAIL: %s: %s\n", narrow(pairStepName(result.failedStep)).c_str(), text.c_str());
  int code = exitCodeOf(result.result);
  if (!o.record.empty() && !appendRecord(o.record, result, text)) {
    std::fprintf(stderr, "Cannot append to %s.\n", o.record.c_str());
    if (code == ExitDone)
      code = ExitRefused;
  }
  releaseBoth();
  return code;
}

int portsCommand() {
  for (const PortEntry& port : listPorts())
    std::printf("%s\t%s\n", port.name.c_str(), port.description.c_str());
  return ExitDone;
}

int dispatch(const Options& o) {
  switch (o.command) {
    case Command::Ports:
      return portsCommand();
    case Command::Read:
      return readCommand(o);
    case Command::Write:
      return writeCommand(o);
    case Command::LinkTest:
      return linkTestCommand(o);
    default:
      return pairCommand(o);
  }
}

}  // namespace

void requestCancel() {
  for (auto* event : {&masterCancel, &slaveCancel}) {
    if (os::Handle handle = event->load())
      os::setEvent(handle);
  }
}

int run(const std::vector<std::string>& args) {
  Options o;
  std::string message;
  if (!parseOptions(args, &o, &message)) {
    std::fprintf(stderr, "%s\n\n%s", message.c_str(), kUsage);
    return ExitUsage;
  }
  if (o.command == Command::Help) {
    std::fputs(kUsage, stdout);
    return ExitDone;
  }
  if (o.command == Command::Version) {
    std::printf("nlconf-cli " NLCONF_VERSION_TEXT "\n");
    return ExitDone;
  }
  // Made before any port is touched, so that no Ctrl+C goes unheard.
  for (auto* event : {&masterCancel, &slaveCancel}) {
    if (!event->load())
      event->store(os::createEvent());
  }
  if (!startLog(o, &message)) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return ExitRefused;
  }
  const int code = dispatch(o);
  endLog();
  // Closed before the wait: whoever reads the results has them all now.
  std::fclose(stdout);
  std::fflush(stderr);
  waitOutGuardTime();
  return code;
}

}  // namespace cli
