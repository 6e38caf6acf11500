#include "module/record_file.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "module/bounded_text.h"
#include "platform/os.h"

namespace {

constexpr size_t kBomLength = sizeof kRecordByteOrderMark - 1;
// Read of the file's start beyond this version's header: enough to tell a
// longer header from ours.
constexpr size_t kHeaderSlack = 256;

struct OpenRecord {
  os::Handle file = nullptr;
  bool empty = false;
  bool endsMidLine = false;   // a torn or hand-edited last line
  bool lineFeedOnly = false;  // its header ends with LF, as an editor or sed left it
};

RecordOutcome failed(int32_t result, uint32_t error = 0) {
  RecordOutcome outcome;
  outcome.result = result;
  outcome.systemError = error;
  return outcome;
}

struct TextSpan {
  const char* p;
  size_t n;
};

// The next column of a header line at `at`, moved past its comma. The
// header's names hold neither commas nor quotes.
TextSpan nextColumn(TextSpan line, size_t& at) {
  const size_t start = at;
  while (at < line.n && line.p[at] != ',')
    ++at;
  const TextSpan column{line.p + start, at - start};
  ++at;
  return column;
}

// The text for the message: cut at a whole UTF-8 sequence, nothing that
// would break a message box's line.
void keepColumnText(TextSpan column, RecordOutcome& outcome) {
  constexpr size_t kRoom = kRecordColumnTextChars - 4;
  size_t n = column.n;
  if (n > kRoom) {
    n = kRoom;
    while (n && (static_cast<uint8_t>(column.p[n]) & 0xC0) == 0x80)
      --n;
  }
  for (size_t i = 0; i < n; ++i) {
    const char c = column.p[i];
    outcome.columnText[i] = static_cast<uint8_t>(c) < 0x20 ? '?' : c;
  }
  std::memcpy(outcome.columnText + n, n < column.n ? "..." : "", n < column.n ? 4 : 1);
}

// Compares the file's first line, without its byte-order mark and line end,
// with this version's header, column by column.
RecordOutcome compareHeader(TextSpan first, const std::string& ours) {
  const TextSpan mine{ours.data(), ours.size() - 2};
  RecordOutcome outcome;
  size_t at = 0, mineAt = 0;
  for (uint32_t column = 1; mineAt <= mine.n || at <= first.n; ++column) {
    const bool theirsLeft = at <= first.n, mineLeft = mineAt <= mine.n;
    const TextSpan theirs = theirsLeft ? nextColumn(first, at) : TextSpan{"", 0};
    const TextSpan expected = mineLeft ? nextColumn(mine, mineAt) : TextSpan{"", 0};
    if (theirsLeft && mineLeft && theirs.n == expected.n &&
        std::memcmp(theirs.p, expected.p, theirs.n) == 0)
      continue;
    outcome.result = RecordOtherHeader;
    outcome.column = column;
    outcome.columnMissing = !theirsLeft;
    keepColumnText(theirs, outcome);
    return outcome;
  }
  return outcome;
}

RecordOutcome checkHeader(const char* start, size_t got, OpenRecord& r) {
  size_t at = got >= kBomLength && std::memcmp(start, kRecordByteOrderMark, kBomLength) == 0
                  ? kBomLength
                  : 0;
  size_t end = at;
  while (end < got && start[end] != '\n')
    ++end;
  size_t stop = end;
  if (stop > at && start[stop - 1] == '\r')
    --stop;
  r.lineFeedOnly = end < got && stop == end;
  return compareHeader(TextSpan{start + at, stop - at}, formatPairRecordHeader());
}

void release(OpenRecord& r) {
  os::unlockFile(r.file);
  os::closeFile(r.file);
}

// Opens, locks and reads the start and the last byte; on 0, r holds the
// locked file.
RecordOutcome openLocked(const char* path, OpenRecord& r) {
  uint32_t error = 0;
  // Refused before opening, so that nothing waits on a FIFO or wakes a
  // device, and again after it, in case the path changed in between.
  const os::FileKind before = os::pathKind(path, error);
  if (before != os::FileKind::Regular && before != os::FileKind::Missing)
    return failed(RecordNotAFile);
  r.file = os::openFileToAppend(path, true, error);
  if (!r.file)
    return failed(RecordCannotOpen, error);
  if (os::fileKind(r.file) != os::FileKind::Regular) {
    os::closeFile(r.file);
    return failed(RecordNotAFile);
  }
  const os::LockResult lock = os::lockFile(r.file, kRecordLockLimitMs, error);
  if (lock != os::LockResult::Locked) {
    os::closeFile(r.file);
    return failed(lock == os::LockResult::Busy ? RecordBusy : RecordCannotOpen, error);
  }
  uint64_t size = 0;
  std::string start(kBomLength + formatPairRecordHeader().size() + kHeaderSlack, '\0');
  uint32_t got = 0;
  char last = '\n';
  uint32_t gotLast = 0;
  if (!os::fileSize(r.file, size, error) ||
      !os::readFileAt(r.file, 0, start.data(), static_cast<uint32_t>(start.size()), got, error) ||
      (size && !os::readFileAt(r.file, size - 1, &last, 1, gotLast, error))) {
    release(r);
    return failed(RecordCannotOpen, error);
  }
  r.empty = size == 0;
  r.endsMidLine = !r.empty && last != '\n';
  if (r.empty)
    return {};
  const RecordOutcome header = checkHeader(start.data(), got, r);
  if (header.result != 0)
    release(r);
  return header;
}

// Our header's column `column` (from 1); "" beyond its last.
std::string ourColumn(uint32_t column) {
  const std::string header = formatPairRecordHeader();
  const TextSpan line{header.data(), header.size() - 2};
  size_t at = 0;
  for (uint32_t i = 1; at <= line.n; ++i) {
    const TextSpan found = nextColumn(line, at);
    if (i == column)
      return std::string(found.p, found.n);
  }
  return {};
}

// Where the file's header departs from ours, so that the user can tell a
// file from another program, or an edited header, from one of ours.
void addHeaderDifference(BoundedText& t, const RecordOutcome& outcome) {
  const std::string expected = ourColumn(outcome.column);
  char number[12];
  std::snprintf(number, sizeof number, "%u", outcome.column);
  if (outcome.column == 0) {
    addBytes(t,
             " was not made by this version of NLCONF (its columns differ): choose a new "
             "record file.");
  } else if (outcome.columnMissing) {
    addBytes(t, " was not made by this version of NLCONF: its columns end before \"");
    addBytes(t, expected.c_str());
    addBytes(t, "\" (column ");
    addBytes(t, number);
    addBytes(t, "); choose a new record file.");
  } else {
    addBytes(t, " was not made by this version of NLCONF: its column ");
    addBytes(t, number);
    addBytes(t, " is \"");
    addBytes(t, outcome.columnText);
    if (expected.empty()) {
      addBytes(t, "\", after the last of this version's columns; choose a new record file.");
    } else {
      addBytes(t, "\", not \"");
      addBytes(t, expected.c_str());
      addBytes(t, "\"; choose a new record file.");
    }
  }
}

}  // namespace

