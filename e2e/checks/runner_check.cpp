// The runner and the link test's result dialog on real windows, under Wine:
// the program's runner.cpp and verdict_window.cpp with its dialog templates,
// driven by stand-in worker bodies, with the view hooks recorded here.
// Prints "PASS <name>", "FAIL <name>: <detail>" or "SKIP <name>: <reason>".
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "link/line_log.h"
#include "resources/resource_ids.h"
#include "ui/dialog/pane_operation.h"
#include "ui/dialog/verdict_window.h"
#include "ui/line_log/line_log_window.h"
#include "ui/shared/replace_file.h"
#include "ui/shared/shell_services.h"
#include "ui/shared/tool_layout.h"

// What verdict_window.cpp and line_log_window.cpp take from the shell.
HWND mainDialog = nullptr;
HCURSOR arrowCursor = nullptr;
HCURSOR waitCursor = nullptr;
void noteResultWindowClosed() {}

namespace {

constexpr DWORD kCancelWaitMs = 5000;
constexpr DWORD kDialogFindMs = 5000;
constexpr DWORD kSendLimitMs = 5000;

int failures = 0;

void check(const std::string& name, bool ok, const std::string& detail = "") {
  if (ok) {
    std::printf("PASS %s\n", name.c_str());
  } else {
    ++failures;
    std::printf("FAIL %s: %s\n", name.c_str(), detail.c_str());
  }
  std::fflush(stdout);
}

void skip(const std::string& name, const std::string& reason) {
  std::printf("SKIP %s: %s\n", name.c_str(), reason.c_str());
  std::fflush(stdout);
}

std::string narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text)
    out.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
  return out;
}

std::wstring windowText(HWND window) {
  wchar_t text[256] = {};
  GetWindowTextW(window, text, 256);
  return text;
}

std::string yes(bool value) {
  return value ? "yes" : "no";
}

std::string hex(COLORREF color) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%06lX", static_cast<unsigned long>(color));
  return text;
}

// ---- what the hooks saw ------------------------------------------------------

struct Seen {
  std::vector<std::string> events;  // "clear", "box", "rules", "deferred", in order
  std::vector<std::wstring> boxes;
  bool nodeIdEmptyAtBox = false;
  bool operationFieldsClearAtDeferred = false;
};

Seen seen;
PaneRecord checkedPane;

void forget() {
  seen = Seen{};
}

std::string eventList() {
  std::string list;
  for (const std::string& event : seen.events)
    list += (list.empty() ? "" : ",") + event;
  return list;
}

bool operationFieldsClear(const PaneRecord* record) {
  return !record->cancelEvent && !record->workerThread && !record->workerBody &&
         !record->progressText && !record->resetPrompt && !record->progressFontHolder.createdFont;
}

// ---- what each stand-in body saw, on the worker thread --------------------------

struct BodyView {
  std::wstring label;
  bool promptIsWindow = false;
  bool promptVisible = true;
  bool promptOwnedByProgress = false;
  bool ownerDisabled = false;
  HFONT labelFont = nullptr;
  void* heldFont = nullptr;
  HWND prompt = nullptr;
  bool cancelSeen = false;
  bool cancelButtonDisabled = false;
  bool sendAfterDoneServed = false;
  DWORD runStarted = 0;  // as the run began: the worker may start later on a busy machine
  DWORD shownAfterMs = 0;
  bool shownBeforeEnd = false;
  HANDLE cancelEvent = nullptr;
  HANDLE workerThread = nullptr;
};

BodyView body;
HWND ownerWindow = nullptr;
HWND ownerField = nullptr;  // a control of the held dialog that takes keys

// The font is posted to the label; give the GUI thread time to deliver it.
HFONT labelFontWithin(HWND label, DWORD limitMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    DWORD_PTR font = 0;
    SendMessageTimeoutW(label, WM_GETFONT, 0, 0, SMTO_NORMAL, kSendLimitMs, &font);
    if (font && reinterpret_cast<HFONT>(font) == checkedPane.progressFontHolder.createdFont)
      return reinterpret_cast<HFONT>(font);
    if (GetTickCount() - start > limitMs)
      return reinterpret_cast<HFONT>(font);
    Sleep(20);
  }
}

