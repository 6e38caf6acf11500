#include "link/line_log.h"

#include <atomic>
#include <cstdio>

#include "link/port_table.h"

namespace {

std::atomic<LineLogSink> sinkFunction{nullptr};
std::atomic<void*> sinkContext{nullptr};

// A long run of bytes without CR (noise) is cut into lines of this many, so
// that no line grows without bound.
constexpr uint32_t kBytesPerLine = 64;
// Stamp, port, marker, and every byte escaped as four characters.
constexpr uint32_t kLineChars = 40 + 4 * kBytesPerLine;
constexpr char kCr = '\r';

struct LineText {
  char text[kLineChars];
  uint32_t length = 0;
};

void put(LineText& line, const char* text) {
  while (*text && line.length + 1 < kLineChars)
    line.text[line.length++] = *text++;
}

void putByte(LineText& line, unsigned char byte) {
  if (line.length + 5 >= kLineChars)
    return;
  // '<' too, so that an escape in the log always stands for one byte.
  if (byte >= 0x20 && byte < 0x7F && byte != '<') {
    line.text[line.length++] = static_cast<char>(byte);
    return;
  }
  const char digits[] = "0123456789ABCDEF";
  line.text[line.length++] = '<';
  line.text[line.length++] = digits[byte >> 4];
  line.text[line.length++] = digits[byte & 0xF];
  line.text[line.length++] = '>';
}

// "12:03:04.120 COM5 "; an operation whose list named no port says so.
void startLine(LineText& line, uint32_t portNumber) {
  const uint32_t ms = os::timeOfDayMs();
  char head[40];
  const int n = std::snprintf(head, sizeof head, "%02u:%02u:%02u.%03u ", ms / 3600000u,
                              ms / 60000u % 60u, ms / 1000u % 60u, ms % 1000u);
  const size_t used = n > 0 ? static_cast<size_t>(n) : 0;
  if (portNumber)
    std::snprintf(head + used, sizeof head - used, "COM%u ", portNumber);
  else
    std::snprintf(head + used, sizeof head - used, "(no port) ");
  line.length = 0;
  put(line, head);
}

void emit(const LineText& line) {
  const LineLogSink sink = sinkFunction.load(std::memory_order_acquire);
  if (sink)
    sink(sinkContext.load(std::memory_order_relaxed), line.text, line.length);
}

uint32_t portNumberOf(const SerialPort* port) {
  return port ? port->portNumber : 0;
}

// One line per CR-ended piece (the CR itself not shown), and one for what
// follows the last CR; long pieces are cut.
void logBytes(const SerialPort* port, const char* marker, const char* bytes, uint32_t count) {
  uint32_t i = 0;
  while (i < count) {
    LineText line;
    startLine(line, portNumberOf(port));
    put(line, marker);
    uint32_t taken = 0;
    while (i < count && bytes[i] != kCr && taken < kBytesPerLine) {
      putByte(line, static_cast<unsigned char>(bytes[i++]));
      ++taken;
    }
    if (i < count && bytes[i] == kCr)
      ++i;
    emit(line);
  }
}

}  // namespace

void setLineLogSink(LineLogSink sink, void* context) {
  sinkContext.store(context, std::memory_order_relaxed);
  sinkFunction.store(sink, std::memory_order_release);
}

bool lineLogActive() {
  return sinkFunction.load(std::memory_order_acquire) != nullptr;
}

void logSent(const SerialPort* port, const char* bytes, uint32_t count) {
  if (lineLogActive() && bytes)
    logBytes(port, "> ", bytes, count);
}

void logReceived(const SerialPort* port, const char* bytes, uint32_t count) {
  if (lineLogActive() && bytes)
    logBytes(port, "< ", bytes, count);
}

void logLineSettings(const SerialPort* port) {
  if (!lineLogActive() || !port)
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
  startLine(line, port->portNumber);
  put(line, text);
  emit(line);
}

void logEvent(const SerialPort* port, const char* what) {
  if (!lineLogActive() || !what)
    return;
  LineText line;
  startLine(line, portNumberOf(port));
  put(line, what);
  emit(line);
}

void logNoReply(const SerialPort* port) {
  if (!lineLogActive() || !port)
    return;
  char text[48];
  std::snprintf(text, sizeof text, "no reply within %u ms", port->ioTimeoutMs);
  logEvent(port, text);
}

void logNote(uint32_t portNumber, const char* text) {
  if (!lineLogActive() || !text)
    return;
  LineText line;
  startLine(line, portNumber);
  for (; *text; ++text)
    putByte(line, static_cast<unsigned char>(*text));
  emit(line);
}

// ---- the bounded record ------------------------------------------------------

namespace {

uint64_t firstKept(const LineLogBuffer& b) {
  const uint64_t bound = b.next > kLineLogCapacity ? b.next - kLineLogCapacity : 0;
  return bound > b.clearedAt ? bound : b.clearedAt;
}

}  // namespace

void appendToLineLog(void* context, const char* line, uint32_t length) {
  auto* buffer = static_cast<LineLogBuffer*>(context);
  if (!buffer || !line)
    return;
  std::lock_guard guard(buffer->lock);
  // assign() reuses the slot's storage once the ring has gone round.
  buffer->lines[buffer->next % kLineLogCapacity].assign(line, length);
  ++buffer->next;
}

uint64_t copyLineLog(LineLogBuffer& buffer, uint64_t from, std::string& text, bool& restart) {
  std::lock_guard guard(buffer.lock);
  const uint64_t first = firstKept(buffer);
  restart = from < first || from > buffer.next;
  text.clear();
  if (restart) {
    from = first;
    if (const uint64_t dropped = first - buffer.clearedAt) {
      char note[48];
      std::snprintf(note, sizeof note, "(%llu older lines dropped)\r\n",
                    static_cast<unsigned long long>(dropped));
      text += note;
    }
  }
  for (uint64_t n = from; n < buffer.next; ++n) {
    text += buffer.lines[n % kLineLogCapacity];
    text += "\r\n";
  }
  return buffer.next;
}

void clearLineLog(LineLogBuffer& buffer) {
  std::lock_guard guard(buffer.lock);
  buffer.clearedAt = buffer.next;
}

uint64_t firstLineKept(LineLogBuffer& buffer) {
  std::lock_guard guard(buffer.lock);
  return firstKept(buffer);
}