RecordOutcome checkRecordFile(const char* path) {
  OpenRecord r;
  const RecordOutcome outcome = openLocked(path, r);
  if (outcome.result == 0)
    release(r);
  return outcome;
}

RecordOutcome appendPairRecord(const char* path, const PairRunResult& run, const wchar_t* message,
                               const PairRecordContext& context) {
  OpenRecord r;
  if (RecordOutcome outcome = openLocked(path, r); outcome.result != 0)
    return outcome;
  std::string bytes;
  if (r.empty)
    bytes = kRecordByteOrderMark + formatPairRecordHeader();
  // Lines end as the file's header does: an editor or sed may have made them LF.
  if (r.endsMidLine && !r.lineFeedOnly)
    bytes.push_back('\r');
  if (r.endsMidLine)
    bytes.push_back('\n');
  bytes += formatPairRecordLine(run, message, context);
  if (r.lineFeedOnly)
    bytes.erase(bytes.size() - 2, 1);
  uint32_t error = 0;
  const bool written =
      bytes.size() <= UINT32_MAX &&
      os::appendToFile(r.file, bytes.data(), static_cast<uint32_t>(bytes.size()), error) &&
      os::flushFile(r.file, error);
  release(r);
  return written ? RecordOutcome{} : failed(RecordCannotWrite, error);
}

size_t recordOutcomeText(const RecordOutcome& outcome, const char* path, wchar_t* out,
                         size_t capacity) {
  if (!capacity)
    return 0;
  char text[1024];
  BoundedText t{text, sizeof text - 1, 0, true};
  const char* before = "";
  const char* after = "";
  switch (outcome.result) {
    case 0:
      break;
    case RecordNotAFile:
      before = "The record ";
      after = " is no file: choose a file to record the runs in.";
      break;
    case RecordBusy:
      before = "The record ";
      after = " is held by another program.";
      break;
    case RecordOtherHeader:
      before = "The record ";
      break;
    case RecordCannotWrite:
      before = "Cannot append to the record ";
      break;
    default:
      before = "Cannot open the record ";
      break;
  }
  if (outcome.result != 0) {
    addBytes(t, before);
    addBytes(t, path ? path : "");
    addBytes(t, after);
    if (outcome.result == RecordOtherHeader)
      addHeaderDifference(t, outcome);
    char reason[512];
    const bool withReason =
        outcome.result == RecordCannotOpen || outcome.result == RecordCannotWrite;
    if (withReason && os::systemErrorText(outcome.systemError, reason, sizeof reason)) {
      addBytes(t, ": ");
      addBytes(t, reason);
    }
    if (withReason)
      addByte(t, '.');
  }
  text[t.length] = 0;
  // The text is UTF-8 from here on (the path, the system's words); wide
  // for the dialog, which the command line narrows again.
  size_t n = 0;
  for (const char* p = text; *p && n + 2 < capacity;) {
    uint32_t units[2];
    const size_t count = putWideUnits(units, takeUtf8(p), sizeof(wchar_t) == 2);
    for (size_t i = 0; i < count; ++i)
      out[n++] = static_cast<wchar_t>(units[i]);
  }
  out[n] = 0;
  return n;
}
