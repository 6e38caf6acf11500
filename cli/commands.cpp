// The commands of nlconf-cli over the same module operations as the dialog.
#include <cstdio>
#include <ctime>

#include "cli/cli.h"
#include "cli/console_view.h"
#include "cli/operands.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/range_test_command.h"
#include "cli/session.h"
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
  // A test that cannot even start says so, rather than Link NG.
  int32_t found = findLineSettings(&masterPane);
  const PaneRecord* failed = found ? &masterPane : &slavePane;
  found = found ? found : findLineSettings(&slavePane);
  if (found != 0) {
    closePanePorts();
    code = failWith(found, failed);
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
  swapLogPortNames();
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
    std::string com = comPortName(slot);  // "COM1 "
    if (com.empty())
      continue;
    com.back() = ',';
    com.insert(com.begin(), ',');
    const size_t at = out.find(com, from);
    if (at == std::string::npos)
      continue;
    std::string field = ",";
    field.append(csvField(shownPortName(slot)));
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
  if (result.detail[0]) {
    text += ' ';
    text += narrow(result.detail);
  }
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
    case Command::RangeTest:
      return rangeTestCommand(o);
    default:
      return pairCommand(o);
  }
}

}  // namespace

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
  if (!checkFileOperands(o, &message)) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return ExitRefused;
  }
  createCancelEvents();
  if (!startLog(o, &message)) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return ExitRefused;
  }
  const int code = dispatch(o);
  modulesReleased();
  endLog();
  // Closed before the wait: whoever reads the results has them all now.
  std::fclose(stdout);
  std::fflush(stderr);
  waitOutGuardTime();
  return code;
}

}  // namespace cli
