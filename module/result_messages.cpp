#include "module/result_messages.h"

#include <cstring>
#include <string>

#include "link/line_log.h"

void copyNodeIdForMessage(const ModuleRecord* pane, char (&nodeId)[kNodeIdMessageSize]) {
  const std::string text =
      escapedBytes(pane->nodeId, static_cast<uint32_t>(strnlen(pane->nodeId, kNodeIdSize - 1)));
  const size_t length = text.size() < kNodeIdMessageSize ? text.size() : kNodeIdMessageSize - 1;
  std::memcpy(nodeId, text.data(), length);
  nodeId[length] = 0;
}

namespace {

// The formats are ASCII; the node identifier goes in escaped, or as its
// bytes for the log, which escapes them itself.
std::string narrowMessage(const ResultMessage& message, const ModuleRecord* pane, bool escaped) {
  std::string text;
  for (const wchar_t* p = message.format; *p; ++p) {
    if (message.namesNodeId && p[0] == L'%' && p[1] == L'h' && p[2] == L's') {
      char nodeId[kNodeIdMessageSize];
      copyNodeIdForMessage(pane, nodeId);
      text += escaped ? nodeId : std::string(pane->nodeId, strnlen(pane->nodeId, kNodeIdSize - 1));
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
  return message.format ? narrowMessage(message, pane, true) : std::string();
}

void logOperationEnd(LineLog* log, uint32_t portNumber, const char* operation, int32_t result,
                     const ModuleRecord* pane) {
  if (!lineLogActive(log) || !operation || !pane)
    return;
  const ResultMessage message = resultMessage(result);
  const std::string text =
      std::string(operation) + ": " +
      (message.format ? narrowMessage(message, pane, false) : std::string("done."));
  logNote(log, portNumber, text.c_str());
}

std::wstring paneCaption(bool master, uint32_t portNumber) {
  std::wstring caption = master ? L"Master" : L"Slave";
  if (portNumber != 0)
    caption += L" - COM" + std::to_wstring(portNumber);
  return caption;
}