void lookAtDialog(PaneRecord* record) {
  HWND label = static_cast<HWND>(record->progressLabel);
  wchar_t text[64] = {};
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(label, WM_GETTEXT, 64, reinterpret_cast<LPARAM>(text), SMTO_NORMAL,
                      kSendLimitMs, &ignored);
  body.label = text;
  body.prompt = static_cast<HWND>(record->resetPrompt);
  body.promptIsWindow = IsWindow(body.prompt);
  body.promptVisible = IsWindowVisible(body.prompt);
  body.promptOwnedByProgress = GetWindow(body.prompt, GW_OWNER) == record->progressDialog;
  body.ownerDisabled = !IsWindowEnabled(ownerWindow);
  body.labelFont = labelFontWithin(label, 2000);
  body.heldFont = record->progressFontHolder.createdFont;
  // The thread's handle is stored once the start returns; by now it has.
  body.cancelEvent = record->cancelEvent;
  body.workerThread = record->workerThread;
}

// A closed handle is no longer a handle (asked before anything new is made).
bool closed(HANDLE handle) {
  DWORD flags = 0;
  return handle && !GetHandleInformation(handle, &flags);
}

int32_t plainResult = 0;
const char* plainNodeId = "";

int32_t plainBody(OperationRun* run) {
  PaneRecord* record = paneOfRun(run);
  lookAtDialog(record);
  std::strcpy(record->module.nodeId, plainNodeId);
  postOperationDone(record->progressDialog, record);
  return plainResult;
}

// Cancel clicked once it shows, then Escape; the body ends only once it has
// seen the event.
int32_t cancelledBody(OperationRun* run) {
  PaneRecord* record = paneOfRun(run);
  const DWORD started = GetTickCount();
  lookAtDialog(record);
  std::strcpy(record->module.nodeId, "KOV-NL001/M");
  HWND dialog = static_cast<HWND>(record->progressDialog);
  while (!IsWindowVisible(dialog) && GetTickCount() - started < kDialogFindMs)
    Sleep(10);
  body.shownAfterMs = GetTickCount() - body.runStarted;
  HWND button = GetDlgItem(dialog, IDCANCEL);
  PostMessageW(button, BM_CLICK, 0, 0);
  body.cancelSeen = WaitForSingleObject(record->cancelEvent, kCancelWaitMs) == WAIT_OBJECT_0;
  PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  Sleep(200);
  body.cancelButtonDisabled = !IsWindowEnabled(button);
  postOperationDone(record->progressDialog, record);
  return body.cancelSeen ? ResultCancelled : 0;
}

// Over within the moment before the window shows: keys meant for the held
// dialog's controls reach none of them, and its Escape is the Cancel.
int32_t quickEscapeBody(OperationRun* run) {
  PaneRecord* record = paneOfRun(run);
  const DWORD started = GetTickCount();
  PostMessageW(ownerField, WM_CHAR, 'x', 0);
  PostMessageW(ownerField, WM_KEYDOWN, VK_ESCAPE, 0);
  Sleep(150);
  body.shownBeforeEnd =
      IsWindowVisible(static_cast<HWND>(record->progressDialog)) && GetTickCount() - started < 300;
  body.cancelSeen = WaitForSingleObject(record->cancelEvent, 1000) == WAIT_OBJECT_0;
  postOperationDone(record->progressDialog, record);
  return body.cancelSeen ? ResultCancelled : 0;
}

// Breaks the rule of posting last: the GUI thread must still serve this.
int32_t sendsAfterDoneBody(OperationRun* run) {
  PaneRecord* record = paneOfRun(run);
  lookAtDialog(record);
  postOperationDone(record->progressDialog, record);
  Sleep(100);  // let the GUI thread reach its wait for this thread
  DWORD_PTR length = 0;
  body.sendAfterDoneServed =
      SendMessageTimeoutW(static_cast<HWND>(record->progressLabel), WM_GETTEXTLENGTH, 0, 0,
                          SMTO_NORMAL, kSendLimitMs, &length) != 0;
  return 0;
}

void runWith(WorkerBody workerBody, const wchar_t* progressText) {
  forget();
  body = BodyView{};
  checkedPane.workerBody = workerBody;
  checkedPane.progressText = progressText;
  body.runStarted = GetTickCount();
  runOperation(ownerWindow, &checkedPane);
}

// ---- the progress dialog and its results -------------------------------------------

