#include "tests/support/recording_view.h"

#include <cstdarg>
#include <cstring>
#include <cwchar>

#include "link/port_activity.h"
#include "link/port_table.h"
#include "ui/dialog/view_hooks.h"

RecordingView& view() {
  static RecordingView v;
  return v;
}

int RecordingView::count(const std::string& call) const {
  int n = 0;
  for (const auto& c : calls)
    n += c == call;
  return n;
}

void RecordingView::clear() {
  *this = RecordingView{};
}

namespace {

const char* paneName(const PaneRecord* pane) {
  return pane == &masterPane ? "master" : (pane == &slavePane ? "slave" : "other");
}

WindowHandle fake(int id) {
  return reinterpret_cast<WindowHandle>(static_cast<uintptr_t>(id));
}

}  // namespace

void bindFakeControls(PaneRecord* pane, int base) {
  pane->portCombo = fake(base + 0);
  pane->control[indexOf(Setting::Channel)] = fake(base + 7);
  pane->control[indexOf(Setting::FlowControl)] = fake(base + 15);
  pane->control[indexOf(Setting::PowerSave)] = pane->module.isMaster ? nullptr : fake(base + 13);
  pane->progressDialog = fake(base + 90);
  pane->resetPrompt = fake(base + 91);
  view().windows.insert(pane->resetPrompt);
}

void pickPorts() {
  notePortPick(&masterPane);
  notePortPick(&slavePane);
}

void prepareTestPanes() {
  view().clear();
  forgetPortActivity();
  forgetPortModules();
  masterPane = PaneRecord{};
  slavePane = PaneRecord{};
  paneLines = LineMemory{};
  masterPane.module.isMaster = 1;
  resetPane(&masterPane.module);
  resetPane(&slavePane.module);
  bindFakeControls(&masterPane, 3000);
  bindFakeControls(&slavePane, 4000);
  view().texts[masterPane.portCombo] = L"Simulated Module Port (COM3)";
  view().texts[slavePane.portCombo] = L"Simulated Module Port (COM4)";
  pickPorts();
}

void clearPaneDisplay(PaneRecord* pane) {
  view().calls.push_back(std::string("clearPaneDisplay ") + paneName(pane));
}

void displayPane(PaneRecord* pane) {
  view().calls.push_back(std::string("displayPane ") + paneName(pane));
}

void fillChannelList(WindowHandle channelCombo, int32_t channelLimit) {
  view().calls.push_back("fillChannelList");
  view().channelLimits[channelCombo] = channelLimit;
}

int showError(const wchar_t* format, ...) {
  wchar_t text[4096];
  va_list args;
  va_start(args, format);
  std::vswprintf(text, 4096, format, args);
  va_end(args);
  view().calls.push_back("showError");
  view().errors.push_back(text);
  if (view().onError)
    view().onError(text);
  return 1;
}

void showWarning(const wchar_t* text) {
  view().calls.push_back("showWarning");
  view().errors.push_back(text);
  if (view().onError)
    view().onError(text);
}

namespace {

// Only a prompt that is a window of the view asks.
void recordShown(void* prompt, uint32_t portNumber) {
  if (!view().windows.count(prompt))
    return;
  view().calls.push_back("showResetPrompt");
  view().promptPort = portNumber;
  if (view().onResetPrompt)
    view().onResetPrompt();
}

void recordHidden(void* prompt, uint32_t) {
  if (view().windows.count(prompt))
    view().calls.push_back("hideResetPrompt");
}

}  // namespace

ResetPrompt windowResetPrompt(WindowHandle prompt) {
  return ResetPrompt{recordShown, recordHidden, prompt};
}

void enableControl(WindowHandle control, bool enable) {
  view().enabled[control] = enable;
}

void selectComboEntry(WindowHandle combo, int32_t index) {
  view().selection[combo] = index;
}

uint32_t controlText(WindowHandle control, wchar_t* buffer, uint32_t size) {
  const std::wstring& text = view().texts[control];
  const size_t n = text.size() < size ? text.size() : size - 1;
  text.copy(buffer, n);
  buffer[n] = 0;
  return static_cast<uint32_t>(n);
}

void postOperationDone(WindowHandle, OperationRun* run) {
  view().calls.push_back(std::string("postOperationDone ") + paneName(paneOfRun(run)));
  view().operationsDone.push_back(paneOfRun(run));
}

void readPaneAs(PaneRecord* p, const char* nodeId, uint8_t channel, int32_t channelLimit,
                bool flowControl, bool cyclicSleep) {
  std::strncpy(p->module.nodeId, nodeId, kNodeIdSize - 1);
  p->module.read[Setting::PanId] = p->module.shown[Setting::PanId] = 0x4E4C303031;
  p->module.read[Setting::DestHigh] = p->module.shown[Setting::DestHigh] = 0x02004E4C;
  p->module.read[Setting::DestLow] = p->module.shown[Setting::DestLow] = 0x40B0A002;
  p->module.channelLimit = channelLimit;
  p->module.read[Setting::Channel] = p->module.shown[Setting::Channel] = channel;
  p->module.read[Setting::BaudRate] = p->module.shown[Setting::BaudRate] = 3;
  p->module.read[Setting::Parity] = p->module.shown[Setting::Parity] =
      p->module.read[Setting::StopBits] = p->module.shown[Setting::StopBits] = 0;
  p->module.read[Setting::PowerLevel] = p->module.shown[Setting::PowerLevel] = 4;
  p->module.read[Setting::BoostMode] = p->module.shown[Setting::BoostMode] = 1;
  p->module.read[Setting::D7Config] = flowControl ? 1 : 4;
  p->module.read[Setting::D6Config] = flowControl ? 1 : 0;
  p->module.read[Setting::SleepMode] = !p->module.isMaster && cyclicSleep ? 4 : 0;
  deriveModeState(&p->module);
}
