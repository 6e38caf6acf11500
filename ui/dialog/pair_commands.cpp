// Pairs in numbers on screen: Make Pair, and Run Pair behind the progress
// dialog, ending in its verdict and its record line. The run itself is
// portable (module/pair_run.h).
#include "ui/dialog/pair_commands.h"

#include <atomic>
#include <string>

#include "link/errors.h"
#include "link/line_log.h"
#include "module/pair_run.h"
#include "module/pair_texts.h"
#include "module/result_messages.h"
#include "resources/resource_ids.h"
#include "runner/runner.h"
#include "ui/dialog/device_changes.h"
#include "ui/dialog/link_test_command.h"
#include "ui/dialog/pair_record_file.h"
#include "ui/dialog/pane_operation.h"
#include "ui/dialog/pane_view.h"
#include "ui/dialog/port_list.h"
#include "ui/dialog/session_status.h"
#include "ui/dialog/verdict_window.h"
#include "ui/dialog/view_hooks.h"
#include "ui/line_log/line_log_window.h"
#include "ui/shared/shell_services.h"
#include "ui/shared/text_format.h"
#include "ui/shared/window_handle.h"

namespace {

constexpr wchar_t kFinishingMasterText[] = L"Finishing Write Master...";
constexpr wchar_t kFinishingSlaveText[] = L"Finishing Write Slave...";
constexpr wchar_t kBothWritingText[] = L"Write Master, Write Slave...";

PairRun pairRun;
PairRunResult lastRun;

// The bench is the two picks as the run found them: a pair plugged in
// crosswise is run on swapped picks, which go back to the bench afterwards.
uint32_t benchMasterPort = 0;
uint32_t benchSlavePort = 0;
bool picksSwapped = false;  // the run's thread, while it runs
// The writes that a Cancel lets finish; written by the run's sessions, read
// by the Cancel on the GUI thread.
std::atomic<bool> masterWriting{false};
std::atomic<bool> slaveWriting{false};
bool pairBodyRan = false;

std::wstring portsCaption() {
  return paneCaption(true, portNumberShown(&masterPane)) + L", " +
         paneCaption(false, portNumberShown(&slavePane));
}

// The master's and the slave's sessions run at once: a master step and the
// slave's like it that follows at once are shown together. GUI thread.
void drawStep(PairStep step) {
  static PairStep shown = PairStep::None;
  // After a Cancel the label keeps what the Cancel said until the run ends.
  if (isCancelled(&masterPane))
    return;
  const bool together = (shown == PairStep::ReadMaster && step == PairStep::ReadSlave) ||
                        (shown == PairStep::WriteMaster && step == PairStep::WriteSlave);
  std::wstring text = together ? std::wstring(pairStepName(shown)) + L", " : std::wstring();
  text += pairStepName(step);
  text += L"...";
  shown = step;
  SetDlgItemTextW(asWindow(masterPane.progressDialog), IDC_PROGRESS_LABEL, text.c_str());
}

void showStep(void*, PairStep step) {
  PostMessageW(mainDialog, MSG_PAIR_STEP, static_cast<WPARAM>(step), 0);
}

void noteFinishingWrite(void*, PairStep step, bool writing) {
  (step == PairStep::WriteMaster ? masterWriting : slaveWriting) = writing;
}

// A write in flight goes on through its store, so that the module keeps
// only what it has stored: the user is told why the run does not end at once.
void noteCancelDuringWrite(HWND progressDialog) {
  const wchar_t* text = masterWriting  ? kFinishingMasterText
                        : slaveWriting ? kFinishingSlaveText
                                       : nullptr;
  if (text)
    SetDlgItemTextW(progressDialog, IDC_PROGRESS_LABEL, text);
}

// For this run only: nothing is remembered, and the captions follow. The
// lists hold both ports (a device change waits for the run's end). GUI thread.
void drawPortPicks(bool swapped) {
  const uint32_t masterPort = swapped ? benchSlavePort : benchMasterPort;
  const uint32_t slavePort = swapped ? benchMasterPort : benchSlavePort;
  pickPort(asWindow(masterPane.portCombo), masterPort);
  pickPort(asWindow(slavePane.portCombo), slavePort);
  SetWindowTextW(asWindow(masterPane.progressDialog), portsCaption().c_str());
}

// The run's thread: each call swaps the picks the screen shows.
bool swapPortPicks(void*) {
  if (!benchMasterPort || !benchSlavePort)
    return false;
  picksSwapped = !picksSwapped;
  PostMessageW(mainDialog, MSG_PAIR_PICKS, picksSwapped ? 1 : 0, 0);
  return true;
}

bool portDeparted(void*, bool master) {
  return hasDeferredPortChange(master ? &masterPane : &slavePane);
}

// The run ends with the port's failure; the user is told which port left.
void nameDepartedPort() {
  if (lastRun.result != ErrBadHandle || lastRun.detail[0])
    return;
  // The port as the run noted it: a failed read empties its pane.
  const int32_t port = hasDeferredPortChange(&masterPane)  ? lastRun.master.portNumber
                       : hasDeferredPortChange(&slavePane) ? lastRun.slave.portNumber
                                                           : 0;
  if (port > 0)
    formatBoundedText(lastRun.detail, kPairDetailChars, L"COM%ld removed", static_cast<long>(port));
}

// One operation of the runner's for the pair, the slave its partner: the
// master pane's Cancel and reset prompt serve both panes while it runs.
int32_t pairRunBody(OperationRun* run) {
  pairBodyRan = true;
  slavePane.resetPrompt = run->resetPrompt;
  usePaneSessions(&pairRun);
  runPair(pairRun, &lastRun);
  slavePane.resetPrompt = nullptr;
  postOperationDone(run->progressDialog, run);
  return lastRun.result;
}

std::wstring portName(uint32_t portNumber) {
  return portNumber ? L"COM" + std::to_wstring(portNumber) : std::wstring();
}

// The line log ends the run with what the result window says.
void logRunEnd(const std::wstring& message) {
  if (!lineLogActive(&dialogLineLog))
    return;
  const std::wstring text =
      lastRun.result == 0
          ? std::wstring(L"Run Pair: PASS")
          : L"Run Pair: FAIL - " + std::wstring(pairStepName(lastRun.failedStep)) + L": " + message;
  static char bytes[3 * kDetailsChars];
  if (WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, bytes, sizeof bytes, nullptr, nullptr) >
      0) {
    const int32_t port = lastRun.master.portNumber > 0 ? lastRun.master.portNumber
                                                       : static_cast<int32_t>(benchMasterPort);
    logNote(&dialogLineLog, static_cast<uint32_t>(port), bytes);
  }
  refreshLineLogAfterVerdict();
}

