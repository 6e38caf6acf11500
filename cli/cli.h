// nlconf-cli: the module operations from a command line. The program is
// portable; each system's main gives it the few things below.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "module/outcome.h"

namespace cli {

// Arguments as UTF-8; returns the exit code.
int run(const std::vector<std::string>& args);
// Cancels the operation in flight as the dialog's Cancel does. Safe from
// any thread, not from a signal handler.
void requestCancel();
// The console is closing: every session's write stores what it took at once.
void requestClosing();
// Ends the program at once (exit 130) for one who insists: "ATCN" on every
// open port, without waiting for a reply, a line that says so, the log kept.
// From the signal waiter or a console handler, not from a signal handler.
[[noreturn]] void stopAtOnce();

// ---- what each system provides ------------------------------------------------------

struct PortEntry {
  std::string name;
  std::string description;
  // Where the system tells more of a port (Linux: sysfs and
  // /dev/serial/by-id), what it tells, each "" where it does not.
  bool detailed = false;
  std::string byIdPath;
  std::string product;
  std::string manufacturer;
  std::string serial;
  std::string driver;
};
std::vector<PortEntry> listPorts();

// Gives the port the user named a number of the port table (preferred:
// the number to use where the system has none of its own) and the name the
// line log shows. False with a message when the name designates no port.
bool bindPort(const std::string& name, uint32_t preferred, uint32_t* number, std::string* shown,
              std::string* message);

// Whether two names designate one port (the same device under two paths,
// or one COM name spelt two ways). Nothing is opened.
bool samePort(const std::string& a, const std::string& b);

// False with "NAME is not a serial port." when the name designates
// something else (a file, /dev/null, a terminal) or nothing at all (""):
// told before any port is used. A name that leads nowhere passes, for
// bindPort to say so. Opens at most the device itself, without waiting.
bool mayBePort(const std::string& name, std::string* message);

// Bytes on every serial port the program has open, handed to the driver at
// once and not waited for: the last words of a program that stops.
void sendOnOpenPorts(const char* bytes, uint32_t count);

// Which file a name designates, through its links: two operands that name
// one file are told apart from two files. A file yet to be made is known by
// its folder and its name in it; `known` is false where the system cannot say.
struct FileIdentity {
  bool known = false;
  uint64_t volume = 0;
  uint64_t index = 0;
  std::string leaf;  // a file yet to be made: its name in the folder
};
FileIdentity fileIdentity(const std::string& name);
// Standard input (0), output (1) or error (2) where it is a file.
FileIdentity streamIdentity(int stream);
// Standard input as its bytes are (Windows would turn CR LF into LF, so
// that a profile's SHA-256 would not be that of what was sent).
FILE* binaryStandardInput();
bool sameFile(const FileIdentity& a, const FileIdentity& b);

// A file made new beside `name` (where its links lead), so that it can take
// the place of `name` in one step; null with the system's reason. `target`
// is the path that replaceFile replaces.
FILE* createBeside(const std::string& name, std::string* made, std::string* target,
                   std::string* why);
// `made` takes the place of `target` in one step; false with the reason,
// and `made` gone.
bool replaceFile(const std::string& made, const std::string& target, std::string* why);

// A profile's whole path, as the record names it.
std::string wholePath(const std::string& name);

bool stderrIsTerminal();
bool stdinIsTerminal();

// One line of standard input, without its line end; a line longer than
// kInputLineLimit keeps that much. Ends at once (Cancelled) when
// `cancelled` says so, checked while it waits.
enum class InputRead { Line, End, Cancelled };
constexpr size_t kInputLineLimit = 1024;
InputRead readInputLine(std::string* line, bool (*cancelled)());
// Told once the command has left its modules as Cancel does and closed its
// ports, before the results are flushed.
void modulesReleased();

// ---- text ---------------------------------------------------------------------------

std::wstring widen(const std::string& utf8);
std::string narrow(const wchar_t* text);

}  // namespace cli
