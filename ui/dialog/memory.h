// What NLCONF remembers per user under HKEY_CURRENT_USER\Software\NLCONF:
// the ports picked, the profile and the record. A value that is missing, of
// another type or too long is as good as none.
#pragma once

#include <windows.h>

#include "ui/dialog/pane.h"

// The names of the values that hold the profile's and the record's paths.
constexpr wchar_t kProfileValue[] = L"Profile";
constexpr wchar_t kRecordValue[] = L"Record";

void rememberText(const wchar_t* name, const wchar_t* value);
// False, with out empty, when none is remembered.
bool rememberedText(const wchar_t* name, wchar_t* out, DWORD chars);
// At WM_INITDIALOG, once the port lists are filled: the remembered picks.
void takeRememberedPorts();
// A port list's pick changed (the user's, or a remembered port listed again).
void rememberPortPick(PaneRecord* pane);
