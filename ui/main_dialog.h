// The main dialog: its controls and choice lists, commands, display and
// colours, and the port lists that follow the devices present.
#pragma once

#include <windows.h>
// After windows.h:
#include <shellapi.h>

#include <cstdint>

#include "module/settings_file.h"
#include "runner/runner_hooks.h"
#include "ui/dialog_fit.h"
#include "ui/pane.h"
#include "ui/rules.h"

extern HWND copyToSlaveButton;
extern HWND copyToMasterButton;
extern HWND linkTestButton;
extern HWND setDefaultButton;

// Dialog set-up and the lists.
BOOL initMainDialog(HWND dialog);
void setupPaneControls(HWND dialog, PaneRecord* pane, int paneBaseId);
void fillChoiceList(HWND combo, const wchar_t* const* entries, int count);
// clearPaneDisplay and fillChannelList are view hooks (module/view_hooks.h);
// on the GUI thread they do these.
void clearPaneFields(PaneRecord* pane);
void fillChannelEntries(WindowHandle channelCombo, int32_t channelLimit);

// Commands and display.
INT_PTR onMainDialogCommand(HWND dialog, WPARAM wParam);
// copyPaneSettings is portable (ui/rules.h).
// Every setting the pane shows, with its colour.
void displaySettings(PaneRecord* pane);
// applyButtonRules and keepKeyboardFocus: runner/runner_hooks.h.
// The control of the main dialog that has the focus as a run starts, and
// the focus back there once its result window has closed (a Write
// button's Enter would write: its pane's Read takes it instead).
HWND focusToGiveBack();
void giveFocusBack(HWND control);
HBRUSH onCtlColorStatic(HDC dc, HWND control);
HBRUSH onCtlColorEdit(HDC dc, HWND control);
// displayPane is a view hook; on the GUI thread it draws with this, then
// applies the button rules.
void drawPane(PaneRecord* pane);

// While a worker runs, its sessions own the panes: what they show reaches
// the GUI thread as posted copies, which it draws and keeps, and whatever
// reads a pane there (colours, button rules, the menu, the Range Test
// window) reads the copy shown. The pane itself at any other time.
const PaneRecord* paneAsShown(const PaneRecord* pane);
// The main dialog's share of the posted messages; false for others.
bool onPostedDisplay(UINT message, WPARAM wParam, LPARAM lParam);

// The dialog on its monitor: whole and centred in the work area where it
// fits, otherwise as large as the work area, with scroll bars, the wheel
// scrolling it and the focused control kept in view.
void fitMainDialog(HWND dialog);
// Where it stands, at the size fitMainDialog gives it (ui/dialog_fit.h).
ScreenRect mainDialogWholePlace(HWND dialog);
// Into that rectangle, with scroll bars where the layout does not fit.
void fitMainDialogIn(HWND dialog, const ScreenRect& area);
// The work area of the window's monitor.
ScreenRect workAreaOfWindow(HWND window);
void onMainDialogScroll(HWND dialog, int bar, WPARAM request);
// From the message loop: a wheel over the scrolling dialog scrolls it;
// true when it took the message.
bool scrollMainDialogByWheel(const MSG* message);
// From the message loop, after each message: a control that took the
// focus by the keyboard is scrolled into view.
void keepFocusInView(const MSG* message);

// Port lists (PortEntry is in ui/rules.h).
// Fills entries with the usable serial ports, in the system's order.
int enumerateSerialPorts(PortEntry* entries, int capacity);
void refillPortList(HWND combo);
// A port list's drop-down as wide as its longest entry, so that two ports
// with long names of one kind are told apart by their numbers.
void fitDroppedWidth(HWND combo);
void onDeviceChange(WPARAM event, LPARAM header);
void addPortEntry(uint32_t portNumber);
// The port number of a list's pick, 0 for none; picking a port that is not
// listed changes nothing and gives false.
uint32_t pickedPort(HWND combo);
bool pickPort(HWND combo, uint32_t portNumber);
void removePortEntry(uint32_t portNumber);
// finishDeferredDeviceChanges: runner/runner_hooks.h.

// Writes bytes to a new file beside the target and puts it in the
// target's place in one step: the old file stays whole until then, and on
// any failure it stays as it was. Returns 0 or the system's error.
DWORD replaceFile(const wchar_t* path, const char* bytes, DWORD size);

// Settings files: the system menu's entries (ui/extra_commands.h), the
// command line's file and dropped files.
bool anyPaneHoldsValues();
void saveSettings();
void pickAndLoadSettings();
void loadSettingsFile(const wchar_t* path);
// After a pane's successful Read: what a loaded file keeps waiting for it.
void applyWaitingSettings(PaneRecord* pane);
void onDropFiles(HDROP drop);
// The file to load once the dialog is up; remembered is true for the last
// session's profile, whose failure to load says so.
void rememberStartupSettingsFile(const wchar_t* path, bool remembered);
// Once the dialog is up, it loads the command line's file (if one was named).
void postStartupSettingsLoad(HWND dialog);
void loadStartupSettings();

// The profile: the last settings file loaded, applied after every Read.
const SettingsFile* loadedProfile();
// Its whole path; empty while no profile is loaded.
const wchar_t* loadedProfilePath();
void unloadProfile();

// Pairs in numbers (ui/pair_commands.cpp): the system menu's Make Pair,
// Run Pair and Record To..., the command line's --record, and what NLCONF
// remembers per user under HKEY_CURRENT_USER\Software\NLCONF.
bool makePairOffered();
bool runPairOffered();
void makePairCommand();
void runPairCommand();
// Both panes on one port: says so, naming the port, and gives true.
bool refuseOnePortForBoth();
void pickRecordFile();
// Splits the command line into the settings file and "--record FILE".
void rememberStartupArguments(const wchar_t* commandLine);
// At WM_INITDIALOG, once the port lists are filled: the remembered picks.
void takeRememberedPorts();
// A port list's pick changed (the user's, or a remembered port listed again).
void rememberPortPick(PaneRecord* pane);
// "NLCONF - pair.ini" while a profile is loaded, "NLCONF" otherwise.
void showProfileInCaption(const wchar_t* path);
// The record's whole path; empty while no record is kept.
const wchar_t* recordFilePath();
void rememberText(const wchar_t* name, const wchar_t* value);

// The status line under the panes (ui/session_status.cpp): the profile, the
// record and this session's PASS and FAIL counts. After a change of profile
// or record, show it again; after each Run Pair, count its result.
void showSessionStatus();
void notePairResult(bool pass);
bool rememberedText(const wchar_t* name, wchar_t* out, DWORD chars);

// The link test's screen side.
void runLinkTest();
INT_PTR showLinkResult(HWND owner, const wchar_t* text, COLORREF color);
INT_PTR CALLBACK linkResultProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
