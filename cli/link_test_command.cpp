// nlconf-cli link-test: text through the radio both ways; on Link NG both
// modules read, to tell modules that are no pair from a radio that does
// not carry.
#include "cli/cli.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "cli/range_test_command.h"
#include "cli/session.h"
#include "module/link_test.h"
#include "module/pair_texts.h"
#include "module/read.h"
#include "module/result_messages.h"

namespace cli {

namespace {

// A failed link test reads both modules, as the dialog's Read would, to tell
// modules that are no pair from a radio that does not carry.
struct PairDiagnosis {
  bool masterRead = false;
  bool slaveRead = false;
  std::vector<std::string> unread;    // why a module could not be read
  std::vector<std::string> findings;  // what makes two read modules no pair
};

PairDiagnosis diagnosePair() {
  PairDiagnosis d;
  progress("Reading both modules...");
  for (Module* module : {&masterModule(), &slaveModule()}) {
    const int32_t result = settled(readModule(module->session).code);
    (module->master ? d.masterRead : d.slaveRead) = result == 0;
    if (result == ResultCancelled)
      return d;
    if (result != 0)
      d.unread.push_back(portPrefix(*module) + messageOf(result, module->record));
  }
  if (d.masterRead && d.slaveRead)
    d.findings = noPairFindings(masterModule().record, slaveModule().record);
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
            moduleJson(o.ports[0], true,
                       moduleOf(master.record, master.session.portNumber, d && d->masterRead)));
    addJson(json, "slave",
            moduleJson(o.ports[1], false,
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
    text += noPairText(d->findings);
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
    // A port that failed is a cable's or an adapter's fault, not the radio's.
    const Module* broken = master.session.outcome.code != 0  ? &master
                           : slave.session.outcome.code != 0 ? &slave
                                                             : nullptr;
    if (verdict == kLinkFail && broken && !anyCancelled()) {
      verdict = -1;
      code = failWith(broken->session.outcome, *broken);
      Outcome shown = broken->session.outcome;
      shown.code = settled(shown.code);
      message = failureText(shown, *broken);
    } else if (verdict == kLinkFail && !anyCancelled() && (!o.quiet || o.json)) {
      diagnosis = diagnosePair();
      diagnosed = true;
    }
    if (verdict == -1) {
      // said above
    } else if (verdict == kLinkSamePort) {
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

constexpr OptionSpec kLinkTestOptions[] = {kJsonOption, kQuietOption};

}  // namespace

extern constexpr CommandSpec kLinkTestCommand = {
    .name = "link-test",
    .minPorts = 2,
    .maxPorts = 2,
    .fileOperand = nullptr,
    .needsRole = false,
    .options = kLinkTestOptions,
    .usage = "nlconf-cli link-test MASTER SLAVE [--json] [--quiet]",
    .summary =
        "Sends text through the radio both ways. On Link NG it reads both modules\n"
        "and says when they are no pair.",
    .moreHelp = nullptr,
    .run = linkTestCommand,
    .findsModule = true};

}  // namespace cli
