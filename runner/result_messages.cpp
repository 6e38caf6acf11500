#include "runner/result_messages.h"

#include <cstring>

namespace {

// "%hs" widens the narrow nodeId on Windows, whatever the printf flavour.
constexpr wchar_t kNoEventText[] = L"Could not create event.";
constexpr wchar_t kNoThreadText[] = L"Could not create thread.";
constexpr wchar_t kCancelledText[] = L"Cancelled.";
constexpr wchar_t kNotMasterFormat[] = L"Network ID \"%hs\" is not a master.";
constexpr wchar_t kNotSlaveFormat[] = L"Network ID \"%hs\" is not a slave.";
constexpr wchar_t kCommunicationErrorText[] = L"Communication error.";

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
    default:
      // Link-layer errors (a cancelled serial wait included), the join
      // time-out, and an exit code that could not be fetched.
      return {kCommunicationErrorText, false, PaneReset::Keep};
  }
}

void copyNodeIdForMessage(const PaneRecord* pane, char (&nodeId)[kNodeIdSize]) {
  std::memcpy(nodeId, pane->nodeId, kNodeIdSize);
  nodeId[kNodeIdSize - 1] = 0;
}
