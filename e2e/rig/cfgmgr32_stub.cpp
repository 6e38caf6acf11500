// Test-only stand-in for cfgmgr32.dll: Wine reports every device as not
// started, so without this no port would ever be listed. Loaded instead of
// Wine's own with WINEDLLOVERRIDES="cfgmgr32=n,b" and the DLL in the
// prefix's system32, where a real one lives.
//
// Each call maps the device node to its port: the instance identifier (asked
// of setupapi, which owns the node numbers of its device lists) names the
// registry key under Enum, whose FriendlyName holds "COMn". The answer for
// that port is read at each call from cfgmgr32_state.txt beside this DLL, so
// a test can change it while the program runs. One line per port:
//
//   COM5 not-started     status without DN_STARTED, problem CM_PROB_DISABLED
//   COM6 fail            CR_FAILURE
//   COM7 started         (the default for every port not listed)
//
// Blank lines and lines starting with '#' are ignored. Every call is
// appended to cfgmgr32_calls.log beside this DLL, e.g.
// "ROOT\PORTS\0005 COM5 started", so a test can see that the program asked
// and that this DLL, not Wine's, answered. Every load appends the loading
// program's path to cfgmgr32_loads.log beside this DLL.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {

using ConfigResult = DWORD;
constexpr ConfigResult kSuccess = 0x00;         // CR_SUCCESS
constexpr ConfigResult kFailure = 0x13;         // CR_FAILURE
constexpr ConfigResult kInvalidPointer = 0x03;  // CR_INVALID_POINTER
constexpr ConfigResult kInvalidFlag = 0x0B;     // CR_INVALID_FLAG
constexpr ConfigResult kNoSuchDevNode = 0x0D;   // CR_NO_SUCH_DEVNODE
// What Windows reports for a root-enumerated port that runs, and for one
// that is disabled (DN_HAS_PROBLEM, no DN_STARTED).
constexpr ULONG kStartedStatus = 0x0180200A;
constexpr ULONG kNotStartedStatus = 0x01802400;
constexpr ULONG kProblemDisabled = 0x16;  // CM_PROB_DISABLED

constexpr size_t kIdChars = 200;
constexpr size_t kNameChars = 256;
constexpr size_t kPortChars = 16;
constexpr size_t kPathChars = MAX_PATH;
constexpr size_t kStateBytes = 8192;

enum class Answer { kStarted, kNotStarted, kFail };

using DeviceIdFn = DWORD(WINAPI*)(DWORD devInst, wchar_t* buffer, ULONG length, ULONG flags);

HMODULE self = nullptr;

// A file beside this DLL; false when the path does not fit.
bool besideSelf(const wchar_t* name, wchar_t* path) {
  const DWORD length = GetModuleFileNameW(self, path, kPathChars);
  if (length == 0 || length >= kPathChars)
    return false;
  wchar_t* slash = std::wcsrchr(path, L'\\');
  if (!slash)
    return false;
  const size_t room = kPathChars - static_cast<size_t>(slash + 1 - path);
  return std::swprintf(slash + 1, room, L"%ls", name) > 0;
}

bool deviceId(DWORD devInst, wchar_t* id) {
  HMODULE setupapi = LoadLibraryW(L"setupapi.dll");
  if (!setupapi)
    return false;
  const FARPROC proc = GetProcAddress(setupapi, "CM_Get_Device_IDW");
  if (!proc)
    return false;
  const auto getId = reinterpret_cast<DeviceIdFn>(reinterpret_cast<void (*)()>(proc));
  return getId(devInst, id, kIdChars, 0) == kSuccess;
}

bool friendlyName(const wchar_t* id, wchar_t* name) {
  wchar_t key[kIdChars + 40];
  std::swprintf(key, sizeof key / sizeof key[0], L"System\\CurrentControlSet\\Enum\\%ls", id);
  DWORD bytes = kNameChars * sizeof(wchar_t);
  return RegGetValueW(HKEY_LOCAL_MACHINE, key, L"FriendlyName", RRF_RT_REG_SZ, nullptr, name,
                      &bytes) == ERROR_SUCCESS;
}

// "COM" and the digits after its first occurrence; empty when there is none.
void portOf(const wchar_t* name, char* port) {
  port[0] = '\0';
  const wchar_t* com = std::wcsstr(name, L"COM");
  if (!com)
    return;
  size_t n = 0;
  for (const wchar_t* c = com; n + 1 < kPortChars && *c; ++c) {
    const bool digit = *c >= L'0' && *c <= L'9';
    if (c - com >= 3 && !digit)
      break;
    port[n++] = static_cast<char>(*c);
  }
  port[n] = '\0';
}

