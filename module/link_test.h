// The link test: text through the radio from one module to the other, both ways.
#pragma once

#include "link/port_table.h"

constexpr uint32_t kLinkTextLength = 17;
constexpr uint32_t kLinkIoTimeoutMs = 4800;
extern const char kLinkTextDigits[];   // "0123456789abcdef\r"
extern const char kLinkTextLetters[];  // "abcdefghijklmnop\r"

// 1 when the 16 characters before the text's CR came out of the receiver.
int32_t linkTransfer(SerialPort* sender, SerialPort* receiver, const char* text);
// 1 (pass) or 0 (fail); both panes' ports are closed again afterwards.
int32_t testLink();
