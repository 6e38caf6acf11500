// Ctrl+Break for a console program, as a user would press it: starts the
// command in a process group of its own, and breaks it a delay after a text
// shows once more in a file (a module's transcript), so that the break
// lands at a known step whatever the program's start-up takes. Ends with
// the command's exit code.
//
//   console_break <file> <text> <delay ms> <program> [arguments...]
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr DWORD kLookMs = 20;
constexpr int kLooks = 1500;  // 30 s

size_t timesIn(const wchar_t* path, const std::string& text) {
  FILE* file = _wfopen(path, L"rb");
  if (!file)
    return 0;
  std::string content;
  char chunk[4096];
  size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
    content.append(chunk, n);
  std::fclose(file);
  size_t times = 0;
  for (size_t at = content.find(text); at != std::string::npos; at = content.find(text, at + 1))
    ++times;
  return times;
}

std::string narrowed(const wchar_t* text) {
  std::string out;
  for (; *text; ++text)
    out.push_back(static_cast<char>(*text));
  return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: console_break <file> <text> <delay ms> <program> [args...]\n");
    return 100;
  }
  // A program started without a terminal has no console, and the break
  // goes only to processes that share one.
  AllocConsole();
  std::wstring line;
  for (int i = 4; i < argc; ++i)
    line += (i > 4 ? L" \"" : L"\"") + std::wstring(argv[i]) + L"\"";
  STARTUPINFOW start{};
  start.cb = sizeof start;
  PROCESS_INFORMATION process{};
  const std::string text = narrowed(argv[2]);
  const size_t before = timesIn(argv[1], text);
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NEW_PROCESS_GROUP,
                      nullptr, nullptr, &start, &process)) {
    std::fprintf(stderr, "cannot start the command: error %lu\n", GetLastError());
    return 101;
  }
  int looks = 0;
  while (looks++ < kLooks && timesIn(argv[1], text) == before &&
         WaitForSingleObject(process.hProcess, kLookMs) == WAIT_TIMEOUT) {
  }
  Sleep(static_cast<DWORD>(_wtoi(argv[3])));
  if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, process.dwProcessId))
    std::fprintf(stderr, "no Ctrl+Break: error %lu\n", GetLastError());
  DWORD code = 102;
  if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process.hProcess, &code)) {
    TerminateProcess(process.hProcess, 103);
    code = 103;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}
