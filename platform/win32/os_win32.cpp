// The OS seam bound to kernel32: one or two calls per function.
#include <windows.h>

#include <new>

#include "platform/os.h"
#include "platform/win32/dcb_conversion.h"

static_assert(sizeof(os::Handle) == sizeof(HANDLE));
static_assert(sizeof(OVERLAPPED) <= sizeof(os::Transfer::opaque));
static_assert(alignof(OVERLAPPED) <= alignof(os::Transfer));
static_assert(sizeof(DCB) == 28);

namespace os::win32 {

DCB toDcb(const LineSettings& settings) {
  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = settings.baudRate;
  dcb.fBinary = settings.binary ? 1 : 0;
  dcb.fParity = settings.parityCheck ? 1 : 0;
  dcb.fOutxCtsFlow = settings.outxCtsFlow ? 1 : 0;
  dcb.fOutxDsrFlow = settings.outxDsrFlow ? 1 : 0;
  dcb.fDtrControl = settings.dtrControl & 0x3u;
  dcb.fDsrSensitivity = settings.dsrSensitivity ? 1 : 0;
  dcb.fTXContinueOnXoff = settings.txContinueOnXoff ? 1 : 0;
  dcb.fOutX = settings.outX ? 1 : 0;
  dcb.fInX = settings.inX ? 1 : 0;
  dcb.fErrorChar = settings.errorCharEnabled ? 1 : 0;
  dcb.fNull = settings.nullStrip ? 1 : 0;
  dcb.fRtsControl = settings.rtsControl & 0x3u;
  dcb.fAbortOnError = settings.abortOnError ? 1 : 0;
  dcb.wReserved = 0;
  dcb.XonLim = settings.xonLim;
  dcb.XoffLim = settings.xoffLim;
  dcb.ByteSize = settings.byteSize;
  dcb.Parity = settings.parity;
  dcb.StopBits = settings.stopBits;
  dcb.XonChar = settings.xonChar;
  dcb.XoffChar = settings.xoffChar;
  dcb.ErrorChar = settings.errorChar;
  dcb.EofChar = settings.eofChar;
  dcb.EvtChar = settings.evtChar;
  dcb.wReserved1 = 0;
  return dcb;
}

LineSettings fromDcb(const DCB& dcb) {
  LineSettings settings;
  settings.baudRate = dcb.BaudRate;
  settings.binary = dcb.fBinary != 0;
  settings.parityCheck = dcb.fParity != 0;
  settings.outxCtsFlow = dcb.fOutxCtsFlow != 0;
  settings.outxDsrFlow = dcb.fOutxDsrFlow != 0;
  settings.dtrControl = static_cast<uint8_t>(dcb.fDtrControl);
  settings.dsrSensitivity = dcb.fDsrSensitivity != 0;
  settings.txContinueOnXoff = dcb.fTXContinueOnXoff != 0;
  settings.outX = dcb.fOutX != 0;
  settings.inX = dcb.fInX != 0;
  settings.errorCharEnabled = dcb.fErrorChar != 0;
  settings.nullStrip = dcb.fNull != 0;
  settings.rtsControl = static_cast<uint8_t>(dcb.fRtsControl);
  settings.abortOnError = dcb.fAbortOnError != 0;
  settings.xonLim = dcb.XonLim;
  settings.xoffLim = dcb.XoffLim;
  settings.byteSize = dcb.ByteSize;
  settings.parity = dcb.Parity;
  settings.stopBits = dcb.StopBits;
  settings.xonChar = dcb.XonChar;
  settings.xoffChar = dcb.XoffChar;
  settings.errorChar = dcb.ErrorChar;
  settings.eofChar = dcb.EofChar;
  settings.evtChar = dcb.EvtChar;
  return settings;
}

bool fitsDcb(const LineSettings& settings) {
  return settings.dtrControl <= 0x3u && settings.rtsControl <= 0x3u;
}

}  // namespace os::win32

