// The module's command set: one reply line per command line.
#include <cctype>

#include "sim/module.h"
#include "sim/registers.h"

namespace sim {
namespace {

constexpr size_t kNodeIdMax = 20;
constexpr size_t kCnReplyBytes = 3;  // "OK\r"

std::string upper(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string parameterOf(const std::string& line) {
  std::string param = line.substr(4);
  while (!param.empty() && param.front() == ' ')
    param.erase(0, 1);
  return param;
}

}  // namespace

void Module::reply(TimeUs at, const std::string& text) {
  pending_.emplace(at + config_.replyLatencyUs + faults.replyDelayUs, text + "\r");
}

void Module::handleLine(TimeUs at, const std::string& line) {
  log_.push_back(line);
  noteCommandActivity(at);
  const std::string letters = line.size() >= 4 ? upper(line.substr(2, 2)) : "";
  if (auto it = faults.withholdReply.find(letters); it != faults.withholdReply.end()) {
    if (--it->second <= 0)
      faults.withholdReply.erase(it);
    return;
  }
  // The command takes effect whatever the module then says about it.
  const std::string text = answer(at, line);
  std::optional<std::string> replaced;
  if (faults.scriptedReply)
    replaced = faults.scriptedReply(line);
  if (auto it = faults.replaceReply.find(letters); !replaced && it != faults.replaceReply.end()) {
    replaced = it->second;
    faults.replaceReply.erase(it);
  }
  if (replaced)  // sent as given, CR or not
    pending_.emplace(at + config_.replyLatencyUs + faults.replyDelayUs, *replaced);
  else
    reply(at, text);
  if (letters == "CN" && text == "OK")
    leaveCommandMode(at);
}

void Module::leaveCommandMode(TimeUs at) {
  commandMode_ = false;
  commandModeDue_.reset();
  applyNetworkChanges(at);
  // The new settings apply once "OK" has gone out at the old ones.
  settingsDue_ = at + config_.replyLatencyUs + kCnReplyBytes * byteTimeUs(line_);
}

void Module::noteCommandActivity(TimeUs at) {
  if (commandMode_)
    commandModeDue_ = at + reg("CT") * 100000;
}

// As if told "ATCN", but without a reply: what the module was given applies.
void Module::commandModeTimedOut(TimeUs at) {
  commandMode_ = false;
  commandModeDue_.reset();
  lineBuffer_.clear();
  applyNetworkChanges(at);
  settingsDue_ = at;
}

// A new channel or PAN ID takes effect on "ATAC" or "ATCN": the module
// leaves its network and joins again.
void Module::applyNetworkChanges(TimeUs at) {
  if (!networkChanged_)
    return;
  networkChanged_ = false;
  joinStart_ = at;
}

std::string Module::answer(TimeUs at, const std::string& line) {
  const std::string command = upper(line);
  if (command == "AT")
    return "OK";
  if (command.size() < 4 || command.compare(0, 2, "AT") != 0)
    return "ERROR";
  const std::string letters = command.substr(2, 2);
  const std::string param = parameterOf(line);

  if (letters == "CN")
    return param.empty() ? "OK" : "ERROR";
  if (letters == "AC") {
    if (!param.empty())
      return "ERROR";
    applyNetworkChanges(at);
    return "OK";
  }
  if (letters == "WR") {
    if (!param.empty())
      return "ERROR";
    stored_ = working_;
    storedNodeId_ = nodeId_;
    return "OK";
  }
  if (letters == "NR")
    return answerNetworkReset(at, param);
  if (letters == "AI")
    return param.empty() ? hexText(associationIndication(at)) : "ERROR";
  if (letters == "NI") {
    if (param.empty())
      return nodeId_;
    nodeId_ = param.substr(0, kNodeIdMax);
    return "OK";
  }
  if (letters == "TP")
    return param.empty() ? config_.tp : "ERROR";
  // What it runs on and hears, not settings.
  if (letters == "CH")
    return param.empty() ? hexText(static_cast<uint64_t>(channel())) : "ERROR";
  if (letters == "DB")
    return param.empty() ? hexText(config_.signalStrength) : "ERROR";
  return answerRegister(letters, param);
}

// A network reset drops the association whatever changed.
std::string Module::answerNetworkReset(TimeUs at, const std::string& param) {
  uint64_t value = 0;
  if (!param.empty() && (!parseHexParam(param, &value) || value > 1))
    return "ERROR";
  networkChanged_ = false;
  joinStart_ = at;
  return "OK";
}

std::string Module::answerRegister(const std::string& letters, const std::string& param) {
  const RegisterInfo* info = findRegister(letters);
  if (!info)
    return "ERROR";
  if (param.empty())
    return hexText(reg(letters));
  uint64_t value = 0;
  if (!info->writable || !parseHexParam(param, &value) || value > info->max)
    return "ERROR";
  if (letters == "SC" && value == 0)
    return "ERROR";  // no channel at all
  if (letters == "SC" || letters == "ID")
    networkChanged_ = true;
  working_[letters] = value;
  return "OK";
}

}  // namespace sim
