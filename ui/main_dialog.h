// The main dialog: its controls and choice lists, commands, display and
// colours, and the port lists that follow the devices present.
#pragma once

#include <windows.h>

#include <cstdint>

#include "module/pane.h"

extern HWND copyToSlaveButton;
extern HWND copyToMasterButton;
extern HWND linkTestButton;
extern HWND setDefaultButton;

// Dialog set-up and the lists.
BOOL initMainDialog(HWND dialog);
void setupPaneControls(HWND dialog, PaneRecord* pane, int paneBaseId);
void fillChoiceList(HWND combo, const wchar_t* const* entries, int count);
// clearPaneDisplay and fillChannelList are view hooks (module/view_hooks.h).

// Commands and display.
INT_PTR onMainDialogCommand(HWND dialog, WPARAM wParam);
void copyPaneSettings(PaneRecord* destination, const PaneRecord* source);
void displayLinkFields(PaneRecord* pane);
void displayPowerSaveFields(PaneRecord* pane);
void displayFlowFields(PaneRecord* pane);
void applyButtonRules();
HBRUSH onCtlColorStatic(HDC dc, HWND control);
HBRUSH onCtlColorEdit(HDC dc, HWND control);
// displayPane is a view hook.

// Port lists.
struct PortEntry {
  uint32_t portNumber = 0;
  wchar_t friendlyName[256] = {};
};
constexpr int kMaxPortEntries = 256;
// Fills entries with the usable serial ports, in the system's order.
int enumerateSerialPorts(PortEntry* entries, int capacity);
void refillPortList(HWND combo);
void onDeviceChange(WPARAM event, LPARAM header);
void addPortEntry(uint32_t portNumber);
void removePortEntry(uint32_t portNumber);

// The link test's screen side.
void runLinkTest();
INT_PTR showLinkResult(HWND owner, const wchar_t* text, COLORREF color);
INT_PTR CALLBACK linkResultProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
