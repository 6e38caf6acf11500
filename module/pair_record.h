// The record of pair runs: one CSV line per run (RFC 4180, UTF-8, CR LF),
// as spreadsheet programs read it, under a header line. A record whose
// lines an editor ended with LF goes on with LF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "module/pair_run.h"
#include "platform/os.h"

struct LocalTime {
  uint16_t year = 0;
  uint8_t month = 0, day = 0, hour = 0, minute = 0, second = 0;
  int16_t utcOffsetMinutes = 0;  // local time minus UTC: +540 in Tokyo
};

// The seam's clock reading as the record states it.
LocalTime recordTime(const os::LocalTime& now);

// Who made a line, with what, where; texts in UTF-8, "" where unknown.
struct PairRecordContext {
  const char* version = "";
  const char* profilePath = "";    // whole; "" with no profile
  const char* profileSha256 = "";  // of the bytes loaded; "" with no profile
  const char* station = "";        // computer name
  const char* operatorName = "";   // user name
  // The ports picked for the master and the slave ("COM5", "/dev/ttyUSB0");
  // a swapped run's line names them the other way round, as used. Empty:
  // "COM" and the number the module was found on.
  const char* masterPort = "";
  const char* slavePort = "";
  LocalTime when;
};

// What a new record starts with: UTF-8's byte-order mark, so that a
// spreadsheet reads the text as UTF-8.
constexpr char kRecordByteOrderMark[] = "\xEF\xBB\xBF";

// The header line, CR LF included, without the byte-order mark.
std::string formatPairRecordHeader();
// One run's line, CR LF included, every text in it whole (a Windows path
// of 32767 units too): no limit cuts a field.
// message: what the result window says of the failure (empty on a pass).
// Hexadecimal values carry "0x", so that a spreadsheet keeps them as text,
// whole, and a reader of the CSV still parses them as hexadecimal.
std::string formatPairRecordLine(const PairRunResult& run, const wchar_t* message,
                                 const PairRecordContext& context);
