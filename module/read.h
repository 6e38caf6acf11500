// Reading a module into its record, and proving it belongs in its place.
#pragma once

#include "module/session.h"

// The node identifiers and role bytes that mark a module's place.
extern const char kMasterNodeId[];  // "KOV-NL001/M"
extern const char kSlaveNodeId[];   // "KOV-NL001/S"

// The COM number after the first "COM" of a port list entry; -1 without one.
int32_t portNumberFromText(const wchar_t* text);

// The session's port opened (if it is not): 0, ErrNoPort or ResultCancelled.
int32_t openSessionPort(Session& session);
// The session's port closed, if it is open; nothing sent.
void closeSessionPort(Session& session);
// The dialog's Read: the port opened, the module's serial settings found,
// the query series, command mode left, the port closed; the face is shown
// the module (or told it is gone). Its outcome is the session's too.
Outcome readModule(Session& session);
int32_t readAndVerify(Session& session);
// A read that leaves its module in command mode, the port open, for what
// the same session does next; only a failed one ends the session. Nothing
// is shown.
int32_t readInSession(Session& session);
// Its first stage alone, so that two modules' quick "+++" can go out at once:
// the port opened and the quick tries made (the port's inCommandMode tells
// whether the module took it). Only an error ends the session.
int32_t tryQuickEscape(Session& session);
// Where the quick "+++" goes, in order: the search's named setting, what
// its memory holds for the port, 9600 8-N-1, its profile's setting.
LineTries quickTries(const Session& session);
// The session's open port set to its module's serial settings, as its
// options' search says: 0, ResultCancelled, ErrNoPort or ResultNotFound.
// A module found by a quick "+++" is left in command mode.
int32_t findModuleSettings(Session& session);
// "ATCN" where the module may be in command mode, and the port closed.
int32_t endSession(Session& session);
int32_t readSequence(Session& session);
