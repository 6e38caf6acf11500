// A UART receiver sampling a sender's bit stream: start bit, data bits
// least significant first, an optional parity bit, stop bits. At other
// settings than the sender's it receives what real hardware receives: at
// another rate more or fewer bytes than were sent, with framing errors; a
// stop-bit mismatch alone usually still reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/virtual/world.h"

namespace vw {

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
