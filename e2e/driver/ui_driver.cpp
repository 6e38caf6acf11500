// Drives the program's dialogs from outside, as a user would, for the Wine
// journeys. One command per call; or, with "-" as the only argument, one
// driver for a whole journey: it reads a command per line of standard input
// (words split at blanks, "double quotes" keep blanks, \" and \\ inside
// quotes; blank lines and lines starting with # are passed over) and answers
// each with its output lines, then the line "\end <status>", followed by
// the complaint when the status is not 0. No output line starts with "\e":
// texts are printed with their backslashes doubled. It ends at the end of
// its input.
//
// WINDOW is main (the default), progress, prompt, msgbox, linkresult,
// caption=TEXT or class=NAME; --in WINDOW picks the dialog that holds the
// control ID. Times in milliseconds.
//
//   windows                        every top-level window, one per line: handle,
//                                  kind, visible, enabled, pid, rect, class, caption
//   wait WINDOW [MS]               until a visible WINDOW exists (10000)
//   wait-gone WINDOW [MS]          until no visible WINDOW exists (10000)
//   idle MS                        nothing, for MS (a Wine process that stays)
//   click ID [--mouse [--as-seen]] BM_CLICK, or a real mouse click on its centre
//                                  (its dialog brought to the front first, unless
//                                  --as-seen: then only where nothing covers it)
//   select ID TEXT                 pick the entry, CBN_SELCHANGE follows
//   select-index ID N              the same by position
//   key enter|escape|tab|space|down|f5|ctrl+LETTER [--input] [--in WINDOW]
//                                  posted to the focus, or as keyboard input
//                                  (ctrl+ always as input, which carries Ctrl)
//   settext ID TEXT [--in WINDOW]  the control's whole text, as if typed
//   drop PATH                      the file dropped on the main dialog
//   sysmenu ID [WINDOW]            the system menu entry ID picked
//   clipboard                      the clipboard's text
//   close [WINDOW]                 the close box (WM_SYSCOMMAND SC_CLOSE)
//   text ID                        the control's text
//   type ID TEXT                   the field's text replaced by TEXT
//   selected ID                    "<index> <text>" of a combo box, or "-1"
//   items ID                       "<index> <text>" per entry
//   state ID...                    "<id> enabled|disabled[ hidden]" per control
//   focus [WINDOW]                 the identifier of the control that has the
//                                  keyboard focus in WINDOW's thread, "dialog"
//                                  for the dialog itself, or "none"
//   color ID [--print]             the text's colour from the screen's pixels:
//                                  black|red|blue|grey|white|none|other, then counts
//   painted ID                     "same" when the screen shows what the control
//                                  paints when made to repaint, else how many
//                                  pixels differ
//   msgbox                         the text of the message box
//   msgbox-ok                      presses its OK and waits until it goes
//   prompt                         "visible|hidden <text>", or "absent"
//   progress                       "present <label> cancel=enabled|disabled", or "absent"
//   linkresult                     "<verdict text> <colour>", or "absent"
//   devicechange arrive|remove NAME [--via send|broadcast|post]
//                                  WM_DEVICECHANGE with a DEV_BROADCAST_PORT_W
//   sync [WINDOW]                  until WINDOW's thread has handled what came before
//   endsession                     WM_ENDSESSION (TRUE) to each of the program's top-level
//                                  windows, as a logoff forced by the user: "ended in N ms"
//   outcome [MS]                   until the operation the last action began has ended
//                                  (20000): "box: <text>" when a message box is up,
//                                  "done" when the progress dialog is gone and no box
//                                  came, "timeout"
//   took                           milliseconds from the last action (click, select,
//                                  key, close, msgbox-ok, devicechange) to what the last
//                                  outcome, wait or wait-gone saw
//
// Actions refuse what a user could not do: a hidden or disabled control, a
// dialog under a modal one, a window without a close box. After an action
// the driver waits (2 s at most) until the program's thread has handled it.
// Texts are printed in UTF-8 with \r, \n, \t and \\ escaped. Exit status:
// 0 done, 1 not possible (no such window or control, disabled, covered,
// not answered), 2 bad command, 3 time-out.
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h:
#include <dbt.h>

#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "actions.h"
#include "capture.h"
#include "finder.h"
#include "ink.h"
#include "resource_ids.h"
#include "text.h"

