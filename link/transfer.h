// The only operations that move bytes over a SerialPort. Every wait ends on
// completion, on the port's ioTimeoutMs, or at once when the pane's
// cancelEvent is set. None of them checks the port or takes its lock.
#pragma once

#include <cstdint>

#include "link/port_table.h"

bool purgePort(SerialPort* port);
// DTR or RTS by os::escapeSerial's function. A line that has no modem lines
// (a pseudo-terminal, a network bridge) carries bytes all the same: that is
// logged once and counts as done.
bool setModemLine(SerialPort* port, uint32_t function);
// True once the pane's cancelEvent is set, while the port's waits watch it.
bool cancelRequested(const SerialPort* port);
// True when CTS is or comes up within limitMs; the line is held in break
// while waiting, and the break is cleared on every way out.
bool waitForCts(SerialPort* port, uint32_t limitMs);
bool waitWriteReady(SerialPort* port);
// A pause that the pane's cancelEvent ends at once (false then).
bool pauseUnlessCancelled(SerialPort* port, uint32_t ms);
// Before a "+++": what is left of the port's guard delay since this program
// last sent a byte on the port, by any operation and any open of it; false
// on a cancel.
bool waitOutGuardTime(SerialPort* port);

// 0, ErrWrite, ErrTimeout or ErrCancelled. A cancelled port writes nothing:
// what is handed to the driver goes out whatever the wait then says.
int32_t writeBytes(SerialPort* port, const char* bytes, uint32_t count);
// Reads up to CR (consumed, not stored) into a NUL-terminated buffer of
// `size` (at least 1). A longer line keeps size - 1 characters and leaves the
// rest for the next read. 0, ErrRead, ErrTimeout or ErrCancelled; outLength
// (if given) is what was kept, on every way out, and crEnded whether a CR
// ended it (an empty line is ErrRead, yet a line).
int32_t readLine(SerialPort* port, char* buffer, uint32_t size, uint32_t* outLength,
                 bool* crEnded = nullptr);

// The raw variants serve the settings discovery, before the module's
// settings are known; they report only success.
bool writeRaw(SerialPort* port, const char* bytes, uint32_t count);
// Keeps the CR; at most size - 1 bytes (size at least 2).
bool readLineRaw(SerialPort* port, char* buffer, uint32_t size, uint32_t* outCount);
// After "+++": 0 once a line ending in "OK" came within windowMs, ErrNotOk
// when only other lines came, ErrTimeout when none did. Radio data that
// reached the module before it took the escape comes first, in lines of any
// length, and is read past.
int32_t readEscapeAnswer(SerialPort* port, uint32_t windowMs);
// Gives the read a fixed window of ioTimeoutMs, even when its bytes come
// sooner; outCount is what arrived within it. issued (if given) tells a read
// that could not even start from one that brought nothing.
bool readBlockTimed(SerialPort* port, char* buffer, uint32_t count, uint32_t* outCount,
                    bool* issued = nullptr);
