#include "runner/display.h"

namespace {

constexpr LONG kSmallestFontPixels = 8;

bool textFits(HDC dc, const LOGFONTW& description, const wchar_t* text, const RECT& area) {
  HFONT font = CreateFontIndirectW(&description);
  if (!font)
    return true;  // nothing to measure with: leave the description as it is
  HGDIOBJ before = SelectObject(dc, font);
  SIZE size{};
  const BOOL measured = GetTextExtentPoint32W(dc, text, lstrlenW(text), &size);
  SelectObject(dc, before);
  DeleteObject(font);
  return !measured || (size.cx <= area.right - area.left && size.cy <= area.bottom - area.top);
}

}  // namespace

LONG pixelsOnDisplay(LONG pixelsAt96Dpi) {
  constexpr int kBaseDpi = 96;
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : kBaseDpi;
  if (screen)
    ReleaseDC(nullptr, screen);
  return MulDiv(pixelsAt96Dpi, dpi > 0 ? dpi : kBaseDpi, kBaseDpi);
}

void fitFontToText(HWND control, LOGFONTW* description, const wchar_t* text) {
  RECT area{};
  if (!control || !description || !text || !GetClientRect(control, &area))
    return;
  HDC dc = GetDC(control);
  if (!dc)
    return;
  LONG pixels = description->lfHeight < 0 ? -description->lfHeight : description->lfHeight;
  for (; pixels > kSmallestFontPixels; --pixels) {
    description->lfHeight = -pixels;
    if (textFits(dc, *description, text, area))
      break;
  }
  description->lfHeight = -pixels;
  ReleaseDC(control, dc);
}

LOGFONTW describedFont(LONG pixelsAt96Dpi, LONG weight, BYTE pitchAndFamily) {
  LOGFONTW font{};
  font.lfHeight = -pixelsOnDisplay(pixelsAt96Dpi);
  font.lfWeight = weight;
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfOutPrecision = OUT_CHARACTER_PRECIS;
  font.lfClipPrecision = CLIP_CHARACTER_PRECIS;
  font.lfQuality = DEFAULT_QUALITY;
  font.lfPitchAndFamily = pitchAndFamily;
  return font;
}

int applyFont(FontHolder* holder, HWND control, const LOGFONTW* description) {
  if (!holder || !control || !description)
    return 0;
  if (holder->createdFont)
    return 1;
  HFONT font = CreateFontIndirectW(description);
  if (!font)
    return 0;
  holder->createdFont = font;
  HDC dc = GetDC(control);
  if (!dc) {
    DeleteObject(font);
    holder->createdFont = nullptr;
    return 0;
  }
  holder->previousFont = SelectObject(dc, font);
  // Through the queue, so the control picks it up without a forced redraw.
  if (holder->previousFont)
    PostMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  ReleaseDC(control, dc);
  return holder->previousFont ? 1 : 0;
}

void releaseFont(FontHolder* holder, HWND control) {
  if (!holder || !control || !holder->createdFont)
    return;
  if (holder->previousFont) {
    HDC dc = GetDC(control);
    if (dc) {
      SelectObject(dc, static_cast<HGDIOBJ>(holder->previousFont));
      ReleaseDC(control, dc);
    }
  }
  DeleteObject(static_cast<HGDIOBJ>(holder->createdFont));
  holder->createdFont = nullptr;
}

void discardFont(FontHolder* holder) {
  if (!holder || !holder->createdFont)
    return;
  DeleteObject(static_cast<HGDIOBJ>(holder->createdFont));
  holder->createdFont = nullptr;
}
