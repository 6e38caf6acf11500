// The record of pair runs: one CSV line per run (RFC 4180, UTF-8, CR LF),
// as spreadsheet programs read it, under a header line.
#pragma once

#include <cstddef>
#include <cstdint>

#include "module/pair_run.h"

struct LocalTime {
  uint16_t year = 0;
  uint8_t month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// A line always fits in this many bytes.
constexpr size_t kPairRecordLineLimit = 4096;

// The header line, CR LF included; its length.
size_t formatPairRecordHeader(char* out, size_t capacity);
// One run's line, CR LF included; its length, 0 when it does not fit.
// message: what the result window says of the failure (empty on a pass).
size_t formatPairRecordLine(const PairRunResult& run, const wchar_t* message, const LocalTime& when,
                            char* out, size_t capacity);
