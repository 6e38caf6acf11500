// What every command shares: the line log, the modules on the named ports,
// Cancel, the dialog's results turned into exit codes, and the one JSON
// object that --json promises.
#pragma once

#include <cstdint>
#include <string>

#include "cli/options.h"
#include "module/session.h"
#include "module/settings_file.h"

namespace cli {

constexpr uint32_t kMasterSlot = 1;
constexpr uint32_t kSlaveSlot = 2;

// A module the command talks to, in the master's or the slave's place: its
// record and its session on the port the user named.
struct Module {
  ModuleRecord record;
  Session session;
  bool master = true;
  // Whether the command names the module's role (a read without --role
  // takes it in either).
  bool roleKnown = true;
};

Module& masterModule();
Module& slaveModule();

// Made once, before any port is touched, so that no Ctrl+C goes unheard.
void createCancelEvents();

// Only takes note of --log and -v: the log file is made when the first
// port is bound, once every input has been read.
void startLog(const Options& o);
// Puts the log in its file's place (whatever the command's end); false
// with the reason ("" for none known) when the log could not be kept whole.
bool endLog(std::string* why);
// Says which output was lost; the modules are done by now, yet a lost
// output must not pass as done.
int outputFailed(int code, const std::string& what, const std::string& why);

// A port as the user named it, by its number in the port table.
std::string portNameOf(int32_t portNumber);
// "Master" or "Slave", "" where the command took the module in either.
std::string roleShown(const Module& m);
// "/dev/ttyUSB1 (Slave): ", or without the role where the command took
// the module in either: what names the port a failure happened on.
std::string portPrefix(const Module& m);
std::string portPrefix(const Module& m, uint32_t portNumber);

// What is being done, on a terminal only, and not with --quiet.
void showProgress(bool shown);
void progress(const std::string& text);
// Binds the module's session to the named port (and makes the log file,
// the first time); 0, or the exit code of a failure it has reported.
// roleKnown: whether the command names the module's role.
// search: where the module is looked for (lineSearchOf the command line).
int prepareModule(Module& m, const std::string& portName, bool roleKnown = true,
                  const LineSearch& search = {});
LineSearch lineSearchOf(const Options& o);
void releaseModule(Module& m);
// The master's module on the first port, the slave's on the second.
int prepareBoth(const Options& o);
void releaseBoth();
bool anyCancelled();

int exitCodeOf(int32_t result);
std::string messageOf(int32_t result, const ModuleRecord& module);
// What a step of the module's session noted of this result, or else (a
// failure of the command's own) the result on the module's port with the
// system's error now.
Outcome outcomeIn(const Module& m, int32_t result);
// messageOf after the prefix of the outcome's port, where it is a port's
// failure.
std::string failureText(const Outcome& outcome, const Module& m);
std::string failureText(int32_t result, const Module& m);
int32_t settled(int32_t result);
// The line a port's failure adds for a script: why it would not open
// ("\nThe port is in use by another program."), "" for none known.
std::string portHint(int32_t result, uint32_t systemError);
// Prints the outcome's failure text (its port named, for --json too);
// returns its exit code.
int failWith(Outcome outcome, const Module& m);
int failWith(int32_t result, const Module& m);
void logEnd(const Module& m, const char* operation, int32_t result);

// A failure on standard error, kept for --json's `error` (the first one
// noted is the command's); port: as named, "" for none.
void reportFailure(const std::string& text, const std::string& port = "");
// Kept for --json only: a failure that the results themselves tell.
void noteFailure(const std::string& text, const std::string& port = "");
// Whether the command line asked for --json, known as soon as the command is.
void wantJson(bool wanted);
// The command's JSON result, a whole object (or the ports' array); printed
// with its `error` member once the exit code is known.
void keepJsonResult(const std::string& json);
// With --json: the result kept (or an object of `error` alone) with the
// exit code's `error`, once only, whoever ends the program.
void printJsonResult(int code);

// "-" as FILE: the profile from standard input, read whole before any
// port is touched; messages and the record name it as below.
constexpr char kStandardInputName[] = "(standard input)";
std::string fileShown(const std::string& operand);
bool loadFile(const std::string& name, SettingsFile* file, std::string* message);
bool parseSet(const std::string& set, bool master, SettingsFile* file, std::string* message);

}  // namespace cli
