// The reset prompt that link/ asks for, on a console: its sentence goes to
// standard error, naming each module it waits for.
#pragma once

#include "link/reset_prompt.h"

namespace cli {

// What a session's reset prompt is on the console.
WindowHandle consolePrompt();

}  // namespace cli
