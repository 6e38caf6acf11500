#include "module/result_messages.h"

#include <cstring>
#include <string>

#include "link/line_log.h"

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
