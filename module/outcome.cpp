#include "module/outcome.h"

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
constexpr wchar_t kLinesDifferText[] = L"The serial settings of the two modules differ.";
constexpr wchar_t kNotFoundText[] =
    L"No module answered at any serial setting tried; the reset key was not asked for.";

struct Row {
  int32_t code;
  ResultMessage message;
};

constexpr Row kRows[] = {
    {0, {}},
    {ResultNoEvent, {kNoEventText, false, PaneReset::Keep, ExitCommunication}},
    {ResultNoThread, {kNoThreadText, false, PaneReset::Keep, ExitCommunication}},
    {ResultCancelled, {kCancelledText, false, PaneReset::BeforeMessage, ExitCancelled}},
    {ResultNotMaster, {kNotMasterFormat, true, PaneReset::AfterMessage, ExitWrongRole}},
    {ResultNotSlave, {kNotSlaveFormat, true, PaneReset::AfterMessage, ExitWrongRole}},
    {ResultProfileMisfit, {kProfileMisfitText, false, PaneReset::Keep, ExitRefused}},
    {ResultNotHeld, {kNotHeldText, false, PaneReset::Keep, ExitLinkOrCheck}},
    {ResultLinkNg, {kLinkNgText, false, PaneReset::Keep, ExitLinkOrCheck}},
    {ResultSamePort, {kSamePortText, false, PaneReset::Keep, ExitUsage}},
    {ResultNotFound, {kNotFoundText, false, PaneReset::Keep, ExitCommunication}},
    {ResultLinesDiffer, {kLinesDifferText, false, PaneReset::Keep, ExitLinkOrCheck}},
};

// Link-layer errors (a cancelled serial wait included), the join time-out,
// and an exit code that could not be fetched.
constexpr ResultMessage kCommunicationError{kCommunicationErrorText, false, PaneReset::Keep,
                                            ExitCommunication};

}  // namespace

ResultMessage resultMessage(int32_t result) {
  for (const Row& row : kRows) {
    if (row.code == result)
      return row.message;
  }
  return kCommunicationError;
}
