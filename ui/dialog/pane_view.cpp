// The panes on the main dialog's controls: each setting drawn in its
// colour, the buttons the panes allow and the keyboard's focus, and the
// view hooks of module/ behind them. The hooks also run on a worker's
// sessions: what the screen shows of a pane is then posted to the GUI
// thread as a copy and drawn there, in the order it was asked for; a
// session never reads a control's pane or the other pane for it. The other
// calls reach the GUI thread as sent messages, which it serves inside the
// progress dialog's loop.
#include "ui/dialog/pane_view.h"

#include <atomic>
#include <climits>
#include <deque>
#include <initializer_list>
#include <mutex>
#include <new>
#include <string>

#include "resources/resource_ids.h"
#include "runner/runner.h"
#include "ui/dialog/operation_hooks.h"
#include "ui/dialog/rules.h"
#include "ui/dialog/session_end.h"
#include "ui/dialog/view_hooks.h"
#include "ui/shared/shell_services.h"
#include "ui/shared/window_handle.h"

HWND copyToSlaveButton = nullptr;
HWND copyToMasterButton = nullptr;
HWND linkTestButton = nullptr;
HWND setDefaultButton = nullptr;
void (*afterButtonRules)() = nullptr;
bool (*paneHeldElsewhere)(const PaneRecord* pane) = nullptr;

PaneRecord* paneOfControl(HWND control) {
  if (!control || GetParent(control) != mainDialog)
    return nullptr;
  const int id = GetDlgCtrlID(control);
  if (id >= IDC_MASTER_PORT && id < IDC_MASTER_PORT + 100)
    return &masterPane;
  if (id >= IDC_SLAVE_PORT && id < IDC_SLAVE_PORT + 100)
    return &slavePane;
  return nullptr;
}

bool paneHeld(const PaneRecord* pane) {
  return paneHeldElsewhere && paneHeldElsewhere(pane);
}

bool anyPaneHeld() {
  return paneHeld(&masterPane) || paneHeld(&slavePane);
}

