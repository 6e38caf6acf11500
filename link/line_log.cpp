#include "link/line_log.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "link/hex.h"
#include "link/port_table.h"

namespace {

constexpr char kDateLineStart[] = "---- ";

// A long run of bytes without CR (noise) is cut into lines of this many, so
// that no line grows without bound.
constexpr uint32_t kBytesPerLine = 64;
// A port's name as the face gave it; longer ones are cut.
constexpr uint32_t kPortNameChars = 256;
// Stamp, port (each byte of its name escaped, at worst), marker, and every
// byte escaped as four characters.
constexpr uint32_t kLineChars = 40 + 4 * kPortNameChars + 4 * kBytesPerLine;

constexpr char kLineEnd = '\r';

struct LineText {
  char text[kLineChars];
  uint32_t length = 0;
};

void put(LineText& line, const char* text) {
  while (*text && line.length + 1 < kLineChars)
    line.text[line.length++] = *text++;
}

// Into out (room for 4); the count of characters.
uint32_t escapeByte(unsigned char byte, char* out) {
  // '<' too, so that an escape in the log always stands for one byte.
  if (byte >= 0x20 && byte < 0x7F && byte != '<') {
    out[0] = static_cast<char>(byte);
    return 1;
  }
  out[0] = '<';
  formatHex(byte, 2, out + 1);
  out[3] = '>';
  return 4;
}

void putByte(LineText& line, unsigned char byte) {
  if (line.length + 5 >= kLineChars)
    return;
  line.length += escapeByte(byte, line.text + line.length);
}

void emit(LineLog* log, const LineText& line);

// Before the first line of a day, so that a log kept across midnight or
// for a report says when it was made.
void logDateIfNew(LineLog* log, const os::LocalTime& now) {
  const uint32_t date = now.year * 10000u + now.month * 100u + now.day;
  if (log->dateLogged.exchange(date) == date)
    return;
  LineText line;
  const int n = std::snprintf(line.text, sizeof line.text, "%s%04u-%02u-%02u ----", kDateLineStart,
                              unsigned{now.year}, unsigned{now.month}, unsigned{now.day});
  line.length = n > 0 ? static_cast<uint32_t>(n) : 0;
  emit(log, line);
}

// "12:03:04.120 COM5 ", or the port's name as the face gave it (escaped as
// bytes are: it comes from a user); a line that names no port says so.
void startLine(LineLog* log, LineText& line, uint32_t portNumber) {
  const os::LocalTime now = os::localTime();
  logDateIfNew(log, now);
  char head[40];
  line.length = 0;
  put(line, timeOfDayText(now.msOfDay).c_str());
  put(line, " ");
  if (!portNumber) {
    put(line, "(no port) ");
    return;
  }
  std::lock_guard guard(log->namesLock);
  const std::string* name = portNumber < kPortTableSize ? &log->names[portNumber] : nullptr;
  if (!name || name->empty()) {
    std::snprintf(head, sizeof head, "COM%u ", portNumber);
    put(line, head);
    return;
  }
  for (char c : *name)
    putByte(line, static_cast<unsigned char>(c));
  put(line, " ");
}

void emit(LineLog* log, const LineText& line) {
  const LineLogSink sink = log->sink.load(std::memory_order_acquire);
  if (sink)
    sink(log->context.load(std::memory_order_relaxed), line.text, line.length);
}

// One line per CR-ended piece (the CR itself not shown), and one for what
// follows the last CR; long pieces are cut.
void logBytes(const SerialPort* port, const char* marker, const char* bytes, uint32_t count) {
  uint32_t i = 0;
  while (i < count) {
    LineText line;
    startLine(port->lineLog, line, port->portNumber);
    put(line, marker);
    uint32_t taken = 0;
    while (i < count && bytes[i] != kLineEnd && taken < kBytesPerLine) {
      putByte(line, static_cast<unsigned char>(bytes[i++]));
      ++taken;
    }
    if (i < count && bytes[i] == kLineEnd)
      ++i;
    emit(port->lineLog, line);
  }
}

}  // namespace

void setLineLogSink(LineLog* log, LineLogSink sink, void* context) {
  log->dateLogged.store(0);
  log->context.store(context, std::memory_order_relaxed);
  log->sink.store(sink, std::memory_order_release);
}

bool lineLogActive(const LineLog* log) {
  return log && log->sink.load(std::memory_order_acquire) != nullptr;
}

bool lineLogActive(const SerialPort* port) {
  return port && lineLogActive(port->lineLog);
}

void setLineLogPortName(LineLog* log, uint32_t portNumber, const char* name) {
  if (!log || portNumber == 0 || portNumber >= kPortTableSize)
    return;
  std::lock_guard guard(log->namesLock);
  log->names[portNumber].assign(name ? name : "", name ? strnlen(name, kPortNameChars) : 0);
}

void logSent(const SerialPort* port, const char* bytes, uint32_t count) {
  if (lineLogActive(port) && bytes)
    logBytes(port, "> ", bytes, count);
}

void logReceived(const SerialPort* port, const char* bytes, uint32_t count) {
  if (lineLogActive(port) && bytes)
    logBytes(port, "< ", bytes, count);
}

