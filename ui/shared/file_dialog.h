// The system's dialog that asks for a file's name.
#pragma once

#include <windows.h>

// What the system's file dialog asks for: a save or an open, its filter
// (pairs of texts, ended by an empty one), the extension a name without one
// gets, its title (null: the system's) and flags beyond the program's own.
struct FileQuestion {
  bool save = false;
  const wchar_t* filter = nullptr;
  const wchar_t* extension = nullptr;
  const wchar_t* title = nullptr;
  DWORD flags = 0;
};
// The picked name in path (size characters, its text the dialog's start);
// false when none was picked. A dialog that cannot be shown says so in a box.
bool askFileName(HWND owner, wchar_t* path, DWORD size, const FileQuestion& question);
