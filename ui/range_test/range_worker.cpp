#include "ui/range_test/range_worker.h"

#include <process.h>

#include <atomic>

#include "ui/dialog/pane.h"

namespace {

// What the worker hands over; the window takes it at its own pace.
struct Handover {
  CRITICAL_SECTION lock;
  RangeResult sofar;
  RangeChartTrack tracks[2];
  std::atomic<bool> posted{false};
};

struct RangeWorker {
  HANDLE thread = nullptr;
  HANDLE cancel = nullptr;
  HWND window = nullptr;
  UINT packetMessage = 0;
  UINT doneMessage = 0;
  RangeRun run;
  RangeResult result;  // the worker's until it is joined
};

RangeWorker worker;
Handover handover;
bool handoverReady = false;

void lendCancelEvent(HANDLE event, RangeWay way) {
  masterPane.cancelEvent = event;
  slavePane.cancelEvent = way == RangeWay::BothHere ? event : nullptr;
}

void onPacket(void*, const RangePacket& packet, const RangeResult& sofar) {
  EnterCriticalSection(&handover.lock);
  handover.sofar = sofar;
  if (packet.direction < 2)
    handover.tracks[packet.direction].add(packet.fate == PacketFate::Received);
  LeaveCriticalSection(&handover.lock);
  if (!handover.posted.exchange(true))
    PostMessageW(worker.window, worker.packetMessage, 0, 0);
}

unsigned __stdcall rangeWorker(void*) {
  runPaneRangeTest(worker.run, &worker.result, onPacket, nullptr);
  PostMessageW(worker.window, worker.doneMessage, 0, 0);
  return 0;
}

void closeCancel() {
  CloseHandle(worker.cancel);
  worker.cancel = nullptr;
}

}  // namespace

bool openRangeCancel() {
  worker.cancel = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return worker.cancel != nullptr;
}

bool startRangeWorker(const RangeRun& run, HWND window, UINT packetMessage, UINT doneMessage) {
  if (!handoverReady) {
    InitializeCriticalSection(&handover.lock);
    handoverReady = true;
  }
  worker.run = run;
  worker.window = window;
  worker.packetMessage = packetMessage;
  worker.doneMessage = doneMessage;
  handover.sofar = RangeResult{};
  handover.sofar.way = run.way;
  handover.tracks[0].clear();
  handover.tracks[1].clear();
  lendCancelEvent(worker.cancel, run.way);
  const uintptr_t thread = _beginthreadex(nullptr, 0, rangeWorker, nullptr, 0, nullptr);
  if (!thread) {
    lendCancelEvent(nullptr, run.way);
    closeCancel();
    return false;
  }
  worker.thread = reinterpret_cast<HANDLE>(thread);
  return true;
}

bool rangeWorkerStarted() {
  return worker.thread != nullptr;
}

bool cancelRangeWorker() {
  if (!worker.cancel)
    return false;
  SetEvent(worker.cancel);
  return true;
}

void takeRangeHandover(RangeResult* sofar, RangeChartTrack (&tracks)[2]) {
  handover.posted = false;
  EnterCriticalSection(&handover.lock);
  *sofar = handover.sofar;
  tracks[0] = handover.tracks[0];
  tracks[1] = handover.tracks[1];
  LeaveCriticalSection(&handover.lock);
}

RangeResult joinRangeWorker() {
  // The worker may still be asking the GUI thread for a port list's text.
  for (;;) {
    const DWORD woken =
        MsgWaitForMultipleObjects(1, &worker.thread, FALSE, INFINITE, QS_SENDMESSAGE);
    if (woken != WAIT_OBJECT_0 + 1)
      break;
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
  CloseHandle(worker.thread);
  worker.thread = nullptr;
  lendCancelEvent(nullptr, worker.run.way);
  closeCancel();
  return worker.result;
}
