// What every command shares: the line log, the panes bound to the named
// ports, Cancel, and the dialog's results turned into exit codes.
#pragma once

#include <cstdint>
#include <string>

#include "cli/options.h"
#include "module/pane.h"
#include "module/settings_file.h"

namespace cli {

constexpr uint32_t kMasterSlot = 1;
constexpr uint32_t kSlaveSlot = 2;

// Made once, before any port is touched, so that no Ctrl+C goes unheard.
void createCancelEvents();

bool startLog(const Options& o, std::string* message);
// False (with the system's error, 0 for none known) when a line of the log
// file could not be written.
bool endLog(int* error);
// Says which output was lost; the modules are done by now, yet a lost
// output must not pass as done.
int outputFailed(int code, const std::string& what, int error);
// The log names a port as the user did; a swapped run swaps the names too.
void swapLogPortNames();
const std::string& shownPortName(uint32_t slot);

// What is being done, on a terminal only, and not with --quiet.
void showProgress(bool shown);
void progress(const std::string& text);
bool preparePane(PaneRecord* pane, bool master, const std::string& portName, uint32_t slot,
                 std::string* message);
void releasePane(PaneRecord* pane, uint32_t slot);
void waitOutGuardTime();
bool anyCancelled();

int exitCodeOf(int32_t result);
std::string nodeIdOf(const PaneRecord* pane);
std::string messageOf(int32_t result, const PaneRecord* pane);
int32_t settled(int32_t result);
// Prints the result's message; returns its exit code.
int failWith(int32_t result, const PaneRecord* pane);
void logEnd(const PaneRecord* pane, const char* operation, int32_t result);

bool loadFile(const std::string& name, SettingsFile* file, std::string* message);
bool parseSet(const std::string& set, bool master, SettingsFile* file, std::string* message);

}  // namespace cli
