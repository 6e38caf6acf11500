// The commands of nlconf-cli over the same module operations as the dialog.
#include <cerrno>
#include <cstdio>
#include <cstring>
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
#include "module/pair_texts.h"
#include "module/read.h"
#include "module/record_file.h"
#include "module/result_messages.h"
#include "module/settings_file.h"
#include "module/write.h"
#include "version.h"

namespace cli {

namespace {

int readCommand(const Options& o) {
  Module& m = o.role != Role::Slave ? masterModule() : slaveModule();
  if (const int refused = prepareModule(m, o.ports[0], o.role != Role::Any))
    return refused;
  progress("Reading " + o.ports[0] + "...");
  logNote(m.session.portNumber, "Read started");
  const int32_t result = readModule(m.session);
  logEnd(m, "Read", result);
  int code = ExitDone;
  if (result != 0)
    code = failWith(result, m);
  else if (o.json)
    keepJsonResult(moduleRecordJson(m.record));
  else if (!printSettingsFile(m.record))
    code = failWith(ErrArgument, m);
  releaseModule(m);
  return code;
}

// Applies the file's section and each --set to a copy of the record: all
// of them fit and the record takes the copy, or nothing changes.
bool applyChoices(ModuleRecord* pane, const SettingsFile* file,
                  const std::vector<SettingsFile>& sets, const std::string& fileName,
                  std::string* message) {
  ModuleRecord trial = *pane;
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
bool holdsChoices(const ModuleRecord& intended, const ModuleRecord& now) {
  return changesOf(intended, now).empty();
}

// A FILE given for a role holds that role's section: the master's file
// named for the slave must not pass as "nothing to write".
bool fileHasRoleSection(const Options& o, const SettingsFile& file, std::string* message) {
  const bool master = o.role == Role::Master;
  if (o.file.empty() || (master ? file.master.present : file.slave.present))
    return true;
  *message = o.file + " has no " + (master ? "[Master]" : "[Slave]") + " section.";
  return false;
}

bool loadWriteInput(const Options& o, SettingsFile* file, std::vector<SettingsFile>* sets,
                    std::string* message) {
  if (!o.file.empty() &&
      (!loadFile(o.file, file, message) || !fileHasRoleSection(o, *file, message)))
    return false;
  for (const std::string& set : o.sets) {
    sets->emplace_back();
    if (!parseSet(set, o.role == Role::Master, &sets->back(), message))
      return false;
  }
  return true;
}

// Change lines only for what the module took (or, in a dry run, would take).
void printWriteResult(const Options& o, const Module& m, const std::vector<Change>& changes,
                      bool written, int32_t result) {
  if (o.json) {
    std::string json = "{";
    addJson(json, "port", jsonString(o.ports[0]));
    addJson(json, "role", jsonString(m.record.isMaster ? "master" : "slave"));
    addJson(json, "changes", changesJson(changes));
    addJson(json, "dry_run", jsonBool(o.dryRun));
    addJson(json, "written", jsonBool(written));
    addJson(json, "message", result == 0 ? "null" : jsonString(failureText(result, m)));
    keepJsonResult(json + "}");
    return;
  }
  const bool shown = changes.empty() || o.dryRun || written;
  std::string text;
  for (size_t i = 0; shown && !o.quiet && i < changes.size(); ++i)
    text += changes[i].line + "\n";
  if (changes.empty())
    text += "Nothing to write.\n";
  else if (o.dryRun)
    text += "Dry run: nothing written.\n";
  else if (written)
    text += "Written.\n";
  printText(text);
}

int writeCommand(const Options& o) {
  const bool master = o.role == Role::Master;
  SettingsFile file;
  std::vector<SettingsFile> sets;
  std::string message;
  if (!loadWriteInput(o, &file, &sets, &message)) {
    reportFailure(message);
    return ExitRefused;
  }
  Module& m = master ? masterModule() : slaveModule();
  if (const int refused = prepareModule(m, o.ports[0]))
    return refused;
  progress("Reading " + o.ports[0] + "...");
  logNote(m.session.portNumber, "Read started");
  // One command-mode session: the write follows the read without leaving it.
  int32_t result = readInSession(m.session);
  logEnd(m, "Read", result);
  int code = ExitDone;
  const ModuleRecord read = m.record;
  if (result != 0) {
    code = failWith(result, m);
  } else if (!applyChoices(&m.record, o.file.empty() ? nullptr : &file, sets, o.file, &message)) {
    endSession(m.session);
    reportFailure(message);
    code = ExitRefused;
  } else {
    const std::vector<Change> changes = changesOf(read, m.record);
    const bool writes = !changes.empty() && !o.dryRun;
    if (!writes) {
      endSession(m.session);
    } else {
      const ModuleRecord intended = m.record;
      progress("Writing " + o.ports[0] + "...");
      logNote(m.session.portNumber, "Write started");
      result = writeInSession(m.session);
      if (result == 0 && !holdsChoices(intended, m.record))
        result = ResultNotHeld;
      logEnd(m, "Write", result);
      result = settled(result);
      code = result == 0 ? ExitDone : failWith(result, m);
    }
    printWriteResult(o, m, changes, writes && result == 0, result);
  }
  releaseModule(m);
  return code;
}

int prepareBoth(const Options& o) {
  const int refused = prepareModule(masterModule(), o.ports[0]);
  return refused ? refused : prepareModule(slaveModule(), o.ports[1]);
}

void releaseBoth() {
  releaseModule(masterModule());
  releaseModule(slaveModule());
}

// A failed link test reads both modules, as the dialog's Read would, to tell
// modules that are no pair from a radio that does not carry.
struct PairDiagnosis {
  bool masterRead = false;
  bool slaveRead = false;
  std::vector<std::string> unread;    // why a module could not be read
  std::vector<std::string> findings;  // what makes two read modules no pair
};

// "The master's destination ... is not the slave's serial number ...".
void checkDestination(PairDiagnosis& d, const ModuleRecord& from, const ModuleRecord& to,
                      const char* whose, const char* whom) {
  const uint64_t high = from.read[Setting::DestHigh], low = from.read[Setting::DestLow];
  if (high == to.serialHigh && low == to.serialLow)
    return;
  d.findings.push_back(std::string("The ") + whose + " destination " + hex(high, 8) + hex(low, 8) +
                       " is not the " + whom + " serial number " + hex(to.serialHigh, 8) +
                       hex(to.serialLow, 8) + ".");
}

PairDiagnosis diagnosePair() {
  PairDiagnosis d;
  progress("Reading both modules...");
  for (Module* module : {&masterModule(), &slaveModule()}) {
    const int32_t result = settled(readModule(module->session));
    (module->master ? d.masterRead : d.slaveRead) = result == 0;
    if (result == ResultCancelled)
      return d;
    if (result != 0)
      d.unread.push_back(portPrefix(*module) + messageOf(result, module->record));
  }
  if (!d.masterRead || !d.slaveRead)
    return d;
  const ModuleRecord& m = masterModule().record;
  const ModuleRecord& s = slaveModule().record;
  if (m.read[Setting::PanId] != s.read[Setting::PanId]) {
    d.findings.push_back("The PAN IDs differ: master " + hex(m.read[Setting::PanId], 1) +
                         ", slave " + hex(s.read[Setting::PanId], 1) + ".");
  }
  if (m.read[Setting::Channel] != s.read[Setting::Channel]) {
    d.findings.push_back("The channels differ: master " + std::to_string(m.read[Setting::Channel]) +
                         ", slave " + std::to_string(s.read[Setting::Channel]) + ".");
  }
  checkDestination(d, m, s, "master's", "slave's");
  checkDestination(d, s, m, "slave's", "master's");
  return d;
}

void printLinkResult(const Options& o, int32_t verdict, const std::string& message,
                     const PairDiagnosis* d) {
  const char* link = verdict == kLinkPass ? "OK" : verdict == kLinkFail ? "NG" : nullptr;
  if (o.json) {
    std::string json = "{";
    addJson(json, "link", link ? jsonString(link) : "null");
    std::string why = message;
    for (size_t i = 0; d && i < d->unread.size(); ++i)
      why += (why.empty() ? "" : " ") + d->unread[i];
    addJson(json, "message", why.empty() ? "null" : jsonString(why));
    const Module& master = masterModule();
    const Module& slave = slaveModule();
    addJson(json, "master",
            moduleJson(o.ports[0],
                       moduleOf(master.record, master.session.portNumber, d && d->masterRead)));
    addJson(json, "slave",
            moduleJson(o.ports[1],
                       moduleOf(slave.record, slave.session.portNumber, d && d->slaveRead)));
    std::string findings = "[";
    for (size_t i = 0; d && i < d->findings.size(); ++i)
      addJsonItem(findings, jsonString(d->findings[i]));
    addJson(json, "no_pair", d && d->unread.empty() ? findings + "]" : "null");
    keepJsonResult(json + "}");
    return;
  }
  if (!link)
    return;
  std::string text;
  if (d && !o.quiet && !d->unread.empty()) {
    text += "The modules could not both be read:\n";
    for (const std::string& line : d->unread)
      text += "  " + line + "\n";
  } else if (d && !o.quiet) {
    text += d->findings.empty()
                ? "The modules are a pair (PAN ID, destinations and channel match).\n"
                : "The modules are no pair:\n";
    for (const std::string& finding : d->findings)
      text += "  " + finding + "\n";
  }
  printText(text + (verdict == kLinkPass ? "Link OK.\n" : "Link NG.\n"));
}

int linkTestCommand(const Options& o) {
  if (const int refused = prepareBoth(o)) {
    releaseBoth();
    return refused;
  }
  int code = ExitDone;
  int32_t verdict = -1;
  std::string message;
  PairDiagnosis diagnosis;
  bool diagnosed = false;
  Module& master = masterModule();
  Module& slave = slaveModule();
  // A test that cannot even start says so, rather than Link NG.
  int32_t found = findLineSettings(master);
  const Module& failed = found ? master : slave;
  found = found ? found : findLineSettings(slave);
  if (found != 0) {
    closeModulePorts();
    code = failWith(found, failed);
    message = failureText(settled(found), failed);
  } else {
    progress("Testing the link...");
    verdict = testLink(master.session, slave.session);
    if (verdict == kLinkFail && !anyCancelled() && (!o.quiet || o.json)) {
      diagnosis = diagnosePair();
      diagnosed = true;
    }
    if (verdict == kLinkSamePort) {
      verdict = -1;
      message = narrow(samePortText(widen(o.ports[0])).c_str());
      reportFailure(message, o.ports[0]);
      code = ExitUsage;
    } else if (anyCancelled()) {
      verdict = -1;
      diagnosed = false;
      code = failWith(ResultCancelled, master);
      message = messageOf(ResultCancelled, master.record);
    } else {
      code = verdict == kLinkPass ? ExitDone : ExitLinkOrCheck;
      if (code != ExitDone)
        noteFailure("Link NG.");
    }
  }
  printLinkResult(o, verdict, message, diagnosed ? &diagnosis : nullptr);
  releaseBoth();
  return code;
}

void announceStep(void*, PairStep step) {
  progress(narrow(pairStepName(step)) + "...");
}

// The line log names each port by its number, which stays with the port;
// the sessions exchange ports and records themselves.
bool swapPorts(void*) {
  return true;
}

std::string recordText(const RecordOutcome& outcome, const std::string& name) {
  wchar_t text[kSettingsMessageChars] = {};
  recordOutcomeText(outcome, name.c_str(), text, kSettingsMessageChars);
  return narrow(text);
}

// Told before any module is touched, with the system's reason: a run
// whose line cannot be kept must not write two modules first.
bool recordAppendable(const std::string& name, std::string* message) {
  const RecordOutcome outcome = checkRecordFile(name.c_str());
  if (outcome.result == 0)
    return true;
  *message = recordText(outcome, name);
  return false;
}

// Who made the line, with which profile, on which ports as picked.
struct RecordNames {
  std::string profilePath;
  std::string profileSha256;
  std::string masterPick;
  std::string slavePick;
};

std::string systemName(size_t (*name)(char*, size_t)) {
  char text[256];
  const size_t length = name(text, sizeof text);
  return std::string(text, length < sizeof text ? length : 0);
}

RecordOutcome appendRecord(const std::string& name, const PairRunResult& run,
                           const std::string& message, const RecordNames& names) {
  const std::string station = systemName(os::computerName);
  const std::string user = systemName(os::userName);
  PairRecordContext context;
  context.version = NLCONF_VERSION_TEXT;
  context.profilePath = names.profilePath.c_str();
  context.profileSha256 = names.profileSha256.c_str();
  context.station = station.c_str();
  context.operatorName = user.c_str();
  // The picks: the line names a swapped run's ports the other way round itself.
  context.masterPort = names.masterPick.c_str();
  context.slavePort = names.slavePick.c_str();
  context.when = recordTime(os::localTime());
  return appendPairRecord(name.c_str(), run, widen(message).c_str(), context);
}

// The port a run's failure happened on, and whether the master's module
// was on it; 0 where the failure was no one port's (a cancel, Link NG, a
// profile that does not fit).
int32_t pairFailedPort(const PairRunResult& r, bool* master) {
  if (r.result == 0 || r.result == ResultCancelled || r.result == ResultSamePort ||
      r.result == ResultLinkNg)
    return 0;
  *master = r.failedStep == PairStep::ReadMaster || r.failedStep == PairStep::WriteMaster;
  if (*master || r.failedStep == PairStep::ReadSlave || r.failedStep == PairStep::WriteSlave)
    return (*master ? r.master : r.slave).portNumber;
  if (r.failedStep != PairStep::LinkTest || !r.rangeTested)
    return 0;
  const auto port = static_cast<int32_t>(r.range.failedPort);
  *master = port == r.master.portNumber;
  return port;
}

std::string pairFailurePrefix(const PairRunResult& r) {
  bool master = false;
  const int32_t port = pairFailedPort(r, &master);
  return port ? portNameOf(port) + (master ? " (Master): " : " (Slave): ") : "";
}

void printPairResult(const Options& o, const PairRunResult& r, const std::string& message,
                     bool recorded) {
  const std::string& masterPort = r.portsSwapped ? o.ports[1] : o.ports[0];
  const std::string& slavePort = r.portsSwapped ? o.ports[0] : o.ports[1];
  const bool pass = r.result == 0;
  if (o.json) {
    std::string json = "{";
    addJson(json, "result", jsonString(pass ? "PASS" : "FAIL"));
    addJson(json, "failed_step", pass ? "null" : jsonString(narrow(pairStepName(r.failedStep))));
    addJson(json, "message", pass ? "null" : jsonString(message));
    addJson(json, "ports_swapped", jsonBool(r.portsSwapped));
    addJson(json, "master", moduleJson(masterPort, r.master));
    addJson(json, "slave", moduleJson(slavePort, r.slave));
    addJson(json, "link", r.linkVerdict == 1 ? "\"OK\"" : r.linkVerdict == 0 ? "\"NG\"" : "null");
    addJson(json, "duration_ms", std::to_string(r.durationMs));
    addJson(json, "recorded", jsonBool(recorded));
    keepJsonResult(json + "}");
    return;
  }
  // The result window's text, its failure named by port; --quiet keeps the
  // verdict's one line.
  const std::string step = pass ? "" : narrow(pairStepName(r.failedStep)) + ": ";
  std::string text;
  if (!o.quiet) {
    std::string details =
        narrow(pairResultDetails(r, widen(o.ports[0]), widen(o.ports[1]), L"\n").c_str());
    const size_t firstBreak = details.find('\n');
    if (!pass)
      details =
          step + message + (firstBreak == std::string::npos ? "" : details.substr(firstBreak));
    text = (pass ? "PASS\n" : "FAIL\n") + details + "\n";
  } else if (pass) {
    text = "PASS\n";
  } else {
    text = "FAIL: " + step + message + "\n";
  }
  printText(text);
}

int pairCommand(const Options& o) {
  SettingsFile profile;
  RecordNames names;
  std::string message;
  if ((!o.file.empty() && !loadFile(o.file, &profile, &message)) ||
      (!o.record.empty() && !recordAppendable(o.record, &message))) {
    reportFailure(message);
    return ExitRefused;
  }
  if (!o.file.empty()) {
    names.profilePath = wholePath(o.file);
    names.profileSha256 = profile.sha256;
  }
  if (o.makePair)
    profile.pair.makePair = true;
  if (const int refused = prepareBoth(o)) {
    releaseBoth();
    return refused;
  }
  PairRun run;
  run.master = &masterModule().session;
  run.slave = &slaveModule().session;
  run.profile = o.file.empty() && !o.makePair ? nullptr : &profile;
  run.onStep = announceStep;
  run.swapPorts = swapPorts;
  static PairRunResult result;
  runPair(run, &result);
  const std::string text =
      pairFailurePrefix(result) +
      narrow(pairFailureText(result, widen(o.ports[0]), widen(o.ports[1])).c_str());
  int code = exitCodeOf(result.result);
  bool masterFailed = false;
  if (const int32_t port = pairFailedPort(result, &masterFailed))
    noteFailure(text, portNameOf(port));
  else if (code != ExitDone)
    noteFailure(text);
  names.masterPick = o.ports[0];
  names.slavePick = o.ports[1];
  RecordOutcome recorded;
  if (!o.record.empty())
    recorded = appendRecord(o.record, result, result.result == 0 ? "" : text, names);
  printPairResult(o, result, text, !o.record.empty() && recorded.result == 0);
  if (recorded.result != 0) {
    reportFailure(recordText(recorded, o.record));
    code = code == ExitDone ? ExitOutput : code;
  }
  releaseBoth();
  return code;
}

// A column of the text: "-" where the system tells nothing, and no tab or
// line break that would move the next column.
std::string portColumn(const std::string& text) {
  std::string column = text.empty() ? "-" : text;
  for (char& c : column)
    c = static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
  return column;
}

// Device, by-id path, product, manufacturer, serial number and driver where
// the system tells them; else the device and what the system calls it.
int portsCommand(const Options& o) {
  const std::vector<PortEntry> ports = listPorts();
  std::string text = o.json ? "[" : "";
  for (const PortEntry& port : ports) {
    const std::string* details[] = {&port.byIdPath, &port.product, &port.manufacturer, &port.serial,
                                    &port.driver};
    const char* keys[] = {"by_id", "product", "manufacturer", "serial", "driver"};
    if (!o.json) {
      std::vector<std::string> columns = {port.name};
      if (!port.detailed)
        columns.push_back(port.description);
      for (size_t i = 0; port.detailed && i < 5; ++i)
        columns.push_back(*details[i]);
      for (const std::string& column : columns) {
        text += portColumn(column);
        text.push_back(&column == &columns.back() ? '\n' : '\t');
      }
      continue;
    }
    std::string item = "{";
    addJson(item, "port", jsonString(port.name));
    addJson(item, "description", jsonString(port.description));
    for (size_t i = 0; port.detailed && i < 5; ++i)
      addJson(item, keys[i], details[i]->empty() ? "null" : jsonString(*details[i]));
    addJsonItem(text, item + "}");
  }
  if (o.json)
    keepJsonResult(text + "]");
  else
    printText(text);
  return ExitDone;
}

int dispatch(const Options& o) {
  switch (o.command) {
    case Command::Ports:
      return portsCommand(o);
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

// Closed before the guard wait: whoever reads the results has them all now.
int closeStandardOutput(int code) {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0 && !std::ferror(stdout);
  const int error = errno;
  const bool closed = std::fclose(stdout) == 0;
  const int why = error ? error : errno;
  return flushed && closed ? code
                           : outputFailed(code, "Standard output", why ? std::strerror(why) : "");
}

// Two names of one port would have the run read one module as both.
bool portsDistinct(const Options& o) {
  if (o.ports.size() != 2 || !samePort(o.ports[0], o.ports[1]))
    return true;
  const std::string both =
      o.ports[0] == o.ports[1] ? o.ports[0] : o.ports[0] + " and " + o.ports[1];
  reportFailure(narrow(samePortText(widen(both)).c_str()), o.ports[0]);
  return false;
}

// Every port operand before any is used: the second may be no port at all.
bool portsArePorts(const Options& o) {
  std::string message;
  for (const std::string& port : o.ports) {
    if (!mayBePort(port, &message)) {
      reportFailure(message, port);
      return false;
    }
  }
  return true;
}

// What a command line may be refused for before the command runs; 0 when
// nothing is.
int refusalBeforeRun(const Options& o) {
  if (!portsDistinct(o))
    return ExitUsage;
  std::string message;
  if (!checkFileOperands(o, &message) || !checkSameFiles(o, &message)) {
    reportFailure(message);
    return ExitRefused;
  }
  return portsArePorts(o) ? 0 : ExitRefused;
}

int run(const std::vector<std::string>& args) {
  Options o;
  std::string message;
  if (!parseOptions(args, &o, &message)) {
    wantJson(o.json && o.command != Command::None);
    reportFailure(message);
    printJsonResult(ExitUsage);
    return closeStandardOutput(ExitUsage);
  }
  if (o.command == Command::Help) {
    printText(o.helpFor == Command::None ? usageText() : commandHelp(o.helpFor));
    return closeStandardOutput(ExitDone);
  }
  if (o.command == Command::Version) {
    printText("nlconf-cli " NLCONF_VERSION_TEXT "\n");
    return closeStandardOutput(ExitDone);
  }
  wantJson(o.json);
  if (const int refused = refusalBeforeRun(o)) {
    printJsonResult(refused);
    return closeStandardOutput(refused);
  }
  createCancelEvents();
  showProgress(!o.quiet);
  startLog(o);
  int code = dispatch(o);
  modulesReleased();
  std::string why;
  if (!endLog(&why))
    code = outputFailed(code, "The log file " + o.log, why);
  printJsonResult(code);
  code = closeStandardOutput(code);
  std::fflush(stderr);
  waitOutGuardTime();
  return code;
}

}  // namespace cli
