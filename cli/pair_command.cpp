// nlconf-cli pair: the production run over two modules, and its line in
// the record.
#include "cli/cli.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "cli/range_test_command.h"
#include "cli/session.h"
#include "module/pair_record.h"
#include "module/pair_run.h"
#include "module/pair_texts.h"
#include "module/received_share.h"
#include "module/record_file.h"
#include "version.h"

namespace cli {

namespace {

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

// The port a run's failure happened on (0: no one port's), and whether
// the master's module was on it.
int32_t pairFailedPort(const PairRunResult& r, bool* master) {
  const auto port = static_cast<int32_t>(r.outcome.portNumber);
  *master = port != 0 && port == r.master.portNumber;
  return port;
}

std::string pairFailurePrefix(const PairRunResult& r) {
  bool master = false;
  const int32_t port = pairFailedPort(r, &master);
  return port ? portNameOf(port) + (master ? " (Master): " : " (Slave): ") : "";
}

// The range test that took the link test's place ([Range]), null for none.
std::string rangeJson(const PairRunResult& r) {
  if (!r.rangeTested)
    return "null";
  std::string object = "{";
  addJson(object, "directions", rangeDirectionsJson(r.range));
  addJson(object, "min_received", std::to_string(r.rangeMinReceived));
  addJson(object, "passed", r.linkVerdict == -1 ? "null" : jsonBool(r.linkVerdict == 1));
  return object + "}";
}

void printPairResult(const Options& o, const PairRunResult& r, const std::string& message,
                     bool recorded, const std::vector<std::string>* findings) {
  const std::string& masterPort = r.portsSwapped ? o.ports[1] : o.ports[0];
  const std::string& slavePort = r.portsSwapped ? o.ports[0] : o.ports[1];
  const bool pass = r.result == 0;
  if (o.json) {
    std::string json = "{";
    addJson(json, "result", jsonString(pass ? "PASS" : "FAIL"));
    addJson(json, "failed_step", pass ? "null" : jsonString(narrow(pairStepName(r.failedStep))));
    addJson(json, "message", pass && message.empty() ? "null" : jsonString(message));
    addJson(json, "ports_swapped", jsonBool(r.portsSwapped));
    addJson(json, "master", moduleJson(masterPort, true, r.master));
    addJson(json, "slave", moduleJson(slavePort, false, r.slave));
    addJson(json, "link", r.linkVerdict == 1 ? "\"OK\"" : r.linkVerdict == 0 ? "\"NG\"" : "null");
    addJson(json, "range", rangeJson(r));
    addJson(json, "duration_ms", std::to_string(r.durationMs));
    addJson(json, "recorded", jsonBool(recorded));
    std::string noPair = "[";
    for (size_t i = 0; findings && i < findings->size(); ++i)
      addJsonItem(noPair, jsonString((*findings)[i]));
    addJson(json, "no_pair", findings ? noPair + "]" : "null");
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
    if (r.rangeTested && r.linkVerdict != -1)
      text += rangeVerdictLine(r.linkVerdict == 1, r.rangeMinReceived * kShareMinimumPerPercent);
  } else if (pass) {
    text = "PASS\n";
  } else {
    text = "FAIL: " + step + message + "\n";
  }
  if (findings && !o.quiet)
    text += noPairText(*findings);
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
    names.profilePath = o.file == "-" ? kStandardInputName : wholePath(o.file);
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
  std::string text = pairFailurePrefix(result) +
                     narrow(pairFailureText(result, widen(o.ports[0]), widen(o.ports[1])).c_str());
  if (result.outcome.portNumber != 0)
    text += portHint(result.result, result.outcome.systemError);
  // Link NG between two modules the run read: what makes them no pair, as
  // link-test says it.
  const bool diagnosed = result.result == ResultLinkNg && !result.rangeTested &&
                         result.master.holdsSettings && result.slave.holdsSettings;
  const std::vector<std::string> findings =
      diagnosed ? noPairFindings(result.master.settings, result.slave.settings)
                : std::vector<std::string>{};
  std::string recordedText = text;
  for (const std::string& finding : findings)
    recordedText += " " + finding;
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
    recorded = appendRecord(o.record, result, recordedText, names);
  printPairResult(o, result, text, !o.record.empty() && recorded.result == 0,
                  diagnosed ? &findings : nullptr);
  if (recorded.result != 0) {
    reportFailure(recordText(recorded, o.record));
    code = code == ExitDone ? ExitOutput : code;
  }
  releaseBoth();
  return code;
}

constexpr OptionSpec kPairOptions[] = {
    kJsonOption,
    kQuietOption,
    flagOption("make-pair", 0, &Options::makePair,
               "make the two modules a pair (PAN ID, destinations)"),
    textOption("record", &Options::record, "FILE.csv", "append the run's line to this record"),
};

}  // namespace

extern constexpr CommandSpec kPairCommand = {
    .name = "pair",
    .minPorts = 2,
    .maxPorts = 2,
    .fileOperand = "FILE",
    .needsRole = false,
    .options = kPairOptions,
    .usage =
        "nlconf-cli pair MASTER SLAVE [FILE] [--make-pair] [--record FILE.csv]\n"
        "                [--json] [--quiet]",
    .summary =
        "The production run: reads both, applies the profile FILE (- for standard\n"
        "input), writes, checks, tests the link; prints PASS or FAIL with both\n"
        "modules' serial numbers.",
    .moreHelp = nullptr,
    .run = pairCommand,
    .findsModule = true};

}  // namespace cli
