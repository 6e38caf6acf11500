// Result codes of the link layer. They share one integer space with the
// positive results of a pane operation; -2 and -7 are not used.
#pragma once

#include <cstdint>

constexpr int32_t ErrBadHandle = -1;
constexpr int32_t ErrNoPort = -3;
constexpr int32_t ErrWrite = -4;
constexpr int32_t ErrRead = -5;
constexpr int32_t ErrArgument = -6;
constexpr int32_t ErrTimeout = -8;
constexpr int32_t ErrNotOk = -9;
constexpr int32_t ErrCancelled = -10;
