// The module's registers as its command set sees them: which exist, how
// wide they are, which a host may set, and their hexadecimal text.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace sim {

struct RegisterInfo {
  const char* name;
  uint64_t max;
  bool writable;
};

// Null for letters that name no register.
const RegisterInfo* findRegister(const std::string& letters);
const std::map<std::string, uint64_t>& defaultRegisters();

std::string hexText(uint64_t value);
// Upper- or lower-case digits, at most 16 of them.
bool parseHexParam(const std::string& text, uint64_t* value);

}  // namespace sim
