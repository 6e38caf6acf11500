// What this program last did on each port, whichever operation did it and
// across the port's opens and the program's processes: a "+++" needs the
// module's guard time of silence since the last byte sent, and a range test
// stopped with packets in the air leaves them arriving for a while. Each
// change is kept in the port's note for the processes that come after.
#pragma once

#include <cstdint>

// The last write on the port has just ended (done, timed out or cancelled).
// False the first time that the port's note could not be kept: only a later
// process's "+++" suffers, if it comes within the guard time.
bool noteBytesSent(uint32_t portNumber);
// ms of the guard time left since the last byte sent; 0 when none was sent
// or the guard time has passed.
uint32_t guardTimeLeftMs(uint32_t portNumber, uint32_t guardMs);

// Bytes this program caused may still come in on the port for forMs.
void noteArrivalsDue(uint32_t portNumber, uint32_t forMs);
// ms until they have all come; 0 when none are due.
uint32_t arrivalsDueMs(uint32_t portNumber);

// The module's guard time (GT, ms) as it answered or was set, for the
// "+++" of later opens and processes; 0 when none is known.
void noteGuardTime(uint32_t portNumber, uint32_t guardTime);
uint32_t knownGuardTime(uint32_t portNumber);

// The serial settings the module was last found at or given on the port,
// for a later process to try first; false when none is known.
void noteModuleLine(uint32_t portNumber, uint32_t baudRate, uint8_t parity, uint8_t stopBits);
bool knownModuleLine(uint32_t portNumber, uint32_t* baudRate, uint8_t* parity, uint8_t* stopBits);

// The port's note, as last read, was there but could not be read or
// trusted: the guard time is waited out whole.
bool portNoteDoubted(uint32_t portNumber);

// Nothing in this process's memory on any port, as a new process starts (a
// test world's clock and notes start again with every world).
void forgetPortActivity();
