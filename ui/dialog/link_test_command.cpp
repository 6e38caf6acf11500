// The link test's screen side: the test on the worker behind the progress
// dialog, then its verdict (ui/verdict_window.h); and the refusal of one
// port for both panes, which Run Pair makes too.
#include "ui/dialog/link_test_command.h"

#include <cstdio>
#include <string>

#include "link/line_log.h"
#include "module/link_test.h"
#include "module/pair_texts.h"
#include "resources/resource_ids.h"
#include "ui/dialog/device_changes.h"
#include "ui/dialog/pane_operation.h"
#include "ui/dialog/pane_view.h"
#include "ui/dialog/verdict_window.h"
#include "ui/dialog/view_hooks.h"
#include "ui/line_log/line_log_window.h"
#include "ui/shared/shell_services.h"

// One port for both modules would read one module twice and ask for a
// reset key no one can press in time: refused before a byte is sent.
bool refuseOnePortForBoth() {
  const uint32_t port = portNumberShown(&masterPane);
  if (port == 0 || port != portNumberShown(&slavePane))
    return false;
  showError(L"%s", samePortText(L"COM" + std::to_wstring(port)).c_str());
  return true;
}

void runLinkTest() {
  if (refuseOnePortForBoth())
    return;
  HWND startedFrom = focusToGiveBack();
  const uint32_t masterPort = portNumberShown(&masterPane);
  if (lineLogActive(&dialogLineLog)) {
    char text[64];
    std::snprintf(text, sizeof text, "Link Test with COM%u started", portNumberShown(&slavePane));
    logNote(&dialogLineLog, masterPort, text);
  }
  masterPane.workerBody = linkTestBody;
  masterPane.progressText = L"Link Test...";
  int32_t verdict = runOnWorker(mainDialog, &masterPane, &slavePane, false);
  // A port that went away stopped the test through the cancel event: the
  // link did not work, and the user did not cancel.
  if (verdict == kLinkCancelled &&
      (hasDeferredPortChange(&masterPane) || hasDeferredPortChange(&slavePane))) {
    verdict = kLinkFail;
  }
  // The user who cancelled knows: no verdict and no box. Anything else that
  // kept the test from passing is the link's failure.
  logNote(&dialogLineLog, masterPort,
          verdict == kLinkPass        ? "Link Test: Link OK."
          : verdict == kLinkCancelled ? "Link Test: cancelled."
                                      : "Link Test: Link NG.");
  refreshLineLogAfterVerdict();
  if (verdict == kLinkPass)
    showVerdict(mainDialog, L"Link OK.", kPassColor, IDD_LINK_RESULT, nullptr);
  else if (verdict != kLinkCancelled)
    showVerdict(mainDialog, L"Link NG.", kFailColor, IDD_LINK_RESULT, nullptr);
  finishDeferredDeviceChanges(&masterPane);
  giveFocusBack(startedFrom);
}