// The whole state file, terminated; empty when it does not exist.
void readState(char* text) {
  text[0] = '\0';
  wchar_t path[kPathChars];
  if (!besideSelf(L"cfgmgr32_state.txt", path))
    return;
  HANDLE file =
      CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return;
  DWORD got = 0;
  if (!ReadFile(file, text, kStateBytes - 1, &got, nullptr))
    got = 0;
  text[got] = '\0';
  CloseHandle(file);
}

Answer answerWord(const char* word) {
  if (std::strcmp(word, "not-started") == 0)
    return Answer::kNotStarted;
  if (std::strcmp(word, "fail") == 0)
    return Answer::kFail;
  return Answer::kStarted;
}

// The line's port and word, if it has both and is no comment.
bool parseLine(const char* line, size_t length, char* name, char* word) {
  char copy[128] = {};
  if (length == 0 || line[0] == '#' || length >= sizeof copy)
    return false;
  std::memcpy(copy, line, length);
  return std::sscanf(copy, "%15s %31s", name, word) == 2;
}

// The last line naming the port decides; unknown words count as started.
Answer answerFor(const char* port) {
  char text[kStateBytes];
  readState(text);
  Answer answer = Answer::kStarted;
  for (const char* line = text; *line;) {
    const size_t length = std::strcspn(line, "\r\n");
    char name[kPortChars] = {};
    char word[32] = {};
    if (parseLine(line, length, name, word) && _stricmp(name, port) == 0)
      answer = answerWord(word);
    line += length;
    line += std::strspn(line, "\r\n");
  }
  return answer;
}

const char* answerText(Answer answer) {
  switch (answer) {
    case Answer::kStarted:
      return "started";
    case Answer::kNotStarted:
      return "not-started";
    case Answer::kFail:
      return "fail";
  }
  return "?";
}

void logCall(const wchar_t* id, const char* port, const char* outcome) {
  wchar_t path[kPathChars];
  if (!besideSelf(L"cfgmgr32_calls.log", path))
    return;
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return;
  char line[kIdChars + kPortChars + 64];
  const int length = std::snprintf(line, sizeof line, "%ls %s %s\r\n", id[0] ? id : L"?",
                                   port[0] ? port : "-", outcome);
  DWORD written = 0;
  if (length > 0)
    WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
  CloseHandle(file);
}

ConfigResult answerDevice(const wchar_t* id, const char* port, ULONG* status, ULONG* problem) {
  const Answer answer = answerFor(port);
  logCall(id, port, answerText(answer));
  if (answer == Answer::kFail)
    return kFailure;
  const bool started = answer == Answer::kStarted;
  *status = started ? kStartedStatus : kNotStartedStatus;
  *problem = started ? 0 : kProblemDisabled;
  return kSuccess;
}

}  // namespace

extern "C" ConfigResult WINAPI CM_Get_DevNode_Status(ULONG* status, ULONG* problem, DWORD devInst,
                                                     ULONG flags) {
  if (!status || !problem)
    return kInvalidPointer;
  if (flags != 0)
    return kInvalidFlag;
  *status = 0;
  *problem = 0;
  wchar_t id[kIdChars] = {};
  wchar_t name[kNameChars] = {};
  char port[kPortChars] = {};
  if (!deviceId(devInst, id) || !friendlyName(id, name)) {
    logCall(id, port, "no-such-devnode");
    return kNoSuchDevNode;
  }
  portOf(name, port);
  return answerDevice(id, port, status, problem);
}

// Tells a check that this DLL, not Wine's own, was loaded: Wine reports the
// path of a DLL found beside the program even when it loads its builtin.
extern "C" DWORD WINAPI NlconfTestStub() {
  return 1;
}

// The mark of every load: cfgmgr32_loads.log beside this DLL gains the
// loading program's path, so a test sees which copy a program loaded.
void markLoad() {
  wchar_t path[kPathChars];
  wchar_t program[kPathChars] = {};
  if (!besideSelf(L"cfgmgr32_loads.log", path))
    return;
  GetModuleFileNameW(nullptr, program, kPathChars - 1);
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return;
  char line[kPathChars * 3 + 8];
  const int length = std::snprintf(line, sizeof line, "%ls\r\n", program);
  DWORD written = 0;
  if (length > 0)
    WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
  CloseHandle(file);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) {
    self = instance;
    markLoad();
  }
  return TRUE;
}
