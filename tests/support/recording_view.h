// The view hooks as native tests see them: every call recorded, controls
// kept as plain values.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ui/dialog/pane.h"

struct RecordingView {
  std::vector<std::string> calls;    // e.g. "clearPaneDisplay master", "showResetPrompt"
  std::vector<std::wstring> errors;  // texts of the error boxes, in order
  std::set<WindowHandle> windows;    // the prompts that are windows
  std::map<WindowHandle, std::wstring> texts;
  std::map<WindowHandle, bool> enabled;
  std::map<WindowHandle, int32_t> selection;
  std::map<WindowHandle, int32_t> channelLimits;
  std::vector<PaneRecord*> operationsDone;
  std::function<void(const std::wstring&)> onError;  // e.g. to check the time of a box
  uint32_t promptPort = 0;                           // the module the prompt last asked for
  std::function<void()> onResetPrompt;               // e.g. to press the key at once

  int count(const std::string& call) const;
  void clear();
};

RecordingView& view();

// Fake window handles for a pane's controls, and its port list's text.
void bindFakeControls(PaneRecord* pane, int base);
// Both panes as the main dialog leaves them, on a cleared view: roles set,
// reset, controls bound to fakes, the port lists showing COM3 (master) and
// COM4 (slave).
void prepareTestPanes();
// The panes' picks as the dialog takes them when an operation begins.
void pickPorts();
// A pane as a Read of its module leaves it (the mode rules applied): 9600
// 8N1, power Highest, boost on, channel list up to channelLimit.
void readPaneAs(PaneRecord* pane, const char* nodeId, uint8_t channel, int32_t channelLimit,
                bool flowControl, bool cyclicSleep);
