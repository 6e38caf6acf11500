// Pairs in numbers on screen: Make Pair, Run Pair behind the progress dialog
// with its result window and its record line, the record file's pick, and
// what NLCONF remembers per user. The run itself is portable (module/).
#include <windows.h>
// After windows.h:
#include <commdlg.h>
#include <shellapi.h>

#include <atomic>
#include <cstring>
#include <string>

#include "link/errors.h"
#include "link/line_log.h"
#include "module/pair_record.h"
#include "module/pair_run.h"
#include "module/pair_texts.h"
#include "module/record_file.h"
#include "module/result_messages.h"
#include "resources/resource_ids.h"
#include "runner/runner.h"
#include "ui/device_changes.h"
#include "ui/line_log_window.h"
#include "ui/main_dialog.h"
#include "ui/shell_services.h"
#include "ui/text_format.h"
#include "version.h"

namespace {

constexpr wchar_t kMemoryKey[] = L"Software\\NLCONF";
constexpr wchar_t kMasterPortValue[] = L"Master Port";
constexpr wchar_t kSlavePortValue[] = L"Slave Port";
constexpr wchar_t kRecordValue[] = L"Record";
constexpr COLORREF kPassColor = 0xFF0000;  // blue, as "Link OK."
constexpr COLORREF kFailColor = 0x0000FF;  // red, as "Link NG."
constexpr int kDetailsChars = 1024;
constexpr wchar_t kFinishingMasterText[] = L"Finishing Write Master...";
constexpr wchar_t kFinishingSlaveText[] = L"Finishing Write Slave...";
constexpr wchar_t kBothWritingText[] = L"Write Master, Write Slave...";

wchar_t recordPath[kPathChars];
PairRun pairRun;
PairRunResult lastRun;

// ---- memory -------------------------------------------------------------------
// A value that is missing, of another type or too long is as good as none.

bool rememberedNumber(const wchar_t* name, DWORD* value) {
  DWORD bytes = sizeof *value;
  return RegGetValueW(HKEY_CURRENT_USER, kMemoryKey, name, RRF_RT_REG_DWORD, nullptr, value,
                      &bytes) == ERROR_SUCCESS;
}

void remember(const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kMemoryKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return;
  }
  RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), bytes);
  RegCloseKey(key);
}

HWND windowOf(WindowHandle handle) {
  return static_cast<HWND>(handle);
}

// ---- the run on the worker -----------------------------------------------------

// The bench is the two picks as the run found them: a pair plugged in
// crosswise is run on swapped picks, which go back to the bench afterwards.
uint32_t benchMasterPort = 0;
uint32_t benchSlavePort = 0;
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
// slave's like it that follows at once are shown together.
void showStep(void*, PairStep step) {
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
  SetDlgItemTextW(windowOf(masterPane.progressDialog), IDC_PROGRESS_LABEL, text.c_str());
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

// For this run only: nothing is remembered, and the captions follow.
bool swapPortPicks(void*) {
  HWND masterList = windowOf(masterPane.portCombo);
  HWND slaveList = windowOf(slavePane.portCombo);
  const uint32_t masterPort = pickedPort(masterList);
  const uint32_t slavePort = pickedPort(slaveList);
  if (!masterPort || !slavePort || !pickPort(masterList, slavePort) ||
      !pickPort(slaveList, masterPort)) {
    return false;
  }
  SetWindowTextW(windowOf(masterPane.progressDialog), portsCaption().c_str());
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
int32_t pairRunBody(PaneRecord* pane) {
  pairBodyRan = true;
  slavePane.resetPrompt = pane->resetPrompt;
  usePaneSessions(&pairRun);
  runPair(pairRun, &lastRun);
  slavePane.resetPrompt = nullptr;
  postOperationDone(pane->progressDialog, pane);
  return lastRun.result;
}

// ---- the result ------------------------------------------------------------------

std::wstring portName(uint32_t portNumber) {
  return portNumber ? L"COM" + std::to_wstring(portNumber) : std::wstring();
}

// The line log ends the run with what the result window says.
void logRunEnd(const std::wstring& message) {
  if (!lineLogActive())
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
    logNote(static_cast<uint32_t>(port), bytes);
  }
  deferLineLogRefresh();
}

struct ResultWindow {
  const wchar_t* verdict = nullptr;
  const wchar_t* details = nullptr;
  COLORREF color = 0;
  HBRUSH background = nullptr;
  HWND label = nullptr;
  LOGFONTW font = {};
  FontHolder fontHolder;
};

ResultWindow resultWindow;

INT_PTR CALLBACK pairResultProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      resultWindow.label = GetDlgItem(dialog, IDC_RESULT_LABEL);
      fitFontToText(resultWindow.label, &resultWindow.font, resultWindow.verdict);
      applyFont(&resultWindow.fontHolder, resultWindow.label, &resultWindow.font);
      SetWindowTextW(resultWindow.label, resultWindow.verdict);
      SetDlgItemTextW(dialog, IDC_PAIR_DETAILS, resultWindow.details);
      return TRUE;
    case WM_COMMAND:
      if (wParam != IDOK && wParam != IDCANCEL)
        return FALSE;
      noteResultWindowClosed();
      releaseFont(&resultWindow.fontHolder, resultWindow.label);
      EndDialog(dialog, 0);
      return TRUE;
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lParam) != resultWindow.label)
        return FALSE;
      SetTextColor(reinterpret_cast<HDC>(wParam), resultWindow.color);
      SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<INT_PTR>(resultWindow.background);
    default:
      return FALSE;
  }
}

