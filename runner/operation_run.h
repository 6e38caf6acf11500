// What the runner keeps of one operation behind its progress dialog: the
// windows, the cancel event and the worker. Portable, so that the dialog's
// panes hold it in both builds and native tests drive their bodies.
#pragma once

#include <cstdint>

#include "link/reset_prompt.h"
#include "platform/os.h"

// A font created for one static control and the one it replaced.
struct FontHolder {
  void* previousFont = nullptr;
  void* createdFont = nullptr;
};

struct OperationRun;
// Runs on the worker; ends by posting its end to the progress dialog.
using WorkerBody = int32_t (*)(OperationRun* run);

struct OperationRun {
  WindowHandle progressDialog = nullptr;
  WindowHandle resetPrompt = nullptr;
  os::Handle cancelEvent = nullptr;
  os::Handle workerThread = nullptr;
  WorkerBody workerBody = nullptr;
  const wchar_t* progressText = nullptr;
  WindowHandle progressLabel = nullptr;
  FontHolder progressFontHolder;
};
