#include "cli/console_view.h"

#include <cstdio>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace cli {

namespace {

// The prompt is a place only: its address tells it apart.
int resetPromptTag;
// The ports whose modules the prompt waits for, in the order asked; a pair
// run's two sessions ask at once.
std::mutex promptLock;
std::vector<uint32_t> waitedFor;

// Given with the prompt: the command knows which module is on which port.
PortNamer namePort = nullptr;

// One line each time the modules waited for change, while any is.
void showWaitedFor() {
  if (waitedFor.empty())
    return;
  std::string line = "Please press the reset key:";
  for (size_t i = 0; i < waitedFor.size(); ++i)
    line += (i ? ", " : " ") + namePort(waitedFor[i]);
  std::fprintf(stderr, "%s.\n", line.c_str());
  std::fflush(stderr);
}

}  // namespace

WindowHandle consolePrompt(PortNamer namer) {
  namePort = namer;
  return &resetPromptTag;
}

}  // namespace cli

bool isWindowHandle(WindowHandle window) {
  return window == &cli::resetPromptTag;
}

void showResetPrompt(WindowHandle, uint32_t portNumber) {
  std::lock_guard guard(cli::promptLock);
  cli::waitedFor.push_back(portNumber);
  cli::showWaitedFor();
}

void hideResetPrompt(WindowHandle, uint32_t portNumber) {
  std::lock_guard guard(cli::promptLock);
  const auto at = std::find(cli::waitedFor.begin(), cli::waitedFor.end(), portNumber);
  if (at == cli::waitedFor.end())
    return;
  cli::waitedFor.erase(at);
  cli::showWaitedFor();
}
