// What the dialog's pane operations ask of the screen and of the runner. The
// Windows program implements these on its dialogs; native tests record them.
#pragma once

#include <cstdint>

#include "link/reset_prompt.h"

struct OperationRun;
struct PaneRecord;

// The reset prompt of a session that shows it in the window prompt (none
// for no window); its calls are carried to the GUI thread.
ResetPrompt windowResetPrompt(WindowHandle prompt);
// Empties the pane's value fields and the selection of its combo boxes.
void clearPaneDisplay(PaneRecord* pane);
// Draws the whole pane with its colours, then applies the button rules.
void displayPane(PaneRecord* pane);
// Refills a channel list with "11" up to min(channelLimit, 26).
void fillChannelList(WindowHandle channelCombo, int32_t channelLimit);
// The "NLCONF" error box; returns when the user has closed it.
int showError(const wchar_t* format, ...);
// A session's warning, shown in the same box by the GUI thread after any
// before it; returns at once.
void showWarning(const wchar_t* text);

void enableControl(WindowHandle control, bool enable);
void selectComboEntry(WindowHandle combo, int32_t index);
// Copies a control's text, NUL-terminated; returns its length.
uint32_t controlText(WindowHandle control, wchar_t* buffer, uint32_t size);
// Tells the progress dialog that the pane's operation has ended.
void postOperationDone(WindowHandle progressDialog, OperationRun* run);
