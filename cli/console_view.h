// The reset prompt of a console's sessions: its sentence goes to standard
// error, naming each module it waits for.
#pragma once

#include <cstdint>
#include <string>

#include "link/reset_prompt.h"

namespace cli {

// What the prompt calls the module on a port: "Master (/dev/ttyUSB0)".
using PortNamer = std::string (*)(uint32_t portNumber);

// What a session's reset prompt is on the console, naming modules by namer.
ResetPrompt consolePrompt(PortNamer namer);

}  // namespace cli