namespace {

// ---- the panes on the GUI thread -------------------------------------------

void setFieldText(WindowHandle field, const wchar_t* text) {
  SetWindowTextW(asWindow(field), text);
  UpdateWindow(asWindow(field));
}

void clearSelection(WindowHandle combo) {
  selectComboEntry(combo, kNoSelection);
}

// The colour is in the record before the text changes, so the repaint that
// the change causes asks for the new one.
void showText(WindowHandle field, const wchar_t* text) {
  SetWindowTextW(asWindow(field), text ? text : L"");
  UpdateWindow(asWindow(field));
}

// Hexadecimal fields as the module answers them: the PAN ID without
// leading zeros, the destination's halves with all eight digits.
void showHexField(WindowHandle control, Setting setting, uint64_t value) {
  wchar_t text[kDisplayTextChars];
  if (hasFlag(setting, kAllDigits))
    formatAddressHalfText(static_cast<uint32_t>(value), text, kDisplayTextChars);
  else
    formatPanIdText(value, text, kDisplayTextChars);
  showText(control, text);
}

// Its colour, then its value: a list's entry, hexadecimal digits, or a mode
// register's text. A list the rules lock is not offered.
void showSetting(PaneRecord* pane, Setting setting) {
  WindowHandle control = controlOf(pane, setting);
  if (!control)
    return;
  recolorField(pane, setting);
  const uint64_t value = pane->module.shown[setting];
  if (settingInfo(setting).choices) {
    enableControl(control, choiceOffered(pane->module, setting));
    selectComboEntry(control, listPosition(setting, value));
  } else if (hasFlag(setting, kHexField)) {
    showHexField(control, setting, value);
  } else {
    showText(control, shownText(pane->module, setting));
  }
}

void setButton(WindowHandle button, bool enabled) {
  EnableWindow(asWindow(button), enabled ? TRUE : FALSE);
  UpdateWindow(asWindow(button));
}

int32_t portCount(WindowHandle combo) {
  const LRESULT count = SendMessageW(asWindow(combo), CB_GETCOUNT, 0, 0);
  return count > 0 ? static_cast<int32_t>(count) : 0;
}

HBRUSH colorField(HDC dc, COLORREF color, COLORREF background, HBRUSH brush) {
  SetTextColor(dc, color);
  SetBkColor(dc, background);
  return brush;
}

void fillChannelEntries(WindowHandle channelCombo, int32_t channelLimit) {
  fillChoiceList(asWindow(channelCombo), settingInfo(Setting::Channel).choices->entries,
                 channelEntryCount(channelLimit));
}

void clearPaneFields(PaneRecord* pane) {
  setFieldText(pane->nodeIdField, L"");
  for (Setting s : kAllSettings) {
    WindowHandle control = controlOf(pane, s);
    if (!control)
      continue;
    if (settingInfo(s).choices)
      clearSelection(control);
    else
      setFieldText(control, L"");
  }
}

void drawPane(PaneRecord* pane) {
  SetWindowTextA(asWindow(pane->nodeIdField), pane->module.nodeId);
  UpdateWindow(asWindow(pane->nodeIdField));
  displaySettings(pane);
}

// ---- the reset prompt ----------------------------------------------------------

// The modules the reset prompt waits for: a pair run may ask for both.
// GUI thread only, as is all that the prompt shows.
uint32_t askedPorts[2] = {};

bool notePromptPort(uint32_t port, bool asked) {
  for (uint32_t& slot : askedPorts) {
    if (asked ? slot == 0 : slot == port) {
      slot = asked ? port : 0;
      return true;
    }
  }
  return false;
}

// "Master - COM5", or both panes' captions while both modules are asked.
// The role comes from the port lists, never from a pane a session writes.
void nameAskedModules(HWND prompt) {
  std::wstring caption;
  const uint32_t masterPort = portNumberShown(&masterPane);
  const uint32_t slavePort = portNumberShown(&slavePane);
  for (uint32_t port : askedPorts) {
    const wchar_t* role = !port                ? nullptr
                          : port == masterPort ? L"Master"
                          : port == slavePort  ? L"Slave"
                                               : nullptr;
    if (role)
      caption +=
          (caption.empty() ? L"" : L", ") + std::wstring(role) + L" - COM" + std::to_wstring(port);
  }
  if (!caption.empty())
    SetWindowTextW(prompt, caption.c_str());
}

// The ports are noted even for a prompt that has gone meanwhile (its run
// ended before the GUI thread came to this): the next prompt starts clean.
void changeResetPrompt(HWND prompt, uint32_t portNumber, bool asked) {
  if (!notePromptPort(portNumber, asked) && asked)
    return;
  if (!IsWindow(prompt))
    return;
  if (asked) {
    // Its Cancel belongs in sight beside it.
    showProgressBeside(prompt);
    nameAskedModules(prompt);
    if (IsWindowVisible(prompt))
      return;
    placeResetPrompt(prompt);
    SetForegroundWindow(prompt);
    ShowWindow(prompt, SW_SHOWNORMAL);
    UpdateWindow(prompt);
  } else if (askedPorts[0] || askedPorts[1]) {
    nameAskedModules(prompt);
  } else {
    ShowWindow(prompt, SW_HIDE);
    UpdateWindow(prompt);
  }
}

// ---- what the screen shows while a worker owns the panes -------------------

// GUI thread only.
bool panesLent = false;
PaneRecord shownPanes[2];
// A post was lost (a full queue): the panes are drawn again at the end.
std::atomic<bool> redrawDue{false};

int indexOf(const PaneRecord* pane) {
  return pane == &slavePane ? 1 : 0;
}

bool onGuiThread() {
  return !mainDialog || GetWindowThreadProcessId(mainDialog, nullptr) == GetCurrentThreadId();
}

void post(UINT message, WPARAM wParam, LPARAM lParam) {
  if (!PostMessageW(mainDialog, message, wParam, lParam))
    redrawDue = true;
}

// The warnings sessions gave, shown one box after another: a box's own loop
// may take the next post, which only adds to the queue.
std::mutex warningLock;
std::deque<std::wstring> warnings;
bool warningShown = false;  // GUI thread only

void showQueuedWarnings() {
  if (warningShown)
    return;
  warningShown = true;
  for (;;) {
    std::wstring text;
    {
      std::lock_guard guard(warningLock);
      if (warnings.empty())
        break;
      text = std::move(warnings.front());
      warnings.pop_front();
    }
    showError(L"%ls", text.c_str());
  }
  warningShown = false;
}

// A session's search asks on its own thread; the prompt is the GUI thread's.
void postPromptChange(void* prompt, uint32_t portNumber, bool asked) {
  if (onGuiThread())
    changeResetPrompt(asWindow(prompt), portNumber, asked);
  else
    PostMessageW(mainDialog, MSG_RESET_PROMPT, reinterpret_cast<WPARAM>(prompt),
                 MAKELPARAM(portNumber, asked ? 1 : 0));
}

void askForResetKey(void* prompt, uint32_t portNumber) {
  postPromptChange(prompt, portNumber, true);
}

void stopAskingForResetKey(void* prompt, uint32_t portNumber) {
  postPromptChange(prompt, portNumber, false);
}

}  // namespace

void fillChoiceList(HWND combo, const wchar_t* const* entries, int count) {
  SendMessageW(combo, CB_RESETCONTENT, 0, 0);
  // Inserted at their own positions: a position is the module's code.
  for (int i = 0; i < count; ++i)
    SendMessageW(combo, CB_INSERTSTRING, static_cast<WPARAM>(i),
                 reinterpret_cast<LPARAM>(entries[i]));
  UpdateWindow(combo);
}

