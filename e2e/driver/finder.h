// Finding the program's windows from outside its process, as a user sees
// them: top-level dialogs told apart by caption and by the controls inside.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

enum class Kind {
  kMain,        // "NLCONF" with the Read button 3001
  kProgress,    // the progress dialog: label 2001 and Cancel
  kPrompt,      // without any button, captioned "NLCONF" or by its pane: the reset prompt
  kMessageBox,  // "NLCONF" (or "NlConf") with a button and a text
  kLinkResult,  // "Link Test" with the verdict label 2000
  kCaption,     // any top-level window with this exact caption
  kClass,       // any top-level window of this class
  kOther,
};

struct WindowQuery {
  Kind kind = Kind::kMain;
  std::wstring value;  // caption or class name for kCaption / kClass
};

// main, progress, prompt, msgbox, linkresult, caption=TEXT, class=NAME.
bool parseQuery(const std::string& text, WindowQuery* query);
std::string queryName(const WindowQuery& query);
const char* kindName(Kind kind);

Kind classify(HWND window);
// The first top-level window that matches; hidden ones only when asked.
HWND findWindow(const WindowQuery& query, bool includeHidden);
// Polls until a visible match exists; null after timeoutMs.
HWND waitWindow(const WindowQuery& query, DWORD timeoutMs);
// Polls until no visible match exists; false after timeoutMs.
bool waitGone(const WindowQuery& query, DWORD timeoutMs);
std::vector<HWND> topLevelWindows();
// The pause between two looks of a wait that has lasted waitedMs: short at
// first, for a window that comes at once, longer once the wait is a long one,
// since every look enumerates windows through the Wine server.
DWORD pollPauseMs(ULONGLONG waitedMs);

std::wstring caption(HWND window);
std::wstring className(HWND window);
// A control's text as the control itself reports it (WM_GETTEXT, bounded
// in time; the stored window text if the program does not answer).
std::wstring controlText(HWND control, bool* answered = nullptr);
// The static text of a message box or of the reset prompt.
std::wstring staticText(HWND dialog);
bool hasButton(HWND dialog);
