#include "cli/terminal_face.h"

#include "link/line_log.h"

namespace cli {

int openModuleTerminal(Module& m, Terminal& terminal, const std::string& portName,
                       const LineSearch& search) {
  if (const int refused = prepareModule(m, portName, false, search))
    return refused;
  terminal.session = &m.session;
  progress("Reaching the module on " + portName + "...");
  logNote(m.session.portNumber, "Terminal started");
  const int32_t result = openTerminal(terminal);
  if (result == 0)
    return 0;
  logEnd(m, "Terminal", result);
  const int code = failWith(result, m);
  releaseModule(m);
  return code;
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
