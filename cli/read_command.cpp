// nlconf-cli read: one module's settings as a settings file that loads, or
// as JSON.
#include "cli/commands.h"
#include "cli/output.h"
#include "cli/session.h"
#include "link/errors.h"
#include "link/line_log.h"
#include "module/read.h"

namespace cli {

namespace {

int readCommand(const Options& o) {
  Module& m = o.role != Role::Slave ? masterModule() : slaveModule();
  if (const int refused = prepareModule(m, o.ports[0], o.role != Role::Any, lineSearchOf(o)))
    return refused;
  progress("Reading " + o.ports[0] + "...");
  logNote(m.session.lineLog, m.session.portNumber, "Read started");
  const Outcome outcome = readModule(m.session);
  logEnd(m, "Read", outcome.code);
  int code = ExitDone;
  if (outcome.code != 0)
    code = failWith(outcome, m);
  else if (o.json)
    keepJsonResult(moduleJson(o.ports[0], m.record.isMaster != 0,
                              moduleOf(m.record, m.session.portNumber, true)));
  else if (!printSettingsFile(m.record))
    code = failWith(ErrArgument, m);
  releaseModule(m);
  return code;
}

constexpr OptionSpec kReadOptions[] = {kRoleOption, kJsonOption};

}  // namespace

extern constexpr CommandSpec kReadCommand = {
    .name = "read",
    .minPorts = 1,
    .maxPorts = 1,
    .fileOperand = nullptr,
    .needsRole = false,
    .options = kReadOptions,
    .usage = "nlconf-cli read PORT [--role master|slave] [--json]",
    .summary = "Reads a module and prints its settings as a settings file that loads.",
    .moreHelp = nullptr,
    .run = readCommand,
    .findsModule = true};

}  // namespace cli