namespace {

constexpr int kDone = 0;
constexpr int kNotPossible = 1;
constexpr int kBadCommand = 2;
constexpr int kTimedOut = 3;
constexpr DWORD kDefaultWaitMs = 10000;
constexpr DWORD kSettleMs = 2000;
constexpr DWORD kBroadcastLimitMs = 10000;
constexpr DWORD kOutcomeWaitMs = 20000;

// In serve mode a complaint goes into the answer's last line.
bool serving = false;
std::string complaint;
// For "took": when the last action began, and when a wait last saw its end.
ULONGLONG actionTick = 0;
ULONGLONG seenTick = 0;

struct Args {
  std::vector<std::string> words;                            // positional
  std::vector<std::pair<std::string, std::string>> options;  // --name [value]
  bool has(const char* name) const {
    for (const auto& option : options) {
      if (option.first == name)
        return true;
    }
    return false;
  }
  std::string option(const char* name, const std::string& fallback) const {
    for (const auto& option : options) {
      if (option.first == name)
        return option.second;
    }
    return fallback;
  }
};

// Options that take a value; every other --name is a flag.
bool takesValue(const std::string& name) {
  return name == "--in" || name == "--via";
}

bool parseArgs(const std::vector<std::string>& raw, Args* args) {
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i].rfind("--", 0) != 0) {
      args->words.push_back(raw[i]);
      continue;
    }
    if (!takesValue(raw[i])) {
      args->options.emplace_back(raw[i], "");
      continue;
    }
    if (i + 1 >= raw.size())
      return false;
    args->options.emplace_back(raw[i], raw[i + 1]);
    ++i;
  }
  return true;
}

int complain(int status, const std::string& why) {
  complaint = why;
  if (!serving)
    std::fprintf(stderr, "ui_driver: %s\n", why.c_str());
  return status;
}

int notPossible(const std::string& why) {
  return complain(kNotPossible, why);
}

int timedOut(const std::string& why) {
  return complain(kTimedOut, why);
}

int badCommand(const std::string& why) {
  return complain(kBadCommand, why);
}

void actionBegins() {
  actionTick = GetTickCount64();
  seenTick = 0;
}

void seen() {
  seenTick = GetTickCount64();
}

void out(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string hex(const void* pointer) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%llX",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(pointer)));
  return text;
}

bool number(const std::string& text, long* value) {
  if (text.empty())
    return false;
  char* end = nullptr;
  *value = std::strtol(text.c_str(), &end, 10);
  return *end == '\0';
}

bool waitTime(const Args& args, size_t position, DWORD* ms) {
  *ms = kDefaultWaitMs;
  if (args.words.size() <= position)
    return true;
  long value = 0;
  if (!number(args.words[position], &value) || value < 0)
    return false;
  *ms = static_cast<DWORD>(value);
  return true;
}

// The dialog of --in (main by default), visible.
bool dialogOf(const Args& args, HWND* dialog, std::string* why) {
  WindowQuery query;
  const std::string name = args.option("--in", "main");
  if (!parseQuery(name, &query)) {
    *why = "unknown window \"" + name + "\"";
    return false;
  }
  *dialog = findWindow(query, false);
  if (!*dialog)
    *why = "no visible " + queryName(query) + " window";
  return *dialog != nullptr;
}

// Control ID of the --in dialog; its identifier is word 1.
int withControl(const Args& args, HWND* control) {
  long id = 0;
  if (args.words.size() < 2 || !number(args.words[1], &id))
    return badCommand(args.words[0] + ": want a control identifier");
  HWND dialog = nullptr;
  std::string why;
  if (!dialogOf(args, &dialog, &why))
    return notPossible(why);
  *control = GetDlgItem(dialog, static_cast<int>(id));
  if (!*control)
    return notPossible("no control " + std::to_string(id) + " in " + args.option("--in", "main"));
  return kDone;
}

// A modal loop shows its dialog once its queue first goes empty, the progress
// dialog once its operation has lasted a moment: until then each exists
// hidden, and an action waits until it shows or goes. Only the reset prompt
// is hidden for longer.
void waitForPendingShows(DWORD ms) {
  const ULONGLONG deadline = GetTickCount64() + ms;
  for (;;) {
    bool pending = false;
    for (HWND window : topLevelWindows()) {
      const Kind kind = classify(window);
      pending =
          pending ||
          ((kind == Kind::kProgress || kind == Kind::kMessageBox || kind == Kind::kLinkResult) &&
           !IsWindowVisible(window));
    }
    if (!pending || GetTickCount64() >= deadline)
      return;
    Sleep(pollPauseMs(GetTickCount64() + ms - deadline));
  }
}

// After an action: the program's thread has taken it, and what it opened
// is shown.
std::string settleNote(HWND window) {
  const DWORD started = GetTickCount();
  if (!IsWindow(window))
    return " (window gone)";
  if (settle(window, kSettleMs)) {
    waitForPendingShows(kSettleMs);
    return "";
  }
  const DWORD error = GetLastError();
  // Gone while we waited: the command closed it.
  if (!IsWindow(window))
    return " (window gone)";
  return " (no answer within " + std::to_string(GetTickCount() - started) +
         " ms: the program is busy; error " + std::to_string(error) + ")";
}

int cmdWindows(const Args&) {
  for (HWND window : topLevelWindows()) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    RECT r{};
    GetWindowRect(window, &r);
    out(hex(window) + " " + kindName(classify(window)) + " " +
        (IsWindowVisible(window) ? "visible" : "hidden") + " " +
        (IsWindowEnabled(window) ? "enabled" : "disabled") + " pid=" + std::to_string(pid) +
        " rect=" + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
        std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top) + " class=\"" +
        escaped(className(window)) + "\" caption=\"" + escaped(caption(window)) + "\"");
  }
  return kDone;
}

