// A broken invariant ends the fuzz run with its reasons, as a crash that
// libFuzzer keeps the input of.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

inline void requireNone(const std::vector<std::string>& broken) {
  if (broken.empty())
    return;
  for (const std::string& b : broken)
    std::fprintf(stderr, "broken invariant: %s\n", b.c_str());
  std::abort();
}

inline void require(bool holds, const char* what) {
  if (!holds)
    requireNone({what});
}
