#include "ui/dialog/pane.h"

#include "module/link_test.h"
#include "module/read.h"
#include "module/write.h"

PaneRecord masterPane;
PaneRecord slavePane;
LineMemory paneLines;
std::atomic<bool> dialogClosing{false};
LineLog dialogLineLog;

bool isCancelled(const PaneRecord* pane) {
  os::Handle event = pane->cancelEvent;
  return event && os::waitAny(&event, 1, 0) == 0;
}

PaneRecord* otherPane(const PaneRecord* pane) {
  return pane->module.isMaster ? &slavePane : &masterPane;
}

namespace {

constexpr uint32_t kPortTextSize = 512;

PaneRecord* paneOf(void* context) {
  return static_cast<PaneRecord*>(context);
}

void paneCleared(void* context) {
  clearPaneDisplay(paneOf(context));
}

void paneChannels(void* context, int32_t channelLimit) {
  fillChannelList(controlOf(paneOf(context), Setting::Channel), channelLimit);
}

void paneShown(void* context, const ModuleRecord&) {
  displayPane(paneOf(context));
}

void paneWarned(void*, const wchar_t* text) {
  showWarning(text);
}

int32_t pickedPort(const PaneRecord* pane) {
  wchar_t text[kPortTextSize] = {};
  controlText(pane->portCombo, text, kPortTextSize);
  return portNumberFromText(text);
}

}  // namespace

void notePortPick(PaneRecord* pane) {
  pane->portNumber = pickedPort(pane);
}

uint32_t portNumberShown(const PaneRecord* pane) {
  const int32_t number = pickedPort(pane);
  return number > 0 && number < static_cast<int32_t>(kPortTableSize) ? uint32_t(number) : 0;
}

Session& paneSession(PaneRecord* pane) {
  Session& s = pane->session;
  if (s.port)
    return s;  // a session in progress keeps what it has
  s = Session{};
  s.module = &pane->module;
  s.portNumber = pane->portNumber > 0 ? static_cast<uint32_t>(pane->portNumber) : 0;
  s.cancelEvent = pane->cancelEvent;
  s.resetPrompt = windowResetPrompt(pane->resetPrompt);
  s.closing = &dialogClosing;
  s.lineLog = &dialogLineLog;
  s.options.pairWarnings = true;
  s.options.other = otherPane(pane)->module;
  s.options.search.memory = &paneLines;
  s.view = SessionView{paneCleared, paneChannels, paneShown, paneWarned, pane};
  return s;
}

int32_t openPanePort(PaneRecord* pane) {
  return openSessionPort(paneSession(pane));
}

int32_t readBody(OperationRun* run) {
  const int32_t result = readModule(paneSession(paneOfRun(run))).code;
  postOperationDone(run->progressDialog, run);
  return result;
}

int32_t writeBody(OperationRun* run) {
  const int32_t result = writeModule(paneSession(paneOfRun(run))).code;
  postOperationDone(run->progressDialog, run);
  return result;
}

int32_t linkTestBody(OperationRun* run) {
  const int32_t verdict = testPaneLink();
  postOperationDone(run->progressDialog, run);
  return verdict;
}

int32_t sharedPanePort() {
  const int32_t number = pickedPort(&masterPane);
  return number > 0 && number == pickedPort(&slavePane) ? number : 0;
}

int32_t testPaneLink() {
  return testLink(paneSession(&masterPane), paneSession(&slavePane));
}

int32_t runPaneRangeTest(const RangeRun& run, RangeResult* result, RangePacketSink sink,
                         void* context) {
  return runRangeTest(run, paneSession(&masterPane), &paneSession(&slavePane), result, sink,
                      context);
}

void usePaneSessions(PairRun* run) {
  run->master = &paneSession(&masterPane);
  run->slave = &paneSession(&slavePane);
}
