// What this program last did on each port, whichever operation did it and
// across the port's opens: a "+++" needs the module's guard time of silence
// since the last byte sent, and a range test stopped with packets in the air
// leaves them arriving for a while. Ports are named by number only, so that
// a note that other processes share can take this table's place.
#pragma once

#include <cstdint>

// The last write on the port has just ended (done, timed out or cancelled).
void noteBytesSent(uint32_t portNumber);
// ms of the guard time left since the last byte sent; 0 when none was sent
// (in this process) or the guard time has passed.
uint32_t guardTimeLeftMs(uint32_t portNumber, uint32_t guardMs);

// Bytes this program caused may still come in on the port until then.
void noteArrivalsDue(uint32_t portNumber, uint32_t untilTick);
// ms until they have all come; 0 when none are due.
uint32_t arrivalsDueMs(uint32_t portNumber);

// Nothing noted on any port, as a new process starts (a test world's clock
// starts again with every world).
void forgetPortActivity();
