// What the link layer asks of the screen: the window that asks the user to
// press the module's reset key. The Windows program implements these on its
// dialog; native tests record them.
#pragma once

using WindowHandle = void*;  // HWND on Windows

bool isWindowHandle(WindowHandle window);
// Brings the reset prompt up (foreground, shown, painted) or hides it.
void showResetPrompt(WindowHandle prompt);
void hideResetPrompt(WindowHandle prompt);
