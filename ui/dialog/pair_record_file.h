// The record of pairs on screen: Record To...'s pick of its file, the check
// before a run touches a module, the line each run appends, and what a
// failure to keep it says. What a line holds is portable
// (module/pair_record.h, module/record_file.h); the record's path is the
// session's (ui/session_status.h).
#pragma once

#include <cstdint>
#include <string>

#include "module/pair_run.h"
#include "module/record_file.h"

// A file picked becomes the record: remembered, and on the status line.
void pickRecordFile();
// Before any module is touched: a run whose line could not be kept is not
// worth its PASS. True, after saying why, when the record is not writable.
bool refuseUnwritableRecord();
// The run's line with its failure's message, appended to the record; the
// bench's ports as the run used them.
RecordOutcome appendRunToRecord(const PairRunResult& run, const std::wstring& message,
                                uint32_t benchMasterPort, uint32_t benchSlavePort);
void showRecordOutcome(const RecordOutcome& outcome);
