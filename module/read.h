// Reading a module into its pane, and proving it belongs there.
#pragma once

#include "module/pane.h"

// The node identifiers and role bytes that mark a module's place.
extern const char kMasterNodeId[];  // "KOV-NL001/M"
extern const char kSlaveNodeId[];   // "KOV-NL001/S"

// The COM number after the first "COM" of a port list entry; -1 without one.
int32_t portNumberFromText(const wchar_t* text);

int32_t openPanePort(PaneRecord* pane);
// The COM number that both panes' lists pick; 0 when they pick two ports
// (or either none).
int32_t sharedPanePort();
int32_t readBody(PaneRecord* pane);
// The read without the word to the runner, for a sequence that goes on.
int32_t readPane(PaneRecord* pane);
int32_t readAndVerify(PaneRecord* pane);
// A read that leaves its module in command mode, the port open, for what
// the same session does next; only a failed one ends the session. Nothing
// is displayed.
int32_t readInSession(PaneRecord* pane);
// Its first stage alone, so that two modules' quick "+++" can go out at once:
// the port opened and the quick "+++" tried (the port's inCommandMode tells
// whether the module took it). Only an error ends the session.
int32_t tryQuickEscape(PaneRecord* pane);
// "ATCN" where the module may be in command mode, and the port closed.
int32_t endSession(PaneRecord* pane);
int32_t readSequence(PaneRecord* pane);
// Whether a read takes the module in whichever role it has (the pane's
// isMaster follows it) instead of refusing the other role's module.
void readTakesEitherRole(bool either);
// Whether a read warns when the other pane's module does not pair with this
// one; a pair run that is about to pair them says nothing.
void showPairWarnings(bool shown);
// Whether a read that refuses the module by its role first asks it, before
// leaving command mode, for what names it: its node identifier where the
// role byte refused it, and its serial number.
void readNamesRefusedModule(bool named);
