// Shows the serial ports as the program finds them: the present devices of
// the Ports class with their friendly names, and what CM_Get_DevNode_Status
// of the cfgmgr32.dll in system32 says about each.
//
//   ports_check [--stub] [NAME=STATE ...]
//
// Prints one "port ..." line per device. --stub checks that the cfgmgr32.dll
// loaded from system32 is the test stand-in, not Wine's.
// Each NAME=STATE checks the device with that friendly name: STATE is
// started, not-started, fail (status not readable) or absent (not listed).
// Prints "PASS <check>" or "FAIL <check>: <detail>"; exit status 1 when a
// check failed, 2 on bad arguments.
#include <windows.h>
// After windows.h:
#include <setupapi.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

const GUID kPortsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
constexpr ULONG kStartedFlag = 0x8;  // DN_STARTED

using DevNodeStatusFn = DWORD(WINAPI*)(ULONG* status, ULONG* problem, DWORD devInst, ULONG flags);

struct Device {
  std::wstring name;
  std::wstring id;
  DWORD result = 0;
  ULONG status = 0;
  ULONG problem = 0;
};

std::string utf8(const std::wstring& text) {
  if (text.empty())
    return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

std::wstring wide(const char* text) {
  const int size = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  std::wstring out(static_cast<size_t>(size > 0 ? size : 1), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text, -1, out.data(), size);
  out.resize(std::wcslen(out.c_str()));
  return out;
}

std::wstring property(HDEVINFO set, SP_DEVINFO_DATA* element, DWORD which) {
  wchar_t buffer[4097] = {};
  DWORD type = 0;
  if (!SetupDiGetDeviceRegistryPropertyW(set, element, which, &type,
                                         reinterpret_cast<BYTE*>(buffer), 8192, nullptr) ||
      type != REG_SZ) {
    return {};
  }
  return buffer;
}

std::wstring instanceId(HDEVINFO set, SP_DEVINFO_DATA* element) {
  wchar_t buffer[512] = {};
  if (!SetupDiGetDeviceInstanceIdW(set, element, buffer, 512, nullptr))
    return {};
  return buffer;
}

// From system32, as the program loads it. Wine names the DLL there by that
// path even when it loads its builtin instead; only the stub exports
// NlconfTestStub.
DevNodeStatusFn resolveStatus(std::wstring* from, bool* isStub) {
  HMODULE library = LoadLibraryExW(L"cfgmgr32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!library)
    return nullptr;
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(library, path, MAX_PATH);
  *from = path;
  *isStub = GetProcAddress(library, "NlconfTestStub") != nullptr;
  const FARPROC proc = GetProcAddress(library, "CM_Get_DevNode_Status");
  return reinterpret_cast<DevNodeStatusFn>(reinterpret_cast<void (*)()>(proc));
}

std::vector<Device> listDevices(DevNodeStatusFn getStatus) {
  std::vector<Device> devices;
  HDEVINFO set = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE)
    return devices;
  SP_DEVINFO_DATA element{};
  element.cbSize = sizeof element;
  for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &element); ++index) {
    Device device;
    device.name = property(set, &element, SPDRP_FRIENDLYNAME);
    device.id = instanceId(set, &element);
    device.result =
        getStatus ? getStatus(&device.status, &device.problem, element.DevInst, 0) : 0xFFFFFFFF;
    devices.push_back(device);
  }
  SetupDiDestroyDeviceInfoList(set);
  return devices;
}

std::string stateOf(const Device& device) {
  if (device.result != 0)
    return "fail";
  return (device.status & kStartedFlag) ? "started" : "not-started";
}

std::wstring directoryOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring systemDirectory() {
  wchar_t path[MAX_PATH] = {};
  GetSystemDirectoryW(path, MAX_PATH);
  return path;
}

struct Tally {
  int failed = 0;
  void report(const std::string& check, bool ok, const std::string& detail) {
    if (ok) {
      std::printf("PASS %s\n", check.c_str());
    } else {
      ++failed;
      std::printf("FAIL %s: %s\n", check.c_str(), detail.c_str());
    }
  }
};

void checkStub(Tally& tally, const std::wstring& from, bool isStub) {
  const bool inSystem =
      !from.empty() && _wcsicmp(directoryOf(from).c_str(), systemDirectory().c_str()) == 0;
  std::string detail = from.empty() ? "cfgmgr32.dll not loaded" : "loaded from " + utf8(from);
  if (!isStub)
    detail += ", without the stub's marker export (Wine's builtin: check WINEDLLOVERRIDES)";
  tally.report("cfgmgr32-is-the-test-stub", inSystem && isStub, detail);
}

const Device* findDevice(const std::vector<Device>& devices, const std::wstring& name) {
  for (const Device& device : devices) {
    if (device.name == name)
      return &device;
  }
  return nullptr;
}

bool checkExpectation(Tally& tally, const std::vector<Device>& devices, const char* argument) {
  const char* equals = std::strrchr(argument, '=');
  if (!equals || equals == argument)
    return false;
  const std::string expected = equals + 1;
  if (expected != "started" && expected != "not-started" && expected != "fail" &&
      expected != "absent") {
    return false;
  }
  const std::string name(argument, static_cast<size_t>(equals - argument));
  const Device* device = findDevice(devices, wide(name.c_str()));
  const std::string actual = device ? stateOf(*device) : "absent";
  tally.report("port \"" + name + "\" " + expected, actual == expected, "it is " + actual);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::wstring from;
  bool isStub = false;
  const DevNodeStatusFn getStatus = resolveStatus(&from, &isStub);
  std::printf("cfgmgr32 %s%s\n", from.empty() ? "(not loaded)" : utf8(from).c_str(),
              isStub ? " (test stub)" : "");
  const std::vector<Device> devices = listDevices(getStatus);
  for (const Device& device : devices) {
    std::printf("port \"%s\" id %s %s (result 0x%lX, status 0x%08lX, problem 0x%lX)\n",
                utf8(device.name).c_str(), utf8(device.id).c_str(), stateOf(device).c_str(),
                device.result, device.status, device.problem);
  }
  std::printf("%zu device(s) in the Ports class\n", devices.size());
  Tally tally;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--stub") == 0) {
      checkStub(tally, from, isStub);
    } else if (!checkExpectation(tally, devices, argv[i])) {
      std::fprintf(stderr, "ports_check: bad argument \"%s\" (want --stub or NAME=STATE)\n",
                   argv[i]);
      return 2;
    }
  }
  std::fflush(stdout);
  return tally.failed == 0 ? 0 : 1;
}