void checkSuccess() {
  plainResult = 0;
  plainNodeId = "KOV-NL001/M";
  runWith(plainBody, L"Reading parameters...");
  check("success shows no box and leaves the pane",
        seen.boxes.empty() && checkedPane.module.nodeId[0] != 0,
        "boxes " + std::to_string(seen.boxes.size()));
  check("progress label shows the operation's text", body.label == L"Reading parameters...",
        narrow(body.label));
  check("reset prompt exists hidden, owned by the progress dialog",
        body.promptIsWindow && !body.promptVisible && body.promptOwnedByProgress,
        "window " + yes(body.promptIsWindow) + ", visible " + yes(body.promptVisible) + ", owned " +
            yes(body.promptOwnedByProgress));
  check("owner is disabled while the operation runs", body.ownerDisabled);
  check("label wears the holder's font while the operation runs",
        body.heldFont && body.labelFont == body.heldFont);
  // Asked after the run: by now the font must be gone.
  check("progress font is deleted after the operation",
        GetObjectType(static_cast<HGDIOBJ>(body.heldFont)) == 0);
  check("reset prompt is gone after the operation", !IsWindow(body.prompt));
  check("operation fields are clear after success", operationFieldsClear(&checkedPane));
  check("cancel event and thread handle are closed after the operation",
        closed(body.cancelEvent) && closed(body.workerThread),
        "event " + yes(closed(body.cancelEvent)) + ", thread " + yes(closed(body.workerThread)));
  check(
      "success leaves the button rules to the body, then finishes device changes and keeps "
      "the keyboard focus usable",
      eventList() == "deferred,focus", eventList());
  check("deferred device changes see no operation running", seen.operationFieldsClearAtDeferred);
}

void checkTemplateText() {
  plainResult = 0;
  runWith(plainBody, nullptr);
  check("without a progress text the label keeps its template text", body.label == L"Static",
        narrow(body.label));
}

void checkCancel() {
  runWith(cancelledBody, L"Writing parameters...");
  check("a lasting operation shows its progress window after a moment",
        body.shownAfterMs >= 250 && body.shownAfterMs < kDialogFindMs,
        std::to_string(body.shownAfterMs) + " ms");
  check("cancel button sets the cancel event", body.cancelSeen);
  check("cancel button is disabled after a cancel", body.cancelButtonDisabled);
  check("cancelled operation says so once",
        seen.boxes.size() == 1 && seen.boxes[0] == L"Cancelled.",
        seen.boxes.empty() ? "no box" : narrow(seen.boxes[0]));
  check("cancelled pane is cleared and reset before the box",
        eventList() == "clear,box,rules,deferred,focus" && seen.nodeIdEmptyAtBox, eventList());
  check("operation fields are clear after a cancel", operationFieldsClear(&checkedPane));
}

void checkQuickEscape() {
  runWith(quickEscapeBody, L"Link Test...");
  check("an operation over in a moment shows no progress window", !body.shownBeforeEnd);
  check("before the window shows, Escape cancels and no key reaches the held dialog",
        body.cancelSeen && GetWindowTextLengthW(ownerField) == 0);
}

void checkNotMaster() {
  plainResult = ResultNotMaster;
  plainNodeId = "KOV-NL001/S";
  runWith(plainBody, L"Reading parameters...");
  check("wrong role names the module read",
        seen.boxes.size() == 1 && seen.boxes[0] == L"Network ID \"KOV-NL001/S\" is not a master.",
        seen.boxes.empty() ? "no box" : narrow(seen.boxes[0]));
  check("wrong role clears and resets the pane after the box",
        eventList() == "box,clear,rules,deferred,focus" && !seen.nodeIdEmptyAtBox &&
            checkedPane.module.nodeId[0] == 0,
        eventList());
}

void checkLinkError() {
  plainResult = -10;  // a serial wait ended by the cancel event
  plainNodeId = "KOV-NL001/M";
  runWith(plainBody, L"Reading parameters...");
  check("link error shows a communication error and keeps the pane",
        seen.boxes.size() == 1 && seen.boxes[0] == L"Communication error." &&
            std::strcmp(checkedPane.module.nodeId, "KOV-NL001/M") == 0 &&
            eventList() == "box,rules,deferred,focus",
        eventList());
}

