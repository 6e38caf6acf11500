// A UART receiver sampling a sender's bit stream: start bit, data bits
// least significant first, an optional parity bit, stop bits. At other
// settings than the sender's it receives what real hardware receives: at
// another rate more or fewer bytes than were sent, with framing errors; a
// stop-bit mismatch alone usually still reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/os.h"

namespace vw {

using TimeUs = uint64_t;

// The line settings a peer talks at; a host at other settings and the peer
// receive what UARTs make of each other's bit streams.
struct PeerSettings {
  uint32_t baudRate = 9600;
  uint8_t byteSize = 8;
  uint8_t parity = os::kNoParity;
  uint8_t stopBits = os::kOneStopBit;
  bool operator==(const PeerSettings&) const = default;
};

// Time for one byte with start, data, parity and stop bits, rounded up.
TimeUs byteTimeUs(const PeerSettings& s);

struct Received {
  TimeUs at = 0;  // from the start of the burst: the end of the byte's first stop bit
  uint8_t byte = 0;
  bool framingError = false;  // the stop bit was low
  bool parityError = false;   // the parity bit disagreed with the receiver's parity
  size_t senderIndex = 0;     // the sent byte in which this byte's start bit fell
};

// What a receiver at `rx` makes of `bytes`, sent back to back from time 0 at
// `tx` (each taking byteTimeUs), the line idle before and after.
std::vector<Received> receiveBurst(const std::string& bytes, const PeerSettings& tx,
                                   const PeerSettings& rx);

}  // namespace vw
