#include "cli/console_view.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/session.h"
#include "module/view_hooks.h"

namespace cli {

namespace {

struct PortList {
  wchar_t text[16] = {};
};

PortList masterList;
PortList slaveList;
// The prompt is a place only: its address tells it apart.
int resetPromptTag;
// The ports whose modules the prompt waits for, in the order asked; a pair
// run's two sessions ask at once.
std::mutex promptLock;
std::vector<uint32_t> waitedFor;

// "Master (/dev/ttyUSB0)": the pane that holds the port names the role,
// where the command knows it.
std::string moduleOnPort(uint32_t portNumber) {
  const auto number = static_cast<int32_t>(portNumber);
  const PaneRecord* pane = masterPane.portNumber == number  ? &masterPane
                           : slavePane.portNumber == number ? &slavePane
                                                            : nullptr;
  const std::string name = portNameOf(number);
  const std::string role = pane ? roleShown(pane) : "";
  return role.empty() ? name : role + " (" + name + ")";
}

// One line each time the modules waited for change, while any is.
void showWaitedFor() {
  if (waitedFor.empty())
    return;
  std::string line = "Please press the reset key:";
  for (size_t i = 0; i < waitedFor.size(); ++i)
    line += (i ? ", " : " ") + moduleOnPort(waitedFor[i]);
  std::fprintf(stderr, "%s.\n", line.c_str());
  std::fflush(stderr);
}

PortList* listOf(WindowHandle control) {
  if (control == &masterList)
    return &masterList;
  return control == &slaveList ? &slaveList : nullptr;
}

}  // namespace

void attachPane(PaneRecord* pane, uint32_t portNumber) {
  PortList& list = pane == &masterPane ? masterList : slaveList;
  std::swprintf(list.text, 16, L"COM%u", portNumber);
  pane->portCombo = &list;
  pane->resetPrompt = &resetPromptTag;
}

void swapPanePorts() {
  PortList held = masterList;
  masterList = slaveList;
  slaveList = held;
}

}  // namespace cli

// Nothing to draw: the program prints what it read once it is done.
void clearPaneDisplay(PaneRecord*) {}
void displayPane(PaneRecord*) {}
void fillChannelList(WindowHandle, int32_t) {}
void enableControl(WindowHandle, bool) {}
void selectComboEntry(WindowHandle, int32_t) {}
void postOperationDone(WindowHandle, PaneRecord*) {}

int showError(const wchar_t* format, ...) {
  wchar_t text[1024];
  va_list args;
  va_start(args, format);
  std::vswprintf(text, 1024, format, args);
  va_end(args);
  std::fprintf(stderr, "%s\n", cli::narrow(text).c_str());
  return 1;
}

bool isWindowHandle(WindowHandle window) {
  return window == &cli::resetPromptTag;
}

void showResetPrompt(WindowHandle, uint32_t portNumber) {
  std::lock_guard guard(cli::promptLock);
  cli::waitedFor.push_back(portNumber);
  cli::showWaitedFor();
}

void hideResetPrompt(WindowHandle, uint32_t portNumber) {
  std::lock_guard guard(cli::promptLock);
  const auto at = std::find(cli::waitedFor.begin(), cli::waitedFor.end(), portNumber);
  if (at == cli::waitedFor.end())
    return;
  cli::waitedFor.erase(at);
  cli::showWaitedFor();
}

uint32_t controlText(WindowHandle control, wchar_t* buffer, uint32_t size) {
  const cli::PortList* list = cli::listOf(control);
  uint32_t n = 0;
  for (; list && list->text[n] && n + 1 < size; ++n)
    buffer[n] = list->text[n];
  if (size)
    buffer[n] = 0;
  return n;
}
