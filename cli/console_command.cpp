// nlconf-cli console: the module's own commands typed one a line (or fed
// by a script on standard input), each reply printed as it comes.
#include <cstdio>

#include "cli/cli.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "cli/terminal_face.h"

namespace cli {

namespace {

// The module's lines and the terminal's notes; what was typed is not
// echoed. Escaped already: nothing raw reaches the screen. For a script,
// standard output holds the replies alone.
void printTerminalLine(void*, const TerminalLine& line) {
  if (line.kind == TerminalLine::Kind::Reply || line.kind == TerminalLine::Kind::Cut) {
    printText(line.text + "\n");
  } else if (line.kind == TerminalLine::Kind::Note) {
    std::fprintf(stdinIsTerminal() ? stdout : stderr, "-- %s\n", line.text.c_str());
    std::fflush(stderr);
  }
  std::fflush(stdout);
}

void prompt(Terminal& t) {
  if (!stdinIsTerminal())
    return;
  const bool in = followCommandMode(t);
  const uint32_t left = (commandModeLeftMs(t) + 999) / 1000;
  printText(in ? "[command mode, " + std::to_string(left) + " s] " : std::string("[out] "));
  std::fflush(stdout);
}

bool cancelled() {
  return anyCancelled();
}

// A script's line, as at sends its commands: refused, unanswered or
// failing, it ends the console; answered ERROR, the exit code says so.
int runScriptLine(Module& m, Terminal& t, const std::string& line, int* code) {
  if (const char* why = terminalLineRefusal(line)) {
    reportFailure("\"" + line + "\": " + why);
    return ExitRefused;
  }
  TerminalExchange x;
  if (const int failed = sendScriptCommand(m, t, line, &x))
    return failed;
  if (x.refused)
    *code = ExitLinkOrCheck;
  return 0;
}

// 0 to go on; otherwise the command's exit code.
int runLine(Module& m, Terminal& t, const std::string& line) {
  if (const char* why = terminalLineRefusal(line)) {
    std::fprintf(stderr, "%s\n", why);
    return 0;
  }
  if (line != "+++" && !followCommandMode(t)) {
    std::fprintf(stderr, "The module is not in command mode: type +++ first.\n");
    return 0;
  }
  const int32_t result = settled(sendTerminalLine(t, line, nullptr));
  // No reply is the module's answer too; the user may go on.
  return result == 0 || result == ErrTimeout || result == ErrNotOk ? 0 : failWith(result, m);
}

int consoleCommand(const Options& o) {
  Module& m = masterModule();
  Terminal t;
  t.view.line = printTerminalLine;
  if (const int failed = openModuleTerminal(m, t, o.ports[0], lineSearchOf(o)))
    return failed;
  if (stdinIsTerminal())
    std::fprintf(stderr,
                 "Commands one a line; +++ enters command mode again; exit or Ctrl+D ends.\n");
  const bool script = !stdinIsTerminal();
  int code = ExitDone;
  int answered = ExitDone;  // a script's: ERROR answered to one of its lines
  std::string line;
  for (;;) {
    prompt(t);
    const InputRead read = readInputLine(&line, cancelled);
    if (read == InputRead::Cancelled) {
      code = failWith(ResultCancelled, m);
      break;
    }
    if (read == InputRead::End)
      break;
    if (!line.empty() && line.back() == '\r')
      line.pop_back();  // a script written on Windows
    if (line == "exit")
      break;
    if (line.empty())
      continue;
    if ((code = script ? runScriptLine(m, t, line, &answered) : runLine(m, t, line)) != 0)
      break;
  }
  if (code == ExitDone)
    code = answered;
  if (stdinIsTerminal() && code == ExitDone)
    printText("\n");
  return closeModuleTerminal(m, t, code);
}

}  // namespace

extern constexpr CommandSpec kConsoleCommand = {
    .name = "console",
    .minPorts = 1,
    .maxPorts = 1,
    .fileOperand = nullptr,
    .needsRole = false,
    .options = {},
    .usage = "nlconf-cli console PORT",
    .summary = "Sends the module the AT commands typed on standard input, one a line.",
    .moreHelp = nullptr,
    .run = consoleCommand,
    .findsModule = true};

}  // namespace cli
