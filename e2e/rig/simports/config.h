// What simports is told on its command line and its control channel, as
// plain records. Parsing only: nothing here touches a port.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/module.h"

namespace simports {

// "--port 6=slave:baud=5,nb=1,sb=1": COM6 holds the slave preset at 38400,
// even parity, two stop bits. After the colon: any register by its two
// letters (hexadecimal values, "baud" for BD), ni=<node id>, tp=<text>.
// "--port 4=echo": no module, but a far end that answers a small line
// protocol at once, for checks of the serial binding itself (simports.cpp).
// "plain" among the settings: the shim leaves the line alone, as it has no
// modem lines and no break (a network serial bridge); the host's settings
// are read from the pseudo-terminal itself.
struct PortSetup {
  uint32_t number = 0;
  std::string preset;
  bool echo = false;
  bool plain = false;
  sim::ModuleConfig config;
};

bool parsePortSetup(const std::string& text, PortSetup& setup, std::string& error);
// The preset names parsePortSetup takes, comma-separated, for usage texts.
std::string presetNames();

struct Options {
  std::string dosdevices;
  std::string runDir;
  std::string transcriptDir;
  std::vector<PortSetup> ports;
  uint32_t timeLimitS = 0;  // 0: until signalled
};

bool parseOptions(int argc, char** argv, Options& options, std::string& error);

// One line of the control channel.
enum class Verb {
  kPress,     // press COMn [after-break <ms>]
  kPower,     // power COMn
  kFault,     // fault COMn replace <XX|+++> <text> | withhold <XX> [times] | cts-low [ms]
              //   | cts-ok | never-associates on|off | clear
  kRadio,     // radio cut on|off | drop <n> | corrupt <n> | loss <percent> [COMn]
              //   | corrupt-rate <percent> | delay <ms> | seed <n>
  kSet,       // set COMn <XX> <hex>, or set COMn NI <text>
  kUnplug,    // unplug COMn
  kPlug,      // plug COMn
  kHold,      // hold COMn <n>: pause the host's read of the n-th CR from now
  kRelease,   // release COMn: let a held read go on, or disarm the pause
  kLoopback,  // loopback COMn on|off: a plug instead of the PC on the module's line
  kStatus,    // status
  kQuit,      // quit
};

struct Command {
  Verb verb = Verb::kStatus;
  uint32_t port = 0;
  std::string what;   // the fault, radio setting or register
  std::string text;   // the command letters a fault is for
  std::string reply;  // a replacement reply, escapes decoded
  std::optional<uint64_t> number;
  bool on = false;
};

bool parseCommand(const std::string& line, Command& command, std::string& error);

// "\r", "\n", "\t", "\\", "\s" (space) and "\xHH" in a reply text.
bool decodeEscapes(const std::string& text, std::string& bytes);

}  // namespace simports