namespace {

void displayPart(PaneRecord* pane, DisplayPart part) {
  for (Setting s : kAllSettings) {
    if (settingInfo(s).display == part)
      showSetting(pane, s);
  }
}

}  // namespace

void displayLinkFields(PaneRecord* pane) {
  displayPart(pane, DisplayPart::Link);
}

void displayPowerSaveFields(PaneRecord* pane) {
  displayPart(pane, DisplayPart::PowerSave);
  displayFlowFields(pane);
}

void displayFlowFields(PaneRecord* pane) {
  displayPart(pane, DisplayPart::Flow);
}

void displaySettings(PaneRecord* pane) {
  displayLinkFields(pane);
  displayPart(pane, DisplayPart::Other);
  if (pane->module.isMaster)
    displayFlowFields(pane);
  else
    displayPowerSaveFields(pane);
}

void applyButtonRules() {
  PaneRecord* focusPane = paneOfControl(GetFocus());
  ButtonStates s = buttonStates(paneAsShown(&masterPane), paneAsShown(&slavePane),
                                portCount(masterPane.portCombo), portCount(slavePane.portCombo));
  // A port held by the terminal takes part in no operation.
  s.masterRead = s.masterRead && !paneHeld(&masterPane);
  s.masterWrite = s.masterWrite && !paneHeld(&masterPane);
  s.slaveRead = s.slaveRead && !paneHeld(&slavePane);
  s.slaveWrite = s.slaveWrite && !paneHeld(&slavePane);
  s.linkTest = s.linkTest && !anyPaneHeld();
  setButton(masterPane.readButton, s.masterRead);
  setButton(masterPane.writeButton, s.masterWrite);
  setButton(slavePane.readButton, s.slaveRead);
  setButton(slavePane.writeButton, s.slaveWrite);
  setButton(copyToSlaveButton, s.copyToSlave);
  setButton(copyToMasterButton, s.copyToMaster);
  setButton(linkTestButton, s.linkTest);
  setButton(setDefaultButton, s.setDefault);
  if (afterButtonRules)
    afterButtonRules();
  keepKeyboardFocus(focusPane ? focusPane : &masterPane);
}

void keepKeyboardFocus(PaneRecord* pane) {
  // Off the GUI thread (a worker's display) or behind another window
  // (a message box, the progress dialog) there is nothing to keep.
  if (!pane || !mainDialog || GetActiveWindow() != mainDialog)
    return;
  HWND focus = GetFocus();
  if (focus && focus != mainDialog && IsWindowEnabled(focus))
    return;
  HWND read = asWindow(pane->readButton);
  HWND target = IsWindowEnabled(read) ? read : asWindow(pane->portCombo);
  // Not WM_NEXTDLGCTL: that would also make Read the default button, and
  // Enter on a combo box would then start a Read over unwritten values.
  SetFocus(target);
}

HWND focusToGiveBack() {
  HWND focus = GetFocus();
  return focus && (focus == mainDialog || IsChild(mainDialog, focus)) ? focus : nullptr;
}

void giveFocusBack(HWND control) {
  if (!mainDialog || GetActiveWindow() != mainDialog)
    return;
  // Enter on a Write button would write to its module: its pane's Read
  // takes the focus instead.
  for (PaneRecord* pane : {&masterPane, &slavePane}) {
    if (control && control == asWindow(pane->writeButton))
      control = asWindow(pane->readButton);
  }
  if (control && IsWindow(control) && IsWindowEnabled(control) && IsWindowVisible(control) &&
      control != mainDialog)
    SetFocus(control);
  keepKeyboardFocus(&masterPane);
}

HBRUSH onCtlColorStatic(HDC dc, HWND control) {
  ColorRef color = kColorBlack;
  if (staticFieldColor(paneAsShown(&masterPane), control, &color) ||
      staticFieldColor(paneAsShown(&slavePane), control, &color)) {
    return colorField(dc, color, buttonFaceColor, buttonFaceBrush);
  }
  return nullptr;
}

HBRUSH onCtlColorEdit(HDC dc, HWND control) {
  ColorRef color = kColorBlack;
  if (comboFieldColor(paneAsShown(&masterPane), control, &color) ||
      comboFieldColor(paneAsShown(&slavePane), control, &color)) {
    return colorField(dc, color, whiteColor, whiteBrush);
  }
  return nullptr;
}

// ---- the panes lent to a worker ------------------------------------------------

void lendPanesToWorker() {
  shownPanes[0] = masterPane;
  shownPanes[1] = slavePane;
  panesLent = true;
  redrawDue = false;
}

