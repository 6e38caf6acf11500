// The record file of pair runs, appended to the same way by the dialog and
// the command line: locked for the header check and the line, one write,
// flushed. Another program appending at once waits for the lock.
#pragma once

#include <cstddef>
#include <cstdint>

#include "module/pair_record.h"

// Results beyond 0 (appended, or can be appended to).
constexpr int32_t RecordNotAFile = 784;     // a folder, device, FIFO or socket
constexpr int32_t RecordCannotOpen = 785;   // the system's error says why
constexpr int32_t RecordBusy = 786;         // another program held the lock too long
constexpr int32_t RecordOtherHeader = 787;  // not this version's record
constexpr int32_t RecordCannotWrite = 788;  // the system's error says why

// How long an append waits for another program's lock.
constexpr uint32_t kRecordLockLimitMs = 10000;

constexpr size_t kRecordColumnTextChars = 48;

struct RecordOutcome {
  int32_t result = 0;
  uint32_t systemError = 0;  // errno or Windows' code; 0 when none applies
  // RecordOtherHeader: the first column (from 1) of the file's header that
  // is not this version's, and the file's text there, cut for a message;
  // columnMissing when the file's header ends before that column.
  uint32_t column = 0;
  bool columnMissing = false;
  char columnText[kRecordColumnTextChars] = {};
};

// Before a run: can a line be appended to the file at path (UTF-8)? A file
// that does not exist is created, empty, so that whatever would keep it
// from being made (rights, a read-only medium) shows now, not after the
// modules are written; an empty record takes the header with its first line.
RecordOutcome checkRecordFile(const char* path);

// Appends the run's line; to an empty file, the byte-order mark, the header
// and the line in one write. Never to a file whose header is another's.
RecordOutcome appendPairRecord(const char* path, const PairRunResult& run, const wchar_t* message,
                               const PairRecordContext& context);

// What the user is told, naming the file and, where there is one, the
// system's reason: "Cannot append to the record C:\pairs.csv: Access is
// denied." Empty for 0. Its length.
size_t recordOutcomeText(const RecordOutcome& outcome, const char* path, wchar_t* out,
                         size_t capacity);
