#include "module/pair_texts.h"

#include <cstring>

#include "link/hex.h"
#include "link/line_log.h"
#include "module/bounded_text.h"
#include "module/result_messages.h"

std::wstring samePortText(const std::wstring& port) {
  return L"Master and Slave are both set to " + port + L": each module needs its own port.";
}

namespace {

// Escaped as the line log escapes bytes, as in every message.
std::wstring moduleText(const char* bytes, size_t size) {
  const std::string text = escapedBytes(bytes, static_cast<uint32_t>(strnlen(bytes, size)));
  return std::wstring(text.begin(), text.end());
}

std::wstring hexText(uint64_t value, int digits) {
  char text[16];
  const int length = formatHex(value, digits, text);
  return std::wstring(text, text + length);
}

// The port each module was found on, named as the user picked it.
std::wstring portUsed(const PairRunResult& run, bool master, const std::wstring& masterPick,
                      const std::wstring& slavePick) {
  const std::wstring& pick = master != run.portsSwapped ? masterPick : slavePick;
  const int32_t number = (master ? run.master : run.slave).portNumber;
  if (!pick.empty())
    return pick;
  return number > 0 ? L"COM" + std::to_wstring(number) : std::wstring();
}

bool stepOfMaster(PairStep step) {
  return step == PairStep::ReadMaster || step == PairStep::WriteMaster;
}

std::wstring moduleLine(const PairRunResult& run, bool master, const std::wstring& masterPick,
                        const std::wstring& slavePick) {
  const PairModule& m = master ? run.master : run.slave;
  std::wstring line = master ? L"Master" : L"Slave";
  const std::wstring port = portUsed(run, master, masterPick, slavePick);
  if (!port.empty())
    line += L" (" + port + L")";
  line += L": ";
  if (!m.identified && !m.named)
    return line + L"not read";
  line += m.identified || m.serialKnown ? hexText(uint64_t{m.serialHigh} << 32 | m.serialLow, 16)
                                        : std::wstring(L"serial number not read");
  line += L"  \"" + moduleText(m.nodeId, kNodeIdSize) + L"\"";
  if (m.named)
    line += master ? L", not a master" : L", not a slave";
  return line;
}

const wchar_t* writeEndText(PairWrite write) {
  switch (write) {
    case PairWrite::NothingToWrite:
      return L"nothing to write";
    case PairWrite::NotBegun:
      return L"not written, it holds what was read";
    case PairWrite::Stored:
      return L"stored and read back";
    case PairWrite::Stopped:
      return L"stopped, what it had set is stored";
    default:
      return L"its write failed";
  }
}

std::wstring rangeSharesText(const PairRunResult& run) {
  wchar_t text[kPairDetailChars];
  describeRangeShares(run, text);
  return text;
}

// A Cancel that came once the writes had begun: what each module holds
// now, as the run noted it.
std::wstring heldAfterCancel(const PairRunResult& run) {
  if (run.result != ResultCancelled || run.master.write == PairWrite::NotReached)
    return {};
  return std::wstring(L" Master: ") + writeEndText(run.master.write) + L". Slave: " +
         writeEndText(run.slave.write) + L".";
}

}  // namespace

std::wstring pairFailureText(const PairRunResult& run, const std::wstring& masterPick,
                             const std::wstring& slavePick) {
  if (run.result == 0)
    return run.detail;  // what a PASS must say (serial settings the profile set apart)
  std::wstring text;
  const ResultMessage message = resultMessage(run.result);
  if (run.result == ResultSamePort) {
    text = samePortText(portUsed(run, true, masterPick, slavePick));
  } else if (message.format) {
    const PairModule& m = stepOfMaster(run.failedStep) ? run.master : run.slave;
    for (const wchar_t* p = message.format; *p; ++p) {
      if (message.namesNodeId && p[0] == L'%' && p[1] == L'h' && p[2] == L's') {
        text += moduleText(m.nodeId, kNodeIdSize);
        p += 2;
      } else {
        text += *p;
      }
    }
  }
  if (run.detail[0])
    text += std::wstring(L" (") + run.detail + L")";
  else if (run.portFailedInLink >= 0)
    text += L" (" + portUsed(run, run.portFailedInLink == 0, masterPick, slavePick) + L" failed)";
  return text + heldAfterCancel(run);
}

std::wstring pairResultDetails(const PairRunResult& run, const std::wstring& masterPick,
                               const std::wstring& slavePick, const wchar_t* lineBreak) {
  std::wstring text;
  if (run.result != 0) {
    const std::wstring step = pairStepName(run.failedStep);
    text += (step.empty() ? std::wstring() : step + L": ") +
            pairFailureText(run, masterPick, slavePick);
    if (run.result == ResultSamePort)
      return text;
    text += lineBreak;
  } else if (run.rangeTested) {
    text +=
        std::wstring(pairStepName(PairStep::LinkTest)) + L": " + rangeSharesText(run) + lineBreak;
  }
  if (run.result == 0 && run.detail[0])
    text += std::wstring(run.detail) + lineBreak;
  text += moduleLine(run, true, masterPick, slavePick) + lineBreak;
  text += moduleLine(run, false, masterPick, slavePick);
  if (run.portsSwapped) {
    text += lineBreak;
    text += L"The modules were on each other's ports: the master on " +
            portUsed(run, true, masterPick, slavePick) + L", the slave on " +
            portUsed(run, false, masterPick, slavePick) + L".";
  }
  return text;
}

std::wstring pairResultText(const PairRunResult& run, const std::wstring& masterPick,
                            const std::wstring& slavePick, const wchar_t* lineBreak) {
  return (run.result == 0 ? L"PASS" : L"FAIL") + std::wstring(lineBreak) +
         pairResultDetails(run, masterPick, slavePick, lineBreak);
}
