// SHA-256, for naming the exact bytes of a profile in the record.
#pragma once

#include <cstddef>
#include <cstdint>

struct Sha256 {
  uint32_t state[8];
  uint64_t length;  // bytes hashed so far
  uint8_t block[64];
  size_t filled;
};

void sha256Start(Sha256& hash);
void sha256Add(Sha256& hash, const void* bytes, size_t count);
void sha256Finish(Sha256& hash, uint8_t (&digest)[32]);

// The digest of bytes as 64 lower-case hex digits and a NUL.
void sha256Hex(const void* bytes, size_t count, char (&hex)[65]);