void showPairResult(const wchar_t* details) {
  resultWindow = ResultWindow{};
  resultWindow.verdict = lastRun.result == 0 ? L"PASS" : L"FAIL";
  resultWindow.color = lastRun.result == 0 ? kPassColor : kFailColor;
  resultWindow.details = details;
  resultWindow.font.lfHeight = -pixelsOnDisplay(48);
  resultWindow.font.lfWeight = FW_HEAVY;
  resultWindow.font.lfCharSet = DEFAULT_CHARSET;
  resultWindow.font.lfOutPrecision = OUT_CHARACTER_PRECIS;
  resultWindow.font.lfClipPrecision = CLIP_CHARACTER_PRECIS;
  resultWindow.background = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
  if (!resultWindow.background) {  // the verdict still shows, if plainly
    static wchar_t text[kDetailsChars + 8];
    formatBoundedText(text, kDetailsChars + 8, L"%s\r\n\r\n%s", resultWindow.verdict, details);
    showError(L"%s", text);
    return;
  }
  DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PAIR_RESULT), mainDialog,
                  pairResultProc, 0);
  discardFont(&resultWindow.fontHolder);
  DeleteObject(resultWindow.background);
  resultWindow.background = nullptr;
}

// ---- the record --------------------------------------------------------------------

std::string utf8Of(const wchar_t* text) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(bytes > 0 ? static_cast<size_t>(bytes) : 1, '\0');
  if (bytes > 0)
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), bytes, nullptr, nullptr);
  out.resize(std::strlen(out.c_str()));
  return out;
}

void showRecordOutcome(const RecordOutcome& outcome, const std::string& path) {
  static wchar_t text[kDetailsChars];
  recordOutcomeText(outcome, path.c_str(), text, kDetailsChars);
  showError(L"%s", text);
}

// Before any module is touched: a run whose line could not be kept is not
// worth its PASS.
bool refuseUnwritableRecord() {
  if (!recordPath[0])
    return false;
  const std::string path = utf8Of(recordPath);
  // Another station's append holds the lock for a moment, at most the lock's limit.
  const HCURSOR cursor = SetCursor(waitCursor);
  const RecordOutcome outcome = checkRecordFile(path.c_str());
  SetCursor(cursor);
  if (outcome.result == 0)
    return false;
  showRecordOutcome(outcome, path);
  return true;
}

std::string narrowPortName(uint32_t portNumber) {
  return portNumber ? "COM" + std::to_string(portNumber) : std::string();
}

RecordOutcome appendRunToRecord(const std::wstring& message) {
  const std::string path = utf8Of(recordPath);
  const std::string profilePath = utf8Of(loadedProfilePath());
  char station[256] = {};
  char operatorName[256] = {};
  os::computerName(station, sizeof station);
  os::userName(operatorName, sizeof operatorName);
  // The bench's ports: the line names them the other way round for a
  // swapped run, as they were used.
  const std::string masterPort = narrowPortName(benchMasterPort);
  const std::string slavePort = narrowPortName(benchSlavePort);
  PairRecordContext context;
  context.version = NLCONF_VERSION_TEXT;
  context.profilePath = profilePath.c_str();
  context.profileSha256 = loadedProfile() ? loadedProfile()->sha256 : "";
  context.station = station;
  context.operatorName = operatorName;
  context.masterPort = masterPort.c_str();
  context.slavePort = slavePort.c_str();
  context.when = recordTime(os::localTime());
  return appendPairRecord(path.c_str(), lastRun, message.c_str(), context);
}

}  // namespace

// ---- commands ------------------------------------------------------------------------

bool makePairOffered() {
  return canMakePair(&paneAsShown(&masterPane)->module, &paneAsShown(&slavePane)->module);
}