void checkNoBody() {
  runWith(nullptr, L"Reading parameters...");
  check("no body to run is reported as a thread that could not start",
        seen.boxes.size() == 1 && seen.boxes[0] == L"Could not create thread.",
        seen.boxes.empty() ? "no box" : narrow(seen.boxes[0]));
  check("operation fields are clear after a failed start", operationFieldsClear(&checkedPane));
}

void checkSendAfterDone() {
  runWith(sendsAfterDoneBody, L"Reading parameters...");
  check("a body that sends after posting done is still served",
        body.sendAfterDoneServed && operationFieldsClear(&checkedPane));
}

void checkNoHandleLeaks() {
  plainResult = 0;
  plainNodeId = "KOV-NL001/M";
  runWith(plainBody, L"Reading parameters...");  // first-use allocations
  DWORD handlesBefore = 0;
  GetProcessHandleCount(GetCurrentProcess(), &handlesBefore);
  const DWORD gdiBefore = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  for (int i = 0; i < 6; ++i) {
    plainResult = (i % 2) ? 0 : ResultNotSlave;
    runWith(plainBody, L"Reading parameters...");
  }
  DWORD handlesAfter = 0;
  GetProcessHandleCount(GetCurrentProcess(), &handlesAfter);
  const DWORD gdiAfter = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  if (handlesBefore == 0)
    skip("six operations leave the process's handle count as it was",
         "GetProcessHandleCount answers 0");
  else
    check("six operations leave the process's handle count as it was",
          handlesAfter == handlesBefore,
          std::to_string(handlesBefore) + " before, " + std::to_string(handlesAfter) + " after");
  if (gdiBefore == 0)
    skip("six operations leave the GDI object count as it was", "GetGuiResources answers 0");
  else
    check("six operations leave the GDI object count as it was", gdiAfter == gdiBefore,
          std::to_string(gdiBefore) + " before, " + std::to_string(gdiAfter) + " after");
}

// ---- the link test's result dialog ------------------------------------------------

struct ResultDialogView {
  DWORD guiThread = 0;
  UINT endWith = 0;  // message that ends the dialog
  WPARAM endParam = 0;
  bool found = false;
  std::wstring caption;
  std::wstring text;
  LOGFONTW font = {};
  HFONT labelFont = nullptr;
  HBRUSH brush = nullptr;
  COLORREF textColor = 0;
  COLORREF bkColor = 0;
  bool otherControlUncoloured = false;
};

BOOL CALLBACK findLinkResult(HWND window, LPARAM found) {
  if (windowText(window) == L"Link Test" && GetDlgItem(window, IDC_RESULT_LABEL)) {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}

DWORD WINAPI inspectLinkResult(void* argument) {
  auto* view = static_cast<ResultDialogView*>(argument);
  HWND dialog = nullptr;
  for (DWORD waited = 0; !dialog && waited < kDialogFindMs; waited += 20) {
    EnumThreadWindows(view->guiThread, findLinkResult, reinterpret_cast<LPARAM>(&dialog));
    if (!dialog)
      Sleep(20);
  }
  if (!dialog)
    return 1;
  view->found = true;
  Sleep(200);  // the label's font arrives through the queue
  HWND label = GetDlgItem(dialog, IDC_RESULT_LABEL);
  view->caption = windowText(dialog);
  view->text = windowText(label);
  view->labelFont = reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0));
  if (view->labelFont)
    GetObjectW(view->labelFont, sizeof view->font, &view->font);
  HDC dc = CreateCompatibleDC(nullptr);
  view->brush = reinterpret_cast<HBRUSH>(SendMessageW(
      dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(label)));
  view->textColor = GetTextColor(dc);
  view->bkColor = GetBkColor(dc);
  // Other controls get the dialog manager's default, not the verdict's colours.
  SetTextColor(dc, 0x123456);
  const auto otherBrush =
      reinterpret_cast<HBRUSH>(SendMessageW(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                            reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK))));
  view->otherControlUncoloured = otherBrush != view->brush && GetTextColor(dc) != view->textColor;
  DeleteDC(dc);
  PostMessageW(dialog, view->endWith, view->endParam, 0);
  return 0;
}

