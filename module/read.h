// Reading a module into its pane, and proving it belongs there.
#pragma once

#include "module/pane.h"

// The node identifiers and role bytes that mark a module's place.
extern const char kMasterNodeId[];  // "KOV-NL001/M"
extern const char kSlaveNodeId[];   // "KOV-NL001/S"

// The COM number after the first "COM" of a port list entry; -1 without one.
int32_t portNumberFromText(const wchar_t* text);

int32_t openPanePort(PaneRecord* pane);
int32_t readBody(PaneRecord* pane);
int32_t readAndVerify(PaneRecord* pane);
int32_t readSequence(PaneRecord* pane);
