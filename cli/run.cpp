// nlconf-cli's course: the command line parsed, refused or the command run,
// and every output closed whatever ends it.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/cli.h"
#include "cli/commands.h"
#include "cli/operands.h"
#include "cli/output.h"
#include "cli/session.h"
#include "module/pair_texts.h"
#include "version.h"

namespace cli {

namespace {

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

// Closed as the last thing: whoever reads the results has them all now.
int closeStandardOutput(int code) {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0 && !std::ferror(stdout);
  const int error = errno;
  const bool closed = std::fclose(stdout) == 0;
  const int why = error ? error : errno;
  return flushed && closed ? code
                           : outputFailed(code, "Standard output", why ? std::strerror(why) : "");
}

}  // namespace

int run(const std::vector<std::string>& args) {
  Options o;
  std::string message;
  if (!parseOptions(args, kCommands, &o, &message)) {
    wantJson(o.json && o.command);
    reportFailure(message);
    printJsonResult(ExitUsage);
    return closeStandardOutput(ExitUsage);
  }
  if (o.asked == Asked::Help) {
    printText(o.command ? commandHelp(*o.command) : usageText(kCommands));
    return closeStandardOutput(ExitDone);
  }
  if (o.asked == Asked::Version) {
    printText(o.json ? "{\"version\": \"" NLCONF_VERSION_TEXT "\"}\n"
                     : "nlconf-cli " NLCONF_VERSION_TEXT "\n");
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
  int code = o.command->run(o);
  modulesReleased();
  std::string why;
  if (!endLog(&why))
    code = outputFailed(code, "The log file " + o.log, why);
  printJsonResult(code);
  code = closeStandardOutput(code);
  std::fflush(stderr);
  return code;
}

}  // namespace cli
