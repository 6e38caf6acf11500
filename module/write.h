// Writing a pane's changed values into its module.
#pragma once

#include "module/pane.h"

constexpr uint32_t kWriteIoTimeoutMs = 3600;
constexpr uint32_t kAssociationLimitMs = 12000;
constexpr uint32_t kAssociationPollMs = 240;

int32_t writeBody(PaneRecord* pane);
// The write without the word to the runner, for a sequence that goes on.
int32_t writePane(PaneRecord* pane);
int32_t writeChanged(PaneRecord* pane);
// The write and its checking read in the command-mode session that a read
// in session left open; the session ends with them.
int32_t writeInSession(PaneRecord* pane);
int32_t changeChannel(PaneRecord* pane);
// "ATAC", "ATNR0" and the wait for the module to join its network again.
int32_t rejoinNetwork(PaneRecord* pane);
int32_t waitForAssociation(PaneRecord* pane);

// The program is about to be ended (its console closed, the session
// ending), with a few seconds' grace: a write, cancelled or finishing,
// stops where it is (a join is not waited for), stores what it has set
// ("ATWR"), skips its checking read and leaves command mode, so that the
// module runs only what it holds. For the whole process: it all ends.
void noteProgramClosing(bool closing);
bool programClosing();
