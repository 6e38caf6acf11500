#include "e2e/rig/simports/transcript.h"

namespace simports {
namespace {

constexpr TimeUs kIdleUs = 20000;

char parityLetter(sim::Parity parity) {
  static const char kLetters[] = "NOEMS";
  const auto i = static_cast<size_t>(parity);
  return i < 5 ? kLetters[i] : '?';
}

const char* stopText(uint8_t stopHalfBits) {
  switch (stopHalfBits) {
    case 2:
      return "1";
    case 3:
      return "1.5";
    case 4:
      return "2";
    default:
      return "?";
  }
}

std::string timeText(TimeUs at) {
  char text[32];
  std::snprintf(text, sizeof text, "%12.6f", static_cast<double>(at) / 1e6);
  return text;
}

std::string quoted(const std::string& bytes) {
  std::string text = "\"";
  for (char c : bytes) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\r') {
      text += "\\r";
    } else if (c == '\n') {
      text += "\\n";
    } else if (c == '"' || c == '\\') {
      text += '\\';
      text += c;
    } else if (u >= 0x20 && u < 0x7F) {
      text += c;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", u);
      text += hex;
    }
  }
  return text + "\"";
}

std::string hexBytes(const std::string& bytes) {
  std::string text;
  for (char c : bytes) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned char>(c));
    if (!text.empty())
      text += ' ';
    text += hex;
  }
  return text;
}

}  // namespace

std::string describe(const sim::SerialConfig& c) {
  char text[48];
  std::snprintf(text, sizeof text, "%u %u%c%s", c.baudRate, unsigned{c.byteSize},
                parityLetter(c.parity), stopText(c.stopHalfBits));
  return text;
}

Transcript::~Transcript() {
  flush();
  if (file_)
    std::fclose(file_);
}

void Transcript::byte(TimeUs at, Direction from, uint8_t sent, uint8_t received,
                      const sim::SerialConfig& sender, const sim::SerialConfig& receiver) {
  const bool continues =
      run_.open && run_.from == from && run_.sender == sender && run_.receiver == receiver;
  if (!continues) {
    flush();
    run_.open = true;
    run_.first = at;
    run_.from = from;
    run_.sender = sender;
    run_.receiver = receiver;
  }
  run_.last = at;
  run_.sent.push_back(static_cast<char>(sent));
  run_.received.push_back(static_cast<char>(received));
}

void Transcript::event(TimeUs at, const std::string& text) {
  flush();
  write(timeText(at) + " " + text);
}

void Transcript::flushIdle(TimeUs now) {
  if (run_.open && now > run_.last + kIdleUs)
    flush();
}

void Transcript::flush() {
  if (!run_.open)
    return;
  std::string line = timeText(run_.first) +
                     (run_.from == Direction::kHost ? " host>   " : " module> ") +
                     quoted(run_.sent) + " [" + hexBytes(run_.sent) + "] " + describe(run_.sender);
  if (!(run_.sender == run_.receiver)) {
    line += " | garbled at " + describe(run_.receiver) + " into [" + hexBytes(run_.received) + "]";
  }
  run_ = Run{};
  write(line);
}

void Transcript::write(const std::string& line) {
  if (file_) {
    std::fputs(line.c_str(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
  } else {
    lines_.push_back(line);
  }
}

}  // namespace simports
