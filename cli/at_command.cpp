// nlconf-cli at: the module's own commands, each sent as given, each reply
// printed beside its command; the module out of command mode at the end.
#include "cli/commands.h"
#include "cli/output.h"
#include "cli/terminal_face.h"

namespace cli {

namespace {

// Every command before a byte goes out: a script's typo must not leave half
// of its commands sent.
bool commandsFit(const Options& o) {
  for (const std::string& command : o.commands) {
    if (const char* why = terminalLineRefusal(command)) {
      reportFailure("\"" + command + "\": " + why);
      return false;
    }
  }
  return true;
}

std::string joined(const std::vector<std::string>& replies) {
  std::string text;
  for (const std::string& reply : replies)
    text += (text.empty() ? "" : " | ") + reply;
  return text;
}

std::string exchangeJson(const TerminalExchange& x) {
  std::string reply = "[";
  for (const std::string& line : x.replies)
    addJsonItem(reply, jsonString(line));
  std::string json = "{";
  addJson(json, "command", jsonString(x.command));
  addJson(json, "reply", reply + "]");
  addJson(json, "ms", std::to_string(x.ms));
  return json + "}";
}

// The commands in order, each where the module is in command mode: one
// that left it ("ATCN") or outwaited it has "+++" sent again first.
int sendCommands(const Options& o, Module& m, Terminal& t, std::string& replies) {
  int code = ExitDone;
  for (const std::string& command : o.commands) {
    TerminalExchange x;
    const int failed = sendScriptCommand(m, t, command, &x);
    if (!x.command.empty() && (failed == 0 || !x.replies.empty())) {
      if (!o.json)
        printText(x.command + "\t" + joined(x.replies) + "\n");
      addJsonItem(replies, exchangeJson(x));
    }
    if (failed != 0)
      return failed;
    if (x.refused) {
      code = ExitLinkOrCheck;
      if (o.stopOnError)
        break;
    }
  }
  return code;
}

int atCommand(const Options& o) {
  if (!commandsFit(o))
    return ExitRefused;
  Module& m = masterModule();
  Terminal t;
  if (const int failed = openModuleTerminal(m, t, o.ports[0], lineSearchOf(o)))
    return failed;
  std::string replies = "[";
  int code = sendCommands(o, m, t, replies);
  code = closeModuleTerminal(m, t, code);
  std::string json = "{";
  addJson(json, "port", jsonString(o.ports[0]));
  addJson(json, "replies", replies + "]");
  keepJsonResult(json + "}");
  return code;
}

constexpr OptionSpec kAtOptions[] = {
    flagOption("stop-on-error", 0, &Options::stopOnError,
               "send no more commands after one answered ERROR"),
    kJsonOption,
};

std::string atMoreHelp() {
  return "\nEach COMMAND (\"ATCH\", \"ATPL2\", \"+++\") goes out as given with a CR, in\n"
         "command mode; one line per command: COMMAND, a tab, its reply lines joined\n"
         "with \" | \", bytes that are no printable ASCII as <0D>. \"ATCN\" leaves\n"
         "command mode at the end.\n";
}

}  // namespace

extern constexpr CommandSpec kAtCommand = {
    .name = "at",
    .minPorts = 1,
    .maxPorts = 1,
    .fileOperand = nullptr,
    .needsRole = false,
    .options = kAtOptions,
    .usage = "nlconf-cli at PORT COMMAND... [--stop-on-error] [--json]",
    .summary = "Sends the module its own AT commands and prints each reply.",
    .moreHelp = atMoreHelp,
    .run = atCommand,
    .findsModule = true,
    .commandOperands = "COMMAND"};

}  // namespace cli
