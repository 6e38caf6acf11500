// The real link code (port table, transfers, AT commands, settings
// discovery) over the Win32 binding, under Wine, against module models that
// simports runs behind the COM ports, with the modem shim preloaded.
//
//   link_over_wine.exe <control FIFO> <transcript dir> <port A> <port B>
//
// Port A holds a module at 9600 8N1, port B one at 38400 8E2. The control
// FIFO and transcript directory are simports' (as Windows paths, Z:\...):
// this program presses the reset key and sets faults through the one, and
// reads from the other what reached the model. Prints "PASS <name>",
// "FAIL <name>: <detail>" and "INFO ..." lines, and ends with
// "link over wine: N passed, M failed".
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "link/at_command.h"
#include "link/discovery.h"
#include "link/errors.h"
#include "link/port_activity.h"
#include "link/port_note.h"
#include "link/port_table.h"
#include "link/transfer.h"
#include "ui/dialog/view_hooks.h"

// ---------------------------------------------------------------- no windows here

void clearPaneDisplay(PaneRecord*) {}
void displayPane(PaneRecord*) {}
void fillChannelList(WindowHandle, int32_t) {}
int showError(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::wprintf(L"INFO error box: ");
  std::vwprintf(format, args);
  std::wprintf(L"\n");
  va_end(args);
  return 0;
}
ResetPrompt windowResetPrompt(WindowHandle) {
  return ResetPrompt{};
}
void showWarning(const wchar_t*) {}
void enableControl(WindowHandle, bool) {}
void selectComboEntry(WindowHandle, int32_t) {}
uint32_t controlText(WindowHandle, wchar_t* buffer, uint32_t size) {
  if (size > 0)
    buffer[0] = 0;
  return 0;
}
void postOperationDone(WindowHandle, OperationRun*) {}

