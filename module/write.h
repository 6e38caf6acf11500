// Writing a module's changed values into it.
#pragma once

#include "module/session.h"

constexpr uint32_t kWriteIoTimeoutMs = 3600;
constexpr uint32_t kAssociationLimitMs = 12000;
constexpr uint32_t kAssociationPollMs = 240;

// The dialog's Write: the port opened at what the module was read at,
// every Shown value that differs sent, "ATWR", command mode left, the host
// following new serial settings, and the module read back; the face is
// shown the module (or told it is gone). Its outcome is the session's too.
Outcome writeModule(Session& session);
int32_t writeChanged(Session& session);
// The write and its checking read in the command-mode session that a read
// in session left open; the session ends with them.
int32_t writeInSession(Session& session);
// "ATAC", "ATNR0" and the wait for the module to join its network again.
int32_t rejoinNetwork(Session& session);
// The module moved to the Shown channel: its mask ("ATSC"), then the join.
int32_t changeChannel(Session& session);
int32_t waitForAssociation(Session& session);

// The session's face is about to be ended (its console closed, the user's
// session ending), with a few seconds' grace: a write, cancelled or
// finishing, stops where it is (a join is not waited for), stores what it
// has set ("ATWR"), skips its checking read and leaves command mode, so
// that the module runs only what it holds.
bool programClosing(const Session& s);
