// Settings files: a pair's choices as .ini text that a person can read and
// edit. Bytes in, the choices of each pane out, checked against the very
// lists and rules of the dialog, or a refusal with its line; and the panes'
// choices back out as text. A file is applied whole or not at all.
#pragma once

#include <cstddef>
#include <cstdint>

#include "module/module_record.h"

constexpr size_t kSettingsFileLimit = 64 * 1024;

// One section: which choices it names, each as its position in its list
// (for the channel: channel - 11), and where it stood in the file.
struct PaneSettings {
  bool present = false;
  uint32_t sectionLine = 0;
  // Indexed by the setting; only choices (kChoice) are ever named.
  bool named[kSettingCount] = {};
  int32_t position[kSettingCount] = {};
  uint32_t line[kSettingCount] = {};
};

// The [Pair] section: whether a profile makes the two modules a pair.
struct PairSettings {
  bool present = false;
  uint32_t sectionLine = 0;
  bool named = false;
  bool makePair = false;
  uint32_t line = 0;
};

// The [Range] section: a pair run's Link Test becomes a range test of
// `packets` each way that fails when a direction receives less than
// minReceived per cent. A key left out keeps its default.
constexpr uint32_t kRangeProfileDefaultPackets = 100;
constexpr uint32_t kRangeProfileMaxPackets = 1000;  // about 6 min at 9600 baud
constexpr uint32_t kRangeProfileDefaultMinReceived = 100;

struct RangeSettings {
  bool present = false;
  uint32_t sectionLine = 0;
  uint32_t packets = kRangeProfileDefaultPackets;
  uint32_t minReceived = kRangeProfileDefaultMinReceived;
  uint32_t packetsLine = 0;  // 0: not named
  uint32_t minReceivedLine = 0;
};

struct SettingsFile {
  PaneSettings master;
  PaneSettings slave;
  PairSettings pair;
  RangeSettings range;
  // SHA-256 of the file's bytes as read (a UTF-16 file's too, not of its
  // decoded text), as 64 hex digits: the record names the profile by it,
  // and sha256sum gives the same. Empty for a file that was not parsed.
  char sha256[65] = {};
};

// Messages are made in buffers of this many characters, terminator included.
constexpr uint32_t kSettingsMessageChars = 1024;

// Parses a file's bytes. True with its choices; false with the line (from 1)
// and a message that names the file, the line and what is wrong, and file
// left as it was.
bool parseSettingsFile(const uint8_t* bytes, size_t size, const wchar_t* fileName,
                       SettingsFile* file, uint32_t* line, wchar_t* message);

// Every choice of each pane that holds read values, after comment lines
// naming the program and the modules; then the [Pair] and [Range] sections
// of the profile loaded, if any, as it named them. Returns the length in
// bytes, 0 when no pane holds read values or the text does not fit.
size_t formatSettingsFile(const ModuleRecord* master, const ModuleRecord* slave, char* out,
                          size_t capacity, const SettingsFile* loaded = nullptr);

// Sections that wait for their pane's next successful Read.
struct PendingSettings {
  PaneSettings master;
  PaneSettings slave;
  // Sections of the same file already applied (at load or at their Read),
  // so that a later refusal can say the file took effect in part.
  bool masterApplied = false;
  bool slaveApplied = false;
  wchar_t fileName[261] = {};
};

// Applies a parsed file to the panes that hold read values and keeps the
// other sections waiting, replacing whatever waited. When a section does not
// fit its pane (its channel list, what the pane shows), nothing is applied,
// nothing waits anew and false comes back. message: what waits, why nothing
// was loaded, or empty when there is nothing to say.
bool loadSettings(ModuleRecord* master, ModuleRecord* slave, const SettingsFile& file,
                  const wchar_t* fileName, PendingSettings* pending, wchar_t* message);
// Right after the pane's successful Read: applies what waits for it, if it
// still fits (the channel list comes from the module). Either way it waits
// no longer. False with a message when it could not be applied.
bool applyPendingSettings(ModuleRecord* pane, PendingSettings* pending, wchar_t* message);

// For the tests: whether a section fits the pane now (reason and the line
// of the key that breaks it when not), and applying it as the user's picks
// would, with the mode rules; the caller draws it.
bool sectionFitsPane(const ModuleRecord* pane, const PaneSettings& section, wchar_t* reason,
                     uint32_t* line);
void applySection(ModuleRecord* pane, const PaneSettings& section);
