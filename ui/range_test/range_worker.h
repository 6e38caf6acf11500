// The Range Test's run on a worker of its own, with the panes watching its
// cancel event. After each packet the worker hands over what it has
// measured so far; the window takes it at its own pace.
#pragma once

#include <windows.h>

#include "module/range_test.h"
#include "ui/range_test/range_view.h"

// The event a Stop sets; false when the system refused it.
bool openRangeCancel();
// Starts run on the worker: after a packet it posts packetMessage to window
// (once, until the window takes the hand-over), at its end doneMessage.
// False, with the event closed, when the system refused the thread.
bool startRangeWorker(const RangeRun& run, HWND window, UINT packetMessage, UINT doneMessage);
// From its start until it is joined.
bool rangeWorkerStarted();
// Stop: the cancel event set; false when there is none.
bool cancelRangeWorker();
// What the worker has handed over: the result so far and the chart's tracks.
void takeRangeHandover(RangeResult* sofar, RangeChartTrack (&tracks)[2]);
// Joins the worker, serving what it asks of this thread meanwhile, and gives
// the panes their cancel events back; the run's result.
RangeResult joinRangeWorker();
