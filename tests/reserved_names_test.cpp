// The device names a file operand must never open.
#include "platform/reserved_names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(ReservedNames, EveryDeviceInEveryFormIsADevice) {
  std::vector<std::wstring> devices = {L"CON",       L"PRN",       L"AUX",       L"NUL",
                                       L"CONIN$",    L"CONOUT$",   L"COM\u00B9", L"COM\u00B2",
                                       L"COM\u00B3", L"LPT\u00B9", L"LPT\u00B2", L"LPT\u00B3"};
  for (wchar_t n = L'0'; n <= L'9'; ++n) {
    devices.push_back(std::wstring(L"COM") + n);
    devices.push_back(std::wstring(L"LPT") + n);
  }
  for (const std::wstring& d : devices) {
    std::wstring lower;
    for (wchar_t c : d)
      lower += c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c;
    for (const std::wstring& form :
         {d, lower, d + L":", lower + L".txt", d + L".tar.gz", d + L"  ", d + L"..", d + L" .log",
          L"C:" + d, L"C:\\records\\" + lower + L".csv", L"..\\" + d + L":", L"logs/" + d}) {
      EXPECT_TRUE(os::namesReservedDevice(form.c_str())) << std::string(form.begin(), form.end());
    }
  }
}

TEST(ReservedNames, FilesThatOnlyLookLikeDevicesAreFiles) {
  for (const wchar_t* file :
       {L"COM10", L"LPT10", L"COM", L"CONSOLE", L"NULL.txt", L"AUXILIARY", L"xCON", L"com7x.log",
        L"pairs.csv", L"C:\\COM7\\pairs.csv", L"NUL\\pairs.csv", L"", L"C:", L"records.nul",
        L"COM\u00B4", L"CON$"}) {
    const std::wstring name = file;
    EXPECT_FALSE(os::namesReservedDevice(file)) << std::string(name.begin(), name.end());
  }
  EXPECT_FALSE(os::namesReservedDevice(nullptr));
}

}  // namespace
