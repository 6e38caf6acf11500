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
// "ATCN" where the module may still be in command mode, the port closed;
// `code` as it stands, or the failure of leaving where it was 0.
int closeModuleTerminal(Module& m, Terminal& terminal, int code);

}  // namespace cli