int cmdWait(const Args& args, bool gone) {
  WindowQuery query;
  DWORD ms = 0;
  if (args.words.size() < 2 || !parseQuery(args.words[1], &query) || !waitTime(args, 2, &ms))
    return badCommand(args.words[0] + ": want a window and a time in ms");
  const DWORD started = GetTickCount();
  const std::string limit = std::to_string(ms) + " ms";
  if (gone) {
    if (!waitGone(query, ms))
      return timedOut(queryName(query) + " still there after " + limit);
    seen();
    out("gone " + queryName(query) + " after " + std::to_string(GetTickCount() - started) + " ms");
    return kDone;
  }
  const HWND window = waitWindow(query, ms);
  if (!window)
    return timedOut("no " + queryName(query) + " within " + limit);
  seen();
  out("found " + queryName(query) + " " + hex(window) + " after " +
      std::to_string(GetTickCount() - started) + " ms");
  return kDone;
}

// A Wine process that stays without looking at anything: the rig keeps the
// Wine server up with one.
int cmdIdle(const Args& args) {
  DWORD ms = 0;
  if (!waitTime(args, 1, &ms))
    return badCommand("idle: want a time in ms");
  Sleep(ms);
  out("idled " + std::to_string(ms) + " ms");
  return kDone;
}

int cmdClick(const Args& args) {
  HWND control = nullptr;
  if (const int status = withControl(args, &control))
    return status;
  std::string why;
  const bool mouse = args.has("--mouse");
  actionBegins();
  if (!(mouse ? mouseClick(control, &why, !args.has("--as-seen")) : clickButton(control, &why)))
    return notPossible("cannot click " + args.words[1] + ": " + why);
  out("clicked " + args.words[1] + settleNote(GetAncestor(control, GA_ROOT)));
  return kDone;
}

int entryCount(HWND combo) {
  DWORD_PTR count = 0;
  if (!SendMessageTimeoutW(combo, CB_GETCOUNT, 0, 0, SMTO_NORMAL, kSettleMs, &count))
    return -1;
  return static_cast<int>(static_cast<LRESULT>(count));
}

// CB_GETLBTEXT's buffer is copied back across processes by the system.
bool entryText(HWND combo, int index, std::wstring* text) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0, SMTO_NORMAL,
                           kSettleMs, &length) ||
      static_cast<LRESULT>(length) < 0) {
    return false;
  }
  std::wstring buffer(static_cast<size_t>(length) + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index),
                           reinterpret_cast<LPARAM>(buffer.data()), SMTO_NORMAL, kSettleMs,
                           &copied) ||
      static_cast<LRESULT>(copied) < 0) {
    return false;
  }
  buffer.resize(std::wcslen(buffer.c_str()));
  *text = buffer;
  return true;
}

int cmdSelect(const Args& args, bool byIndex) {
  HWND control = nullptr;
  if (args.words.size() < 3)
    return badCommand(args.words[0] + ": want a control identifier and an entry");
  if (const int status = withControl(args, &control))
    return status;
  long index = -1;
  const int count = entryCount(control);
  if (byIndex && !number(args.words[2], &index))
    return badCommand("select-index: want a position");
  for (int i = 0; !byIndex && i < count; ++i) {
    std::wstring text;
    if (entryText(control, i, &text) && text == wide(args.words[2])) {
      index = i;
      break;
    }
  }
  if (index < 0 || index >= count)
    return notPossible("no entry \"" + args.words[2] + "\" in combo box " + args.words[1] + " (" +
                       std::to_string(count) + " entries)");
  std::string why;
  actionBegins();
  if (!selectEntry(control, static_cast<int>(index), &why))
    return notPossible("cannot select in " + args.words[1] + ": " + why);
  out("selected " + std::to_string(index) + " in " + args.words[1]);
  return kDone;
}

bool keyOf(const std::string& name, WORD* key, bool* control) {
  *control = name.size() == 6 && name.rfind("ctrl+", 0) == 0 && std::isalpha(name[5]);
  if (*control) {
    *key = static_cast<WORD>(std::toupper(name[5]));
    return true;
  }
  struct Key {
    const char* name;
    WORD key;
  };
  static const Key kKeys[] = {{"enter", VK_RETURN}, {"escape", VK_ESCAPE}, {"tab", VK_TAB},
                              {"space", VK_SPACE},  {"down", VK_DOWN},     {"f5", VK_F5}};
  for (const Key& k : kKeys) {
    if (name == k.name) {
      *key = k.key;
      return true;
    }
  }
  return false;
}

// The key goes where the keyboard's would: the foreground dialog if it is
// one of the program's, else the topmost of its enabled dialogs; --in
// names one instead.
HWND keyTarget(const Args& args, std::string* why) {
  HWND dialog = nullptr;
  if (args.has("--in")) {
    dialogOf(args, &dialog, why);
    return dialog;
  }
  dialog = GetForegroundWindow();
  if (dialog && classify(dialog) != Kind::kOther && IsWindowEnabled(dialog))
    return dialog;
  for (Kind kind : {Kind::kMessageBox, Kind::kLinkResult, Kind::kProgress, Kind::kMain}) {
    dialog = findWindow(WindowQuery{kind, {}}, false);
    if (dialog && IsWindowEnabled(dialog))
      return dialog;
  }
  *why = "no enabled dialog of the program";
  return nullptr;
}

