#include "module/record_file.h"

#include <cstring>

#include "module/bounded_text.h"
#include "platform/os.h"

namespace {

constexpr size_t kBomLength = sizeof kRecordByteOrderMark - 1;
constexpr size_t kHeaderLimit = kPairRecordLineLimit;

struct OpenRecord {
  os::Handle file = nullptr;
  bool empty = false;
  bool endsMidLine = false;  // a torn or hand-edited last line
};

RecordOutcome failed(int32_t result, uint32_t error = 0) {
  return {result, error};
}

// Another version's header differs in its columns; one saved again
// without the byte-order mark is still ours.
bool startsWithOurHeader(const char* start, size_t got, const char* header, size_t length) {
  size_t at = 0;
  if (got >= kBomLength && std::memcmp(start, kRecordByteOrderMark, kBomLength) == 0)
    at = kBomLength;
  return got - at >= length && std::memcmp(start + at, header, length) == 0;
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
  char header[kHeaderLimit];
  const size_t length = formatPairRecordHeader(header, sizeof header);
  char start[kHeaderLimit + kBomLength];
  uint32_t got = 0;
  char last = '\n';
  uint32_t gotLast = 0;
  if (!os::fileSize(r.file, size, error) ||
      !os::readFileAt(r.file, 0, start, static_cast<uint32_t>(length + kBomLength), got, error) ||
      (size && !os::readFileAt(r.file, size - 1, &last, 1, gotLast, error))) {
    release(r);
    return failed(RecordCannotOpen, error);
  }
  r.empty = size == 0;
  r.endsMidLine = !r.empty && last != '\n';
  if (!r.empty && !startsWithOurHeader(start, got, header, length)) {
    release(r);
    return failed(RecordOtherHeader);
  }
  return {};
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
  char bytes[kBomLength + 2 * kPairRecordLineLimit + 2];
  size_t length = 0;
  OpenRecord r;
  if (RecordOutcome outcome = openLocked(path, r); outcome.result != 0)
    return outcome;
  if (r.empty) {
    std::memcpy(bytes, kRecordByteOrderMark, kBomLength);
    length = kBomLength;
    length += formatPairRecordHeader(bytes + length, kPairRecordLineLimit);
  } else if (r.endsMidLine) {
    bytes[length++] = '\r';
    bytes[length++] = '\n';
  }
  const size_t line =
      formatPairRecordLine(run, message, context, bytes + length, kPairRecordLineLimit);
  uint32_t error = 0;
  bool written = line > 0;
  if (written) {
    length += line;
    written = os::appendToFile(r.file, bytes, static_cast<uint32_t>(length), error) &&
              os::flushFile(r.file, error);
  }
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
      after =
          " was not made by this version of NLCONF (its columns differ): choose a new record file.";
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
