// Plain host-side serial calls on the virtual world, for tests that look at
// the line itself rather than through the link layer.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/os.h"

inline os::Handle openCom(const char* name) {
  std::wstring wide = L"\\\\.\\";
  for (const char* p = name; *p; ++p)
    wide.push_back(static_cast<wchar_t>(*p));
  return os::openSerial(wide.c_str());
}

inline void setLine(os::Handle h, uint32_t baud, uint8_t parity = os::kNoParity,
                    uint8_t stop = os::kOneStopBit) {
  os::LineSettings s{};
  s.baudRate = baud;
  s.byteSize = 8;
  s.parity = parity;
  s.stopBits = stop;
  ASSERT_TRUE(os::setLineSettings(h, s));
}

// Writes and waits for the write to finish; returns the bytes moved.
inline uint32_t writeAll(os::Handle h, const std::string& text) {
  os::Handle ev = os::createEvent();
  os::Transfer t{};
  EXPECT_TRUE(os::startWrite(h, text.data(), static_cast<uint32_t>(text.size()), t, ev));
  uint32_t n = 0;
  EXPECT_TRUE(os::finishTransfer(h, t, n));
  EXPECT_EQ(n, text.size()) << "a write that stopped short";
  os::closeHandle(ev);
  return n;
}

// What arrives within the time-out, up to count bytes.
inline std::string readSome(os::Handle h, uint32_t count, uint32_t timeoutMs) {
  os::Handle ev = os::createEvent();
  std::string buf(count, '\0');
  os::Transfer t{};
  EXPECT_TRUE(os::startRead(h, buf.data(), count, t, ev));
  if (os::waitAny(&ev, 1, timeoutMs) != 0)
    os::cancelTransfers(h);
  uint32_t n = 0;
  os::finishTransfer(h, t, n);
  os::closeHandle(ev);
  buf.resize(n);
  return buf;
}