int cmdKey(const Args& args) {
  WORD key = 0;
  bool control = false;
  if (args.words.size() < 2 || !keyOf(args.words[1], &key, &control))
    return badCommand("key: want enter, escape, tab, space, down, f5 or ctrl+LETTER");
  std::string why;
  const HWND dialog = keyTarget(args, &why);
  if (!dialog)
    return notPossible(why);
  const std::string where = kindName(classify(dialog));
  actionBegins();
  if (!pressKey(dialog, key, control || args.has("--input"), &why, control))
    return notPossible("cannot press " + args.words[1] + ": " + why);
  out("pressed " + args.words[1] + " in " + where + settleNote(dialog));
  return kDone;
}

int cmdSetText(const Args& args) {
  HWND control = nullptr;
  if (args.words.size() < 3)
    return badCommand("settext: want a control identifier and a text");
  if (const int status = withControl(args, &control))
    return status;
  std::string why;
  actionBegins();
  if (!setText(control, wide(args.words[2]), &why))
    return notPossible("cannot set the text of " + args.words[1] + ": " + why);
  out("set " + args.words[1]);
  return kDone;
}

int cmdDrop(const Args& args) {
  if (args.words.size() < 2)
    return badCommand("drop: want a path");
  HWND dialog = nullptr;
  std::string why;
  if (!dialogOf(args, &dialog, &why))
    return notPossible(why);
  actionBegins();
  if (!dropFile(dialog, wide(args.words[1]), &why))
    return notPossible("cannot drop " + args.words[1] + ": " + why);
  out("dropped" + settleNote(dialog));
  return kDone;
}

int cmdSysmenu(const Args& args) {
  long id = 0;
  if (args.words.size() < 2 || !number(args.words[1], &id) || id <= 0 || id >= 0xF000)
    return badCommand("sysmenu: want a menu identifier below 0xF000");
  WindowQuery query;
  const std::string name = args.words.size() > 2 ? args.words[2] : "main";
  if (!parseQuery(name, &query))
    return badCommand("sysmenu: unknown window \"" + name + "\"");
  const HWND window = findWindow(query, false);
  if (!window)
    return notPossible("no visible " + queryName(query) + " window");
  if (!(GetWindowLongPtrW(window, GWL_STYLE) & WS_SYSMENU))
    return notPossible(queryName(query) + " has no system menu");
  if (!IsWindowEnabled(window))
    return notPossible(queryName(query) + " is disabled (a modal dialog is open over it)");
  std::string why;
  actionBegins();
  if (!pickSystemMenu(window, static_cast<UINT>(id), &why))
    return notPossible(why);
  out("picked " + std::to_string(id) + " in " + queryName(query) + settleNote(window));
  return kDone;
}

int cmdClipboard(const Args&) {
  std::wstring text;
  if (!clipboardText(&text))
    return notPossible("no text on the clipboard");
  out(escaped(text));
  return kDone;
}

int cmdClose(const Args& args) {
  WindowQuery query;
  const std::string name = args.words.size() > 1 ? args.words[1] : "main";
  if (!parseQuery(name, &query))
    return badCommand("close: unknown window \"" + name + "\"");
  const HWND window = findWindow(query, false);
  if (!window)
    return notPossible("no visible " + queryName(query) + " window");
  if (!(GetWindowLongPtrW(window, GWL_STYLE) & WS_SYSMENU))
    return notPossible(queryName(query) + " has no close box");
  if (!IsWindowEnabled(window))
    return notPossible(queryName(query) + " is disabled (a modal dialog is open over it)");
  std::string why;
  actionBegins();
  if (!closeWindow(window, &why))
    return notPossible(why);
  out("closed " + queryName(query) + settleNote(window));
  return kDone;
}

int cmdText(const Args& args) {
  HWND control = nullptr;
  if (const int status = withControl(args, &control))
    return status;
  bool answered = false;
  const std::wstring text = controlText(control, &answered);
  if (!answered)
    std::fprintf(stderr, "ui_driver: control %s did not answer; its stored text follows\n",
                 args.words[1].c_str());
  out(escaped(text));
  return kDone;
}

// What a user types into a field, all at once.
int cmdType(const Args& args) {
  HWND control = nullptr;
  if (args.words.size() < 3)
    return badCommand("type: want a control identifier and a text");
  if (const int status = withControl(args, &control))
    return status;
  std::string why;
  if (!operable(control, &why))
    return notPossible(why);
  const std::wstring text = wide(args.words[2]);
  DWORD_PTR ignored = 0;
  if (!SendMessageTimeoutW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                           SMTO_ABORTIFHUNG, kSettleMs, &ignored))
    return notPossible("control " + args.words[1] + " did not take the text");
  out("typed into " + args.words[1]);
  return kDone;
}

