// Logoff or shutdown. While an operation runs or a record is kept, the end
// of the session is refused with a reason shown to the user (the main
// dialog cancels the operation as Cancel does, ui/main_dialog.h); the reason
// goes once nothing holds it any more.
#pragma once

// Shows the reason the session may not end, if there is one; true when
// nothing holds it.
bool showSessionEndReason();
// After each operation: the reason shown follows what holds the session now.
void keepSessionEndReason();
