// The message boxes' texts as the Windows build formats them: which argument
// kinds %s and %hs take, what a text too long for its buffer becomes, and the
// start-up failure text with and without a system description. Run under
// Wine by the harness; prints "PASS <name>" or "FAIL <name>: <detail>".
#include <windows.h>

#include <clocale>
#include <cstdio>
#include <cwchar>
#include <string>

#include "ui/shared/shell_services.h"
#include "ui/shared/text_format.h"

namespace {

struct Report {
  int passed = 0;
  int failed = 0;
};

std::string visible(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) {
    if (c == L'\r') {
      out += "\\r";
    } else if (c == L'\n') {
      out += "\\n";
    } else if (c >= 0x20 && c < 0x7F) {
      out += char(c);
    } else {
      char code[12];
      std::snprintf(code, sizeof code, "\\u%04X", unsigned(c));
      out += code;
    }
  }
  return out;
}

void check(Report& report, const char* name, bool ok, const std::string& detail) {
  if (ok) {
    ++report.passed;
    std::printf("PASS %s\n", name);
  } else {
    ++report.failed;
    std::printf("FAIL %s: %s\n", name, detail.c_str());
  }
  std::fflush(stdout);
}

void checkText(Report& report, const char* name, const std::wstring& actual,
               const std::wstring& expected) {
  check(report, name, actual == expected,
        "got \"" + visible(actual) + "\", expected \"" + visible(expected) + "\"");
}

void checkConversions(Report& report) {
  wchar_t text[kMessageBufferChars];
  int length = formatBoundedText(text, kMessageBufferChars, L"%s:\r\n(%ld) %s", L"RegisterClass",
                                 -5L, L"Access is denied.\r\n");
  checkText(report, "percent-s-takes-wide-text-and-ld-is-signed", text,
            L"RegisterClass:\r\n(-5) Access is denied.\r\n");
  check(report, "length-returned", length == int(std::wcslen(text)),
        "returned " + std::to_string(length));

  formatBoundedText(text, kMessageBufferChars, L"Network ID \"%hs\" is not a master.", "ROUTER 7");
  checkText(report, "percent-hs-takes-narrow-text", text,
            L"Network ID \"ROUTER 7\" is not a master.");

  formatBoundedText(text, kMessageBufferChars, L"LoadImage failed.\r\nError: %ld", 1813L);
  checkText(report, "dialog-failure-text", text, L"LoadImage failed.\r\nError: 1813");
}

// Formats a text of the given length into a buffer of kMessageBufferChars
// followed by guard characters that must survive.
std::wstring formatLong(size_t length, int* result, bool* guardsIntact) {
  constexpr size_t kGuards = 8;
  static wchar_t buffer[kMessageBufferChars + kGuards];
  wmemset(buffer, L'#', kMessageBufferChars + kGuards);
  const std::wstring argument(length, L'x');
  *result = formatBoundedText(buffer, kMessageBufferChars, L"%s", argument.c_str());
  *guardsIntact = true;
  for (size_t i = kMessageBufferChars; i < kMessageBufferChars + kGuards; ++i) {
    *guardsIntact = *guardsIntact && buffer[i] == L'#';
  }
  return std::wstring(buffer, wcsnlen(buffer, kMessageBufferChars));
}

void checkLongTexts(Report& report) {
  int result = 0;
  bool guards = false;
  const size_t fits = kMessageBufferChars - 1;

  std::wstring text = formatLong(fits, &result, &guards);
  check(report, "text-that-just-fits-is-whole",
        text == std::wstring(fits, L'x') && result == int(fits) && guards,
        "length " + std::to_string(text.size()) + ", result " + std::to_string(result));

  for (size_t length : {size_t(kMessageBufferChars), size_t(10000)}) {
    text = formatLong(length, &result, &guards);
    const std::wstring expected = std::wstring(fits - 3, L'x') + L"...";
    const std::string name = "text-of-" + std::to_string(length) + "-is-cut-with-mark";
    check(report, name.c_str(), text == expected && result == int(fits) && guards,
          "length " + std::to_string(text.size()) + ", result " + std::to_string(result) +
              ", ends \"" + visible(text.substr(text.size() > 6 ? text.size() - 6 : 0)) +
              "\", guards " + (guards ? "intact" : "overwritten"));
  }

  wchar_t tiny[2] = {L'#', L'#'};
  result = formatBoundedText(tiny, 1, L"%s", L"abc");
  check(report, "one-character-buffer-stays-empty", tiny[0] == L'\0' && tiny[1] == L'#',
        "result " + std::to_string(result));
}

void checkStartupTexts(Report& report) {
  wchar_t text[kMessageBufferChars];
  composeStartupFailureText(text, kMessageBufferChars, L"CreateWindow", ERROR_FILE_NOT_FOUND);
  const std::wstring known = text;
  const std::wstring knownHead = L"CreateWindow:\r\n(2) ";
  check(report, "startup-text-with-system-description",
        known.rfind(knownHead, 0) == 0 && known.size() > knownHead.size() + 2 &&
            known.find(kNoSystemText) == std::wstring::npos,
        "got \"" + visible(known) + "\"");

  // Application-defined codes (bit 29) have no system text.
  const DWORD unknown = 0x20001234;
  composeStartupFailureText(text, kMessageBufferChars, L"RegisterClass", unknown);
  checkText(report, "startup-text-without-system-description", text,
            std::wstring(L"RegisterClass:\r\n(536875572) ") + kNoSystemText);

  composeStartupFailureText(text, kMessageBufferChars, L"RegisterClass", 0x80070005);
  const std::wstring negative = text;
  check(report, "startup-error-number-printed-signed",
        negative.rfind(L"RegisterClass:\r\n(-2147024891) ", 0) == 0,
        "got \"" + visible(negative) + "\"");

  // This description has an insert (%1); it must come through unexpanded.
  composeStartupFailureText(text, kMessageBufferChars, L"CreateWindow", ERROR_BAD_EXE_FORMAT);
  const std::wstring inserts = text;
  check(report, "startup-text-keeps-inserts-unexpanded",
        inserts.rfind(L"CreateWindow:\r\n(193) ", 0) == 0 &&
            inserts.find(L"%1") != std::wstring::npos,
        "got \"" + visible(inserts) + "\"");
}

}  // namespace

int main() {
  _wsetlocale(LC_ALL, L"");
  Report report;
  checkConversions(report);
  checkLongTexts(report);
  checkStartupTexts(report);
  std::printf("format check: %d passed, %d failed\n", report.passed, report.failed);
  return report.failed == 0 ? 0 : 1;
}