void showPairVerdict(const std::wstring& details) {
  const bool pass = lastRun.result == 0;
  showVerdict(mainDialog, pass ? L"PASS" : L"FAIL", pass ? kPassColor : kFailColor, IDD_PAIR_RESULT,
              details.c_str());
}

}  // namespace

// ---- commands ------------------------------------------------------------------------

bool onPostedPairUpdate(UINT message, WPARAM wParam) {
  if (message == MSG_PAIR_STEP)
    drawStep(static_cast<PairStep>(wParam));
  else if (message == MSG_PAIR_PICKS)
    drawPortPicks(wParam != 0);
  else
    return false;
  return true;
}

bool makePairOffered() {
  return canMakePair(&paneAsShown(&masterPane)->module, &paneAsShown(&slavePane)->module);
}

bool runPairOffered() {
  return portNumberShown(&masterPane) != 0 && portNumberShown(&slavePane) != 0 && !anyPaneHeld();
}

void makePairCommand() {
  if (!makePairOffered())
    return;
  makePair(&masterPane.module, &slavePane.module);
  displayPane(&masterPane);
  displayPane(&slavePane);
}

void runPairCommand() {
  if (!runPairOffered() || refuseOnePortForBoth() || refuseUnwritableRecord())
    return;
  HWND startedFrom = focusToGiveBack();
  pairRun = PairRun{};
  pairRun.profile = loadedProfile();
  pairRun.onStep = showStep;
  pairRun.swapPorts = swapPortPicks;
  pairRun.onFinishingWrite = noteFinishingWrite;
  pairRun.portDeparted = portDeparted;
  lastRun = PairRunResult{};
  benchMasterPort = pickedPort(asWindow(masterPane.portCombo));
  benchSlavePort = pickedPort(asWindow(slavePane.portCombo));
  picksSwapped = false;
  masterWriting = slaveWriting = false;
  pairBodyRan = false;
  masterPane.workerBody = pairRunBody;
  // The longest text the label shows: the font fits them all.
  masterPane.progressText = kBothWritingText;
  logNote(&dialogLineLog, benchMasterPort, "Run Pair started");
  progressCancelNote = noteCancelDuringWrite;
  const int32_t started = runOnWorker(mainDialog, &masterPane, &slavePane);
  progressCancelNote = nullptr;
  if (!pairBodyRan) {
    showError(L"%s", resultMessage(started).format ? resultMessage(started).format : L"");
    finishDeferredDeviceChanges(&masterPane);
    return;
  }
  nameDepartedPort();
  notePairResult(lastRun.result == 0);
  const std::wstring masterPick = portName(benchMasterPort), slavePick = portName(benchSlavePort);
  const std::wstring message = pairFailureText(lastRun, masterPick, slavePick);
  const std::wstring details = pairResultDetails(lastRun, masterPick, slavePick, L"\r\n");
  logRunEnd(message);
  applyButtonRules();
  finishDeferredDeviceChanges(&masterPane);
  // Recorded before the result waits for its Enter; a failure is told after it.
  const RecordOutcome recorded =
      recordFilePath()[0] ? appendRunToRecord(lastRun, message, benchMasterPort, benchSlavePort)
                          : RecordOutcome{};
  showPairVerdict(details);
  if (recorded.result != 0)
    showRecordOutcome(recorded);
  giveFocusBack(startedFrom);
}
