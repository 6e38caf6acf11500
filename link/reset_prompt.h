// Who asks the user to press a module's reset key: the face's own, carried
// by the session that searches. Its calls come on the session's thread; a
// face whose screen belongs to another thread hands them over to it.
#pragma once

#include <cstdint>

using WindowHandle = void*;  // HWND on Windows: how the faces hold a window

struct ResetPrompt {
  // Brings the prompt up for the module on COM portNumber, or takes it down
  // again for that module. Two modules may be asked for at once (a pair run
  // reads both): the prompt names every module it waits for, and goes when
  // the last has spoken. No `shown`: nobody is asked.
  void (*shown)(void* context, uint32_t portNumber) = nullptr;
  void (*hidden)(void* context, uint32_t portNumber) = nullptr;
  void* context = nullptr;
};
