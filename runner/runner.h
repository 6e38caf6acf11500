// Runs an operation's body on a worker thread behind a modal progress
// dialog with a Cancel button and, when it may need one, a reset prompt.
#pragma once

#include <windows.h>

#include <string>

#include "runner/display.h"
#include "runner/operation_run.h"

// What the run's windows name in their captions (empty: the templates').
struct RunCaptions {
  std::wstring progress;
  std::wstring prompt;
};
// The run's body behind the progress dialog, to its end: its result, with
// nothing of the run left and no message shown. A partner, whose port the
// body uses too, watches the run's cancel event for its length. A body that
// never asks for the reset key (it talks to ports already read) runs
// without a reset prompt.
int32_t runBehindProgress(HWND owner, OperationRun* run, OperationRun* partner,
                          const RunCaptions& captions, bool asksResetKey);
INT_PTR CALLBACK progressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Told on the GUI thread once Cancel is pressed, so that an operation which
// still finishes a step can say so in the progress window; null for none.
extern void (*progressCancelNote)(HWND progressDialog);
// The session is ending: the operation behind the progress dialog is
// cancelled as its Cancel button does (false when none runs), and waited
// for, serving what its worker asks of this thread, at most limitMs.
bool cancelRunningOperation();
bool waitForRunningOperation(DWORD limitMs);
int32_t startOperation(OperationRun* run);
int32_t joinOperation(OperationRun* run);
INT_PTR CALLBACK resetPromptProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Shows the prompt's owner, the progress dialog, at once; from any thread.
void showProgressBeside(HWND prompt);
// Beside its owner, the progress dialog, so that its Cancel stays in sight.
void placeResetPrompt(HWND prompt);
