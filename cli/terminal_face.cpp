#include "cli/terminal_face.h"

#include "link/line_log.h"

namespace cli {

int openModuleTerminal(Module& m, Terminal& terminal, const std::string& portName,
                       const LineSearch& search) {
  if (const int refused = prepareModule(m, portName, false, search))
    return refused;
  terminal.session = &m.session;
  progress("Reaching the module on " + portName + "...");
  logNote(m.session.lineLog, m.session.portNumber, "Terminal started");
  const int32_t result = openTerminal(terminal);
  if (result == 0)
    return 0;
  logEnd(m, "Terminal", result);
  const int code = failWith(result, m);
  releaseModule(m);
  return code;
}

int sendScriptCommand(Module& m, Terminal& t, const std::string& command, TerminalExchange* x) {
  int32_t result = 0;
  if (!followCommandMode(t) && command != "+++") {
    // The program's own "+++": its "OK" answers nothing the script sent.
    const TerminalView shown = t.view;
    t.view.line = nullptr;
    result = enterTerminalCommandMode(t);
    t.view = shown;
  }
  if (result == 0)
    result = settled(sendTerminalLine(t, command, x));
  const std::string port = portNameOf(static_cast<int32_t>(m.session.portNumber));
  if (result == ErrTimeout && x->replies.empty()) {
    reportFailure(portPrefix(m) + x->command + " got no reply.", port);
    return exitCodeOf(result);
  }
  if (result != 0)
    return failWith(result, m);
  if (x->refused)
    reportFailure(portPrefix(m) + x->command + " was answered ERROR.", port);
  return 0;
}

int closeModuleTerminal(Module& m, Terminal& terminal, int code) {
  const int32_t left = closeTerminal(terminal);
  logEnd(m, "Terminal", left);
  if (left != 0 && code == ExitDone)
    code = failWith(left, m);
  releaseModule(m);
  return code;
}

}  // namespace cli