namespace os {

namespace {

// A fresh OVERLAPPED in the caller's storage, so no stale offset or result
// from an earlier transfer can leak into this one.
OVERLAPPED* beginOverlapped(Transfer& transfer, Handle event) {
  OVERLAPPED* overlapped = new (transfer.opaque) OVERLAPPED{};
  overlapped->hEvent = event;
  return overlapped;
}

OVERLAPPED* overlappedOf(Transfer& transfer) {
  return std::launder(reinterpret_cast<OVERLAPPED*>(transfer.opaque));
}

bool issuedOrPending(BOOL result) {
  return result != FALSE || GetLastError() == ERROR_IO_PENDING;
}

// ReadFileEx insists on a routine; the caller learns the outcome from
// finishTransfer instead.
void CALLBACK ignoreCompletion(DWORD, DWORD, LPOVERLAPPED) {}

}  // namespace

uint32_t tickCount() {
  return GetTickCount();
}

void sleepMs(uint32_t ms) {
  Sleep(ms);
}

Handle createLookPause() {
  // Windows 10 1803 and later; elsewhere the creation fails and the look
  // comes round again at once, as it always did.
  constexpr DWORD kHighResolution = 0x2;  // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
  return CreateWaitableTimerExW(nullptr, nullptr, kHighResolution, TIMER_ALL_ACCESS);
}

void pauseBetweenLooks(Handle pause) {
  constexpr LONGLONG kPause100ns = -5000;  // relative: half a millisecond
  LARGE_INTEGER due;
  due.QuadPart = kPause100ns;
  if (pause && SetWaitableTimer(pause, &due, 0, nullptr, nullptr, FALSE))
    WaitForSingleObject(pause, 2);
  else
    Sleep(0);
}

LocalTime localTime() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  LocalTime t;
  t.year = now.wYear;
  t.month = static_cast<uint8_t>(now.wMonth);
  t.day = static_cast<uint8_t>(now.wDay);
  t.msOfDay = ((now.wHour * 60u + now.wMinute) * 60u + now.wSecond) * 1000u + now.wMilliseconds;
  TIME_ZONE_INFORMATION zone{};
  const DWORD kind = GetTimeZoneInformation(&zone);
  LONG bias = zone.Bias;
  if (kind == TIME_ZONE_ID_DAYLIGHT)
    bias += zone.DaylightBias;
  else if (kind == TIME_ZONE_ID_STANDARD)
    bias += zone.StandardBias;
  t.utcOffsetMinutes = static_cast<int16_t>(kind == TIME_ZONE_ID_INVALID ? 0 : -bias);
  return t;
}

uint32_t lastError() {
  return GetLastError();
}

void setLastError(uint32_t code) {
  SetLastError(code);
}

