#include "sim/presets.h"

namespace sim::presets {
namespace {

constexpr uint64_t kSerialHigh = 0x02004E4C;
constexpr uint64_t kMasterSerialLow = 0x40B0A001;
constexpr uint64_t kSlaveSerialLow = 0x40B0A002;
constexpr uint64_t kPanId = 0x4E4C303031;  // "NL001"
constexpr uint64_t kChannelMask = 0x10;    // channel 15

ModuleConfig paired(uint64_t version, const char* nodeId, uint64_t ownLow, uint64_t peerLow) {
  ModuleConfig c;
  c.nodeId = nodeId;
  c.registers = {
      {"VR", version},     {"HV", 0x1744},      {"ID", kPanId},
      {"OI", 0x3031},      {"SH", kSerialHigh}, {"SL", ownLow},
      {"DH", kSerialHigh}, {"DL", peerLow},     {"SC", kChannelMask},
      {"BD", 3},           {"NB", 0},           {"SB", 0},
      {"PL", 4},           {"PM", 1},           {"SM", 0},
      {"D7", 1},           {"D6", 0},           {"GT", 0x3E8},
  };
  return c;
}

ModuleConfig withVersion(ModuleConfig c, uint64_t version) {
  c.registers["VR"] = version;
  return c;
}

ModuleConfig withNodeId(ModuleConfig c, const char* nodeId) {
  c.nodeId = nodeId;
  return c;
}

}  // namespace

ModuleConfig master() {
  return paired(0x2041, "KOV-NL001/M", kMasterSerialLow, kSlaveSerialLow);
}

ModuleConfig slave() {
  return paired(0x2241, "KOV-NL001/S", kSlaveSerialLow, kMasterSerialLow);
}

ModuleConfig sleepingSlave() {
  ModuleConfig c = slave();
  c.registers["SM"] = 4;
  return c;
}

ModuleConfig masterWithSlaveRole() {
  return withVersion(master(), 0x2241);
}

ModuleConfig slaveWithMasterRole() {
  return withVersion(slave(), 0x2041);
}

ModuleConfig masterWithSharedRole() {
  return withVersion(master(), 0x4041);
}

ModuleConfig slaveWithSharedRole() {
  return withVersion(slave(), 0x4041);
}

ModuleConfig masterWithWrongNodeId() {
  return withNodeId(master(), "KOV-NL001/m");
}

ModuleConfig slaveWithWrongNodeId() {
  return withNodeId(slave(), "KOV-NL001/s");
}

ModuleConfig slaveWithWrongDestination() {
  ModuleConfig c = slave();
  c.registers["DL"] = kMasterSerialLow + 0x10;
  return c;
}

ModuleConfig slaveWithOtherPanId() {
  ModuleConfig c = slave();
  c.registers["ID"] = kPanId + 1;
  return c;
}

}  // namespace sim::presets
