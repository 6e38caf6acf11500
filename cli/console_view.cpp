#include "cli/console_view.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>

#include "cli/cli.h"
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

void showResetPrompt(WindowHandle, uint32_t) {
  std::fputs("Please press the reset key.\n", stderr);
  std::fflush(stderr);
}

void hideResetPrompt(WindowHandle, uint32_t) {}

uint32_t controlText(WindowHandle control, wchar_t* buffer, uint32_t size) {
  const cli::PortList* list = cli::listOf(control);
  uint32_t n = 0;
  for (; list && list->text[n] && n + 1 < size; ++n)
    buffer[n] = list->text[n];
  if (size)
    buffer[n] = 0;
  return n;
}
