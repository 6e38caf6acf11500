// nlconf-cli on Windows: COM names for ports, the console's Ctrl+C, Ctrl+Break
// and closing for Cancel.
#include <windows.h>
// After windows.h, which it needs.
#include <io.h>
#include <setupapi.h>

#include <algorithm>
#include <cwchar>

#include "cli/cli.h"
#include "module/write.h"

namespace cli {

namespace {

// GUID_DEVCLASS_PORTS, the Ports (COM & LPT) device class.
const GUID kPortsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
constexpr DWORD kFriendlyNameBytes = 8192;

// "COM5" from "USB Serial Port (COM5)", as the dialog lists it; 0 without.
uint32_t comNumberIn(const wchar_t* name) {
  const wchar_t* at = std::wcsstr(name, L"(COM");
  uint32_t n = 0;
  for (const wchar_t* p = at ? at + 4 : L""; *p >= L'0' && *p <= L'9' && n <= 255; ++p)
    n = n * 10 + static_cast<uint32_t>(*p - L'0');
  return n <= 255 ? n : 0;
}

// Set once the modules are left as Cancel leaves them and the ports closed.
HANDLE modulesLeft = nullptr;
// The system ends a program a few seconds (5 by default) after its console
// closes, the user logs off or the system shuts down.
constexpr DWORD kClosingGraceMs = 4500;

BOOL WINAPI onConsoleControl(DWORD kind) {
  static LONG presses = 0;
  switch (kind) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      // The first cancels as Cancel does; a second one stops at once.
      if (InterlockedIncrement(&presses) > 1)
        stopAtOnce();
      requestCancel();
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // The process ends as soon as this returns, and the system waits
      // for that only a few seconds: a write stores what it has set rather
      // than wait for a join, and the modules leave command mode.
      requestClosing();
      requestCancel();
      if (modulesLeft)
        WaitForSingleObject(modulesLeft, kClosingGraceMs);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

std::vector<PortEntry> listPorts() {
  std::vector<std::pair<uint32_t, PortEntry>> found;
  HDEVINFO set = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE)
    return {};
  SP_DEVINFO_DATA element{};
  element.cbSize = sizeof element;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &element); ++i) {
    wchar_t name[kFriendlyNameBytes / sizeof(wchar_t) + 1] = {};
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(set, &element, SPDRP_FRIENDLYNAME, &type,
                                           reinterpret_cast<BYTE*>(name), kFriendlyNameBytes,
                                           nullptr) ||
        type != REG_SZ) {
      continue;
    }
    if (const uint32_t n = comNumberIn(name)) {
      PortEntry port;
      port.name = "COM" + std::to_string(n);
      port.description = narrow(name);
      found.push_back({n, port});
    }
  }
  SetupDiDestroyDeviceInfoList(set);
  std::sort(found.begin(), found.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<PortEntry> ports;
  for (const auto& entry : found)
    ports.push_back(entry.second);
  return ports;
}

bool bindPort(const std::string& name, uint32_t, uint32_t* number, std::string* shown,
              std::string* message) {
  uint32_t n = 0;
  bool digits = name.size() > 3 && name.size() <= 6;
  for (size_t i = 3; digits && i < name.size(); ++i) {
    digits = name[i] >= '0' && name[i] <= '9';
    n = n * 10 + static_cast<uint32_t>(name[i] - '0');
  }
  if (!digits || _strnicmp(name.c_str(), "COM", 3) != 0 || n < 1 || n > 255) {
    *message = "No serial port " + name + " (ports are named COM1 to COM255).";
    return false;
  }
  *number = n;
  *shown = "COM" + std::to_string(n);
  return true;
}

bool stderrIsTerminal() {
  return _isatty(_fileno(stderr)) != 0;
}

bool stdinIsTerminal() {
  return _isatty(_fileno(stdin)) != 0;
}

// A pipe is looked into between looks at the cancel; a console's read is
// ended by the Ctrl+C itself.
InputRead readInputLine(std::string* line, bool (*cancelled)()) {
  line->clear();
  const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  const bool pipe = GetFileType(in) == FILE_TYPE_PIPE;
  for (;;) {
    if (cancelled())
      return InputRead::Cancelled;
    DWORD waiting = 0;
    if (pipe && PeekNamedPipe(in, nullptr, 0, nullptr, &waiting, nullptr) && waiting == 0) {
      Sleep(50);
      continue;
    }
    char c = 0;
    DWORD got = 0;
    if (!ReadFile(in, &c, 1, &got, nullptr) || got == 0) {
      if (cancelled())
        return InputRead::Cancelled;
      return line->empty() ? InputRead::End : InputRead::Line;
    }
    if (c == '\n')
      return InputRead::Line;
    if (line->size() < kInputLineLimit)
      line->push_back(c);
  }
}

void modulesReleased() {
  if (modulesLeft)
    SetEvent(modulesLeft);
}

}  // namespace cli

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i)
    args.push_back(cli::narrow(argv[i]));
  cli::modulesLeft = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(cli::onConsoleControl, TRUE);
  return cli::run(args);
}