void checkLinkResult(const char* how, UINT endWith, WPARAM endParam, INT_PTR expected,
                     const wchar_t* text, COLORREF color) {
  ResultDialogView view;
  view.guiThread = GetCurrentThreadId();
  view.endWith = endWith;
  view.endParam = endParam;
  HANDLE inspector = CreateThread(nullptr, 0, inspectLinkResult, &view, 0, nullptr);
  const INT_PTR result = showVerdict(ownerWindow, text, color, IDD_LINK_RESULT, nullptr);
  WaitForSingleObject(inspector, INFINITE);
  CloseHandle(inspector);
  const std::string name = std::string("link result \"") + narrow(text) + "\" " + how;
  if (!view.found) {
    check(name + ": dialog shown", false, "no dialog titled \"Link Test\"");
    return;
  }
  check(name + ": caption and verdict", view.caption == L"Link Test" && view.text == text,
        narrow(view.caption) + " / " + narrow(view.text));
  // 48 pixels at most: the height shrinks until the verdict fits the label.
  check(name + ": heavy font of 48 pixels at most",
        view.labelFont && view.font.lfHeight < 0 && view.font.lfHeight >= -48 &&
            view.font.lfWeight == FW_HEAVY,
        "height " + std::to_string(view.font.lfHeight) + ", weight " +
            std::to_string(view.font.lfWeight));
  check(name + ": verdict colour on the button face",
        view.brush && view.textColor == color && view.bkColor == GetSysColor(COLOR_BTNFACE) &&
            view.otherControlUncoloured,
        "brush " + yes(view.brush != nullptr) + ", text " + hex(view.textColor) + ", background " +
            hex(view.bkColor) + ", other control plain " + yes(view.otherControlUncoloured));
  check(name + ": dialog result", result == expected, std::to_string(result));
  check(name + ": font and brush deleted afterwards",
        GetObjectType(view.labelFont) == 0 && GetObjectType(view.brush) == 0);
}

}  // namespace

// ---- the view hooks and the main dialog's calls, recorded ---------------------------------

void clearPaneDisplay(PaneRecord*) {
  seen.events.push_back("clear");
}
void displayPane(PaneRecord*) {}
void fillChannelList(WindowHandle, int32_t) {}
int showError(const wchar_t* format, ...) {
  wchar_t text[kMessageBufferChars] = {};
  va_list args;
  va_start(args, format);
  _vsnwprintf(text, kMessageBufferChars - 1, format, args);
  va_end(args);
  seen.events.push_back("box");
  seen.boxes.push_back(text);
  seen.nodeIdEmptyAtBox = checkedPane.module.nodeId[0] == 0;
  return IDOK;
}
ResetPrompt windowResetPrompt(WindowHandle) {
  return ResetPrompt{};
}
void showWarning(const wchar_t*) {}
void enableControl(WindowHandle, bool) {}
void selectComboEntry(WindowHandle, int32_t) {}
uint32_t controlText(WindowHandle, wchar_t* buffer, uint32_t size) {
  if (size)
    buffer[0] = 0;
  return 0;
}
void postOperationDone(WindowHandle progressDialog, OperationRun* run) {
  PostMessageW(static_cast<HWND>(progressDialog), MSG_OPERATION_DONE, 0,
               reinterpret_cast<LPARAM>(run));
}
void applyButtonRules() {
  seen.events.push_back("rules");
}
void lendPanesToWorker() {}
void addToolWindow(const ToolWindow&) {}
void arrangeToolWindows(HWND, HWND) {}
void toolWindowHidden(HWND) {}
void takePanesBack() {}
bool hasDeferredPortChange(const PaneRecord*) {
  return false;
}
void finishDeferredDeviceChanges(PaneRecord* record) {
  seen.events.push_back("deferred");
  seen.operationFieldsClearAtDeferred = operationFieldsClear(record);
}
void keepKeyboardFocus(PaneRecord*) {
  seen.events.push_back("focus");
}

std::string fileBytes(const std::wstring& path) {
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  char bytes[64] = {};
  DWORD got = 0;
  if (file != INVALID_HANDLE_VALUE) {
    ReadFile(file, bytes, sizeof bytes, &got, nullptr);
    CloseHandle(file);
  }
  return std::string(bytes, got);
}

int filesIn(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
  int count = 0;
  if (find == INVALID_HANDLE_VALUE)
    return -1;
  do {
    count += !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  } while (FindNextFileW(find, &found));
  FindClose(find);
  return count;
}

