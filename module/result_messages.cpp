#include "module/result_messages.h"

#include <cstring>
#include <string>

#include "link/line_log.h"
#include "module/pair_run.h"

namespace {

// "%hs" widens the narrow nodeId on Windows, whatever the printf flavour.
constexpr wchar_t kNoEventText[] = L"Could not create event.";
constexpr wchar_t kNoThreadText[] = L"Could not create thread.";
constexpr wchar_t kCancelledText[] = L"Cancelled.";
constexpr wchar_t kNotMasterFormat[] = L"Network ID \"%hs\" is not a master.";
constexpr wchar_t kNotSlaveFormat[] = L"Network ID \"%hs\" is not a slave.";
constexpr wchar_t kCommunicationErrorText[] = L"Communication error.";
constexpr wchar_t kProfileMisfitText[] = L"The profile does not fit the module.";
constexpr wchar_t kNotHeldText[] = L"The module does not hold what was written.";
constexpr wchar_t kLinkNgText[] = L"Link NG.";
constexpr wchar_t kSamePortText[] = L"Master and Slave are set to one port.";

}  // namespace

ResultMessage resultMessage(int32_t result) {
  switch (result) {
    case 0:
      return {};
    case ResultNoEvent:
      return {kNoEventText, false, PaneReset::Keep};
    case ResultNoThread:
      return {kNoThreadText, false, PaneReset::Keep};
    case ResultCancelled:
      return {kCancelledText, false, PaneReset::BeforeMessage};
    case ResultNotMaster:
      return {kNotMasterFormat, true, PaneReset::AfterMessage};
    case ResultNotSlave:
      return {kNotSlaveFormat, true, PaneReset::AfterMessage};
    case ResultProfileMisfit:
      return {kProfileMisfitText, false, PaneReset::Keep};
    case ResultNotHeld:
      return {kNotHeldText, false, PaneReset::Keep};
    case ResultLinkNg:
      return {kLinkNgText, false, PaneReset::Keep};
    case ResultSamePort:
      return {kSamePortText, false, PaneReset::Keep};
    default:
      // Link-layer errors (a cancelled serial wait included), the join
      // time-out, and an exit code that could not be fetched.
      return {kCommunicationErrorText, false, PaneReset::Keep};
  }
}

void copyNodeIdForMessage(const ModuleRecord* pane, char (&nodeId)[kNodeIdSize]) {
  std::memcpy(nodeId, pane->nodeId, kNodeIdSize);
  nodeId[kNodeIdSize - 1] = 0;
}

namespace {

// The formats are ASCII; the node identifier goes in as its bytes, and the
// log escapes whatever is not printable.
std::string narrowMessage(const ResultMessage& message, const ModuleRecord* pane) {
  std::string text;
  for (const wchar_t* p = message.format; *p; ++p) {
    if (message.namesNodeId && p[0] == L'%' && p[1] == L'h' && p[2] == L's') {
      char nodeId[kNodeIdSize];
      copyNodeIdForMessage(pane, nodeId);
      text += nodeId;
      p += 2;
    } else {
      text += *p < 0x80 ? static_cast<char>(*p) : '?';
    }
  }
  return text;
}

}  // namespace

std::string resultText(int32_t result, const ModuleRecord* pane) {
  const ResultMessage message = resultMessage(result);
  return message.format ? narrowMessage(message, pane) : std::string();
}

void logOperationEnd(uint32_t portNumber, const char* operation, int32_t result,
                     const ModuleRecord* pane) {
  if (!lineLogActive() || !operation || !pane)
    return;
  const ResultMessage message = resultMessage(result);
  const std::string text = std::string(operation) + ": " +
                           (message.format ? narrowMessage(message, pane) : std::string("done."));
  logNote(portNumber, text.c_str());
}

std::wstring paneCaption(bool master, uint32_t portNumber) {
  std::wstring caption = master ? L"Master" : L"Slave";
  if (portNumber != 0)
    caption += L" - COM" + std::to_wstring(portNumber);
  return caption;
}
