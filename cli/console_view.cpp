#include "cli/console_view.h"

#include <cstdio>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/session.h"

namespace cli {

namespace {

// The prompt is a place only: its address tells it apart.
int resetPromptTag;
// The ports whose modules the prompt waits for, in the order asked; a pair
// run's two sessions ask at once.
std::mutex promptLock;
std::vector<uint32_t> waitedFor;

// "Master (/dev/ttyUSB0)": the module on the port names the role, where
// the command knows it.
std::string moduleOnPort(uint32_t portNumber) {
  const Module* m = nullptr;
  for (const Module* candidate : {&masterModule(), &slaveModule()}) {
    if (candidate->session.portNumber == portNumber)
      m = candidate;
  }
  const std::string name = portNameOf(static_cast<int32_t>(portNumber));
  const std::string role = m ? roleShown(*m) : "";
  return role.empty() ? name : role + " (" + name + ")";
}

// One line each time the modules waited for change, while any is.
void showWaitedFor() {
  if (waitedFor.empty())
    return;
  std::string line = "Please press the reset key:";
  for (size_t i = 0; i < waitedFor.size(); ++i)
    line += (i ? ", " : " ") + moduleOnPort(waitedFor[i]);
  std::fprintf(stderr, "%s.\n", line.c_str());
  std::fflush(stderr);
}

}  // namespace

WindowHandle consolePrompt() {
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
