// What the user is told after an operation, and when the pane is emptied.
#include "module/result_messages.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <cwchar>
#include <string>

#include "link/errors.h"

namespace {

std::wstring textOf(const ResultMessage& message) {
  return message.format ? std::wstring(message.format) : std::wstring();
}

// Does what Windows does with "%hs" and a narrow ASCII argument; glibc's
// wide printf has no "%hs", so the native side expands it by hand.
std::wstring expandNodeId(const wchar_t* format, const char* nodeId) {
  std::wstring text(format);
  const size_t at = text.find(L"%hs");
  if (at == std::wstring::npos)
    return text;
  std::wstring wide;
  for (const char* c = nodeId; *c; ++c)
    wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
  return text.replace(at, 3, wide);
}

// The conversions a format asks for: every '%' that is not "%%".
std::wstring conversionsOf(const wchar_t* format) {
  std::wstring found;
  for (const wchar_t* c = format; *c; ++c) {
    if (*c != L'%')
      continue;
    if (c[1] == L'%') {
      ++c;
      continue;
    }
    found += L'%';
    for (++c; *c && !std::wcschr(L"sdiuxXcp", *c); ++c)
      found += *c;
    if (!*c)
      break;
    found += *c;
  }
  return found;
}

}  // namespace

TEST(ResultMessages, SuccessShowsNoBoxAndLeavesThePaneAlone) {
  const ResultMessage message = resultMessage(0);
  EXPECT_EQ(message.format, nullptr);
  EXPECT_FALSE(message.namesNodeId);
  EXPECT_EQ(message.paneReset, PaneReset::Keep);
}

TEST(ResultMessages, StartFailuresSayWhatCouldNotBeCreated) {
  EXPECT_EQ(textOf(resultMessage(ResultNoEvent)), L"Could not create event.");
  EXPECT_EQ(textOf(resultMessage(ResultNoThread)), L"Could not create thread.");
  EXPECT_EQ(resultMessage(ResultNoEvent).paneReset, PaneReset::Keep);
  EXPECT_EQ(resultMessage(ResultNoThread).paneReset, PaneReset::Keep);
}

TEST(ResultMessages, OnlyACancelSeenBetweenStepsSaysCancelledAndEmptiesThePaneFirst) {
  const ResultMessage cancelled = resultMessage(ResultCancelled);
  EXPECT_EQ(textOf(cancelled), L"Cancelled.");
  EXPECT_EQ(cancelled.paneReset, PaneReset::BeforeMessage);

  // A cancel that ended a serial wait comes back as the link layer's code.
  const ResultMessage interruptedWait = resultMessage(ErrCancelled);
  EXPECT_EQ(textOf(interruptedWait), L"Communication error.");
  EXPECT_EQ(interruptedWait.paneReset, PaneReset::Keep);
}

TEST(ResultMessages, WrongRoleNamesTheModuleReadThenEmptiesThePane) {
  const ResultMessage notMaster = resultMessage(ResultNotMaster);
  const ResultMessage notSlave = resultMessage(ResultNotSlave);
  ASSERT_TRUE(notMaster.namesNodeId);
  ASSERT_TRUE(notSlave.namesNodeId);
  EXPECT_EQ(notMaster.paneReset, PaneReset::AfterMessage);
  EXPECT_EQ(notSlave.paneReset, PaneReset::AfterMessage);
  EXPECT_EQ(expandNodeId(notMaster.format, "KOV-NL001/S"),
            L"Network ID \"KOV-NL001/S\" is not a master.");
  EXPECT_EQ(expandNodeId(notSlave.format, "KOV-NL001/M"),
            L"Network ID \"KOV-NL001/M\" is not a slave.");
  EXPECT_EQ(expandNodeId(notSlave.format, ""), L"Network ID \"\" is not a slave.");
}

TEST(ResultMessages, EveryOtherResultIsACommunicationErrorThatKeepsThePane) {
  const int32_t others[] = {
      ErrBadHandle, ErrNoPort, ErrWrite, ErrRead,   ErrArgument,       ErrTimeout, ErrNotOk,
      ErrCancelled, -1,        -2,       -7,        ResultJoinTimeout, 1,          255,
      259,  // STILL_ACTIVE
      274,          511,       513,      INT32_MIN, INT32_MAX};
  for (int32_t result : others) {
    const ResultMessage message = resultMessage(result);
    EXPECT_EQ(textOf(message), L"Communication error.") << result;
    EXPECT_FALSE(message.namesNodeId) << result;
    EXPECT_EQ(message.paneReset, PaneReset::Keep) << result;
  }
}

// The texts go to a printf-style box; a stray conversion would read an
// argument that is not there, a wide one where a narrow nodeId is passed.
TEST(ResultMessages, FormatsAskForExactlyTheArgumentThatIsPassed) {
  const int32_t results[] = {ResultNoEvent,   ResultNoThread, ResultCancelled,
                             ResultNotMaster, ResultNotSlave, ErrTimeout};
  for (int32_t result : results) {
    const ResultMessage message = resultMessage(result);
    ASSERT_NE(message.format, nullptr) << result;
    EXPECT_EQ(conversionsOf(message.format), message.namesNodeId ? L"%hs" : L"") << result;
  }
}

TEST(ResultMessages, NodeIdCopyIsAlwaysTerminatedAndEscaped) {
  ModuleRecord module;
  std::memset(module.nodeId, 'A', kNodeIdSize);  // no terminator in the record
  char nodeId[kNodeIdMessageSize];
  copyNodeIdForMessage(&module, nodeId);
  EXPECT_EQ(std::string(nodeId), std::string(kNodeIdSize - 1, 'A'));

  std::strcpy(module.nodeId, "KOV-NL001/M");
  copyNodeIdForMessage(&module, nodeId);
  EXPECT_STREQ(nodeId, "KOV-NL001/M");

  // A terminal's escape, a byte of no text, a bell: none reaches a face raw.
  std::strcpy(module.nodeId, "KOV\x1B[31mRED\xFF\x07");
  module.isMaster = 0;
  const std::string text = resultText(ResultNotMaster, &module);
  EXPECT_EQ(text.find_first_of("\x1B\x07\xFF"), std::string::npos) << text;
  EXPECT_NE(text.find("KOV<1B>[31mRED<FF><07>"), std::string::npos) << text;
  std::memset(module.nodeId, 0x1B, kNodeIdSize - 1);  // the longest escape fits whole
  copyNodeIdForMessage(&module, nodeId);
  EXPECT_EQ(std::strlen(nodeId), kNodeIdMessageSize - 1);
}

// One row per code: a script's exit code follows from what the box says.
TEST(ResultMessages, EachResultHasTheExitCodeScriptsRelyOn) {
  const std::pair<int32_t, int> rows[] = {
      {0, ExitDone},
      {ResultCancelled, ExitCancelled},
      {ResultNotMaster, ExitWrongRole},
      {ResultNotSlave, ExitWrongRole},
      {ResultProfileMisfit, ExitRefused},
      {ResultSamePort, ExitUsage},
      {ResultNotHeld, ExitLinkOrCheck},
      {ResultLinkNg, ExitLinkOrCheck},
      {ErrTimeout, ExitCommunication},
      {ResultJoinTimeout, ExitCommunication},
  };
  for (const auto& [code, exit] : rows)
    EXPECT_EQ(resultMessage(code).exitCode, exit) << code;
}
