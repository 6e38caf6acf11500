// The verdict of a Link Test or a pair run: large coloured letters in a
// small modal dialog, with what the run found below where its template has
// room for that (IDD_PAIR_RESULT's IDC_PAIR_DETAILS).
#pragma once

#include <windows.h>

constexpr COLORREF kPassColor = 0xFF0000;  // blue: "Link OK.", "PASS"
constexpr COLORREF kFailColor = 0x0000FF;  // red: "Link NG.", "FAIL"

// Shows dialogId's template over owner with text in color, and details
// (null for none) under it, until OK (0) or Escape or the close box (1).
// Without the brush it needs, the verdict shows in a plain box (-1).
INT_PTR showVerdict(HWND owner, const wchar_t* text, COLORREF color, int dialogId,
                    const wchar_t* details);
