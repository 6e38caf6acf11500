// What the link layer asks of the screen: the window that asks the user to
// press the module's reset key. The Windows program implements these on its
// dialog; native tests record them.
#pragma once

using WindowHandle = void*;  // HWND on Windows

bool isWindowHandle(WindowHandle window);
#include <cstdint>

// Brings the reset prompt up (foreground, shown, painted) for the module
// on COM portNumber, or hides it again for that module. Two modules may be
// asked for at once (a pair run reads both): the prompt names every module
// it waits for, and goes when the last has spoken.
void showResetPrompt(WindowHandle prompt, uint32_t portNumber);
void hideResetPrompt(WindowHandle prompt, uint32_t portNumber);
