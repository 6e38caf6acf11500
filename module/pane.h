// The record of one pane: its controls, its port while an operation runs,
// what was read from its module (the Read group) and what is shown and will
// be written (the Shown group), and the running operation's state.
#pragma once

#include <cstdint>

#include "link/port_table.h"
#include "link/serial_codes.h"
#include "module/view_hooks.h"

using ColorRef = uint32_t;  // 0x00BBGGRR

constexpr ColorRef kColorBlack = 0x000000;
constexpr ColorRef kColorRed = 0x0000FF;

// Results of a pane operation beyond the link-layer codes; the numbers are
// fixed because they travel as the worker thread's exit code.
constexpr int32_t ResultNoEvent = 256;
constexpr int32_t ResultNoThread = 257;
constexpr int32_t ResultCancelled = 258;
constexpr int32_t ResultSamePort =
    260;  // both panes pick one port: refused before a byte (259 is STILL_ACTIVE)
constexpr int32_t ResultNotMaster = 272;
constexpr int32_t ResultNotSlave = 273;
constexpr int32_t ResultJoinTimeout = 512;

// Every code is a position in its choice list (the channel, minus 11); these
// are the lists' bounds, so that nothing outside them reaches a module.
constexpr uint8_t kFirstChannel = 11;
constexpr uint8_t kLastChannel = 26;
constexpr uint32_t kBaudCodeCount = 8;
constexpr uint8_t kParityCodeCount = 4;
constexpr uint8_t kStopBitsCodeCount = 2;
constexpr uint8_t kPowerLevelCount = 5;
constexpr uint8_t kBoostModeCount = 2;

constexpr uint32_t kNodeIdSize = 21;
constexpr uint32_t kTemperatureTextSize = 16;

// A font created for one static control and the one it replaced.
struct FontHolder {
  void* previousFont = nullptr;
  void* createdFont = nullptr;
};

struct PaneRecord;
using WorkerBody = int32_t (*)(PaneRecord* pane);

struct PaneRecord {
  SerialPort* port = nullptr;
  int32_t portNumber = 0;

  WindowHandle portCombo = nullptr;
  WindowHandle readButton = nullptr;
  WindowHandle writeButton = nullptr;
  WindowHandle nodeIdField = nullptr;
  WindowHandle panIdField = nullptr;
  WindowHandle destLowField = nullptr;
  WindowHandle destHighField = nullptr;
  WindowHandle channelCombo = nullptr;
  WindowHandle baudCombo = nullptr;
  WindowHandle parityCombo = nullptr;
  WindowHandle stopBitsCombo = nullptr;
  WindowHandle powerLevelCombo = nullptr;
  WindowHandle boostModeCombo = nullptr;
  WindowHandle powerSaveCombo = nullptr;  // slave pane only
  WindowHandle sleepModeField = nullptr;  // slave pane only
  WindowHandle flowControlCombo = nullptr;
  WindowHandle rtsField = nullptr;
  WindowHandle ctsField = nullptr;

  ColorRef panIdColor = 0;
  ColorRef destLowColor = 0;
  ColorRef destHighColor = 0;
  ColorRef channelColor = 0;
  ColorRef baudColor = 0;
  ColorRef parityColor = 0;
  ColorRef stopBitsColor = 0;
  ColorRef powerLevelColor = 0;
  ColorRef boostModeColor = 0;
  ColorRef powerSaveColor = 0;
  ColorRef sleepModeColor = 0;
  ColorRef flowControlColor = 0;
  ColorRef rtsColor = 0;
  ColorRef ctsColor = 0;

  const wchar_t* sleepModeLabel = nullptr;
  const wchar_t* rtsLabel = nullptr;
  const wchar_t* ctsLabel = nullptr;

  int32_t channelLimit = 0;
  uint16_t firmwareVersion = 0;  // its high byte is the module's role
  uint16_t hardwareVersion = 0;
  uint32_t serialHigh = 0;
  uint32_t serialLow = 0;
  char nodeId[kNodeIdSize] = {};  // empty: the pane holds no module data
  char temperatureText[kTemperatureTextSize] = {};

  // Read group: as last read from or written to the module.
  uint64_t panIdRead = 0;
  uint16_t operatingPanIdRead = 0;
  uint8_t channelRead = 0;
  uint32_t destLowRead = 0;
  uint32_t destHighRead = 0;
  uint32_t baudCodeRead = 0;
  uint8_t parityCodeRead = 0;
  uint8_t stopBitsCodeRead = 0;
  uint8_t powerLevelRead = 0;
  uint8_t boostModeRead = 0;
  uint8_t powerSaveRead = 0;
  uint8_t sleepModeRead = 0;
  uint8_t flowControlRead = 0;
  uint8_t d7ConfigRead = 0;
  uint8_t d6ConfigRead = 0;

  // Shown group: as shown in the pane, and what a Write sends.
  uint64_t panIdShown = 0;
  uint16_t operatingPanIdShown = 0;
  uint8_t channelShown = 0;
  uint32_t destLowShown = 0;
  uint32_t destHighShown = 0;
  uint32_t baudCodeShown = 0;
  uint8_t parityCodeShown = 0;
  uint8_t stopBitsCodeShown = 0;
  uint8_t powerLevelShown = 0;
  uint8_t boostModeShown = 0;
  uint8_t powerSaveShown = 0;
  uint8_t sleepModeShown = 0;
  uint8_t flowControlShown = 0;
  uint8_t d7ConfigShown = 0;
  uint8_t d6ConfigShown = 0;

  int32_t isMaster = 0;

  WindowHandle progressDialog = nullptr;
  WindowHandle resetPrompt = nullptr;
  os::Handle cancelEvent = nullptr;
  // A write that must end through "ATWR" and its checking read: its steps
  // and its port's waits do not see cancelEvent (only its time limits end
  // it), and whoever set it looks at cancelEvent afterwards.
  bool finishing = false;
  os::Handle workerThread = nullptr;
  WorkerBody workerBody = nullptr;
  const wchar_t* progressText = nullptr;
  WindowHandle progressLabel = nullptr;
  FontHolder progressFontHolder;
};

extern PaneRecord masterPane;
extern PaneRecord slavePane;

// Texts of the derived display fields.
extern const wchar_t* const kLabelFlowControl;   // "Flow Control"
extern const wchar_t* const kLabelHighLevelOut;  // "High Level Out"
extern const wchar_t* const kLabelDisable;       // "Disable"
extern const wchar_t* const kLabelNoSleep;       // "No Sleep"
extern const wchar_t* const kLabelCyclicSleep;   // "Cyclic Sleep"

void resetPane(PaneRecord* pane);
void setDefaults(PaneRecord* pane);
void applyFlowControlRule(PaneRecord* pane);
void applyNoSleepRule(PaneRecord* pane);
void applyCyclicSleepRule(PaneRecord* pane);
void deriveModeState(PaneRecord* pane);

// Bit n of the SC mask is channel 11 + n; the lowest set bit counts, and
// an empty mask means channel 20.
uint8_t channelFromMask(uint16_t mask);
// 0, no channel at all, for a channel outside 11..26.
uint16_t maskFromChannel(uint8_t channel);
// A channel the pane's list offers: 11 up to its limit (26 at most).
bool channelOffered(const PaneRecord* pane, uint8_t channel);

bool isCancelled(const PaneRecord* pane);
// An empty node identifier: nothing was read into the pane.
bool holdsModuleData(const PaneRecord* pane);
PaneRecord* otherPane(const PaneRecord* pane);
