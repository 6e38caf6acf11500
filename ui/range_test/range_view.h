// What the Range Test window shows, without a window: when the test is
// offered, the lines of its result as the window and the clipboard have
// them, and the chart's points. Built in both builds, so that native tests
// cover what the window draws.
#pragma once

#include <cstdint>
#include <string>

#include "module/module_record.h"
#include "module/range_test.h"

// Both here needs what the Link Test needs; the loopback only a master
// that has been read on its port (the far module is never read).
bool rangeTestOffered(const ModuleRecord* master, const ModuleRecord* slave, RangeWay way);

// Which pair a run measured and when, from the panes as it starts:
// "2026-12-09 14:05:09: Master 02004E4C40B0A001 "NODE/M", Slave
// 02004E4C40B0A002 "NODE/S", channel 20, 9600 8N1". The loopback's far
// module is never read; two channels are named when they differ.
std::wstring rangePairLine(const ModuleRecord* master, const ModuleRecord* slave, RangeWay way,
                           const os::LocalTime& started);
// "COM5 to COM6: sent 100, received 80, lost 20, corrupted 3, received 80.0 %",
// with late, duplicated and echoed lines when there were any.
std::wstring rangeDirectionLine(const RangeDirection& direction);
// "Round trip: min 106 ms, median 106.5 ms, max 109 ms"; empty without a loopback.
std::wstring rangeRoundTripLine(const RangeResult& result);
// Where the run stands or how it ended: "Running: 57 of 100 packets each way",
// "Done in 35.2 s.", "Stopped after 12.0 s.", or what went wrong.
std::wstring rangeStatusLine(const RangeResult& result, uint32_t count, bool running,
                             bool portLost);
// The whole result as one text for the clipboard: settings, the pair line
// (if any), directions, round trip, status; CR LF between lines.
std::wstring rangeResultText(const RangeResult& result, const RangeRun& run, bool portLost,
                             const std::wstring& pairLine = {});

// The chart: per direction, the received share of the last kRangeChartSpan
// packets, at each of the last kRangeChartPoints packets.
constexpr uint32_t kRangeChartSpan = 10;
constexpr uint32_t kRangeChartPoints = 100;

class RangeChartTrack {
 public:
  void clear();
  void add(bool received);
  // Points held, oldest first; at most kRangeChartPoints.
  uint32_t pointCount() const;
  // 0..100: received among the kRangeChartSpan packets up to point i (fewer at the start).
  double pointPercent(uint32_t i) const;

 private:
  // Packet fates in a ring, enough for the oldest point's span; total_ counts all.
  bool fates_[kRangeChartPoints + kRangeChartSpan] = {};
  uint32_t total_ = 0;
};
