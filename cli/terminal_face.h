// What nlconf-cli's at and console share: a terminal on the module of one
// port, opened and closed as the other commands take their modules.
#pragma once

#include <string>

#include "cli/session.h"
#include "module/terminal.h"

namespace cli {

// The module on the port found and in command mode; 0, or the exit code of
// the failure it has reported. On success the port stays open.
int openModuleTerminal(Module& m, Terminal& terminal, const std::string& portName,
                       const LineSearch& search);
// One command as a script sends it: in command mode, with "+++" first where
// the module has left it ("ATCN", its time-out). 0 to go on (x->refused when
// it was answered ERROR, said on standard error); otherwise the exit code of
// the failure it has reported (no reply names the command).
int sendScriptCommand(Module& m, Terminal& terminal, const std::string& command,
                      TerminalExchange* x);
// "ATCN" where the module may still be in command mode, the port closed;
// `code` as it stands, or the failure of leaving where it was 0.
int closeModuleTerminal(Module& m, Terminal& terminal, int code);

}  // namespace cli
