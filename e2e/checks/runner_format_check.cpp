// Formats the runner's result messages the way the Windows program does, with
// the printf flavours the toolchain offers, and prints what came out. Run
// under Wine; glibc's wide printf knows no "%hs", so this cannot run natively.
// Prints "PASS <name>", "FAIL <name>: <detail>" or "INFO <name>: <what>".
#include <windows.h>

#include <locale.h>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <string>

#include "module/result_messages.h"

namespace {

constexpr size_t kBufferChars = 4096;  // as large as the program's box texts

using Formatter = int (*)(wchar_t* buffer, size_t size, const wchar_t* format, va_list args);

// In C++ MinGW routes vswprintf to its own ISO-minded printf.
int isoFlavour(wchar_t* buffer, size_t size, const wchar_t* format, va_list args) {
  return std::vswprintf(buffer, size, format, args);
}

// msvcrt's own, as the system's documentation describes it.
int msvcrtFlavour(wchar_t* buffer, size_t size, const wchar_t* format, va_list args) {
  return _vsnwprintf(buffer, size, format, args);
}

struct Flavour {
  const char* name;
  Formatter format;
};

const Flavour kFlavours[] = {{"vswprintf", isoFlavour}, {"_vsnwprintf", msvcrtFlavour}};

int failures = 0;

int formatWith(const Flavour& flavour, wchar_t* buffer, size_t size, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  const int written = flavour.format(buffer, size, format, args);
  va_end(args);
  return written;
}

// Non-ASCII characters as \uXXXX, so the console's code page does not matter.
std::string printable(const wchar_t* text) {
  std::string out;
  for (const wchar_t* c = text; *c; ++c) {
    if (*c >= 0x20 && *c < 0x7F) {
      out += static_cast<char>(*c);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(*c));
      out += escape;
    }
  }
  return out;
}

// Appended rather than concatenated: GCC 12 warns falsely on "\"" + string.
std::string quoted(const wchar_t* text) {
  std::string out(1, '"');
  out.append(printable(text));
  out.push_back('"');
  return out;
}

void check(const std::string& name, bool ok, const std::string& detail) {
  if (ok) {
    std::printf("PASS %s\n", name.c_str());
  } else {
    ++failures;
    std::printf("FAIL %s: %s\n", name.c_str(), detail.c_str());
  }
}

void info(const std::string& name, const std::string& what) {
  std::printf("INFO %s: %s\n", name.c_str(), what.c_str());
}

void checkRoleMessages(const Flavour& flavour) {
  const struct {
    int32_t result;
    const char* nodeId;
    const wchar_t* expected;
  } cases[] = {
      {ResultNotMaster, "KOV-NL001/S", L"Network ID \"KOV-NL001/S\" is not a master."},
      {ResultNotSlave, "KOV-NL001/M", L"Network ID \"KOV-NL001/M\" is not a slave."},
      {ResultNotSlave, "", L"Network ID \"\" is not a slave."},
      {ResultNotMaster, "20-characters-long!!",
       L"Network ID \"20-characters-long!!\" is not a master."},
  };
  for (const auto& c : cases) {
    wchar_t text[kBufferChars];
    const int written =
        formatWith(flavour, text, kBufferChars, resultMessage(c.result).format, c.nodeId);
    const std::string name = std::string(flavour.name) + " role message " +
                             std::to_string(c.result) + " \"" + c.nodeId + "\"";
    check(name, written >= 0 && std::wcscmp(text, c.expected) == 0, "got " + quoted(text));
  }
}

void checkPlainMessages(const Flavour& flavour) {
  const int32_t results[] = {
      ResultNoEvent, ResultNoThread, ResultCancelled, -8, ResultJoinTimeout, -1};
  for (int32_t result : results) {
    const ResultMessage message = resultMessage(result);
    wchar_t text[kBufferChars];
    const int written = formatWith(flavour, text, kBufferChars, message.format);
    check(std::string(flavour.name) + " plain message " + std::to_string(result),
          written >= 0 && std::wcscmp(text, message.format) == 0, "got " + quoted(text));
  }
}

// How a byte outside ASCII is widened under the locale the program sets.
void reportWidening(const Flavour& flavour) {
  const char nodeId[] = "ID\xB1\xE9";
  wchar_t text[kBufferChars] = {};
  const int written = formatWith(flavour, text, kBufferChars, L"%hs", nodeId);
  wchar_t system[8] = {};
  MultiByteToWideChar(CP_ACP, 0, nodeId, -1, system, 8);
  info(std::string(flavour.name) + " widening of 49 44 B1 E9",
       "returned " + std::to_string(written) + ", " + quoted(text) + "; code page " +
           std::to_string(GetACP()) + " gives " + quoted(system));
}

// What "%s" takes in a wide format, in this flavour.
void reportPlainS(const Flavour& flavour) {
  wchar_t text[64] = {};
  formatWith(flavour, text, 64, L"%s|%ls|%hs", L"wide", L"wide", "narrow");
  info(std::string(flavour.name) + " \"%s|%ls|%hs\" with wide, wide, narrow", quoted(text));
}

// Whether a text too long for its buffer still ends in a terminator.
void reportOverflow(const Flavour& flavour) {
  wchar_t text[16];
  for (wchar_t& c : text)
    c = L'#';
  const int written =
      formatWith(flavour, text, 16, resultMessage(ResultNotMaster).format, "KOV-NL001/S");
  bool terminated = false;
  for (wchar_t c : text)
    terminated = terminated || c == 0;
  info(std::string(flavour.name) + " overflow of a 16-character buffer",
       "returned " + std::to_string(written) + (terminated ? ", terminated" : ", NOT terminated"));
}

}  // namespace

int main() {
  // As the program does at start-up: "%hs" widens with this locale.
  _wsetlocale(LC_ALL, L"");
  info("__USE_MINGW_ANSI_STDIO", std::to_string(__USE_MINGW_ANSI_STDIO));
  for (const Flavour& flavour : kFlavours) {
    checkRoleMessages(flavour);
    checkPlainMessages(flavour);
    reportWidening(flavour);
    reportPlainS(flavour);
    reportOverflow(flavour);
  }
  std::fflush(stdout);
  return failures == 0 ? 0 : 1;
}
