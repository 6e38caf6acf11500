#include "platform/virtual/uart.h"

#include <bit>
#include <cmath>

namespace vw {

TimeUs byteTimeUs(const PeerSettings& s) {
  uint64_t halfBits = 2 * (1 + uint64_t{s.byteSize} + (s.parity != os::kNoParity ? 1 : 0));
  halfBits += s.stopBits == os::kTwoStopBits ? 4 : (s.stopBits == os::kOne5StopBits ? 3 : 2);
  const uint64_t baud = s.baudRate ? s.baudRate : 1;
  return (halfBits * 1000000 + 2 * baud - 1) / (2 * baud);
}

namespace {

double stopBitCount(uint8_t stopBits) {
  return stopBits == os::kTwoStopBits ? 2.0 : (stopBits == os::kOne5StopBits ? 1.5 : 1.0);
}

bool parityBit(uint8_t parity, uint32_t data) {
  const bool odd = std::popcount(data) % 2 == 1;
  switch (parity) {
    case os::kEvenParity:
      return odd;
    case os::kOddParity:
      return !odd;
    case os::kMarkParity:
      return true;
    default:  // space
      return false;
  }
}

// The sender's line level as a function of time (us from the burst's start).
class Line {
 public:
  Line(const std::string& bytes, const PeerSettings& tx)
      : bytes_(bytes),
        tx_(tx),
        frameUs_(static_cast<double>(byteTimeUs(tx))),
        bitUs_(frameUs_ / (1 + tx.byteSize + (tx.parity != os::kNoParity ? 1 : 0) +
                           stopBitCount(tx.stopBits))) {}

  double end() const { return frameUs_ * static_cast<double>(bytes_.size()); }
  size_t frameAt(double t) const { return static_cast<size_t>(t / frameUs_); }

  bool level(double t) const {
    if (t < 0 || t >= end())
      return true;  // idle
    const size_t k = frameAt(t);
    const auto cell = static_cast<int>((t - frameUs_ * static_cast<double>(k)) / bitUs_);
    return cellLevel(k, cell);
  }

  // The first time at or after t when the line is low, or a negative value.
  // Walks the sender's bit cells by number, so rounding cannot stall it.
  double firstLow(double t) const {
    for (size_t k = t < 0 ? 0 : frameAt(t); k < bytes_.size(); ++k) {
      const double frameStart = frameUs_ * static_cast<double>(k);
      for (int cell = 0; cell < lastCellBeforeStop(); ++cell) {
        const double cellStart = frameStart + bitUs_ * cell;
        if (cellStart + bitUs_ <= t || cellLevel(k, cell))
          continue;
        return cellStart > t ? cellStart : t;
      }
    }
    return -1;
  }

 private:
  int lastCellBeforeStop() const {
    return 1 + tx_.byteSize + (tx_.parity != os::kNoParity ? 1 : 0);
  }

  // Cell 0 is the start bit, then the data bits, the parity bit, the stop bits.
  bool cellLevel(size_t k, int cell) const {
    const auto data = static_cast<uint8_t>(bytes_[k]);
    if (cell < 1)
      return false;
    const int bit = cell - 1;
    if (bit < tx_.byteSize)
      return (data >> bit) & 1;
    if (tx_.parity != os::kNoParity && bit == tx_.byteSize)
      return parityBit(tx_.parity, data & ((1u << tx_.byteSize) - 1));
    return true;
  }

  const std::string& bytes_;
  PeerSettings tx_;
  double frameUs_;
  double bitUs_;
};

}  // namespace

std::vector<Received> receiveBurst(const std::string& bytes, const PeerSettings& tx,
                                   const PeerSettings& rx) {
  std::vector<Received> out;
  const Line line(bytes, tx);
  const double bitUs = 1e6 / static_cast<double>(rx.baudRate ? rx.baudRate : 1);
  double ready = 0;
  for (;;) {
    const double start = line.firstLow(ready);
    if (start < 0)
      break;
    if (line.level(start + 0.5 * bitUs)) {  // a glitch, not a start bit
      ready = start + 0.5 * bitUs;
      continue;
    }
    uint32_t data = 0;
    double at = start + 1.5 * bitUs;
    for (int i = 0; i < rx.byteSize; ++i, at += bitUs)
      data |= static_cast<uint32_t>(line.level(at)) << i;
    Received r;
    if (rx.parity != os::kNoParity) {
      r.parityError = line.level(at) != parityBit(rx.parity, data);
      at += bitUs;
    }
    r.framingError = !line.level(at);
    r.byte = static_cast<uint8_t>(data);
    r.at = static_cast<TimeUs>(std::ceil(at + 0.5 * bitUs - 1e-6));
    r.senderIndex = line.frameAt(start);
    out.push_back(r);
    ready = at;  // the receiver looks for the next start from mid stop bit
  }
  return out;
}

}  // namespace vw