bool runPairOffered() {
  return portNumberShown(&masterPane) != 0 && portNumberShown(&slavePane) != 0;
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
  benchMasterPort = pickedPort(windowOf(masterPane.portCombo));
  benchSlavePort = pickedPort(windowOf(slavePane.portCombo));
  masterWriting = slaveWriting = false;
  pairBodyRan = false;
  masterPane.workerBody = pairRunBody;
  // The longest text the label shows: the font fits them all.
  masterPane.progressText = kBothWritingText;
  logNote(benchMasterPort, "Run Pair started");
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
  const RecordOutcome recorded = recordPath[0] ? appendRunToRecord(message) : RecordOutcome{};
  showPairResult(details.c_str());
  if (recorded.result != 0)
    showRecordOutcome(recorded, utf8Of(recordPath));
  giveFocusBack(startedFrom);
}

void pickRecordFile() {
  static wchar_t path[kPathChars];
  lstrcpynW(path, recordPath, kPathChars);
  OPENFILENAMEW dialog = {};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = mainDialog;
  dialog.lpstrFilter = L"Records (*.csv)\0*.csv\0All Files (*.*)\0*.*\0";
  dialog.lpstrFile = path;
  dialog.nMaxFile = kPathChars;
  dialog.lpstrDefExt = L"csv";
  dialog.lpstrTitle = L"Record To";
  // A record that exists is appended to, never overwritten.
  dialog.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
  if (!GetSaveFileNameW(&dialog)) {
    if (CommDlgExtendedError() != 0)
      showError(L"The file dialog could not be shown (error %lu).", CommDlgExtendedError());
    return;
  }
  lstrcpynW(recordPath, path, kPathChars);
  rememberText(kRecordValue, recordPath);
  showSessionStatus();
}

const wchar_t* recordFilePath() {
  return recordPath;
}

void rememberStartupArguments(const wchar_t* commandLine) {
  rememberedText(kRecordValue, recordPath, kPathChars);
  // The profile of the last session, unless the command line names one.
  // Whether it is still there is for its load to find out, which a share
  // that does not answer cannot hold up.
  wchar_t profile[kPathChars] = {};
  bool remembered = rememberedText(L"Profile", profile, kPathChars);
  int count = 0;
  wchar_t** arguments =
      commandLine && commandLine[0] ? CommandLineToArgvW(GetCommandLineW(), &count) : nullptr;
  for (int i = 1; arguments && i < count; ++i) {
    if (lstrcmpiW(arguments[i], L"--record") == 0 && i + 1 < count) {
      // Whole, so that a start from another folder appends to the same file.
      wholePath(arguments[++i], recordPath);
      rememberText(kRecordValue, recordPath);
    } else if (lstrlenW(arguments[i]) < static_cast<int>(kPathChars)) {
      // As typed: its load names the folder it was looked for in.
      lstrcpynW(profile, arguments[i], kPathChars);
      remembered = false;
    }
  }
  if (arguments)
    LocalFree(arguments);
  rememberStartupSettingsFile(profile, remembered);
}

void takeRememberedPorts() {
  DWORD port = 0;
  if (rememberedNumber(kMasterPortValue, &port))
    pickPort(windowOf(masterPane.portCombo), port);
  if (rememberedNumber(kSlavePortValue, &port))
    pickPort(windowOf(slavePane.portCombo), port);
}

void rememberPortPick(PaneRecord* pane) {
  const DWORD port = pickedPort(windowOf(pane->portCombo));
  if (port)
    remember(pane->module.isMaster ? kMasterPortValue : kSlavePortValue, REG_DWORD, &port,
             sizeof port);
}

void showProfileInCaption(const wchar_t* path) {
  const wchar_t* name = path;
  for (const wchar_t* p = path; p && *p; ++p) {
    if (*p == L'\\' || *p == L'/')
      name = p + 1;
  }
  wchar_t caption[300];
  if (name && name[0])
    formatBoundedText(caption, 300, L"NLCONF - %s", name);
  else
    lstrcpyW(caption, L"NLCONF");
  SetWindowTextW(mainDialog, caption);
}

void rememberText(const wchar_t* name, const wchar_t* value) {
  remember(name, REG_SZ, value, static_cast<DWORD>((lstrlenW(value) + 1) * sizeof(wchar_t)));
}

bool rememberedText(const wchar_t* name, wchar_t* out, DWORD chars) {
  DWORD bytes = chars * sizeof(wchar_t);
  out[0] = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, kMemoryKey, name, RRF_RT_REG_SZ, nullptr, out, &bytes) !=
      ERROR_SUCCESS) {
    out[0] = 0;
  }
  return out[0] != 0;
}
