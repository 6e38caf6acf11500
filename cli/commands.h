// The commands of nlconf-cli, each in a file of its own with its options'
// table, in the order that the usage lists them.
#pragma once

#include "cli/options.h"

namespace cli {

extern const CommandSpec kPortsCommand;
extern const CommandSpec kReadCommand;
extern const CommandSpec kWriteCommand;
extern const CommandSpec kLinkTestCommand;
extern const CommandSpec kPairCommand;
extern const CommandSpec kRangeTestCommand;
extern const CommandSpec kAtCommand;
extern const CommandSpec kConsoleCommand;

inline constexpr const CommandSpec* kCommands[] = {
    &kPortsCommand, &kReadCommand,      &kWriteCommand, &kLinkTestCommand,
    &kPairCommand,  &kRangeTestCommand, &kAtCommand,    &kConsoleCommand};

}  // namespace cli
