// nlconf-cli range-test: the range test's counts as text or JSON, and an
// exit code that says whether every direction received enough.
#include "cli/range_test_command.h"

#include <cstdio>
#include <string>
#include <utility>

#include "cli/cli.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "cli/session.h"
#include "link/at_command.h"
#include "link/errors.h"
#include "link/port_table.h"
#include "module/range_test.h"
#include "module/read.h"
#include "module/received_share.h"

namespace cli {

namespace {

std::string nameOf(uint32_t portNumber) {
  return portNameOf(static_cast<int32_t>(portNumber));
}

std::string percentText(const RangeDirection& d) {
  char text[kShareTextChars];
  return std::string(text, receivedShareText(d, text));
}

std::string msText(double ms) {
  char text[24];
  std::snprintf(text, sizeof text, "%.10g", ms);
  return text;
}

void printCounts(const RangeResult& r) {
  for (uint32_t i = 0; i < r.directionCount; ++i) {
    const RangeDirection& d = r.directions[i];
    std::string line = nameOf(d.fromPort) + " -> " + nameOf(d.toPort) + ": sent " +
                       std::to_string(d.sent) + ", received " + std::to_string(d.received) +
                       ", lost " + std::to_string(d.lost) + ", corrupted " +
                       std::to_string(d.corrupted) + ", received " + percentText(d) + " %";
    if (d.late)
      line +=
          ", late " + std::to_string(d.late) + " (longest " + std::to_string(d.lateMaxMs) + " ms)";
    if (d.duplicated)
      line += ", duplicated " + std::to_string(d.duplicated);
    if (d.echoed)
      line += ", echoed " + std::to_string(d.echoed) + ": " + kRangeEchoNote;
    std::printf("%s\n", line.c_str());
  }
  if (r.way == RangeWay::FarLoopback) {
    if (r.hasRoundTrip)
      std::printf("Round trip: min %u ms, median %s ms, max %u ms\n", r.roundTripMinMs,
                  msText(r.roundTripMedianMs).c_str(), r.roundTripMaxMs);
    else
      std::printf("Round trip: none came back\n");
  }
}

std::string resultJson(const Options& o, const RangeResult& r) {
  const Module& master = masterModule();
  const Module& slave = slaveModule();
  std::string out = "{";
  // Not read: only the line settings were found.
  addJson(out, "master",
          moduleJson(o.ports[0], true, moduleOf(master.record, master.session.portNumber, false)));
  addJson(out, "slave",
          o.ports.size() < 2 ? "null"
                             : moduleJson(o.ports[1], false,
                                          moduleOf(slave.record, slave.session.portNumber, false)));
  addJson(out, "mode", r.way == RangeWay::BothHere ? "\"both\"" : "\"loopback\"");
  addJson(out, "directions", rangeDirectionsJson(r));
  std::string roundTrip = "null";
  if (r.hasRoundTrip)
    roundTrip = "{\"min\": " + std::to_string(r.roundTripMinMs) +
                ", \"median\": " + msText(r.roundTripMedianMs) +
                ", \"max\": " + std::to_string(r.roundTripMaxMs) + "}";
  addJson(out, "round_trip_ms", roundTrip);
  addJson(out, "far_module_echoes", jsonBool(rangeFarModuleEchoes(r)));
  addJson(out, "min_received", minimumText(o.minReceived));
  // No verdict for a test that did not end.
  addJson(out, "passed", r.code == 0 ? jsonBool(sharesMeet(r, o.minReceived)) : "null");
  addJson(out, "duration_ms", std::to_string(r.durationMs));
  return out + "}";
}

}  // namespace

std::string rangeDirectionsJson(const RangeResult& r) {
  std::string array = "[";
  for (uint32_t i = 0; i < r.directionCount; ++i) {
    const RangeDirection& d = r.directions[i];
    std::string item = "{";
    addJson(item, "from", jsonString(nameOf(d.fromPort)));
    addJson(item, "to", jsonString(nameOf(d.toPort)));
    const std::pair<const char*, uint32_t> counts[] = {
        {"sent", d.sent},     {"received", d.received},
        {"lost", d.lost},     {"corrupted", d.corrupted},
        {"late", d.late},     {"duplicated", d.duplicated},
        {"echoed", d.echoed}, {"late_max_ms", d.lateMaxMs}};
    for (const auto& [key, count] : counts)
      addJson(item, key, std::to_string(count));
    addJson(item, "received_percent", percentText(d));
    addJsonItem(array, item + "}");
  }
  return array + "]";
}

std::string minimumText(uint32_t minimum) {
  std::string text = std::to_string(minimum / kShareMinimumPerPercent);
  uint32_t rest = minimum % kShareMinimumPerPercent;
  if (rest == 0)
    return text;
  text += '.';
  for (uint32_t unit = kShareMinimumPerPercent / 10; rest; unit /= 10) {
    text += static_cast<char>('0' + rest / unit);
    rest %= unit;
  }
  return text;
}

std::string rangeVerdictLine(bool passed, uint32_t minimum) {
  return passed ? "Range test passed: each direction received at least " + minimumText(minimum) +
                      " %.\n"
                : "Range test failed: a direction received less than " + minimumText(minimum) +
                      " %.\n";
}

int32_t findLineSettings(Module& m) {
  Session& s = m.session;
  progress("Finding the line settings of " + portNameOf(static_cast<int32_t>(s.portNumber)) +
           "...");
  int32_t result = openSessionPort(s);
  if (result == 0)
    result = findModuleSettings(s);
  // The quick "+++" leaves the module in command mode, where it passes no data.
  if (s.port) {
    const int32_t left = exitCommandMode(s.port);
    if (result == 0)
      result = left;
  }
  if (result != 0)
    closeSessionPort(m.session);
  logEnd(m, "Line settings", result);
  return noteOutcome(s, "Line settings", result);
}

void closeModulePorts() {
  closeSessionPort(masterModule().session);
  closeSessionPort(slaveModule().session);
}

namespace {

int rangeTestCommand(const Options& o) {
  const bool both = o.ports.size() == 2;
  Module& master = masterModule();
  Module& slave = slaveModule();
  int refused = prepareModule(master, o.ports[0], true, lineSearchOf(o));
  if (!refused && both)
    refused = prepareModule(slave, o.ports[1], true, lineSearchOf(o));
  if (refused) {
    releaseModule(master);
    releaseModule(slave);
    return refused;
  }
  Module* failed = &master;
  int32_t found = findLineSettings(master);
  if (found == 0 && both) {
    failed = &slave;
    found = findLineSettings(slave);
  }
  if (found != 0) {
    closeModulePorts();
    const int code = failWith(found, *failed);
    releaseModule(master);
    releaseModule(slave);
    return code;
  }
  progress("Range test: " + std::to_string(o.count) + " packets of " + std::to_string(o.size) +
           (both ? " bytes each way..." : " bytes over the loopback..."));
  const RangeRun run{both ? RangeWay::BothHere : RangeWay::FarLoopback, o.count, o.size};
  RangeResult result;
  runRangeTest(run, master.session, both ? &slave.session : nullptr, &result);
  closeModulePorts();  // also where it refused to start
  int code = ExitDone;
  const bool measured = result.code == 0 || result.code == ResultCancelled || anyCancelled();
  if (o.json)
    keepJsonResult(resultJson(o, result));
  if (!measured) {
    const bool slaveFailed = both && result.failedPort == slave.session.portNumber;
    code = failWith(result.code, slaveFailed ? slave : master);
  } else {
    if (!o.json)
      printCounts(result);
    if (result.code != 0) {
      code = failWith(ResultCancelled, master);
    } else if (!sharesMeet(result, o.minReceived)) {
      code = ExitLinkOrCheck;
      noteFailure("A direction received less than " + minimumText(o.minReceived) + " %.");
      if (!o.json)
        printText(rangeVerdictLine(false, o.minReceived));
    }
  }
  releaseModule(master);
  releaseModule(slave);
  return code;
}

constexpr OptionSpec kRangeTestOptions[] = {
    kJsonOption,
    numberOption("count", &Options::count, "N", "packets each way", 1, 1000000, "packets"),
    numberOption("size", &Options::size, "BYTES", "bytes a packet", kRangeMinSize, kRangeMaxSize,
                 "bytes"),
    shareOption("min-received", &Options::minReceived, "PERCENT",
                "the share each way must reach, else exit 6"),
};

}  // namespace

extern constexpr CommandSpec kRangeTestCommand = {
    .name = "range-test",
    .minPorts = 1,
    .maxPorts = 2,
    .fileOperand = nullptr,
    .needsRole = false,
    .options = kRangeTestOptions,
    .usage =
        "nlconf-cli range-test MASTER [SLAVE] [--count N] [--size BYTES]\n"
        "                      [--min-received PERCENT] [--json]",
    .summary =
        "Sends numbered packets in transparent mode and counts them each way.\n"
        "Without SLAVE: the far module has a loopback plug (round trips).",
    .moreHelp = nullptr,
    .run = rangeTestCommand,
    .findsModule = true};

}  // namespace cli
