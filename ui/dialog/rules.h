// What the main dialog decides without a window: which buttons a pair of
// panes allows, the colour of each value, the texts of the value fields,
// what a WM_COMMAND asks for, and what a port list entry is. Built in both
// builds, so the Windows program formats its texts with this very code.
#pragma once

#include <cstdint>

#include "module/settings.h"
#include "ui/dialog/pane.h"

// ---- buttons ----------------------------------------------------------------

struct ButtonStates {
  bool masterRead = false;
  bool masterWrite = false;
  bool slaveRead = false;
  bool slaveWrite = false;
  bool copyToSlave = false;
  bool copyToMaster = false;
  bool linkTest = false;
  bool setDefault = false;
};

// The modules address each other and talk alike, judged by what they hold
// (the Read group), not by what the panes show.
bool modulesFormLink(const ModuleRecord* master, const ModuleRecord* slave);
ButtonStates buttonStates(const PaneRecord* master, const PaneRecord* slave,
                          int32_t masterPortCount, int32_t slavePortCount);

// ---- colours ----------------------------------------------------------------

ColorRef fieldColor(uint64_t shown, uint64_t read);

// Compares the setting's Shown value with its Read value, stores the
// colour in the pane and returns it.
ColorRef recolorField(PaneRecord* pane, Setting setting);
// Every setting the pane shows.
void recolorPane(PaneRecord* pane);

// The colour of a control that the colour messages paint: static value
// fields and the parameter combo boxes. False for any other control.
bool staticFieldColor(const PaneRecord* pane, WindowHandle control, ColorRef* color);
bool comboFieldColor(const PaneRecord* pane, WindowHandle control, ColorRef* color);

// ---- unwritten values -------------------------------------------------------

// A pane that holds module data and shows anything in red: what it shows
// would be lost by ending the program.
bool showsUnwrittenValues(const PaneRecord* pane);
// The question to ask before the program ends, naming the panes with
// unwritten values; null when ending loses nothing.
const wchar_t* exitQuestion(const PaneRecord* master, const PaneRecord* slave);

// ---- texts ------------------------------------------------------------------

constexpr uint32_t kDisplayTextChars = 17;

// Upper-case hexadecimal without leading zeros ("0", "1234"). Returns the
// length, or 0 with an empty text when size is too small.
uint32_t formatPanIdText(uint64_t panId, wchar_t* text, uint32_t size);
// Exactly eight upper-case hexadecimal digits ("0000FFFF").
uint32_t formatAddressHalfText(uint32_t half, wchar_t* text, uint32_t size);
// The main dialog's status line: the profile's file name or "no profile",
// the record's path or "no record", and the session's PASS and FAIL counts.
// A text too long for size is cut before the counts, which always end it.
// Returns the length; 0 with an empty text when size cannot hold the counts.
uint32_t formatSessionStatus(const wchar_t* profilePath, const wchar_t* recordPath, uint32_t passes,
                             uint32_t fails, wchar_t* text, uint32_t size);

// ---- commands ---------------------------------------------------------------

enum class CommandKind {
  Ignored,
  Close,
  CopyToSlave,
  CopyToMaster,
  SetDefault,
  LinkTest,
  Read,
  Write,
  Choice,  // a pick in a setting's list
};

struct Command {
  CommandKind kind = CommandKind::Ignored;
  PaneRecord* pane = nullptr;        // the pane a Read, Write or choice is for
  Setting setting = Setting::PanId;  // the choice's
};

// The control of a setting in the master's or the slave's pane, as
// resources/resource_ids.h numbers it; 0 where the pane shows none.
int settingControlId(bool master, Setting setting);

// The whole wParam counts: notification in the high word, identifier in
// the low word; anything beyond 32 bits makes it no command.
Command decodeCommand(uint64_t wParam);

// Stores the user's pick of a setting's list (its selected position, -1
// for none) as the Shown value with the mode rules it sets off, and
// recolours the pane.
void storeChoice(PaneRecord* pane, Setting setting, int32_t position);

// ---- choice lists and positions ---------------------------------------------

// How many channel entries a channelLimit allows: "11" up to the limit.
int32_t channelEntryCount(int32_t channelLimit);

// Copies channel and serial settings (nothing else) and selects them in the
// destination's combo boxes. A value that is no entry of its list (one never
// read, or a code the pane cannot name) is not copied.
void copyPaneSettings(PaneRecord* destination, const PaneRecord* source);

// ---- port list entries ------------------------------------------------------

constexpr uint32_t kFriendlyNameChars = 256;  // 255 and the terminator

struct PortEntry {
  uint32_t portNumber = 0;
  wchar_t friendlyName[kFriendlyNameChars] = {};
};
constexpr int kMaxPortEntries = 256;

// The decimal number after the first capital "COM", read as wcstoul reads
// it (no digits give 0). False when the name holds no "COM".
bool friendlyNamePortNumber(const wchar_t* name, uint32_t* portNumber);
// A port list entry for a device's friendly name. A name too long for the
// entry is cut when its COM number survives the cut unchanged, and refused
// (false) otherwise, as is a name without "COM".
bool makePortEntry(const wchar_t* friendlyName, PortEntry* entry);
// The number in a port broadcast's name ("COM7" gives 7), read as wcstoul
// reads it after "COM". False for a name that does not begin with "COM".
bool broadcastPortNumber(const wchar_t* name, uint32_t* portNumber);