namespace {

constexpr DWORD kPollMs = 20;

struct Report {
  int passed = 0;
  int failed = 0;
  void check(bool ok, const char* name, const std::string& detail) {
    if (ok) {
      ++passed;
      std::printf("PASS %s\n", name);
    } else {
      ++failed;
      std::printf("FAIL %s: %s\n", name, detail.c_str());
    }
    std::fflush(stdout);
  }
};

void info(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::printf("INFO ");
  std::vprintf(format, args);
  std::printf("\n");
  std::fflush(stdout);
  va_end(args);
}

struct Rig {
  std::wstring fifo;
  std::wstring transcripts;
};

std::string portName(uint32_t n) {
  return "COM" + std::to_string(n);
}

// One line to simports; it acts on it within a few milliseconds.
bool control(const Rig& rig, const std::string& line) {
  HANDLE h = CreateFileW(rig.fifo.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    info("control FIFO not opened, error %lu", GetLastError());
    return false;
  }
  const std::string text = line + "\n";
  DWORD written = 0;
  const BOOL ok = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(h);
  return ok && written == text.size();
}

std::string readTranscript(const Rig& rig, uint32_t port) {
  const std::wstring path = rig.transcripts + L"\\transcript-COM" + std::to_wstring(port) + L".log";
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return "";
  std::string text;
  char chunk[4096];
  DWORD n = 0;
  while (ReadFile(h, chunk, sizeof chunk, &n, nullptr) && n > 0)
    text.append(chunk, n);
  CloseHandle(h);
  return text;
}

// Where `needle` first shows in the transcript after `from`, waiting up to
// limitMs for it; npos when it never does.
size_t awaitTranscript(const Rig& rig, uint32_t port, size_t from, const std::string& needle,
                       DWORD limitMs) {
  const DWORD t0 = GetTickCount();
  for (;;) {
    const std::string text = readTranscript(rig, port);
    const size_t at = text.size() > from ? text.find(needle, from) : std::string::npos;
    if (at != std::string::npos || GetTickCount() - t0 >= limitMs)
      return at;
    Sleep(kPollMs);
  }
}

size_t transcriptEnd(const Rig& rig, uint32_t port) {
  return readTranscript(rig, port).size();
}

bool ctsIs(SerialPort* port, bool wanted, DWORD limitMs) {
  const DWORD t0 = GetTickCount();
  for (;;) {
    uint32_t status = 0;
    if (os::getModemStatus(port->handle, status) && ((status & os::kModemCtsOn) != 0) == wanted)
      return true;
    if (GetTickCount() - t0 >= limitMs)
      return false;
    Sleep(kPollMs);
  }
}

std::string describe(const os::LineSettings& s) {
  static const char kParity[] = "NOEMS";
  char text[48];
  std::snprintf(text, sizeof text, "%lu %u%c%s", static_cast<unsigned long>(s.baudRate),
                unsigned{s.byteSize}, s.parity < 5 ? kParity[s.parity] : '?',
                s.stopBits == os::kTwoStopBits ? "2" : (s.stopBits == 0 ? "1" : "1.5"));
  return text;
}

bool sameFrame(const os::LineSettings& a, uint32_t baud, uint8_t parity, uint8_t stopBits) {
  return a.baudRate == baud && a.byteSize == 8 && a.parity == parity && a.stopBits == stopBits;
}

std::string result(int32_t r) {
  return "result " + std::to_string(r);
}

// ---------------------------------------------------------------- port A: 9600

void talkAt9600(Report& report, SerialPort* port) {
  const DWORD t0 = GetTickCount();
  const bool found = discoverSerialSettings(port, ResetPrompt{});
  const DWORD took = GetTickCount() - t0;
  info("quick discovery took %lu ms", took);
  report.check(found && took < 3000 && sameFrame(port->serialSettings, 9600, os::kNoParity, 0),
               "discovery finds 9600 8N1 on the quick path",
               "found=" + std::to_string(found) + " after " + std::to_string(took) + " ms at " +
                   describe(port->serialSettings));
  int32_t r = enterCommandMode(port);
  report.check(r == 0, "enter command mode at 9600", result(r));
  uint16_t version = 0;
  r = queryHex16(port, "ATVR\r", &version);
  report.check(r == 0 && version == 0x2041, "ATVR reads the master's firmware 2041",
               result(r) + " value " + std::to_string(version));
  char name[kNodeIdReplySize] = {};
  uint32_t length = 0;
  r = queryNodeIdentifier(port, name, &length);
  report.check(r == 0 && std::strcmp(name, "KOV-NL001/M") == 0, "ATNI reads KOV-NL001/M",
               result(r) + " '" + name + "'");
}

// The port's note, where every process and user of the machine finds it:
// in the program data, as this process left it, and replaced whole in place
// (a shorter note leaves nothing of the longer one).
void portNoteIsKept(Report& report, uint32_t port) {
  char text[kPortNoteCapacity];
  uint32_t got = 0;
  PortNote note;
  const bool kept = os::readPortNote(port, text, sizeof text, got) == os::NoteRead::Found &&
                    parsePortNote(text, got, note) && note.sent &&
                    note.sentAtMs <= os::bootClockMs();
  wchar_t path[MAX_PATH] = {};
  const std::wstring where = L"%ProgramData%\\NLCONF\\port" + std::to_wstring(port) + L".note";
  ExpandEnvironmentStringsW(where.c_str(), path, MAX_PATH);
  report.check(kept && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES,
               "the port's note is kept in the program data", "read " + std::to_string(got));
  const bool shorter = os::writePortNote(port, "short", 5) &&
                       os::readPortNote(port, text, sizeof text, got) == os::NoteRead::Found &&
                       std::string(text, got) == "short";
  report.check(shorter, "a note is replaced whole in place", std::string(text, got));
  noteBytesSent(port);  // the note as it was, for what comes after
}

// Sends a control line and waits until the port's transcript shows it took
// effect, so the next command meets the changed model.
bool controlSeen(const Rig& rig, uint32_t port, const std::string& line, const std::string& seen) {
  const size_t from = transcriptEnd(rig, port);
  return control(rig, line) && awaitTranscript(rig, port, from, seen, 2000) != std::string::npos;
}

void faultsReachTheModel(Report& report, const Rig& rig, SerialPort* port) {
  const uint32_t n = port->portNumber;
  uint16_t value = 0;
  bool set = controlSeen(rig, n, "fault " + portName(n) + " replace VR 1234\\r",
                         "fault: next reply to VR replaced");
  int32_t r1 = queryHex16(port, "ATVR\r", &value);
  const uint16_t replaced = value;
  int32_t r2 = queryHex16(port, "ATVR\r", &value);
  report.check(set && r1 == 0 && replaced == 0x1234 && r2 == 0 && value == 0x2041,
               "a replaced reply comes once",
               "results " + std::to_string(r1) + "/" + std::to_string(r2) + " values " +
                   std::to_string(replaced) + "/" + std::to_string(value));
  set = controlSeen(rig, n, "fault " + portName(n) + " withhold VR", "fault: reply to VR withheld");
  r1 = queryHex16(port, "ATVR\r", &value);
  r2 = queryHex16(port, "ATVR\r", &value);
  report.check(set && r1 == ErrTimeout && r2 == 0 && value == 0x2041,
               "a withheld reply times out once",
               "results " + std::to_string(r1) + "/" + std::to_string(r2));
  uint8_t level = 0;
  set = controlSeen(rig, n, "set " + portName(n) + " PL 2", "register PL set to 2");
  r1 = queryHex8(port, "ATPL\r", &level);
  report.check(set && r1 == 0 && level == 2, "a register set through simports reads back",
               result(r1) + " value " + std::to_string(level));
}

void writeWaitsForCts(Report& report, const Rig& rig, SerialPort* port) {
  const uint32_t n = port->portNumber;
  const bool sent = control(rig, "fault " + portName(n) + " cts-low 800");
  const bool low = sent && ctsIs(port, false, 2000);
  report.check(low, "CTS held low by the model reads as low", sent ? "CTS stayed up" : "no FIFO");
  if (!low)
    return;
  const size_t from = transcriptEnd(rig, n);
  const DWORD t0 = GetTickCount();
  uint16_t version = 0;
  const int32_t r = queryHex16(port, "ATVR\r", &version);
  const DWORD took = GetTickCount() - t0;
  info("command under CTS low took %lu ms", took);
  report.check(r == 0 && version == 0x2041 && took >= 500 && took < 2560,
               "a command waits for CTS and then goes through",
               result(r) + " after " + std::to_string(took) + " ms");
  const size_t breakOn = awaitTranscript(rig, n, from, "break on", 1000);
  const size_t released = awaitTranscript(rig, n, from, "fault: CTS released", 1000);
  const size_t breakOff = awaitTranscript(rig, n, from, "break off", 1000);
  const size_t command = awaitTranscript(rig, n, from, "host>   \"ATVR\\r\"", 1000);
  const bool ordered = breakOn < released && released < breakOff && breakOff < command &&
                       command != std::string::npos;
  report.check(ordered, "the line is in break while CTS is low, and the bytes follow CTS",
               "offsets break-on " + std::to_string(breakOn) + " released " +
                   std::to_string(released) + " break-off " + std::to_string(breakOff) +
                   " command " + std::to_string(command));
}

// Discovery's raw reads look at CTS every half millisecond while it is low:
// they must see it rise at once.
void rawReadFollowsCts(Report& report, const Rig& rig, SerialPort* port) {
  constexpr DWORD kLowMs = 2000;
  const uint32_t n = port->portNumber;
  const uint32_t ctsWait = port->ctsWaitMs, timeout = port->ioTimeoutMs;
  port->ctsWaitMs = kLowMs + 2000;
  port->ioTimeoutMs = 1;  // nothing comes: the read ends as soon as CTS is seen
  const DWORD t0 = GetTickCount();
  const bool low = control(rig, "fault " + portName(n) + " cts-low " + std::to_string(kLowMs)) &&
                   ctsIs(port, false, 1000);
  char reply[4] = {};
  readLineRaw(port, reply, sizeof reply, nullptr);
  const long reaction = static_cast<long>(GetTickCount() - t0) - static_cast<long>(kLowMs);
  port->ctsWaitMs = ctsWait;
  port->ioTimeoutMs = timeout;
  report.check(low && reaction >= 0 && reaction < 100, "a raw read goes on as soon as CTS rises",
               low ? std::to_string(reaction) + " ms after" : "CTS not held low");
}

void modemLinesReachTheModel(Report& report, const Rig& rig, SerialPort* port) {
  const uint32_t n = port->portNumber;
  struct Step {
    const char* what;
    bool (*act)(os::Handle);
    const char* seen;
  };
  const Step steps[] = {
      {"SetCommBreak", [](os::Handle h) { return os::setBreak(h); }, "break on"},
      {"ClearCommBreak", [](os::Handle h) { return os::clearBreak(h); }, "break off"},
      {"CLRDTR", [](os::Handle h) { return os::escapeSerial(h, os::kEscapeClrDtr); },
       "dtr 0 rts 1"},
      {"CLRRTS", [](os::Handle h) { return os::escapeSerial(h, os::kEscapeClrRts); },
       "dtr 0 rts 0"},
      {"SETDTR", [](os::Handle h) { return os::escapeSerial(h, os::kEscapeSetDtr); },
       "dtr 1 rts 0"},
      {"SETRTS", [](os::Handle h) { return os::escapeSerial(h, os::kEscapeSetRts); },
       "dtr 1 rts 1"},
  };
  std::string missing;
  for (const Step& s : steps) {
    const size_t from = transcriptEnd(rig, n);
    const bool ok = s.act(port->handle);
    if (!ok) {
      missing += std::string(s.what) + " failed (" + std::to_string(GetLastError()) + "); ";
      continue;
    }
    if (awaitTranscript(rig, n, from, s.seen, 1000) == std::string::npos)
      missing += std::string(s.what) + " not seen as '" + s.seen + "'; ";
  }
  report.check(missing.empty(), "break, DTR and RTS reach the model", missing);
}

// What the program sees when the adapter goes away under an open handle.
void unplugAndPlug(Report& report, const Rig& rig, SerialPort* port) {
  const uint32_t n = port->portNumber;
  const size_t from = transcriptEnd(rig, n);
  const bool sent = control(rig, "unplug " + portName(n));
  const bool gone = sent && awaitTranscript(rig, n, from, "unplugged", 2000) != std::string::npos;
  report.check(gone, "simports unplugs the port", "no 'unplugged' in the transcript");
  if (!gone)
    return;
  uint32_t status = 0;
  const bool modem = os::getModemStatus(port->handle, status);
  info("after unplug: GetCommModemStatus %s, error %lu", modem ? "succeeds" : "fails",
       modem ? 0ul : GetLastError());
  os::Transfer transfer{};
  const bool started = os::startWrite(port->handle, "AT\r", 3, transfer, port->writeWait[0]);
  const DWORD startError = started ? 0 : GetLastError();
  const DWORD waited = started ? WaitForSingleObject(port->writeWait[0], 3000) : WAIT_FAILED;
  uint32_t moved = 0;
  bool finished = false;
  DWORD finishError = 0;
  if (started) {
    if (waited != WAIT_OBJECT_0)
      os::cancelTransfers(port->handle);
    finished = os::finishTransfer(port->handle, transfer, moved);
    finishError = finished ? 0 : GetLastError();
  }
  info("after unplug: WriteFile %s (error %lu), wait %s, result %s (error %lu), %u bytes",
       started ? "started" : "refused", startError,
       waited == WAIT_OBJECT_0 ? "signalled" : (started ? "timed out" : "skipped"),
       finished ? "success" : "failure", finishError, moved);
  char byte = 0;
  uint32_t count = 0;
  const DWORD r0 = GetTickCount();
  const bool read = readBlockTimed(port, &byte, 1, &count);
  info("after unplug: a timed read %s with %u bytes after %lu ms (error %lu)",
       read ? "succeeds" : "fails", count, GetTickCount() - r0, read ? 0ul : GetLastError());
  const DWORD c0 = GetTickCount();
  const int32_t r = enterCommandMode(port);
  const DWORD took = GetTickCount() - c0;
  report.check(r != 0 && took < 6000, "a command on the unplugged port fails without hanging",
               result(r) + " after " + std::to_string(took) + " ms");
  info("after unplug: enterCommandMode gives %d after %lu ms", r, took);
  closePort(port);
  SetLastError(0);
  SerialPort* again = openPort(n, nullptr);
  const DWORD openError = GetLastError();
  report.check(again == nullptr, "the unplugged port cannot be opened",
               "opened; error " + std::to_string(openError));
  info("after unplug: open %s, error %lu", again ? "succeeds" : "fails", openError);
  if (again)
    closePort(again);

  const size_t plugFrom = transcriptEnd(rig, n);
  const bool back = control(rig, "plug " + portName(n)) &&
                    awaitTranscript(rig, n, plugFrom, "now on", 2000) != std::string::npos;
  SerialPort* fresh = back ? openPort(n, nullptr) : nullptr;
  // A module that has just been powered is deaf while it boots, as its
  // CTS shows; a user would not be quicker than that either.
  const bool found =
      fresh && ctsIs(fresh, true, 2000) && discoverSerialSettings(fresh, ResetPrompt{});
  report.check(
      found, "plugged back, the port opens and the module is found",
      back ? (fresh ? "discovery failed" : "open failed, error " + std::to_string(GetLastError()))
           : "no 'now on' in the transcript");
  if (fresh)
    closePort(fresh);
}

// ---------------------------------------------------------------- port B: 38400 8E2

struct Discovery {
  SerialPort* port;
  bool found;
};

DWORD WINAPI discoverInBackground(void* arg) {
  auto* d = static_cast<Discovery*>(arg);
  d->found = discoverSerialSettings(d->port, ResetPrompt{});
  return 0;
}

// As a user does: the reset key goes down while the break pulses run.
bool discoverWithResetKey(Report& report, const Rig& rig, SerialPort* port) {
  const uint32_t n = port->portNumber;
  const size_t from = transcriptEnd(rig, n);
  Discovery d{port, false};
  const DWORD t0 = GetTickCount();
  HANDLE worker = CreateThread(nullptr, 0, discoverInBackground, &d, 0, nullptr);
  if (worker == nullptr) {
    report.check(false, "discovery thread", "CreateThread failed");
    return false;
  }
  const size_t pulseRate = awaitTranscript(rig, n, from, "host settings 38400 8N1", 15000);
  const size_t pulse = pulseRate == std::string::npos
                           ? pulseRate
                           : awaitTranscript(rig, n, pulseRate, "break on", 5000);
  bool pressed = false;
  if (pulse != std::string::npos) {
    info("break pulses began %lu ms into the discovery", GetTickCount() - t0);
    Sleep(300);
    pressed = control(rig, "press " + portName(n));
  }
  const DWORD waited = WaitForSingleObject(worker, 40000);
  CloseHandle(worker);
  const DWORD took = GetTickCount() - t0;
  info("reset-key discovery took %lu ms", took);
  report.check(pressed, "the reset key is pressed during the break pulses",
               pulse == std::string::npos ? "no break pulse at 38400 seen" : "FIFO write failed");
  if (waited != WAIT_OBJECT_0) {
    report.check(false, "discovery ends", "still running after 40 s");
    return false;
  }
  report.check(d.found && sameFrame(port->serialSettings, 38400, os::kEvenParity, os::kTwoStopBits),
               "discovery with the reset key finds 38400 8E2",
               "found=" + std::to_string(d.found) + " at " + describe(port->serialSettings));
  const bool underBreak =
      awaitTranscript(rig, n, from, "reset key pressed (under break)", 1000) != std::string::npos;
  report.check(underBreak, "the key went down under break", "transcript says otherwise");
  const size_t dtrDown = awaitTranscript(rig, n, from, "dtr 0", 1000);
  const size_t dtrUp =
      dtrDown == std::string::npos ? dtrDown : awaitTranscript(rig, n, dtrDown, "dtr 1", 1000);
  report.check(dtrUp != std::string::npos, "discovery drops DTR and raises it again",
               "no dtr 0 then dtr 1 in the transcript");
  return d.found;
}

void talkAt38400(Report& report, SerialPort* port) {
  os::LineSettings readBack{};
  const bool got = os::getLineSettings(port->handle, readBack);
  report.check(got && sameFrame(readBack, 38400, os::kEvenParity, os::kTwoStopBits),
               "GetCommState reads back 38400 8E2", got ? describe(readBack) : "failed");
  int32_t r = enterCommandMode(port);
  report.check(r == 0, "enter command mode at 38400 8E2", result(r));
  uint32_t bd = 0;
  uint8_t nb = 0, sb = 0;
  const int32_t r1 = queryHex32(port, "ATBD\r", &bd);
  const int32_t r2 = queryHex8(port, "ATNB\r", &nb);
  const int32_t r3 = queryHex8(port, "ATSB\r", &sb);
  report.check(
      r1 == 0 && r2 == 0 && r3 == 0 && bd == 5 && nb == 1 && sb == 1, "ATBD/ATNB/ATSB read 5/1/1",
      "results " + std::to_string(r1) + "/" + std::to_string(r2) + "/" + std::to_string(r3) +
          " values " + std::to_string(bd) + "/" + std::to_string(nb) + "/" + std::to_string(sb));
  char name[kNodeIdReplySize] = {};
  uint32_t length = 0;
  r = queryNodeIdentifier(port, name, &length);
  report.check(r == 0 && std::strcmp(name, "KOV-NL001/S") == 0, "ATNI reads KOV-NL001/S",
               result(r) + " '" + name + "'");
  r = exitCommandMode(port);
  report.check(r == 0, "exit command mode at 38400 8E2", result(r));
}

// Parity alone wrong: the model must not understand the host.
void wrongParityIsNotUnderstood(Report& report, const Rig& rig, SerialPort* port) {
  const os::LineSettings right = port->serialSettings;
  port->serialSettings.parity = os::kNoParity;
  port->serialSettings.stopBits = os::kOneStopBit;
  const size_t from = transcriptEnd(rig, port->portNumber);
  int32_t r = os::setLineSettings(port->handle, port->serialSettings) ? enterCommandMode(port)
                                                                      : ErrArgument;
  report.check(r != 0, "at 38400 8N1 the 8E2 module does not answer", result(r));
  const bool garbled = awaitTranscript(rig, port->portNumber, from, "garbled at 38400 8E2", 1000) !=
                       std::string::npos;
  report.check(garbled, "the model saw the bytes garbled", "no garbled bytes in the transcript");
  port->serialSettings = right;
  r = os::setLineSettings(port->handle, right) ? enterCommandMode(port) : ErrArgument;
  report.check(r == 0, "back at 38400 8E2 it answers again", result(r));
  exitCommandMode(port);
}

// ---------------------------------------------------------------- main

bool parsePort(const wchar_t* text, uint32_t& n) {
  wchar_t* end = nullptr;
  const unsigned long v = std::wcstoul(text, &end, 10);
  if (end == text || *end != 0 || v < 1 || v > 255)
    return false;
  n = static_cast<uint32_t>(v);
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  uint32_t a = 0, b = 0;
  if (argc != 5 || !parsePort(argv[3], a) || !parsePort(argv[4], b) || a == b) {
    std::fprintf(stderr,
                 "usage: link_over_wine <control FIFO> <transcript dir> <port at 9600 8N1> "
                 "<port at 38400 8E2>\n");
    return 2;
  }
  const Rig rig{argv[1], argv[2]};
  Report report;
  HANDLE cancel = CreateEventW(nullptr, TRUE, FALSE, nullptr);

  SerialPort* portA = openPort(a, cancel);
  report.check(portA != nullptr, "open the 9600 port", "error " + std::to_string(GetLastError()));
  if (portA) {
    uint32_t status = 0;
    const bool modem = os::getModemStatus(portA->handle, status);
    report.check(
        modem && (status & os::kModemCtsOn) && (status & os::kModemDsrOn),
        "GetCommModemStatus shows CTS and DSR",
        modem ? "status " + std::to_string(status) : "error " + std::to_string(GetLastError()));
    talkAt9600(report, portA);
    portNoteIsKept(report, a);
    faultsReachTheModel(report, rig, portA);
    writeWaitsForCts(report, rig, portA);
    const int32_t r = exitCommandMode(portA);
    rawReadFollowsCts(report, rig, portA);
    report.check(r == 0, "exit command mode at 9600", result(r));
    modemLinesReachTheModel(report, rig, portA);
    unplugAndPlug(report, rig, portA);  // closes the port
  }

  SerialPort* portB = openPort(b, cancel);
  report.check(portB != nullptr, "open the 38400 8E2 port",
               "error " + std::to_string(GetLastError()));
  if (portB) {
    if (discoverWithResetKey(report, rig, portB)) {
      talkAt38400(report, portB);
      wrongParityIsNotUnderstood(report, rig, portB);
    }
    closePort(portB);
  }
  CloseHandle(cancel);
  std::printf("link over wine: %d passed, %d failed\n", report.passed, report.failed);
  return report.failed == 0 ? 0 : 1;
}
