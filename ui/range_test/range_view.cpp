#include "ui/range_test/range_view.h"

#include <cwchar>

#include "link/errors.h"
#include "link/hex.h"
#include "link/serial_codes.h"
#include "module/bounded_text.h"
#include "module/received_share.h"
#include "ui/dialog/rules.h"

namespace {

std::wstring portName(uint32_t number) {
  return L"COM" + std::to_wstring(number);
}

std::wstring oneDecimal(double value) {
  wchar_t text[32];
  std::swprintf(text, 32, L"%.1f", value);
  return text;
}

std::wstring shareText(const RangeDirection& d) {
  char text[kShareTextChars];
  const size_t length = receivedShareText(d, text);
  return std::wstring(text, text + length);
}

std::wstring seconds(uint32_t ms) {
  return oneDecimal(ms / 1000.0) + L" s";
}

std::wstring medianText(double ms) {
  wchar_t text[32];
  std::swprintf(text, 32, L"%.10g", ms);
  return text;
}

constexpr uint32_t kRing = kRangeChartPoints + kRangeChartSpan;

std::wstring twoDigits(uint32_t n) {
  return std::wstring(1, static_cast<wchar_t>(L'0' + n / 10 % 10)) +
         static_cast<wchar_t>(L'0' + n % 10);
}

std::wstring whenText(const os::LocalTime& t) {
  const uint32_t s = t.msOfDay / 1000;
  return std::to_wstring(t.year) + L"-" + twoDigits(t.month) + L"-" + twoDigits(t.day) + L" " +
         twoDigits(s / 3600) + L":" + twoDigits(s / 60 % 60) + L":" + twoDigits(s % 60);
}

// As the pair run's texts show a module: serial number and node identifier.
std::wstring moduleText(const wchar_t* role, const ModuleRecord* pane) {
  char serial[16];
  formatHex(uint64_t{pane->serialHigh} << 32 | pane->serialLow, 16, serial);
  const std::string node = printableModuleText(pane->nodeId, kNodeIdSize);
  return std::wstring(role) + L" " + std::wstring(serial, serial + 16) + L" \"" +
         std::wstring(node.begin(), node.end()) + L"\"";
}

std::wstring lineRateText(const ModuleRecord* pane) {
  const wchar_t parity[] = L"NOEMS";
  const uint8_t p = parityOfCode(pane->read[Setting::Parity]);
  return std::to_wstring(baudRateOfCode(pane->read[Setting::BaudRate])) + L" 8" +
         (p < 5 ? parity[p] : L'?') +
         (stopBitsOfCode(pane->read[Setting::StopBits]) == os::kTwoStopBits ? L"2" : L"1");
}

}  // namespace

std::wstring rangePairLine(const ModuleRecord* master, const ModuleRecord* slave, RangeWay way,
                           const os::LocalTime& started) {
  std::wstring line = whenText(started) + L": " + moduleText(L"Master", master) + L", ";
  const bool both = way == RangeWay::BothHere;
  line += both ? moduleText(L"Slave", slave) : std::wstring(L"far module not read");
  line += L", channel " + std::to_wstring(master->read[Setting::Channel]);
  if (both && slave->read[Setting::Channel] != master->read[Setting::Channel])
    line += L" and " + std::to_wstring(slave->read[Setting::Channel]);
  return line + L", " + lineRateText(master);
}

bool rangeTestOffered(const ModuleRecord* master, const ModuleRecord* slave, RangeWay way) {
  if (way == RangeWay::FarLoopback)
    return holdsModuleData(master);
  return holdsModuleData(master) && holdsModuleData(slave) && modulesFormLink(master, slave);
}

std::wstring rangeDirectionLine(const RangeDirection& d) {
  std::wstring line = portName(d.fromPort) + L" to " + portName(d.toPort) + L": sent " +
                      std::to_wstring(d.sent) + L", received " + std::to_wstring(d.received) +
                      L", lost " + std::to_wstring(d.lost) + L", corrupted " +
                      std::to_wstring(d.corrupted) + L", received " + shareText(d) + L" %";
  if (d.late)
    line += L", late " + std::to_wstring(d.late) + L" (longest " + std::to_wstring(d.lateMaxMs) +
            L" ms)";
  if (d.duplicated)
    line += L", duplicated " + std::to_wstring(d.duplicated);
  if (d.echoed)
    line += L", echoed " + std::to_wstring(d.echoed) + L": " +
            std::wstring(kRangeEchoNote, kRangeEchoNote + sizeof kRangeEchoNote - 1);
  return line;
}

std::wstring rangeRoundTripLine(const RangeResult& r) {
  if (r.way != RangeWay::FarLoopback)
    return {};
  if (!r.hasRoundTrip)
    return L"Round trip: none came back";
  return L"Round trip: min " + std::to_wstring(r.roundTripMinMs) + L" ms, median " +
         medianText(r.roundTripMedianMs) + L" ms, max " + std::to_wstring(r.roundTripMaxMs) +
         L" ms";
}

std::wstring rangeStatusLine(const RangeResult& r, uint32_t count, bool running, bool portLost) {
  if (running) {
    // The packet now on its way, in the direction now sending.
    const uint32_t done = r.directionCount ? r.directions[0].sent : 0;
    const std::wstring at = L"Running: packet " + std::to_wstring(done + 1);
    return count == kRangeUntilStopped ? at + L", until Stop"
                                       : at + L" of " + std::to_wstring(count);
  }
  if (portLost)
    return L"A port went away: stopped after " + seconds(r.durationMs) + L".";
  switch (r.code) {
    case 0:
      return L"Done in " + seconds(r.durationMs) + L".";
    case ResultCancelled:
      return L"Stopped after " + seconds(r.durationMs) + L".";
    case ErrNoPort:
      return L"A port could not be opened: is it in use, or gone?";
    default:
      return L"The test stopped: a port failed (error " + std::to_wstring(r.code) + L").";
  }
}

std::wstring rangeResultText(const RangeResult& r, const RangeRun& run, bool portLost,
                             const std::wstring& pairLine) {
  std::wstring text = L"Range Test, ";
  text += run.way == RangeWay::BothHere ? L"both modules here" : L"far module with loopback";
  text += L", " + std::to_wstring(run.size) + L" bytes a packet\r\n";
  if (!pairLine.empty())
    text += pairLine + L"\r\n";
  for (uint32_t i = 0; i < r.directionCount && i < 2; ++i)
    text += rangeDirectionLine(r.directions[i]) + L"\r\n";
  if (const std::wstring trip = rangeRoundTripLine(r); !trip.empty())
    text += trip + L"\r\n";
  return text + rangeStatusLine(r, run.count, false, portLost) + L"\r\n";
}

void RangeChartTrack::clear() {
  total_ = 0;
}

void RangeChartTrack::add(bool received) {
  fates_[total_ % kRing] = received;
  ++total_;
}

uint32_t RangeChartTrack::pointCount() const {
  return total_ < kRangeChartPoints ? total_ : kRangeChartPoints;
}

double RangeChartTrack::pointPercent(uint32_t i) const {
  // Point i is packet (total_ - pointCount() + i), counted from 0.
  const uint32_t packet = total_ - pointCount() + i;
  const uint32_t span = packet + 1 < kRangeChartSpan ? packet + 1 : kRangeChartSpan;
  uint32_t received = 0;
  for (uint32_t k = 0; k < span; ++k)
    received += fates_[(packet - k) % kRing] ? 1 : 0;
  return 100.0 * received / span;
}
