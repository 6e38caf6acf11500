// The link test: text through the radio from one module to the other, both ways.
#pragma once

#include "link/port_table.h"
#include "module/session.h"

constexpr uint32_t kLinkTextLength = 17;
constexpr uint32_t kLinkIoTimeoutMs = 4800;
extern const char kLinkTextDigits[];   // "0123456789abcdef\r"
extern const char kLinkTextLetters[];  // "abcdefghijklmnop\r"

constexpr int32_t kLinkFail = 0;
constexpr int32_t kLinkPass = 1;
constexpr int32_t kLinkCancelled = ResultCancelled;
constexpr int32_t kLinkSamePort = ResultSamePort;  // refused: nothing was sent

// 1 when the 16 characters before the text's CR came out of the receiver.
int32_t linkTransfer(SerialPort* sender, SerialPort* receiver, const char* text);

// kLinkSamePort when both sessions name one port; otherwise kLinkPass,
// kLinkFail, or kLinkCancelled once a session's cancel event is set (it
// ends every wait of that session's port at once). Both ports are closed
// again afterwards. A port that failed (would not open, or broke under a
// transfer: no time-out) is noted in its session's outcome.
int32_t testLink(Session& master, Session& slave);