void takePanesBack() {
  panesLent = false;
  for (PaneRecord* pane : {&masterPane, &slavePane}) {
    recolorPane(pane);
    if (redrawDue && holdsModuleData(&pane->module))
      drawPane(pane);
    else if (redrawDue)
      clearPaneFields(pane);
  }
  redrawDue = false;
  applyButtonRules();
  keepSessionEndReason();
}

const PaneRecord* paneAsShown(const PaneRecord* pane) {
  return panesLent && (pane == &masterPane || pane == &slavePane) ? &shownPanes[indexOf(pane)]
                                                                  : pane;
}

bool onPostedDisplay(UINT message, WPARAM wParam, LPARAM lParam) {
  PaneRecord* pane = reinterpret_cast<PaneRecord*>(wParam);
  if (message == MSG_SHOW_WARNING) {
    showQueuedWarnings();
    return true;
  }
  if (message == MSG_RESET_PROMPT) {
    changeResetPrompt(reinterpret_cast<HWND>(wParam), LOWORD(lParam), HIWORD(lParam) != 0);
    return true;
  }
  if (message == MSG_FILL_CHANNELS) {
    fillChannelEntries(reinterpret_cast<WindowHandle>(wParam), static_cast<int32_t>(lParam));
    return true;
  }
  if ((message != MSG_DRAW_PANE && message != MSG_CLEAR_PANE) ||
      (pane != &masterPane && pane != &slavePane)) {
    return false;
  }
  PaneRecord* copy = reinterpret_cast<PaneRecord*>(lParam);
  // Drawn from the copy kept, so that the repaints ask it for their colours.
  PaneRecord* shown = panesLent ? &shownPanes[indexOf(pane)] : pane;
  if (message == MSG_DRAW_PANE) {
    if (panesLent)
      *shown = *copy;
    delete copy;
    drawPane(shown);
  } else {
    clearPaneFields(pane);
    if (panesLent)
      shown->module.nodeId[0] = 0;  // a cleared pane shows no module
  }
  applyButtonRules();
  return true;
}

void displayPane(PaneRecord* pane) {
  if (onGuiThread()) {
    drawPane(pane);
    applyButtonRules();
    return;
  }
  auto* copy = new (std::nothrow) PaneRecord(*pane);
  if (!copy || !PostMessageW(mainDialog, MSG_DRAW_PANE, reinterpret_cast<WPARAM>(pane),
                             reinterpret_cast<LPARAM>(copy))) {
    delete copy;
    redrawDue = true;
  }
}

void clearPaneDisplay(PaneRecord* pane) {
  if (onGuiThread())
    clearPaneFields(pane);
  else
    post(MSG_CLEAR_PANE, reinterpret_cast<WPARAM>(pane), 0);
}

void fillChannelList(WindowHandle channelCombo, int32_t channelLimit) {
  if (onGuiThread())
    fillChannelEntries(channelCombo, channelLimit);
  else
    post(MSG_FILL_CHANNELS, reinterpret_cast<WPARAM>(channelCombo), channelLimit);
}

void showWarning(const wchar_t* text) {
  {
    std::lock_guard guard(warningLock);
    warnings.emplace_back(text ? text : L"");
  }
  // A post lost to a full queue leaves its text for the next one's.
  if (onGuiThread())
    showQueuedWarnings();
  else
    PostMessageW(mainDialog, MSG_SHOW_WARNING, 0, 0);
}

ResetPrompt windowResetPrompt(WindowHandle prompt) {
  return prompt ? ResetPrompt{askForResetKey, stopAskingForResetKey, prompt} : ResetPrompt{};
}

void enableControl(WindowHandle control, bool enable) {
  EnableWindow(asWindow(control), enable ? TRUE : FALSE);
  UpdateWindow(asWindow(control));
}

void selectComboEntry(WindowHandle combo, int32_t index) {
  // A position outside the list (-1 among them) leaves no selection.
  SendMessageW(asWindow(combo), CB_SETCURSEL, static_cast<WPARAM>(static_cast<INT_PTR>(index)), 0);
  UpdateWindow(asWindow(combo));
}

uint32_t controlText(WindowHandle control, wchar_t* buffer, uint32_t size) {
  if (!buffer || size == 0)
    return 0;
  buffer[0] = 0;
  const int limit = size > INT_MAX ? INT_MAX : static_cast<int>(size);
  const int length = GetWindowTextW(asWindow(control), buffer, limit);
  if (length <= 0) {
    buffer[0] = 0;
    return 0;
  }
  return static_cast<uint32_t>(length);
}

void postOperationDone(WindowHandle progressDialog, OperationRun* run) {
  PostMessageW(asWindow(progressDialog), MSG_OPERATION_DONE, 0, reinterpret_cast<LPARAM>(run));
}