int cmdSelected(const Args& args) {
  HWND control = nullptr;
  if (const int status = withControl(args, &control))
    return status;
  DWORD_PTR selected = 0;
  if (!SendMessageTimeoutW(control, CB_GETCURSEL, 0, 0, SMTO_NORMAL, kSettleMs, &selected))
    return notPossible("combo box " + args.words[1] + " did not answer");
  const int index = static_cast<int>(static_cast<LRESULT>(selected));
  std::wstring text;
  if (index < 0) {
    out("-1");
  } else if (entryText(control, index, &text)) {
    out(std::to_string(index) + " " + escaped(text));
  } else {
    return notPossible("cannot read entry " + std::to_string(index));
  }
  return kDone;
}

int cmdItems(const Args& args) {
  HWND control = nullptr;
  if (const int status = withControl(args, &control))
    return status;
  const int count = entryCount(control);
  if (count < 0)
    return notPossible("combo box " + args.words[1] + " did not answer");
  for (int i = 0; i < count; ++i) {
    std::wstring text;
    if (!entryText(control, i, &text))
      return notPossible("cannot read entry " + std::to_string(i));
    out(std::to_string(i) + " " + escaped(text));
  }
  return kDone;
}

int cmdState(const Args& args) {
  if (args.words.size() < 2)
    return badCommand("state: want control identifiers");
  HWND dialog = nullptr;
  std::string why;
  if (!dialogOf(args, &dialog, &why))
    return notPossible(why);
  for (size_t i = 1; i < args.words.size(); ++i) {
    long id = 0;
    if (!number(args.words[i], &id))
      return badCommand("state: \"" + args.words[i] + "\" is no identifier");
    const HWND control = GetDlgItem(dialog, static_cast<int>(id));
    if (!control)
      return notPossible("no control " + args.words[i]);
    out(args.words[i] + (IsWindowEnabled(control) ? " enabled" : " disabled") +
        (IsWindowVisible(control) ? "" : " hidden"));
  }
  return kDone;
}

int cmdFocus(const Args& args) {
  WindowQuery query;
  const std::string name = args.words.size() > 1 ? args.words[1] : "main";
  if (!parseQuery(name, &query))
    return badCommand("focus: unknown window \"" + name + "\"");
  const HWND window = findWindow(query, false);
  if (!window)
    return notPossible("no visible " + queryName(query) + " window");
  const HWND focus = focusOf(window);
  if (!focus)
    out("none");
  else if (focus == window)
    out("dialog");
  else
    out(std::to_string(GetDlgCtrlID(focus)));
  return kDone;
}

Rgb fromColorref(COLORREF color) {
  return Rgb{GetRValue(color), GetGValue(color), GetBValue(color)};
}

// "<verdict> background=#... ink=<n> black=<n> red=<n> ..." for one control.
int reportColor(HWND control, CaptureMethod method, const std::string& name) {
  Capture capture;
  std::string why;
  if (!captureText(control, method, &capture, &why))
    return notPossible("cannot see " + name + ": " + why);
  const InkReport r = classifyInk(capture.pixels.data(), capture.pixels.size(),
                                  fromColorref(GetSysColor(COLOR_GRAYTEXT)));
  std::string line = std::string(inkName(r.verdict)) + " background=" + hexColor(r.background) +
                     " ink=" + std::to_string(r.inkPixels) + " black=" + std::to_string(r.black) +
                     " red=" + std::to_string(r.red) + " blue=" + std::to_string(r.blue) +
                     " grey=" + std::to_string(r.grey) + " white=" + std::to_string(r.white) +
                     " unexplained=" + std::to_string(r.unexplained);
  if (r.unexplained > 0)
    line += " (mostly " + hexColor(r.commonUnexplained) + ")";
  line += " area=" + std::to_string(capture.width) + "x" + std::to_string(capture.height) +
          " captures=" + std::to_string(capture.attempts) +
          " looks=" + std::to_string(capture.looks);
  out(line);
  return kDone;
}

int cmdColor(const Args& args) {
  HWND control = nullptr;
  if (const int status = withControl(args, &control))
    return status;
  settle(control, kSettleMs);
  return reportColor(control, args.has("--print") ? CaptureMethod::kPrint : CaptureMethod::kScreen,
                     "control " + args.words[1]);
}

// Whether the screen shows what the control paints when asked to repaint
// whole: stale pixels (a line drawn twice, a scroll not repainted) differ.
int cmdPainted(const Args& args) {
  HWND control = nullptr;
  if (const int status = withControl(args, &control))
    return status;
  settle(control, kSettleMs);
  Capture shown, repainted;
  std::string why;
  if (!captureText(control, CaptureMethod::kScreen, &shown, &why))
    return notPossible("cannot see control " + args.words[1] + ": " + why);
  InvalidateRect(control, nullptr, TRUE);
  settle(control, kSettleMs);
  if (!captureText(control, CaptureMethod::kScreen, &repainted, &why))
    return notPossible("cannot see control " + args.words[1] + " repainted: " + why);
  if (shown.pixels.size() != repainted.pixels.size())
    return notPossible("the control changed its size");
  size_t differ = 0;
  for (size_t i = 0; i < shown.pixels.size(); ++i)
    differ += !(shown.pixels[i] == repainted.pixels[i]);
  out(differ == 0 ? std::string("same")
                  : "differs in " + std::to_string(differ) + " of " +
                        std::to_string(shown.pixels.size()) + " pixels");
  return kDone;
}

