// The operating-system seam. link/ and module/ reach the OS only through
// these calls; platform/win32 maps each onto kernel32, platform/virtual onto
// a deterministic world with a virtual clock.
#pragma once

#include <cstddef>
#include <cstdint>

namespace os {

// HANDLE on Windows; an object of the virtual world otherwise.
using Handle = void*;

// Windows error numbers that the program sets or tells apart.
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
// A line without modem lines or break (a pseudo-terminal, a network bridge).
constexpr uint32_t kErrorNotSupported = 50;
constexpr uint32_t kErrorInvalidParameter = 87;
// The user may not open it at all (POSIX permissions), as against in use.
constexpr uint32_t kErrorPrivilegeNotHeld = 1314;
constexpr uint32_t kErrorOperationAborted = 995;
constexpr uint32_t kErrorIoPending = 997;

// ---- clock ----------------------------------------------------------------
// Milliseconds; wraps after 49.7 days, so compare with unsigned differences.
uint32_t tickCount();
void sleepMs(uint32_t ms);
// Gives up the core for about half a millisecond, between looks at a line
// that must be noticed within a millisecond: Sleep(0) would spin a core,
// and Sleep(1) can take a whole 15.6 ms timer tick. The pause is made once
// for a whole poll (a kernel timer on Windows; making one for every look
// costs more than the look) and closed with closeHandle. Null when it
// cannot be made: the pauses then only yield the core.
Handle createLookPause();
void pauseBetweenLooks(Handle pause);
// The local date and time of day, for the line log's stamps; the virtual
// world's clock starts at midnight of 1 January 2001.
struct LocalTime {
  uint16_t year = 0;
  uint8_t month = 0;  // 1 to 12
  uint8_t day = 0;    // 1 to 31
  uint32_t msOfDay = 0;
  int16_t utcOffsetMinutes = 0;  // local time minus UTC; the virtual world's is 0
};
LocalTime localTime();

// Milliseconds since the machine started, its sleeps included: the same
// in every process, and a span between two readings is never longer than
// the time that passed, not even across a restart (the count starts again
// at 0) or a change of the time of day.
uint64_t bootClockMs();

// ---- the calling thread's last error ----------------------------------------
uint32_t lastError();
void setLastError(uint32_t code);

// ---- events, mutexes, waits ---------------------------------------------------
// Manual-reset, initially not signalled, unnamed. Null on failure.
Handle createEvent();
bool setEvent(Handle event);
bool resetEvent(Handle event);
bool isEventSet(Handle event);

// Unnamed, not initially owned. Null on failure.
Handle createMutex();
bool lockMutex(Handle mutex);  // waits without time limit
bool unlockMutex(Handle mutex);

bool closeHandle(Handle handle);

// A thread beside the caller's, running body(context); null when none could
// start. joinThread waits for it to end and lets go of it.
Handle startThread(void (*body)(void* context), void* context);
void joinThread(Handle thread);

constexpr int kWaitTimeout = -1;
constexpr int kWaitFailed = -2;
// Waits until one of count (1 or 2) handles is signalled: its index, the
// lowest when several are; kWaitTimeout or kWaitFailed otherwise.
int waitAny(const Handle* handles, uint32_t count, uint32_t timeoutMs);

// ---- serial devices ---------------------------------------------------------
constexpr uint8_t kNoParity = 0;
constexpr uint8_t kOddParity = 1;
constexpr uint8_t kEvenParity = 2;
constexpr uint8_t kMarkParity = 3;
constexpr uint8_t kSpaceParity = 4;

constexpr uint8_t kOneStopBit = 0;
constexpr uint8_t kOne5StopBits = 1;
constexpr uint8_t kTwoStopBits = 2;

constexpr uint8_t kDtrControlDisable = 0;
constexpr uint8_t kDtrControlEnable = 1;
constexpr uint8_t kRtsControlDisable = 0;
constexpr uint8_t kRtsControlEnable = 1;

// The members of the Windows DCB that the program uses; the Win32 binding
// converts, so nothing above the seam needs the DCB's bit fields.
struct LineSettings {
  uint32_t baudRate = 0;
  uint8_t byteSize = 0;
  uint8_t parity = 0;
  uint8_t stopBits = 0;
  bool binary = false;
  bool parityCheck = false;
  bool outxCtsFlow = false;
  bool outxDsrFlow = false;
  uint8_t dtrControl = 0;
  bool dsrSensitivity = false;
  bool txContinueOnXoff = false;
  bool outX = false;
  bool inX = false;
  bool errorCharEnabled = false;
  bool nullStrip = false;
  uint8_t rtsControl = 0;
  bool abortOnError = false;
  uint16_t xonLim = 0;
  uint16_t xoffLim = 0;
  char xonChar = 0;
  char xoffChar = 0;
  char errorChar = 0;
  char eofChar = 0;
  char evtChar = 0;
};

struct Timeouts {
  uint32_t readIntervalMs = 0;
  uint32_t readTotalMultiplierMs = 0;
  uint32_t readTotalConstantMs = 0;
  uint32_t writeTotalMultiplierMs = 0;
  uint32_t writeTotalConstantMs = 0;
};

constexpr uint32_t kPurgeTxAbort = 0x1;
constexpr uint32_t kPurgeRxAbort = 0x2;
constexpr uint32_t kPurgeTxClear = 0x4;
constexpr uint32_t kPurgeRxClear = 0x8;
constexpr uint32_t kPurgeAll = 0xF;

constexpr uint32_t kEscapeSetRts = 3;
constexpr uint32_t kEscapeClrRts = 4;
constexpr uint32_t kEscapeSetDtr = 5;
constexpr uint32_t kEscapeClrDtr = 6;

constexpr uint32_t kModemCtsOn = 0x10;
constexpr uint32_t kModemDsrOn = 0x20;
constexpr uint32_t kModemRingOn = 0x40;
constexpr uint32_t kModemRlsdOn = 0x80;

// Exclusive (no sharing), overlapped open of a device such as \\.\COM5.
// Null on failure, with the last error set. Closed with closeHandle.
Handle openSerial(const wchar_t* deviceName);
bool purgeSerial(Handle device, uint32_t flags);
bool setSerialTimeouts(Handle device, const Timeouts& timeouts);
bool setSerialQueues(Handle device, uint32_t inBytes, uint32_t outBytes);
bool getLineSettings(Handle device, LineSettings& settings);
bool setLineSettings(Handle device, const LineSettings& settings);
bool escapeSerial(Handle device, uint32_t function);
bool getModemStatus(Handle device, uint32_t& status);
// Bytes the device has received that no read has taken yet (0 when it
// cannot tell).
uint32_t bytesWaiting(Handle device);
bool setBreak(Handle device);
bool clearBreak(Handle device);

// ---- files ------------------------------------------------------------------
// Paths are UTF-8. Errors are the system's own numbers (errno, or Windows'
// error codes), for systemErrorText; they do not touch lastError.
enum class FileKind : uint8_t {
  Missing,
  Regular,
  Directory,
  Fifo,  // or a pipe
  Socket,
  Device,
  Other,
};
FileKind pathKind(const char* path, uint32_t& error);
// Opened for reading and appending, created when asked and missing, shared
// with other writers (the lock keeps them apart), and never waiting for a
// peer or a carrier. Null on failure. Closed with closeFile.
Handle openFileToAppend(const char* path, bool create, uint32_t& error);
FileKind fileKind(Handle file);
bool fileSize(Handle file, uint64_t& size, uint32_t& error);
// Reads at an offset without moving the append position; got may be short.
bool readFileAt(Handle file, uint64_t offset, void* bytes, uint32_t count, uint32_t& got,
                uint32_t& error);
// One write to the end of the file, whole or failed.
bool appendToFile(Handle file, const void* bytes, uint32_t count, uint32_t& error);
bool flushFile(Handle file, uint32_t& error);
enum class LockResult : uint8_t { Locked, Busy, Failed };
// The whole file, exclusively, between processes; waits in real time (a
// file is no part of the virtual world) up to limitMs while another holds
// it, then gives up Busy.
LockResult lockFile(Handle file, uint32_t limitMs, uint32_t& error);
bool unlockFile(Handle file);
bool closeFile(Handle file);
// Who keeps a record: the computer's name and the user's (the signed-in
// account's on Windows, the effective user's on POSIX), in UTF-8; their
// length, 0 when the system does not tell.
size_t computerName(char* out, size_t capacity);
size_t userName(char* out, size_t capacity);
// The system's words for an error number, in UTF-8, without a final period
// or line break; their length (0 when the system has none).
size_t systemErrorText(uint32_t error, char* out, size_t capacity);

// ---- notes for the program's later processes ---------------------------------
// One small note per port, where every process on the machine finds it,
// whatever its user and environment: the port's device as the system knows
// it, whatever name it was opened by.
enum class NoteRead : uint8_t { Found, Missing, Failed };
// Up to capacity bytes of COM portNumber's note into bytes, their count in got.
NoteRead readPortNote(uint32_t portNumber, char* bytes, uint32_t capacity, uint32_t& got);
// Replaces the note whole: a reader finds the old one or the new one. False
// when it cannot be kept.
bool writePortNote(uint32_t portNumber, const char* bytes, uint32_t count);

// ---- overlapped transfers ------------------------------------------------------
// The record of one transfer in flight; must stay put until its result has
// been fetched. Start a new one zeroed for every transfer.
struct Transfer {
  alignas(8) unsigned char opaque[64];
};

// Each start returns true when the transfer was issued (finished at once or
// pending); false with the last error set otherwise.
bool startWrite(Handle device, const void* bytes, uint32_t count, Transfer& transfer, Handle event);
bool startRead(Handle device, void* bytes, uint32_t count, Transfer& transfer, Handle event);
// For a program that ends at once: once this returns, no write starts on
// any device (the start fails with kErrorOperationAborted), so that the
// bytes the program sends last are the last on each line. The systems'
// seams only.
void refuseWrites();
// A read whose completion signals no event: only a cancel or the result
// fetch ends it from the caller's side.
bool startReadUnsignalled(Handle device, void* bytes, uint32_t count, Transfer& transfer);
// Waits for the transfer to end; count is what it moved (also on failure).
bool finishTransfer(Handle device, Transfer& transfer, uint32_t& count);
bool cancelTransfers(Handle device);

}  // namespace os
