// The line log: one text line for each thing that goes over a port, such as
// "12:03:04.120 COM5 > ATGT", "COM5 < 2EE" or "COM5 break on". The link
// layer records where things happen, into the log of the port's session
// (SerialPort::lineLog, which the session gives the port it opens). Without
// a log, or a log without a sink, nothing is formatted and nothing is
// kept. The stamps carry the time of day only: a line "---- 2026-12-08 ----"
// goes before the first line a sink gets and before the first of each new day.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "link/port_table.h"

// Gets each finished line, without a line end, on the thread that used the
// port. It must return at once: the caller may be in the middle of a transfer.
using LineLogSink = void (*)(void* context, const char* line, uint32_t length);

// A face's log: its sink, and the names its ports go by where the face
// names them otherwise than "COM<n>" (the path a user typed). Each face has
// its own.
struct LineLog {
  std::atomic<LineLogSink> sink{nullptr};
  std::atomic<void*> context{nullptr};
  // The date of the last line the sink got, as yyyymmdd; 0 before the first.
  std::atomic<uint32_t> dateLogged{0};
  std::mutex namesLock;
  std::string names[kPortTableSize];
};

// Set before any port is used, or with no transfer running; the next line
// the sink gets is led by its date.
void setLineLogSink(LineLog* log, LineLogSink sink, void* context);
bool lineLogActive(const LineLog* log);
bool lineLogActive(const SerialPort* port);
// Set before the port is used, so that a line is made whole with it. Null
// or empty: "COM<n>" again.
void setLineLogPortName(LineLog* log, uint32_t portNumber, const char* name);

// Bytes handed to the driver; a CR ends a line and is not shown.
void logSent(const SerialPort* port, const char* bytes, uint32_t count);
// Bytes a read took from the line; each CR ends a line, and so does the end.
void logReceived(const SerialPort* port, const char* bytes, uint32_t count);
// "COM5 = 9600 8-N-1": the settings the port now runs at.
void logLineSettings(const SerialPort* port);
// A plain event: "break on", "reset key asked", "cancelled".
void logEvent(const SerialPort* port, const char* what);
// A read that the port's time-out ended: "no reply within 1200 ms".
void logNoReply(const SerialPort* port);
// Text for the user (an operation's start or result), escaped like bytes.
void logNote(LineLog* log, uint32_t portNumber, const char* text);

// Bytes as the log shows them: printable ASCII as it is, any other byte
// (and '<') as "<0D>", so that nothing a module sends reaches a screen raw.
std::string escapedBytes(const char* bytes, uint32_t count);
// "12:03:04.120", the log's stamp for a time of day.
std::string timeOfDayText(uint32_t msOfDay);

// ---- the bounded record ------------------------------------------------------
constexpr uint32_t kLineLogCapacity = 5000;

// The last kLineLogCapacity lines. Lines are numbered from 0 as they come;
// a clear only moves the first number kept.
struct LineLogBuffer {
  std::mutex lock;
  std::string lines[kLineLogCapacity];
  uint64_t next = 0;       // the number the next line gets
  uint64_t clearedAt = 0;  // lines below this were cleared by the user
  std::string dateGone;    // the newest date line among those dropped or cleared
};

// The sink for a LineLogBuffer given as context.
void appendToLineLog(void* buffer, const char* line, uint32_t length);
// The record as a reader gets it, each line ended by CR LF: a line that
// counts the dropped lines, if any, and the date of the first line kept
// when the date line that gave it is gone, above the lines kept.
std::string lineLogText(LineLogBuffer& buffer);
void clearLineLog(LineLogBuffer& buffer);

// A view of the record (a window's text): the lines [from, upTo) below
// topLines lines of lineLogText's heading.
struct LineLogView {
  uint64_t from = 0;
  uint64_t upTo = 0;
  uint32_t topLines = 0;
};
// How a view's text catches up: all of it replaced by `more` (restart); or
// its first `linesToReplace` lines replaced by `top` (the record dropped
// lines the view shows) and `more` appended. Either way the view's text is
// then lineLogText's, and never longer.
struct LineLogUpdate {
  bool restart = false;
  uint32_t linesToReplace = 0;
  std::string top;
  std::string more;
};
// False when the view is up to date; otherwise fills `update` and moves `view`.
bool updateLineLogView(LineLogBuffer& buffer, LineLogView& view, LineLogUpdate& update);