void logLineSettings(const SerialPort* port) {
  if (!lineLogActive(port))
    return;
  const os::LineSettings& s = port->serialSettings;
  const char parity[] = "NOEMS";
  const char* stop = s.stopBits == os::kTwoStopBits    ? "2"
                     : s.stopBits == os::kOne5StopBits ? "1.5"
                                                       : "1";
  char text[48];
  std::snprintf(text, sizeof text, "= %u %u-%c-%s", s.baudRate, unsigned{s.byteSize},
                s.parity < 5 ? parity[s.parity] : '?', stop);
  LineText line;
  startLine(port->lineLog, line, port->portNumber);
  put(line, text);
  emit(port->lineLog, line);
}

void logEvent(const SerialPort* port, const char* what) {
  if (!lineLogActive(port) || !what)
    return;
  LineText line;
  startLine(port->lineLog, line, port->portNumber);
  put(line, what);
  emit(port->lineLog, line);
}

void logNoReply(const SerialPort* port) {
  if (!lineLogActive(port))
    return;
  char text[48];
  std::snprintf(text, sizeof text, "no reply within %u ms", port->ioTimeoutMs);
  logEvent(port, text);
}

void logNote(LineLog* log, uint32_t portNumber, const char* text) {
  if (!lineLogActive(log) || !text)
    return;
  LineText line;
  startLine(log, line, portNumber);
  for (; *text; ++text)
    putByte(line, static_cast<unsigned char>(*text));
  emit(log, line);
}

std::string escapedBytes(const char* bytes, uint32_t count) {
  std::string text;
  text.reserve(count);
  char escaped[4];
  for (uint32_t i = 0; i < count; ++i)
    text.append(escaped, escapeByte(static_cast<unsigned char>(bytes[i]), escaped));
  return text;
}

std::string timeOfDayText(uint32_t ms) {
  char text[24];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u.%03u", ms / 3600000u % 100u, ms / 60000u % 60u,
                ms / 1000u % 60u, ms % 1000u);
  return text;
}

// ---- the bounded record ------------------------------------------------------

namespace {

uint64_t firstKept(const LineLogBuffer& b) {
  const uint64_t bound = b.next > kLineLogCapacity ? b.next - kLineLogCapacity : 0;
  return bound > b.clearedAt ? bound : b.clearedAt;
}

bool isDateLine(const std::string& line) {
  return line.rfind(kDateLineStart, 0) == 0;
}

const std::string& lineAt(const LineLogBuffer& b, uint64_t n) {
  return b.lines[n % kLineLogCapacity];
}

// What stands above the first line kept: how many were dropped, and the
// date, unless that line gives it itself.
std::string heading(const LineLogBuffer& b, uint32_t& lineCount) {
  const uint64_t first = firstKept(b);
  std::string top;
  lineCount = 0;
  if (const uint64_t dropped = first - b.clearedAt) {
    char note[48];
    std::snprintf(note, sizeof note, "(%llu older lines dropped)\r\n",
                  static_cast<unsigned long long>(dropped));
    top += note;
    ++lineCount;
  }
  if (first < b.next && !isDateLine(lineAt(b, first)) && !b.dateGone.empty()) {
    top += b.dateGone + "\r\n";
    ++lineCount;
  }
  return top;
}

void appendLines(const LineLogBuffer& b, uint64_t from, std::string& text) {
  for (uint64_t n = from; n < b.next; ++n) {
    text += lineAt(b, n);
    text += "\r\n";
  }
}

}  // namespace

void appendToLineLog(void* context, const char* line, uint32_t length) {
  auto* buffer = static_cast<LineLogBuffer*>(context);
  if (!buffer || !line)
    return;
  std::lock_guard guard(buffer->lock);
  std::string& slot = buffer->lines[buffer->next % kLineLogCapacity];
  // A cleared line's date was taken at the clear, and is older.
  if (buffer->next >= kLineLogCapacity && buffer->next - kLineLogCapacity >= buffer->clearedAt &&
      isDateLine(slot))
    buffer->dateGone.swap(slot);
  // assign() reuses the slot's storage once the ring has gone round.
  slot.assign(line, length);
  ++buffer->next;
}

std::string lineLogText(LineLogBuffer& buffer) {
  std::lock_guard guard(buffer.lock);
  uint32_t topLines = 0;
  std::string text = heading(buffer, topLines);
  appendLines(buffer, firstKept(buffer), text);
  return text;
}

void clearLineLog(LineLogBuffer& buffer) {
  std::lock_guard guard(buffer.lock);
  for (uint64_t n = buffer.next; n > firstKept(buffer); --n) {
    if (isDateLine(lineAt(buffer, n - 1))) {
      buffer.dateGone = lineAt(buffer, n - 1);
      break;
    }
  }
  buffer.clearedAt = buffer.next;
}

bool updateLineLogView(LineLogBuffer& buffer, LineLogView& view, LineLogUpdate& update) {
  std::lock_guard guard(buffer.lock);
  const uint64_t first = firstKept(buffer);
  update = LineLogUpdate{};
  // Lines it shows were cleared, or lines it lacks are gone; an empty view
  // starts with its heading.
  const bool stale = view.from < buffer.clearedAt || view.upTo < first || view.upTo > buffer.next;
  if (!stale && view.upTo == buffer.next && view.from >= first)
    return false;
  if (stale || view.from == view.upTo) {
    update.restart = true;
    update.more = heading(buffer, view.topLines);
    view.from = first;
  } else if (view.from < first) {
    update.linesToReplace = view.topLines + static_cast<uint32_t>(first - view.from);
    update.top = heading(buffer, view.topLines);
    view.from = first;
  }
  appendLines(buffer, update.restart ? first : view.upTo, update.more);
  view.upTo = buffer.next;
  return true;
}