int cmdMsgbox(const Args&, bool pressOk) {
  const HWND box = findWindow(WindowQuery{Kind::kMessageBox, {}}, false);
  if (!box)
    return notPossible("no message box");
  if (!pressOk) {
    out(escaped(staticText(box)));
    return kDone;
  }
  HWND button = GetDlgItem(box, IDOK);
  if (!button)
    return notPossible("the message box has no OK button");
  // The box hides before its modal loop ends, and the program goes on only
  // after that: a click in between would land in the loop's last turn. Gone
  // is when the window is destroyed; then the program's thread is waited for
  // at its next look for messages (another box's, or the dialog's own).
  const HWND owner = GetWindow(box, GW_OWNER);
  std::string why;
  actionBegins();
  if (!clickButton(button, &why))
    return notPossible("cannot press OK: " + why);
  const DWORD started = GetTickCount();
  while (IsWindow(box)) {
    if (GetTickCount() - started >= kDefaultWaitMs)
      return timedOut("the message box stayed after OK");
    Sleep(20);
  }
  if (owner && IsWindow(owner))
    settle(owner, kDefaultWaitMs);
  out("pressed OK");
  return kDone;
}

int cmdPrompt(const Args&) {
  const HWND prompt = findWindow(WindowQuery{Kind::kPrompt, {}}, true);
  if (!prompt) {
    out("absent");
    return kDone;
  }
  out(std::string(IsWindowVisible(prompt) ? "visible " : "hidden ") + escaped(staticText(prompt)));
  return kDone;
}

int cmdProgress(const Args&) {
  const HWND progress = findWindow(WindowQuery{Kind::kProgress, {}}, false);
  if (!progress) {
    out("absent");
    return kDone;
  }
  const HWND cancel = GetDlgItem(progress, IDCANCEL);
  const HWND label = GetDlgItem(progress, IDC_PROGRESS_LABEL);
  out("present " + escaped(controlText(label)) +
      " cancel=" + (cancel ? (IsWindowEnabled(cancel) ? "enabled" : "disabled") : "missing"));
  return kDone;
}

int cmdLinkResult(const Args&) {
  const HWND dialog = findWindow(WindowQuery{Kind::kLinkResult, {}}, false);
  if (!dialog) {
    out("absent");
    return kDone;
  }
  const HWND label = GetDlgItem(dialog, IDC_RESULT_LABEL);
  settle(dialog, kSettleMs);
  // A busy machine may show the window a while before its label is painted
  // on the screen: no ink yet is looked at again, up to the settle limit.
  InkReport report;
  for (DWORD waited = 0;; waited += 100) {
    Capture capture;
    std::string why;
    if (!captureText(label, CaptureMethod::kScreen, &capture, &why))
      return notPossible("cannot see the verdict: " + why);
    report = classifyInk(capture.pixels.data(), capture.pixels.size(),
                         fromColorref(GetSysColor(COLOR_GRAYTEXT)));
    if (report.verdict != Ink::kNone || waited >= kSettleMs)
      break;
    Sleep(100);
  }
  out(escaped(controlText(label)) + " " + inkName(report.verdict));
  return kDone;
}

// A DEV_BROADCAST_PORT_W with the name, its size counting the terminator.
std::vector<BYTE> portBroadcast(const std::wstring& name) {
  const size_t size =
      offsetof(DEV_BROADCAST_PORT_W, dbcp_name) + (name.size() + 1) * sizeof(wchar_t);
  std::vector<BYTE> buffer(size < sizeof(DEV_BROADCAST_PORT_W) ? sizeof(DEV_BROADCAST_PORT_W)
                                                               : size);
  auto* port = reinterpret_cast<DEV_BROADCAST_PORT_W*>(buffer.data());
  port->dbcp_size = static_cast<DWORD>(size);
  port->dbcp_devicetype = DBT_DEVTYP_PORT;
  std::memcpy(port->dbcp_name, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
  return buffer;
}

int deliver(const std::string& via, WPARAM event, LPARAM data, const std::string& what) {
  if (via == "broadcast") {
    // Wine posts a broadcast unless it is a query, and a posted message
    // cannot carry the header (ERROR_MESSAGE_SYNC_ONLY, while the call
    // still reports success); as a query it is sent to each window.
    DWORD recipients = BSM_APPLICATIONS;
    SetLastError(0);
    const long result = BroadcastSystemMessageW(BSF_QUERY | BSF_FORCEIFHUNG | BSF_IGNORECURRENTTASK,
                                                &recipients, WM_DEVICECHANGE, event, data);
    if (result <= 0 || GetLastError() == ERROR_MESSAGE_SYNC_ONLY)
      return notPossible("BroadcastSystemMessage failed (error " + std::to_string(GetLastError()) +
                         ")");
    out("broadcast " + what + " to all top-level windows");
    return kDone;
  }
  const HWND dialog = findWindow(WindowQuery{Kind::kMain, {}}, false);
  if (!dialog)
    return notPossible("no visible main window");
  if (via == "post") {
    if (!PostMessageW(dialog, WM_DEVICECHANGE, event, data))
      return notPossible("PostMessage refused (error " + std::to_string(GetLastError()) + ")");
    out("posted " + what + " to main" + settleNote(dialog));
    return kDone;
  }
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(dialog, WM_DEVICECHANGE, event, data, SMTO_NORMAL, kBroadcastLimitMs,
                           &result)) {
    return notPossible("main did not take WM_DEVICECHANGE within 10 s (error " +
                       std::to_string(GetLastError()) + ")");
  }
  out("sent " + what + " to main: it returned " + std::to_string(static_cast<LRESULT>(result)));
  return kDone;
}

