// The record of one port's traffic, kept so that a failed journey can be
// read afterwards: bytes each way with their time and line settings (and
// what a receiver at other settings made of them), break, modem lines,
// settings changes, and what the test rig did.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/module.h"

namespace simports {

using sim::TimeUs;

// "38400 8E2"
std::string describe(const sim::SerialConfig& c);

class Transcript {
 public:
  // With no file, the lines are kept in memory (tests).
  explicit Transcript(std::FILE* file = nullptr) : file_(file) {}
  ~Transcript();
  Transcript(const Transcript&) = delete;
  Transcript& operator=(const Transcript&) = delete;

  enum class Direction { kHost, kModule };

  // One byte that reached the other side: `sent` at the sender's settings,
  // `received` as the receiver took it. Bytes in a row share a line.
  void byte(TimeUs at, Direction from, uint8_t sent, uint8_t received,
            const sim::SerialConfig& sender, const sim::SerialConfig& receiver);
  void event(TimeUs at, const std::string& text);
  // Ends a run of bytes that has seen no new byte for a while, so that a
  // reader of the file sees it.
  void flushIdle(TimeUs now);
  void flush();

  const std::vector<std::string>& lines() const { return lines_; }

 private:
  struct Run {
    bool open = false;
    TimeUs first = 0, last = 0;
    Direction from = Direction::kHost;
    std::string sent, received;
    sim::SerialConfig sender, receiver;
  };

  void write(const std::string& line);

  std::FILE* file_;
  Run run_;
  std::vector<std::string> lines_;
};

}  // namespace simports
