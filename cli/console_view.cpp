#include "cli/console_view.h"

#include <cstdio>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace cli {

namespace {

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

void askOnConsole(void*, uint32_t portNumber) {
  std::lock_guard guard(promptLock);
  waitedFor.push_back(portNumber);
  showWaitedFor();
}

void stopAskingOnConsole(void*, uint32_t portNumber) {
  std::lock_guard guard(promptLock);
  const auto at = std::find(waitedFor.begin(), waitedFor.end(), portNumber);
  if (at == waitedFor.end())
    return;
  waitedFor.erase(at);
  showWaitedFor();
}

}  // namespace

ResetPrompt consolePrompt(PortNamer namer) {
  namePort = namer;
  return ResetPrompt{askOnConsole, stopAskingOnConsole, nullptr};
}

}  // namespace cli