// The saves' replace: in a folder deeper than MAX_PATH, over a file that is
// there, without a temporary file left.
void checkReplaceFile() {
  wchar_t base[MAX_PATH];
  GetTempPathW(MAX_PATH, base);
  std::wstring folder = std::wstring(L"\\\\?\\") + base + L"nlc-replace";
  CreateDirectoryW(folder.c_str(), nullptr);
  while (folder.size() < MAX_PATH + 40) {
    folder += L"\\" + std::wstring(60, L'd');
    CreateDirectoryW(folder.c_str(), nullptr);
  }
  const std::wstring path = folder.substr(4) + L"\\pair.ini";
  const DWORD first = replaceFile(path.c_str(), "first", 5);
  const DWORD second = replaceFile(path.c_str(), "second", 6);
  check("a save deeper than MAX_PATH", first == 0 && second == 0,
        "errors " + std::to_string(first) + ", " + std::to_string(second));
  check("a save replaces the file there", fileBytes(folder + L"\\pair.ini") == "second",
        fileBytes(folder + L"\\pair.ini"));
  check("a save leaves only the file", filesIn(folder) == 1,
        std::to_string(filesIn(folder)) + " files");
  CreateDirectoryW((folder + L"\\sub").c_str(), nullptr);
  const DWORD onFolder = replaceFile((folder.substr(4) + L"\\sub").c_str(), "x", 1);
  check("a save over a folder fails and leaves nothing", onFolder != 0 && filesIn(folder) == 1,
        "error " + std::to_string(onFolder) + ", " + std::to_string(filesIn(folder)) + " files");
  DeleteFileW((folder + L"\\pair.ini").c_str());
  RemoveDirectoryW((folder + L"\\sub").c_str());
  // Up to the check's own folder: the temporary folder itself stays.
  const size_t top = (std::wstring(L"\\\\?\\") + base).size();
  while (folder.size() > top && RemoveDirectoryW(folder.c_str()))
    folder.resize(folder.rfind(L'\\'));
}

// ---- the line log's window -------------------------------------------------------

// An hour of reads logs far more than the record keeps: the window shows what
// the record holds, no more.
void checkLineLogWindowBound() {
  startLineLog();
  for (uint32_t i = 0; i < 3000; ++i)
    logNote(&dialogLineLog, 5, "logged before the window opened");
  showLineLogWindow(ownerWindow);
  for (uint32_t i = 0; i < 4000; ++i)
    logNote(&dialogLineLog, 5, "logged while it was open");
  const DWORD t0 = GetTickCount();  // it catches up twice a second
  for (MSG message; GetTickCount() - t0 < 1500; Sleep(10))
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
      DispatchMessageW(&message);
  HWND text = GetDlgItem(FindWindowW(L"NlConfLineLog", nullptr), IDC_LOG_TEXT);
  // The count of dropped lines, the date, and the empty line after the last line end.
  const LRESULT lines = SendMessageW(text, EM_GETLINECOUNT, 0, 0);
  check("line log window holds no more than the record's lines", lines == kLineLogCapacity + 3,
        std::to_string(lines) + " lines");
  destroyLineLogWindow();
  setLineLogSink(&dialogLineLog, nullptr, nullptr);
}

int main() {
  _wsetlocale(LC_ALL, L"");
  ownerWindow = CreateWindowExW(0, L"STATIC", L"runner check owner", WS_POPUP, 0, 0, 10, 10,
                                nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!ownerWindow) {
    check("owner window", false, "CreateWindowExW failed: " + std::to_string(GetLastError()));
    return 1;
  }
  ownerField = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, ownerWindow,
                               nullptr, GetModuleHandleW(nullptr), nullptr);
  checkSuccess();
  checkTemplateText();
  checkCancel();
  checkQuickEscape();
  checkNotMaster();
  checkLinkError();
  checkNoBody();
  checkSendAfterDone();
  checkNoHandleLeaks();
  checkReplaceFile();
  checkLinkResult("closed with OK", WM_COMMAND, IDOK, 0, L"Link OK.", 0xFF0000);
  checkLinkResult("closed with Escape", WM_COMMAND, IDCANCEL, 1, L"Link NG.", 0x0000FF);
  checkLinkResult("closed with the close box", WM_CLOSE, 0, 1, L"Link NG.", 0x0000FF);
  checkLineLogWindowBound();
  DestroyWindow(ownerWindow);
  std::printf("runner check: %d failed\n", failures);
  return failures == 0 ? 0 : 1;
}
