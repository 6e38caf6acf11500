#include "sim/registers.h"

#include <cctype>
#include <cstdio>

namespace sim {
namespace {

constexpr uint64_t k8 = 0xFF, k16 = 0xFFFF, k32 = 0xFFFFFFFF, k64 = ~uint64_t{0};

// Versions, serial number and the operating PAN ID are the module's own.
constexpr RegisterInfo kRegisters[] = {
    {"VR", k16, false}, {"HV", k16, false}, {"ID", k64, true}, {"OI", k16, false},
    {"SL", k32, false}, {"SH", k32, false}, {"DL", k32, true}, {"DH", k32, true},
    {"SC", k16, true},  {"BD", k32, true},  {"NB", k8, true},  {"SB", k8, true},
    {"PL", k8, true},   {"PM", k8, true},   {"SM", k8, true},  {"D7", k8, true},
    {"D6", k8, true},   {"GT", k16, true},  {"CT", k16, true}, {"SP", k16, true},
    {"ST", k16, true},  {"D0", k8, true},   {"D1", k8, true},  {"D2", k8, true},
    {"D3", k8, true},   {"D4", k8, true},   {"D5", k8, true},
};

int digitValue(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (std::isdigit(u))
    return c - '0';
  return std::toupper(u) - 'A' + 10;
}

}  // namespace

const RegisterInfo* findRegister(const std::string& letters) {
  for (const RegisterInfo& r : kRegisters) {
    if (letters == r.name)
      return &r;
  }
  return nullptr;
}

const std::map<std::string, uint64_t>& defaultRegisters() {
  static const std::map<std::string, uint64_t> regs = {
      {"VR", 0x10A5},     {"HV", 0x1744}, {"ID", 0x3332}, {"OI", 0xFFFF}, {"SL", 0x40A1B2C3},
      {"SH", 0x02004E4C}, {"DL", 0},      {"DH", 0},      {"SC", 0x1FFE}, {"BD", 3},
      {"NB", 0},          {"SB", 0},      {"PL", 4},      {"PM", 1},      {"SM", 0},
      {"D7", 1},          {"D6", 0},      {"GT", 0x3E8},  {"CT", 0x64},   {"SP", 0},
      {"ST", 0x1388},     {"D0", 0},      {"D1", 0},      {"D2", 0},      {"D3", 0},
      {"D4", 0},          {"D5", 1},
  };
  return regs;
}

std::string hexText(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(value));
  return text;
}

bool parseHexParam(const std::string& text, uint64_t* value) {
  if (text.empty() || text.size() > 16)
    return false;
  uint64_t v = 0;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c)))
      return false;
    v = v * 16 + static_cast<uint64_t>(digitValue(c));
  }
  *value = v;
  return true;
}

}  // namespace sim