int cmdDeviceChange(const Args& args) {
  if (args.words.size() < 3 || (args.words[1] != "arrive" && args.words[1] != "remove"))
    return badCommand("devicechange: want arrive or remove and a port name such as COM5");
  const std::string via = args.option("--via", "send");
  if (via != "send" && via != "broadcast" && via != "post")
    return badCommand("devicechange: --via send, broadcast or post");
  const bool arrive = args.words[1] == "arrive";
  const WPARAM event = arrive ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
  std::vector<BYTE> broadcast = portBroadcast(wide(args.words[2]));
  const std::string what =
      std::string(arrive ? "DBT_DEVICEARRIVAL " : "DBT_DEVICEREMOVECOMPLETE ") + args.words[2];
  actionBegins();
  return deliver(via, event, reinterpret_cast<LPARAM>(broadcast.data()), what);
}

struct ProgramWindows {
  DWORD process = 0;
  std::vector<HWND> windows;
};

BOOL CALLBACK collectProgramWindow(HWND window, LPARAM windows) {
  auto* w = reinterpret_cast<ProgramWindows*>(windows);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == w->process)
    w->windows.push_back(window);
  return TRUE;
}

// As the system ends a session the user would not wait for: WM_ENDSESSION
// (TRUE) to each of the program's top-level windows, one after the other.
int cmdEndSession(const Args&) {
  const HWND dialog = findWindow(WindowQuery{Kind::kMain, {}}, true);
  if (!dialog)
    return notPossible("no main window");
  ProgramWindows program;
  GetWindowThreadProcessId(dialog, &program.process);
  EnumWindows(collectProgramWindow, reinterpret_cast<LPARAM>(&program));
  actionBegins();
  const DWORD start = GetTickCount();
  for (HWND window : program.windows) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, 10000,
                             &result))
      return notPossible("a window did not take WM_ENDSESSION within 10 s");
  }
  out("ended in " + std::to_string(GetTickCount() - start) + " ms");
  return kDone;
}

int cmdSync(const Args& args) {
  WindowQuery query;
  const std::string name = args.words.size() > 1 ? args.words[1] : "main";
  if (!parseQuery(name, &query))
    return badCommand("sync: unknown window \"" + name + "\"");
  const HWND window = findWindow(query, true);
  if (!window)
    return notPossible("no " + queryName(query) + " window");
  if (!settle(window, kDefaultWaitMs))
    return timedOut(name + " did not answer within " + std::to_string(kDefaultWaitMs) + " ms");
  out("synced " + queryName(query));
  return kDone;
}

bool boxUp(std::string* text) {
  // A box on its way out (its OK just pressed) has lost its text first, and
  // one on its way in has none yet, on a busy machine long enough to be
  // seen: it is looked at again until it has its text or is gone.
  for (int look = 0; look < 100; ++look) {
    const HWND box = findWindow(WindowQuery{Kind::kMessageBox, {}}, false);
    if (!box)
      return false;
    const std::wstring said = staticText(box);
    if (!said.empty()) {
      *text = "box: " + escaped(said);
      return true;
    }
    Sleep(20);
  }
  return false;
}

