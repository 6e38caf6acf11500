// What an operation ends with: a result code, and where it came from.
#pragma once

#include <cstdint>

#include "link/errors.h"

// Results of an operation beyond the link-layer codes; the numbers are
// fixed because they travel as the worker thread's exit code.
constexpr int32_t ResultNoEvent = 256;
constexpr int32_t ResultNoThread = 257;
constexpr int32_t ResultCancelled = 258;
// Both panes pick one port: refused before a byte (259 is STILL_ACTIVE).
constexpr int32_t ResultSamePort = 260;
constexpr int32_t ResultNotMaster = 272;
constexpr int32_t ResultNotSlave = 273;
constexpr int32_t ResultJoinTimeout = 512;