Handle createEvent() {
  return CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

bool setEvent(Handle event) {
  return SetEvent(event) != FALSE;
}

bool resetEvent(Handle event) {
  return ResetEvent(event) != FALSE;
}

bool isEventSet(Handle event) {
  return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

Handle createMutex() {
  return CreateMutexW(nullptr, FALSE, nullptr);
}

bool lockMutex(Handle mutex) {
  // An abandoned mutex is still ours now; its former owner died holding it.
  const DWORD result = WaitForSingleObject(mutex, INFINITE);
  return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

bool unlockMutex(Handle mutex) {
  return ReleaseMutex(mutex) != FALSE;
}

namespace {

struct ThreadStart {
  void (*body)(void*);
  void* context;
};

DWORD WINAPI runThreadStart(LPVOID parameter) {
  const ThreadStart start = *static_cast<ThreadStart*>(parameter);
  delete static_cast<ThreadStart*>(parameter);
  start.body(start.context);
  return 0;
}

}  // namespace

Handle startThread(void (*body)(void*), void* context) {
  auto* start = new (std::nothrow) ThreadStart{body, context};
  if (!start)
    return nullptr;
  HANDLE thread = CreateThread(nullptr, 0, runThreadStart, start, 0, nullptr);
  if (!thread)
    delete start;
  return thread;
}

void joinThread(Handle thread) {
  if (!thread)
    return;
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
}

bool closeHandle(Handle handle) {
  return CloseHandle(handle) != FALSE;
}

int waitAny(const Handle* handles, uint32_t count, uint32_t timeoutMs) {
  if (handles == nullptr || count < 1 || count > 2) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return kWaitFailed;
  }
  const DWORD result = WaitForMultipleObjects(count, handles, FALSE, timeoutMs);
  if (result >= WAIT_OBJECT_0 && result < WAIT_OBJECT_0 + count) {
    return static_cast<int>(result - WAIT_OBJECT_0);
  }
  // Like lockMutex: an abandoned mutex has been acquired, so the caller must
  // know which one it now owns.
  if (result >= WAIT_ABANDONED_0 && result < WAIT_ABANDONED_0 + count) {
    return static_cast<int>(result - WAIT_ABANDONED_0);
  }
  if (result == WAIT_TIMEOUT) {
    return kWaitTimeout;
  }
  return kWaitFailed;
}

Handle openSerial(const wchar_t* deviceName) {
  if (deviceName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  HANDLE device = CreateFileW(deviceName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
  return device == INVALID_HANDLE_VALUE ? nullptr : device;
}

bool purgeSerial(Handle device, uint32_t flags) {
  return PurgeComm(device, flags) != FALSE;
}

bool setSerialTimeouts(Handle device, const Timeouts& timeouts) {
  COMMTIMEOUTS comm{};
  comm.ReadIntervalTimeout = timeouts.readIntervalMs;
  comm.ReadTotalTimeoutMultiplier = timeouts.readTotalMultiplierMs;
  comm.ReadTotalTimeoutConstant = timeouts.readTotalConstantMs;
  comm.WriteTotalTimeoutMultiplier = timeouts.writeTotalMultiplierMs;
  comm.WriteTotalTimeoutConstant = timeouts.writeTotalConstantMs;
  return SetCommTimeouts(device, &comm) != FALSE;
}

bool setSerialQueues(Handle device, uint32_t inBytes, uint32_t outBytes) {
  return SetupComm(device, inBytes, outBytes) != FALSE;
}

bool getLineSettings(Handle device, LineSettings& settings) {
  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  if (GetCommState(device, &dcb) == FALSE) {
    return false;
  }
  settings = win32::fromDcb(dcb);
  return true;
}

bool setLineSettings(Handle device, const LineSettings& settings) {
  // Refuse rather than let a bit field silently turn 5 into 1.
  if (!win32::fitsDcb(settings)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  DCB dcb = win32::toDcb(settings);
  return SetCommState(device, &dcb) != FALSE;
}

bool escapeSerial(Handle device, uint32_t function) {
  return EscapeCommFunction(device, function) != FALSE;
}

bool getModemStatus(Handle device, uint32_t& status) {
  DWORD bits = 0;
  if (GetCommModemStatus(device, &bits) == FALSE) {
    return false;
  }
  status = bits;
  return true;
}

uint32_t bytesWaiting(Handle device) {
  DWORD errors = 0;
  COMSTAT status{};
  return ClearCommError(device, &errors, &status) != FALSE ? status.cbInQue : 0;
}

bool setBreak(Handle device) {
  return SetCommBreak(device) != FALSE;
}

bool clearBreak(Handle device) {
  return ClearCommBreak(device) != FALSE;
}

namespace {

// Shared by each write's start, taken whole to refuse them: a start that
// passed the check has handed its bytes to the driver, whose queue keeps
// them ahead of the program's last ones.
SRWLOCK writeStarts = SRWLOCK_INIT;
bool writesRefused = false;

}  // namespace

bool startWrite(Handle device, const void* bytes, uint32_t count, Transfer& transfer,
                Handle event) {
  AcquireSRWLockShared(&writeStarts);
  bool issued = false;
  if (writesRefused) {
    SetLastError(ERROR_OPERATION_ABORTED);
  } else {
    OVERLAPPED* overlapped = beginOverlapped(transfer, event);
    issued = issuedOrPending(WriteFile(device, bytes, count, nullptr, overlapped));
  }
  ReleaseSRWLockShared(&writeStarts);
  return issued;
}

void refuseWrites() {
  AcquireSRWLockExclusive(&writeStarts);
  writesRefused = true;
  ReleaseSRWLockExclusive(&writeStarts);
}

bool startRead(Handle device, void* bytes, uint32_t count, Transfer& transfer, Handle event) {
  OVERLAPPED* overlapped = beginOverlapped(transfer, event);
  return issuedOrPending(ReadFile(device, bytes, count, nullptr, overlapped));
}

bool startReadUnsignalled(Handle device, void* bytes, uint32_t count, Transfer& transfer) {
  // No event: finishTransfer then waits on the device handle itself.
  OVERLAPPED* overlapped = beginOverlapped(transfer, nullptr);
  return ReadFileEx(device, bytes, count, overlapped, ignoreCompletion) != FALSE;
}

bool finishTransfer(Handle device, Transfer& transfer, uint32_t& count) {
  DWORD moved = 0;
  const BOOL result = GetOverlappedResult(device, overlappedOf(transfer), &moved, TRUE);
  count = moved;
  return result != FALSE;
}

bool cancelTransfers(Handle device) {
  return CancelIo(device) != FALSE;
}

}  // namespace os
