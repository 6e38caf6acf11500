// The screen that module/ and link/ ask for, on a console: the reset
// prompt's sentence goes to standard error, and a pane's port list is the
// one port named on the command line.
#pragma once

#include <string>

#include "module/pane.h"

namespace cli {

// Binds the pane's port list and reset prompt to the console.
void attachPane(PaneRecord* pane, uint32_t portNumber);
// Swaps what the two panes' port lists hold.
void swapPanePorts();

}  // namespace cli
