// Settings files on the main dialog: the system menu's Save, Load and Unload
// Settings (ui/extra_commands.h), the command line's file and dropped files.
#pragma once

#include <windows.h>
// After windows.h:
#include <shellapi.h>

#include "ui/dialog/pane.h"

bool anyPaneHoldsValues();
void saveSettings();
void pickAndLoadSettings();
void loadSettingsFile(const wchar_t* path);
// After a pane's successful Read: what a loaded file keeps waiting for it.
void applyWaitingSettings(PaneRecord* pane);
void onDropFiles(HDROP drop);
// The profile unloaded: nothing is applied after a Read any more.
void unloadProfile();

// At start-up, before any window: splits the command line into the
// settings file and "--record FILE"; the last session's profile and record
// stand where it names none.
void rememberStartupArguments(const wchar_t* commandLine);
// Once the dialog is up, it loads the command line's file (if one was named).
void postStartupSettingsLoad(HWND dialog);
void loadStartupSettings();
