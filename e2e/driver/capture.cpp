#include "capture.h"

#include <cwchar>

#include "finder.h"

namespace {

constexpr int kFrameInset = 2;
constexpr int kMinSide = 3;
constexpr DWORD kSettleLimitMs = 2000;
constexpr DWORD kSettlePauseMs = 60;
constexpr DWORD kLookLimitMs = 5000;
constexpr DWORD kLookPauseMs = 100;

RECT clientOnScreen(HWND control) {
  RECT client{};
  GetClientRect(control, &client);
  POINT corner{0, 0};
  ClientToScreen(control, &corner);
  OffsetRect(&client, corner.x, corner.y);
  return client;
}

// The selection field of a drop-down list, without its arrow button.
RECT comboTextArea(HWND combo, RECT area) {
  COMBOBOXINFO info{};
  info.cbSize = sizeof info;
  if (GetComboBoxInfo(combo, &info) && info.rcItem.right > info.rcItem.left) {
    RECT item = info.rcItem;
    POINT corner{0, 0};
    ClientToScreen(combo, &corner);
    OffsetRect(&item, corner.x, corner.y);
    return item;
  }
  area.right -= GetSystemMetrics(SM_CXVSCROLL);
  return area;
}

RECT textArea(HWND control) {
  RECT area = clientOnScreen(control);
  if (_wcsicmp(className(control).c_str(), L"ComboBox") == 0)
    area = comboTextArea(control, area);
  InflateRect(&area, -kFrameInset, -kFrameInset);
  return area;
}

// Another top-level window over any corner or the middle hides the text.
bool uncovered(HWND control, const RECT& area) {
  const HWND root = GetAncestor(control, GA_ROOT);
  const LONG midX = (area.left + area.right) / 2;
  const LONG midY = (area.top + area.bottom) / 2;
  const POINT probes[] = {{area.left, area.top},
                          {area.right - 1, area.top},
                          {area.left, area.bottom - 1},
                          {area.right - 1, area.bottom - 1},
                          {midX, midY}};
  for (const POINT& p : probes) {
    const HWND hit = WindowFromPoint(p);
    if (!hit || GetAncestor(hit, GA_ROOT) != root)
      return false;
  }
  return true;
}

struct Bitmap {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ previous = nullptr;
  const uint32_t* bits = nullptr;
  Bitmap(int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* memory = nullptr;
    dc = CreateCompatibleDC(nullptr);
    bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &memory, nullptr, 0);
    bits = static_cast<const uint32_t*>(memory);
    if (dc && bitmap)
      previous = SelectObject(dc, bitmap);
  }
  ~Bitmap() {
    if (previous)
      SelectObject(dc, previous);
    if (bitmap)
      DeleteObject(bitmap);
    if (dc)
      DeleteDC(dc);
  }
  Bitmap(const Bitmap&) = delete;
  Bitmap& operator=(const Bitmap&) = delete;
  bool ok() const { return dc && bitmap && bits; }
};

// Pixels of the bitmap's rectangle at (x, y).
std::vector<Rgb> pixelsOf(const Bitmap& bitmap, int stride, int x, int y, int width, int height) {
  std::vector<Rgb> pixels;
  pixels.reserve(static_cast<size_t>(width) * height);
  GdiFlush();
  for (int row = y; row < y + height; ++row) {
    for (int col = x; col < x + width; ++col) {
      const uint32_t v = bitmap.bits[static_cast<size_t>(row) * stride + col];
      pixels.push_back(Rgb{static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                           static_cast<uint8_t>(v)});
    }
  }
  return pixels;
}

bool grabScreen(const RECT& area, std::vector<Rgb>* pixels) {
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  Bitmap bitmap(width, height);
  HDC screen = GetDC(nullptr);
  const bool ok = bitmap.ok() && screen &&
                  BitBlt(bitmap.dc, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
  if (screen)
    ReleaseDC(nullptr, screen);
  if (ok)
    *pixels = pixelsOf(bitmap, width, 0, 0, width, height);
  return ok;
}

// The display is updated some time after the program paints: the capture
// counts once two in a row agree.
bool captureScreen(Capture* capture, std::string* why) {
  const DWORD started = GetTickCount();
  std::vector<Rgb> previous;
  for (;;) {
    std::vector<Rgb> pixels;
    ++capture->attempts;
    if (!grabScreen(capture->area, &pixels)) {
      *why = "BitBlt from the screen failed (error " + std::to_string(GetLastError()) + ")";
      return false;
    }
    if (capture->attempts > 1 && pixels == previous) {
      capture->pixels = std::move(pixels);
      return true;
    }
    if (GetTickCount() - started >= kSettleLimitMs) {
      *why = "the pixels kept changing for " + std::to_string(kSettleLimitMs) + " ms";
      return false;
    }
    previous = std::move(pixels);
    Sleep(kSettlePauseMs);
  }
}

bool capturePrint(HWND control, Capture* capture, std::string* why) {
  const RECT client = clientOnScreen(control);
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;
  Bitmap bitmap(width, height);
  if (!bitmap.ok()) {
    *why = "no bitmap";
    return false;
  }
  // A pattern no control paints: untouched pixels show as that colour.
  PatBlt(bitmap.dc, 0, 0, width, height, WHITENESS);
  capture->attempts = 1;
  if (!PrintWindow(control, bitmap.dc, PW_CLIENTONLY)) {
    *why = "PrintWindow failed (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  capture->pixels = pixelsOf(bitmap, width, capture->area.left - client.left,
                             capture->area.top - client.top, capture->width, capture->height);
  return true;
}

bool captureOnce(HWND control, CaptureMethod method, Capture* capture, std::string* why) {
  if (!IsWindowVisible(control) || IsIconic(GetAncestor(control, GA_ROOT))) {
    *why = "the control is not visible";
    return false;
  }
  capture->area = textArea(control);
  capture->width = capture->area.right - capture->area.left;
  capture->height = capture->area.bottom - capture->area.top;
  if (capture->width < kMinSide || capture->height < kMinSide) {
    *why = "the control's text area is too small";
    return false;
  }
  if (method == CaptureMethod::kPrint)
    return capturePrint(control, capture, why);
  if (!uncovered(control, capture->area)) {
    *why = "another window covers the control";
    return false;
  }
  return captureScreen(capture, why);
}

}  // namespace

// A window that has just appeared may still be mapped, moved or painted on a
// busy machine: a user would look again, so the capture does too, for a while.
bool captureText(HWND control, CaptureMethod method, Capture* capture, std::string* why) {
  const DWORD started = GetTickCount();
  int looks = 0;
  for (;;) {
    Capture attempt;
    ++looks;
    if (captureOnce(control, method, &attempt, why)) {
      attempt.looks = looks;
      *capture = std::move(attempt);
      return true;
    }
    if (!IsWindow(control) || GetTickCount() - started >= kLookLimitMs) {
      *why += " (looked " + std::to_string(looks) + " times)";
      return false;
    }
    Sleep(kLookPauseMs);
  }
}
