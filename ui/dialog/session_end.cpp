// The reason NLCONF gives for holding the end of the user's session.
#include "ui/dialog/session_end.h"

#include <windows.h>

#include "ui/dialog/device_changes.h"
#include "ui/dialog/session_status.h"
#include "ui/shared/shell_services.h"

namespace {

bool endReasonShown = false;

const wchar_t* sessionEndReason() {
  if (anyOperationRunning())
    return L"NLCONF is setting up a module: it is cancelling that first.";
  return recordFilePath()[0] ? L"NLCONF keeps a record of pairs: exit NLCONF first." : nullptr;
}

}  // namespace

bool showSessionEndReason() {
  const wchar_t* reason = sessionEndReason();
  if (reason && mainDialog)
    endReasonShown = ShutdownBlockReasonCreate(mainDialog, reason) != FALSE || endReasonShown;
  return reason == nullptr;
}

void keepSessionEndReason() {
  if (!endReasonShown || !mainDialog)
    return;
  if (const wchar_t* reason = sessionEndReason())
    ShutdownBlockReasonCreate(mainDialog, reason);
  else if (ShutdownBlockReasonDestroy(mainDialog))
    endReasonShown = false;
}
