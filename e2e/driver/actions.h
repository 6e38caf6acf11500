// What a user does to the program's windows, done from outside its process.
// Every action first checks that a user could do it: the control shown and
// enabled, and its dialog enabled (a modal dialog over it disables it).
#pragma once

#include <windows.h>

#include <string>

bool operable(HWND control, std::string* why);
// The window that has the keyboard focus in the thread of `window`, or null.
HWND focusOf(HWND window);

// Round trips through the window's thread: every message sent to it before
// has been handled, or it sits in a modal loop that serves messages, and
// what that loop does once its queue is empty is done. Posted messages may
// still wait: a thread takes sent ones first. False
// when the thread does not answer within timeoutMs (for example while the
// link test runs on it) or the window is gone.
bool settle(HWND window, DWORD timeoutMs);

// BM_CLICK, sent without waiting for it: the button runs its own press and
// release and sends WM_COMMAND (id, BN_CLICKED) to its dialog, as for a
// click. Not waited for, so a command that opens a modal dialog does not
// block the driver; sent, so that a settle() after it comes back only once
// the click has been handled (or its modal dialog is up).
bool clickButton(HWND button, std::string* why);
// A real left click on the control's centre through the input queue: the
// dialog is brought to the front first, unless the click is to land as the
// screen stands (where another window covers it, it fails).
bool mouseClick(HWND control, std::string* why, bool raise = true);
// Selects the entry and tells the dialog, as the combo box does when the
// user picks an entry: WM_COMMAND (id, CBN_SELCHANGE).
bool selectEntry(HWND combo, int index, std::string* why);
// A key pressed and released. Posted to the focused control of the dialog's
// thread, so the program's IsDialogMessage sees it as it sees the keyboard;
// or, with throughInput, sent as keyboard input to the foreground dialog
// (with Ctrl held, if asked: only real input carries the key state).
bool pressKey(HWND dialog, WORD virtualKey, bool throughInput, std::string* why,
              bool control = false);
// A system menu entry picked: WM_SYSCOMMAND with its identifier.
bool pickSystemMenu(HWND window, UINT id, std::string* why);
// The clipboard's text, as a paste would take it; false when it holds none.
bool clipboardText(std::wstring* text);
// The close box: WM_SYSCOMMAND SC_CLOSE, posted.
bool closeWindow(HWND window, std::string* why);
// WM_SETTEXT, as typing a whole text into an edit control ends.
bool setText(HWND control, const std::wstring& text, std::string* why);
// One file dropped on the window: a DROPFILES block in the program's own
// memory (an HDROP is the receiver's memory, as the shell makes it there)
// and WM_DROPFILES posted. The program frees it with DragFinish.
bool dropFile(HWND window, const std::wstring& path, std::string* why);
