// The texts of an operation's result: its message with the node identifier
// in place, the line log's note, the captions. Portable, so native tests
// cover them; the table itself is module/outcome.h's.
#pragma once

#include <cstdint>
#include <string>

#include "module/module_record.h"
#include "module/outcome.h"

struct LineLog;

// What the box says, as narrow text with the node identifier in place;
// empty when the result needs no box. The command line prints the same.
std::string resultText(int32_t result, const ModuleRecord* pane);

// The pane's nodeId as a terminated copy, safe to format even when the
// record's buffer was filled to its last byte, and escaped as the line log
// escapes bytes: a module's text never reaches a terminal or a box raw.
constexpr uint32_t kNodeIdMessageSize = 4 * (kNodeIdSize - 1) + 1;
void copyNodeIdForMessage(const ModuleRecord* pane, char (&nodeId)[kNodeIdMessageSize]);

// The line log's note of what the user was told at the end of an operation
// on a port: "Read: Communication error.", the node identifier in place of
// the format's "%hs"; "Read: done." when the result needs no box.
void logOperationEnd(LineLog* log, uint32_t portNumber, const char* operation, int32_t result,
                     const ModuleRecord* pane);

// The caption of a pane's progress dialog and reset prompt, so that the user
// knows which module they are about: "Master - COM5"; the pane alone when
// its list names no port.
std::wstring paneCaption(bool master, uint32_t portNumber);