// An operation ends with a message box, or with its progress dialog gone
// (not only hidden: it is hidden before its first show, too); the box of a
// result comes right after that dialog ends, so once the main thread has
// answered, it is up if it is coming.
int cmdOutcome(const Args& args) {
  DWORD ms = 0;
  if (!waitTime(args, 1, &ms))
    return badCommand("outcome: want a time in ms");
  if (args.words.size() < 2)
    ms = kOutcomeWaitMs;
  const ULONGLONG started = GetTickCount64();
  std::string text;
  for (;;) {
    if (boxUp(&text))
      break;
    if (!findWindow(WindowQuery{Kind::kProgress, {}}, true)) {
      if (const HWND main = findWindow(WindowQuery{Kind::kMain, {}}, true))
        settle(main, kDefaultWaitMs);
      if (!boxUp(&text))
        text = "done";
      break;
    }
    if (GetTickCount64() - started >= ms) {
      out("timeout");
      // Which window kept it going, for the evidence: a hidden one is no
      // operation a user would see.
      const HWND progress = findWindow(WindowQuery{Kind::kProgress, {}}, true);
      const HWND main = findWindow(WindowQuery{Kind::kMain, {}}, true);
      const std::string seen =
          !progress
              ? "no progress window"
              : std::string("progress ") + (IsWindowVisible(progress) ? "shown" : "hidden") +
                    " \"" + escaped(controlText(GetDlgItem(progress, IDC_PROGRESS_LABEL))) + "\"";
      return timedOut("the operation went on for " + std::to_string(ms) + " ms (" + seen +
                      ", main dialog " + (main && IsWindowEnabled(main) ? "enabled" : "disabled") +
                      ")");
    }
    Sleep(pollPauseMs(GetTickCount64() - started));
  }
  seen();
  out(text);
  return kDone;
}

int cmdTook(const Args&) {
  if (actionTick == 0 || seenTick == 0)
    return notPossible("took: no action, or nothing seen since it");
  out(std::to_string(seenTick - actionTick));
  return kDone;
}

struct Command {
  const char* name;
  int (*run)(const Args&);
  // The options it understands: a mistyped one is an error rather than a
  // silently different action.
  const char* options;
};

const Command kCommands[] = {
    {"windows", cmdWindows, ""},
    {"wait", [](const Args& a) { return cmdWait(a, false); }, ""},
    {"wait-gone", [](const Args& a) { return cmdWait(a, true); }, ""},
    {"idle", cmdIdle, ""},
    {"click", cmdClick, " --in --mouse --as-seen "},
    {"select", [](const Args& a) { return cmdSelect(a, false); }, " --in "},
    {"select-index", [](const Args& a) { return cmdSelect(a, true); }, " --in "},
    {"key", cmdKey, " --in --input "},
    {"close", cmdClose, ""},
    {"settext", cmdSetText, " --in "},
    {"drop", cmdDrop, ""},
    {"sysmenu", cmdSysmenu, ""},
    {"clipboard", cmdClipboard, ""},
    {"text", cmdText, " --in "},
    {"type", cmdType, " --in "},
    {"selected", cmdSelected, " --in "},
    {"items", cmdItems, " --in "},
    {"state", cmdState, " --in "},
    {"focus", cmdFocus, ""},
    {"color", cmdColor, " --in --print "},
    {"painted", cmdPainted, " --in "},
    {"msgbox", [](const Args& a) { return cmdMsgbox(a, false); }, ""},
    {"msgbox-ok", [](const Args& a) { return cmdMsgbox(a, true); }, ""},
    {"prompt", cmdPrompt, ""},
    {"progress", cmdProgress, ""},
    {"linkresult", cmdLinkResult, ""},
    {"devicechange", cmdDeviceChange, " --via "},
    {"sync", cmdSync, ""},
    {"endsession", cmdEndSession, ""},
    {"outcome", cmdOutcome, ""},
    {"took", cmdTook, ""},
};

int run(const std::vector<std::string>& raw) {
  Args args;
  if (raw.empty() || !parseArgs(raw, &args) || args.words.empty())
    return badCommand("no command (see the comment at the top of ui_driver.cpp)");
  for (const Command& command : kCommands) {
    if (args.words[0] != command.name)
      continue;
    for (const auto& option : args.options) {
      if (std::strstr(command.options, (" " + option.first + " ").c_str()) == nullptr)
        return badCommand(args.words[0] + " takes no option " + option.first);
    }
    return command.run(args);
  }
  return badCommand("unknown command \"" + args.words[0] + "\"");
}

// Blank-separated words; "double quotes" keep blanks, with \" and \\.
bool splitLine(const std::string& line, std::vector<std::string>* words) {
  std::string word;
  bool inWord = false;
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted && c == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) {
      word += line[++i];
    } else if (c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if (!quoted && (c == ' ' || c == '\t' || c == '\r')) {
      if (inWord)
        words->push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord)
    words->push_back(word);
  return !quoted;
}

int serve() {
  serving = true;
  std::string line;
  while (std::getline(std::cin, line)) {
    std::vector<std::string> words;
    const bool balanced = splitLine(line, &words);
    if (balanced && (words.empty() || words[0][0] == '#'))
      continue;
    complaint.clear();
    const int status = balanced ? run(words) : badCommand("unbalanced quotes in: " + line);
    out("\\end " + std::to_string(status) + (status != kDone ? " " + complaint : ""));
  }
  return kDone;
}

}  // namespace

// The wide entry point: the command line in UTF-8, whatever the code page.
int wmain(int argc, wchar_t** argv) {
  // Plain line feeds, as the bash side expects.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  std::vector<std::string> raw;
  for (int i = 1; i < argc; ++i)
    raw.push_back(utf8(argv[i]));
  if (raw.size() == 1 && raw[0] == "-")
    return serve();
  return run(raw);
}
